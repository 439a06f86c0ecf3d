#pragma once
// Random (version 4) identifiers, written upper-case 8-4-4-4-12.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct UUID {
    std::array<std::uint8_t, 16> bytes{};

    static UUID random();
    // Accepts the 8-4-4-4-12 hexadecimal form in either letter case.
    static std::optional<UUID> parse(std::string_view text);
    std::string uuidString() const;
    bool operator==(const UUID&) const = default;
    auto operator<=>(const UUID&) const = default;
};

} // namespace corvane

template <> struct std::hash<corvane::UUID> {
    std::size_t operator()(const corvane::UUID& u) const noexcept {
        std::size_t h = 0;
        for (auto b : u.bytes) h = h * 131 + b;
        return h;
    }
};
