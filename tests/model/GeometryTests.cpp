#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/Model.hpp"
#include "TestLocale.hpp"

using namespace corvane;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
} // namespace

TEST(BBoxGrowth, EmptyBoxIsTheNeutralStart) {
    const BBox e = BBox::empty();
    EXPECT_FALSE(e.isValid());
    EXPECT_TRUE(e.isEmpty());
    EXPECT_EQ(e.width(), 0.0);
    EXPECT_EQ(e.height(), 0.0);
    EXPECT_TRUE(std::isnan(e.center().x));

    BBox b = BBox::empty();
    b.include(Vec2{2, 3});
    EXPECT_EQ(b, (BBox{2, 3, 2, 3}));
    EXPECT_TRUE(b.isValid());
    EXPECT_EQ(b.width(), 0.0);
    EXPECT_TRUE(b.contains(Vec2{2, 3}));

    const BBox r{0, 0, 1, 1};
    EXPECT_EQ(BBox::empty().united(r), r);
    EXPECT_EQ(r.united(BBox::empty()), r);
    EXPECT_FALSE(BBox::empty().contains(Vec2{0, 0}));
    EXPECT_FALSE(BBox::empty().intersects(r));
    EXPECT_EQ(BBox::empty().outset(1), BBox::empty());
}

TEST(BBoxGrowth, InvertedArgumentsAreIgnoredWhateverTheReceiver) {
    BBox r{0, 0, 1, 1};
    r.include(BBox{5, 0, 4, 1});
    r.include(BBox{0, 5, 1, 4});
    EXPECT_EQ(r, (BBox{0, 0, 1, 1}));

    BBox inverted{3, 3, 2, 2};
    inverted.include(BBox{9, 9, 8, 8});
    EXPECT_EQ(inverted, (BBox{3, 3, 2, 2}));
    // An inverted receiver is not tested: a valid argument still moves the edges it passes.
    inverted.include(BBox{0, 0, 1, 1});
    EXPECT_EQ(inverted, (BBox{0, 0, 2, 2}));
}

TEST(BBoxGrowth, ValidityAndNaN) {
    EXPECT_TRUE((BBox{5, 0, 5, 1}).isValid());
    EXPECT_FALSE((BBox{5, 0, 4, 1}).isValid());
    EXPECT_TRUE((BBox{kNaN, 0, 1, 1}).isValid());
    EXPECT_EQ((BBox{kNaN, 0, 1, 1}).width(), 0.0);

    BBox b{0, 0, 1, 1};
    b.include(Vec2{kNaN, 5});
    EXPECT_EQ(b, (BBox{0, 0, 1, 5}));
    EXPECT_FALSE(b.contains(Vec2{kNaN, 0.5}));
    EXPECT_FALSE(b.contains(Vec2{0.5, kNaN}));
    EXPECT_FALSE((BBox{kNaN, 0, 1, 1}).isFinite());
}

TEST(BBoxGrowth, InfinitiesMoveNoEdge) {
    // A box grown from any point or box stays finite: an infinite coordinate or edge is passed over like
    // NaN, the others still count.
    const double inf = std::numeric_limits<double>::infinity();
    BBox b = BBox::empty();
    b.include(Vec2{inf, 2});
    b.include(Vec2{1, -inf});
    EXPECT_EQ(b, (BBox{1, 2, 1, 2}));
    b.include(BBox{-inf, 0, 5, inf});
    EXPECT_EQ(b, (BBox{1, 0, 5, 2}));
    EXPECT_TRUE(b.isFinite());
    EXPECT_FALSE(BBox::empty().isFinite());
    // Sides farther apart than a double reaches still give a finite extent and centre.
    const double most = std::numeric_limits<double>::max();
    const BBox wide{-most, -most, most, most};
    EXPECT_EQ(wide.width(), most);
    EXPECT_EQ(wide.height(), most);
    EXPECT_EQ(wide.center(), (Vec2{0, 0}));
}

TEST(BBoxQueries, EdgesBelongToTheBox) {
    const BBox r{0, 0, 1, 1};
    for (const Vec2 p : {Vec2{0, 0}, Vec2{1, 1}, Vec2{0, 1}, Vec2{1, 0}, Vec2{0.5, 0}, Vec2{1, 0.5}})
        EXPECT_TRUE(r.contains(p)) << p.x << "," << p.y;
    EXPECT_FALSE(r.contains(Vec2{1.0000001, 0.5}));
    EXPECT_TRUE((BBox{1, 0, 2, 1}).intersects(r));
    EXPECT_TRUE((BBox{1, 1, 2, 2}).intersects(r));
    EXPECT_FALSE((BBox{1.5, 0, 2, 1}).intersects(r));

    EXPECT_EQ(r.distanceSquared(Vec2{4, 5}), 25.0);
    EXPECT_EQ(r.distanceSquared(Vec2{-3, 0.5}), 9.0);
    EXPECT_EQ(r.distanceSquared(Vec2{1, 0.5}), 0.0);
    EXPECT_EQ(r.distanceSquared(Vec2{0.5, 0.5}), 0.0);

    EXPECT_FALSE(r.inset(0.6).isValid());
    EXPECT_EQ(r.inset(0.6), (BBox{0.6, 0.6, 0.4, 0.4}));
    EXPECT_EQ(r.outset(1), (BBox{-1, -1, 2, 2}));
    EXPECT_EQ(r.center(), (Vec2{0.5, 0.5}));
}

TEST(Vec2Maths, RoundingHalvesGoAwayFromZero) {
    EXPECT_EQ((Vec2{0.5, -0.5}).roundedTo(0), (Vec2{1, -1}));
    EXPECT_EQ((Vec2{2.5, -2.5}).roundedTo(0), (Vec2{3, -3}));
    EXPECT_EQ((Vec2{1.25, -1.25}).roundedTo(1), (Vec2{1.3, -1.3}));
    EXPECT_EQ((Vec2{1234, 1250}).roundedTo(-2), (Vec2{1200, 1300}));
    EXPECT_DOUBLE_EQ((Vec2{3, 4}).length(), 5.0);
    EXPECT_DOUBLE_EQ((Vec2{1, 1}).distance(Vec2{4, 5}), 5.0);
    EXPECT_EQ((Vec2{1, 2}) - (Vec2{3, 5}), (Vec2{-2, -3}));
    EXPECT_EQ((Vec2{1, 2}) * 2.0, (Vec2{2, 4}));
    EXPECT_EQ(Vec2{0.0}, (Vec2{-0.0, 0}));
    EXPECT_EQ(std::hash<Vec2>{}(Vec2{0.0, 1}), std::hash<Vec2>{}(Vec2{-0.0, 1}));
    EXPECT_FALSE((Vec2{kNaN, 0}) == (Vec2{kNaN, 0}));
}

TEST(UnitTexts, FixedDecimalsWhateverTheLocale) {
    const test::CLocaleAfterwards restore;
    const bool german = test::useGermanLocale();
    EXPECT_EQ(Units(Units::mm).format(1.5, 2), "1.50 mm");
    EXPECT_EQ(Units(Units::mm).format(0.8, 3), "0.800 mm");
    EXPECT_EQ(Units(Units::mm).format(-1234567.5, 2), "-1234567.50 mm");
    EXPECT_EQ(Units(Units::mil).format(1.27, 2), "50.0 mil");
    EXPECT_EQ(Units(Units::mil).format(1.27, 3), "50.0 mil");
    EXPECT_EQ(Units(Units::mm).format(1.5, -1), "2 mm");  // clamped to no decimals, never a broken format
    if (!german) GTEST_SKIP() << "no German locale could be made; only the C locale was checked";
}

TEST(UnitTexts, ConversionAndRawValues) {
    EXPECT_EQ(Units::convert(1.0, Units::mm, Units::mm), 1.0);
    EXPECT_EQ(Units::convert(1.0, Units::mil, Units::mm), 0.0254);
    EXPECT_DOUBLE_EQ(Units::convert(0.0254, Units::mm, Units::mil), 1.0);
    EXPECT_EQ(Units::fromRawValue("mil"), Units(Units::mil));
    for (const char* bad : {"MM", "mils", " mm", "", "Mil"}) EXPECT_FALSE(Units::fromRawValue(bad).has_value()) << bad;
    ASSERT_EQ(Units::allCases().size(), 2u);
    EXPECT_EQ(Units::allCases()[0], Units::mm);
}

TEST(NumberTexts, FixedFormattingAndParsing) {
    EXPECT_EQ(formatFixed(0.125, 2), "0.12");  // exact binary value, ties to even
    EXPECT_EQ(formatFixed(-0.0, 2), "-0.00");
    EXPECT_EQ(formatFixed(kInf, 1), "inf");
    EXPECT_EQ(formatFixed(1e300, 0).size(), 301u);
    EXPECT_EQ(hex16(0xabcULL), "0000000000000abc");

    std::int64_t n = 0;
    EXPECT_TRUE(parseInt64("+12", n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(parseInt64("-0", n));
    for (const char* bad : {"", "+", "-", "+-5", "1.0", " 1", "1 ", "0x10", "99999999999999999999"})
        EXPECT_FALSE(parseInt64(bad, n)) << bad;
    double d = 0;
    EXPECT_TRUE(parseDouble("+1.5", d));
    EXPECT_EQ(d, 1.5);
    EXPECT_FALSE(parseDouble("+-1.5", d));
    EXPECT_FALSE(parseDouble("1,5", d));
}
