#pragma once
// The shared members of the enumerations that are written as their raw text. A case class derives
// from RawValueCases<Self, N> and declares `enum Value` (cases in order), a constexpr constructor from
// it, `operator Value()`, and `static constexpr std::array<std::string_view, N> raws` in case order.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace corvane {

template <class Derived, std::size_t N>
struct RawValueCases {
    std::string_view rawValue() const {
        return Derived::raws[static_cast<std::size_t>(static_cast<typename Derived::Value>(self()))];
    }
    // Exact, case-sensitive, no trimming.
    static std::optional<Derived> fromRawValue(std::string_view raw) {
        for (std::size_t i = 0; i < N; ++i)
            if (Derived::raws[i] == raw) return Derived(static_cast<typename Derived::Value>(i));
        return std::nullopt;
    }
    static constexpr std::array<Derived, N> allCases() { return makeAll(std::make_index_sequence<N>{}); }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    template <std::size_t... I>
    static constexpr std::array<Derived, N> makeAll(std::index_sequence<I...>) {
        return {Derived(static_cast<typename Derived::Value>(I))...};
    }
};

} // namespace corvane
