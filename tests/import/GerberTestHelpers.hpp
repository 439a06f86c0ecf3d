#pragma once
// Small helpers shared by the Gerber reader tests.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "import/GerberParser.hpp"

namespace corvane::test {

inline GerberParseResult parseGerber(std::string_view text) {
    return GerberParser().parseWithWarnings("test.gbr", text);
}

inline GerberDocument parseDoc(std::string_view text) { return GerberParser().parse("test.gbr", text); }

// Millimetre file with 2 integer and 6 decimal digits: X1000000 is 1 mm.
inline std::string mmFile(std::string_view body) {
    return "%FSLAX26Y26*%\n%MOMM*%\n" + std::string(body) + "\nM02*\n";
}

inline void expectPoint(const Vec2& p, double x, double y, double tol = 1e-9) {
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
}

} // namespace corvane::test
