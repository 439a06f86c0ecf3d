#pragma once
// The canvas tools; the raw value is the title the tool picker shows.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include "model/RawValueEnum.hpp"

namespace corvane {

class Tool : public RawValueCases<Tool, 8> {
public:
    enum Value : std::uint8_t { select, pan, measureDistance, measureX, measureY, annotateArrow, annotateRect, annotateText };
    constexpr Tool() = default;
    constexpr Tool(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    // Only an exact title names a tool.
    static constexpr std::array<std::string_view, 8> raws{"Select / Inspect", "Pan",        "Measure Distance",
                                                          "Measure \u0394X", "Measure \u0394Y", "Arrow",
                                                          "Rectangle",        "Text"};
    static constexpr const char* typeName() { return "Tool"; }

private:
    Value v_ = select;
};

} // namespace corvane

template <> struct std::hash<corvane::Tool> {
    std::size_t operator()(corvane::Tool t) const noexcept { return static_cast<std::size_t>(t.operator corvane::Tool::Value()); }
};
