#pragma once
// The canvas tools; the raw value is the title the tool picker shows.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

class Tool {
public:
    enum Value : std::uint8_t { select, pan, measureDistance, measureX, measureY, annotateArrow, annotateRect, annotateText };
    constexpr Tool() = default;
    constexpr Tool(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }

    std::string_view rawValue() const {
        static constexpr std::string_view raws[] = {"Select / Inspect", "Pan", "Measure Distance",
                                                    "Measure \u0394X", "Measure \u0394Y", "Arrow",
                                                    "Rectangle", "Text"};
        return raws[v_];
    }
    // Only an exact title names a tool.
    static std::optional<Tool> fromRawValue(std::string_view raw) {
        for (auto t : allCases())
            if (t.rawValue() == raw) return t;
        return std::nullopt;
    }
    static constexpr std::array<Tool, 8> allCases() {
        return {Tool(select), Tool(pan), Tool(measureDistance), Tool(measureX),
                Tool(measureY), Tool(annotateArrow), Tool(annotateRect), Tool(annotateText)};
    }
    static constexpr const char* typeName() { return "Tool"; }

private:
    Value v_ = select;
};

} // namespace corvane

template <> struct std::hash<corvane::Tool> {
    std::size_t operator()(corvane::Tool t) const noexcept { return static_cast<std::size_t>(t.operator corvane::Tool::Value()); }
};
