#include <gtest/gtest.h>
#include "import/GerberParser.hpp"
using namespace corvane;
TEST(GerberParserSmoke, Parses) {
    auto doc = GerberParser().parse("a.gbr", std::string_view("%FSLAX26Y26*%%MOMM*%%ADD10C,0.5*%D10*X1000000Y0D02*X2000000Y0D01*M02*"));
    ASSERT_EQ(doc.objects.size(), 1u);
}
