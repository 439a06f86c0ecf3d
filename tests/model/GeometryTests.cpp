#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "model/Model.hpp"

using namespace corvane;

TEST(BBoxGrowth, EmptyBoxIsNeutralAndInvertedArgumentsAreIgnored) {
    BBox b = BBox::empty();
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(b.width(), 0.0);
    EXPECT_TRUE(std::isnan(b.center().x));
    b.include(Vec2{2, 3});
    EXPECT_EQ(b, (BBox{2, 3, 2, 3}));
    EXPECT_TRUE(b.contains(Vec2{2, 3}));

    BBox inverted{5, 0, 4, 1};
    BBox r{0, 0, 1, 1};
    r.include(inverted);
    EXPECT_EQ(r, (BBox{0, 0, 1, 1}));
    EXPECT_EQ(BBox::empty().united(r), r);
    EXPECT_EQ(r.united(BBox::empty()), r);
    EXPECT_FALSE(BBox::empty().intersects(r));
    EXPECT_TRUE((BBox{1, 0, 2, 1}).intersects(r));
    EXPECT_EQ(r.distanceSquared(Vec2{4, 5}), 25.0);
    EXPECT_EQ(r.distanceSquared(Vec2{1, 0.5}), 0.0);
    EXPECT_FALSE(r.inset(0.6).isValid());
    EXPECT_FALSE(BBox::empty().outset(1).isValid());
    EXPECT_FALSE(r.contains(Vec2{NAN, 0.5}));
}

TEST(Vec2Rounding, HalvesGoAwayFromZero) {
    EXPECT_EQ((Vec2{0.5, -0.5}).roundedTo(0), (Vec2{1, -1}));
    EXPECT_EQ((Vec2{2.5, -2.5}).roundedTo(0), (Vec2{3, -3}));
    EXPECT_DOUBLE_EQ((Vec2{3, 4}).length(), 5.0);
}

TEST(UnitTexts, FixedDecimalsIgnoreTheLocale) {
    const char* old = std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(Units(Units::mm).format(1.5, 2), "1.50 mm");
    EXPECT_EQ(Units(Units::mil).format(1.27, 2), "50.0 mil");
    EXPECT_EQ(Units(Units::mil).format(1.27, 3), "50.0 mil");
    if (old) std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Units::convert(1.0, Units::mm, Units::mm), 1.0);
    EXPECT_EQ(Units::convert(1.0, Units::mil, Units::mm), 0.0254);
    EXPECT_FALSE(Units::fromRawValue("MM").has_value());
    EXPECT_FALSE(Units::fromRawValue("mils").has_value());
    EXPECT_EQ(formatFixed(0.125, 2), "0.12");
    EXPECT_EQ(formatFixed(-0.0, 2), "-0.00");
    EXPECT_EQ(hex16(0xabcULL), "0000000000000abc");
}
