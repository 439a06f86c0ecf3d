#pragma once
// A user annotation on the board: an arrow, a rectangle or a text, kept in memory only.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/Codable.hpp"
#include "model/Model.hpp"
#include "model/UUID.hpp"
#include "model/RawValueEnum.hpp"

namespace corvane {

struct Annotation {
    class Kind : public RawValueCases<Kind, 3> {
    public:
        enum Value : std::uint8_t { arrow, rectangle, text };
        constexpr Kind() = default;
        constexpr Kind(Value v) : v_(v) {}
        constexpr operator Value() const { return v_; }
        static constexpr std::array<std::string_view, 3> raws{"arrow", "rectangle", "text"};
        static constexpr const char* typeName() { return "Kind"; }

    private:
        Value v_ = arrow;
    };

    UUID id;
    Kind kind;
    Vec2 p1;                  // start point, or where a text stands (board mm)
    std::optional<Vec2> p2;   // end point of an arrow or rectangle
    std::string text;         // empty unless a text annotation
    std::int64_t colorIndex = 0;  // into the overlay palette

    bool operator==(const Annotation& o) const {
        return id == o.id && kind == o.kind && p1 == o.p1 && p2 == o.p2 && text == o.text && colorIndex == o.colorIndex;
    }
};

// JSON form: {"id", "kind", "p1", "p2" (left out when absent), "text", "colorIndex"}.
Json encodeValue(const Annotation& value, const CodingOptions& options);
void decodeValue(const Json& json, Annotation& out, const CodingOptions& options);

} // namespace corvane

template <> struct std::hash<corvane::Annotation> {
    std::size_t operator()(const corvane::Annotation& a) const noexcept {
        std::size_t s = std::hash<corvane::UUID>{}(a.id);
        corvane::hashCombine(s, static_cast<std::size_t>(a.kind.operator corvane::Annotation::Kind::Value()));
        corvane::hashCombineValue(s, a.p1);
        if (a.p2) corvane::hashCombineValue(s, *a.p2); else corvane::hashCombine(s, 0x51ed);
        corvane::hashCombineValue(s, a.text);
        corvane::hashCombineValue(s, a.colorIndex);
        return s;
    }
};
