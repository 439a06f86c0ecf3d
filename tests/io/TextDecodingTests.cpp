#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/TextDecoding.hpp"

using namespace corvane;

namespace {
std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }
} // namespace

TEST(TextDecoding, UTF8PassesLatin1IsConverted) {
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("M48\n; \xC2\xA9 2024\n")), "M48\n; \xC2\xA9 2024\n");
    // The same comment written in Latin-1: one byte per letter.
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("M48\n; \xA9 G\xE4rtner\n")), "M48\n; \xC2\xA9 G\xC3\xA4rtner\n");
    // A lone continuation byte, an overlong form and a surrogate are not UTF-8.
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("a\x80")), "a\xC2\x80");
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("\xC0\xAF")), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("\xED\xA0\x80")), "\xC3\xAD\xC2\xA0\xC2\x80");
    EXPECT_EQ(decodeUTF8OrLatin1(bytes("")), "");
    // Long ASCII runs around a multi-byte character (the fast path must not skip it).
    const std::string longText = std::string(21, 'x') + "\xE2\x82\xAC" + std::string(13, 'y');
    EXPECT_EQ(decodeUTF8OrLatin1(bytes(longText)), longText);
    EXPECT_EQ(decodeUTF8OrLatin1(bytes(std::string(17, 'x') + "\xFF")), std::string(17, 'x') + "\xC3\xBF");
}

TEST(TextDecoding, HeadDropsACharacterCutByTheLimit) {
    const std::string text = "%TF.FileFunction,Legend,Top*%\n\xE2\x82\xAC\n";  // euro sign at bytes 30-32
    const auto data = bytes(text);
    EXPECT_EQ(decodeHead(data, 31), text.substr(0, 30));
    EXPECT_EQ(decodeHead(data, 32), text.substr(0, 30));
    EXPECT_EQ(decodeHead(data, 33), text.substr(0, 33));
    EXPECT_EQ(decodeHead(data, 2048), text);
    // A head that is not UTF-8 for another reason is read as Latin-1, like its file.
    EXPECT_EQ(decodeHead(bytes("M48\n;\xA9\n"), 5), "M48\n;");
    EXPECT_EQ(decodeHead(bytes("M48\n;\xA9 x\n"), 7), "M48\n;\xC2\xA9 ");
    // The whole file ending in a cut sequence is not a cut head: Latin-1 like the file.
    EXPECT_EQ(decodeHead(bytes("ab\xE2\x82"), 64), "ab\xC3\xA2\xC2\x82");
}

TEST(TextDecoding, TailAndBOM) {
    const auto cut4 = bytes("a\xF0\x9F\x98");
    EXPECT_EQ(droppingIncompleteUTF8Tail(cut4).size(), 1u);
    const auto whole4 = bytes("a\xF0\x9F\x98\x80");
    EXPECT_EQ(droppingIncompleteUTF8Tail(whole4).size(), 5u);
    const auto stray = bytes("a\x80\x80\x80\x80");
    EXPECT_EQ(droppingIncompleteUTF8Tail(stray).size(), 5u);
    EXPECT_EQ(droppingUTF8BOM("\xEF\xBB\xBFM48"), "M48");
    EXPECT_EQ(droppingUTF8BOM("M48"), "M48");
}
