#include <gtest/gtest.h>

#include "ChildRun.hpp"

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "import/SExpr.hpp"

using namespace corvane;

namespace {

std::string errorText(const std::string& text, std::size_t nodeLimit = SExprNode::maxNodes) {
    try {
        SExprNode::parse(text, nodeLimit);
    } catch (const KiCadParseError& e) {
        EXPECT_EQ(e.errorCase(), KiCadParseError::Case::malformed);
        return e.what();
    }
    return "no error";
}

template <class T>
std::vector<T> vec(std::span<const T> s) { return std::vector<T>(s.begin(), s.end()); }

std::vector<std::string> strs(std::span<const std::string_view> s) { return std::vector<std::string>(s.begin(), s.end()); }

} // namespace

TEST(SExprTest, AtomsSplitIntoStringsAndNumbers) {
    auto root = SExprNode::parse("(footprint (pad \"1\" smd rect (at 1.5 -2 90)))");
    ASSERT_EQ(root->children.size(), 1u);
    const SExprNode& pad = *root->children[0];
    EXPECT_EQ(pad.name, "pad");
    EXPECT_EQ(strs(pad.strings), (std::vector<std::string>{"1", "smd", "rect"}));
    EXPECT_TRUE(pad.bareDoubles.empty());
    ASSERT_EQ(pad.children.size(), 1u);
    EXPECT_EQ(vec(pad.children[0]->bareDoubles), (std::vector<double>{1.5, -2, 90}));
    EXPECT_EQ(pad.attrib("name"), "rect");
    EXPECT_FALSE(pad.children[0]->attrib("name"));
    EXPECT_FALSE(root->attrib("name"));  // the root gets no derived name
}

TEST(SExprTest, NameAttributeNeedsMoreThanOneLoneString) {
    auto root = SExprNode::parse("(r (net 3 \"GND\") (layer \"F.Cu\") (fp_text reference R1) (at 1 2))");
    EXPECT_EQ(root->firstChild("net")->attrib("name"), "GND");
    EXPECT_EQ(root->firstChild("fp_text")->attrib("name"), "R1");
    EXPECT_FALSE(root->firstChild("layer")->attrib("name"));
    EXPECT_FALSE(root->firstChild("at")->attrib("name"));
}

TEST(SExprTest, NumbersFollowThePlatformReading) {
    auto root = SExprNode::parse("(x 1e3 +2 .5 nan -INF 0x1p3 1e400 -1e-400 1. \"7\" 1e 0x +-1 - .)");
    const auto& d = root->bareDoubles;
    ASSERT_EQ(d.size(), 9u);
    EXPECT_EQ(d[0], 1000);
    EXPECT_EQ(d[1], 2);
    EXPECT_EQ(d[2], 0.5);
    EXPECT_TRUE(std::isnan(d[3]));
    EXPECT_EQ(d[4], -INFINITY);
    EXPECT_EQ(d[5], 8);
    EXPECT_EQ(d[6], INFINITY);
    EXPECT_EQ(d[7], 0);
    EXPECT_TRUE(std::signbit(d[7]));
    EXPECT_EQ(d[8], 1);
    // A quoted number stays text; malformed numbers are text too.
    EXPECT_EQ(strs(root->strings), (std::vector<std::string>{"7", "1e", "0x", "+-1", "-", "."}));
}

TEST(SExprTest, QuotedStringsKeepDelimitersAndHonourEscapes) {
    auto root = SExprNode::parse("(t \"a (b) ;c\" \"say \\\"hi\\\"\" \"back\\\\\" \"keep\\n\" ab\"cd\" \"\")");
    EXPECT_EQ(strs(root->strings),
              (std::vector<std::string>{"a (b) ;c", "say \"hi\"", "back\\", "keep\\n", "abcd", ""}));
    EXPECT_TRUE(root->children.empty());
}

TEST(SExprTest, QuotedNameIsUnquotedAndUnicodeSpaceSeparates) {
    auto root = SExprNode::parse("\xEF\xBB\xBF(\"top\"\xC2\xA0" "a\r\nb\xE3\x80\x80" "c\t\xE2\x80\x83" "d \xC3\xA9)");
    EXPECT_EQ(root->name, "top");
    EXPECT_EQ(strs(root->strings), (std::vector<std::string>{"a", "b", "c", "d", "\xC3\xA9"}));
}

TEST(SExprTest, ControlCharactersAreOrdinaryCharacters) {
    auto root = SExprNode::parse(std::string("(a \x01x\x7F \x00 b)", 11));
    EXPECT_EQ(strs(root->strings), (std::vector<std::string>{"\x01x\x7F", std::string(1, '\0'), "b"}));
}

TEST(SExprTest, OnlyTheFirstListIsRead) {
    auto root = SExprNode::parse("(a 1) (b 2) garbage ((((");
    EXPECT_EQ(root->name, "a");
    EXPECT_EQ(vec(root->bareDoubles), (std::vector<double>{1}));
}

TEST(SExprTest, ParenthesisInNamePositionGivesEmptyName) {
    auto root = SExprNode::parse("(a () ((b 1)) c)");
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(root->children[0]->name, "");
    EXPECT_EQ(root->children[1]->name, "");
    ASSERT_EQ(root->children[1]->children.size(), 1u);
    EXPECT_EQ(root->children[1]->children[0]->name, "b");
    EXPECT_EQ(strs(root->strings), (std::vector<std::string>{"c"}));
}

TEST(SExprTest, Lookups) {
    auto root = SExprNode::parse("(r (at 1 2) (layer) (layer \"B.Cu\") (at 3) (size 5 6))");
    EXPECT_EQ(root->childrenNamed("at").size(), 2u);
    EXPECT_TRUE(root->childrenNamed("zone").empty());
    EXPECT_EQ(root->firstChild("at")->doubleAt(1), 2);
    EXPECT_EQ(root->firstChild("at")->doubleAt(5), 0);
    EXPECT_EQ(root->firstChild("at")->doubleAt(-1), 0);
    EXPECT_EQ(root->firstChild("nothing"), nullptr);
    // Only the first "layer" child is consulted, and it has no strings.
    EXPECT_FALSE(root->firstString("layer").has_value());
    EXPECT_FALSE(root->firstString("at").has_value());
    EXPECT_EQ(root->children[2]->firstString(), "B.Cu");
    EXPECT_EQ(root->firstChild("size")->firstDouble(), 5);
    EXPECT_FALSE(root->firstDouble().has_value());
}

TEST(SExprTest, ErrorTexts) {
    EXPECT_EQ(errorText(""), "Malformed KiCad PCB file: expected '(' at token 0");
    EXPECT_EQ(errorText("   \n "), "Malformed KiCad PCB file: expected '(' at token 0");
    EXPECT_EQ(errorText("kicad_pcb (a)"), "Malformed KiCad PCB file: expected '(' at token 0");
    EXPECT_EQ(errorText(")"), "Malformed KiCad PCB file: expected '(' at token 0");
    EXPECT_EQ(errorText("("), "Malformed KiCad PCB file: unexpected EOF");
    EXPECT_EQ(errorText("(a ("), "Malformed KiCad PCB file: unexpected EOF");
    // A file cut short, inside a list or inside a quoted string, is reported, not half read.
    EXPECT_EQ(errorText("(a (b 1"), "Malformed KiCad PCB file: unexpected EOF");
    EXPECT_EQ(errorText("(a (b 1))(c"), "no error");
    EXPECT_EQ(errorText("(a \"open (b))"), "Malformed KiCad PCB file: unexpected EOF");
    EXPECT_EQ(errorText("(a x\"open"), "Malformed KiCad PCB file: unexpected EOF");
    EXPECT_EQ(errorText("(a \"esc\\\")"), "Malformed KiCad PCB file: unexpected EOF");
}

TEST(SExprTest, DeepNestingNeitherRecursesNorFails) {
    const std::size_t depth = 300'000;
    std::string text(depth, '(');
    text += "leaf 1";
    text.append(depth, ')');
    auto root = SExprNode::parse(text);
    const SExprNode* node = &root.root();
    std::size_t levels = 1;
    while (!node->children.empty()) {
        node = node->children[0];
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(node->name, "leaf");
    { auto gone = std::move(root); }  // tearing the tree down must not recurse either
    // Unbalanced deep input still ends in the error, not a crash.
    EXPECT_EQ(errorText(std::string(depth, '(') + "x"), "Malformed KiCad PCB file: unexpected EOF");
}

TEST(SExprTest, NodeCountIsCapped) {
    std::string text = "(r";
    for (int i = 0; i < 9; ++i) text += "(a)";
    text += ")";
    EXPECT_EQ(errorText(text, 10), "no error");
    EXPECT_EQ(errorText(text, 9), "Malformed KiCad PCB file: too many lists");

    // 20 million nested lists in 20 MB: the default cap ends the read long before memory runs out.
    const auto outcome = corvane::testing::runInChild([] {
        return errorText("(kicad_pcb " + std::string(20'000'000, '('));
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "Malformed KiCad PCB file: too many lists");
    EXPECT_LT(outcome.peakGrowthKB, 1024 * 1024);
}

TEST(SExprTest, AtomsAreCappedPerListAndInAll) {
    // A list keeps its first atoms of each kind; its name attribute is still its last string, even one
    // rewritten from escapes.
    std::string text = "(r (members";
    for (std::size_t i = 0; i < SExprNode::maxAtomsPerList + 10; ++i) text += " m" + std::to_string(i) + " " + std::to_string(i);
    text += " \"last\\\"one\"))";
    auto tree = SExprNode::parse(text);
    ASSERT_EQ(tree->children.size(), 1u);
    const SExprNode& members = *tree->children[0];
    ASSERT_EQ(members.strings.size(), SExprNode::maxAtomsPerList);
    EXPECT_EQ(members.strings.back(), "m" + std::to_string(SExprNode::maxAtomsPerList - 1));
    EXPECT_EQ(members.bareDoubles.size(), SExprNode::maxAtomsPerList);
    EXPECT_EQ(members.nameAttribute, "last\"one");

    // The atoms kept count against the ceiling.
    EXPECT_EQ(errorText("(r (a 1 2) (b x y))"), "no error");
    try {
        SExprNode::parse("(r (a 1 2) (b x y))", SExprNode::maxNodes, 3);
        ADD_FAILURE() << "no error";
    } catch (const KiCadParseError& e) {
        EXPECT_STREQ(e.what(), "Malformed KiCad PCB file: too many atoms");
    }

    // One list of 100 MB of atoms, more than the ceiling, costs what it keeps: a few thousand views, where
    // it took a view per atom, twice (some 1.6 GB).
    const auto outcome = corvane::testing::runInChild([] {
        std::string line = "(kicad_pcb";
        line.reserve(100'000'100);
        for (int i = 0; i < 50'000'000; ++i) line += " x";
        line += ")";
        return std::to_string(SExprNode::parse(line)->strings.size());
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, std::to_string(SExprNode::maxAtomsPerList));
    EXPECT_LT(outcome.peakGrowthKB, 400 * 1024);
}
