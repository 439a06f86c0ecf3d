#include <gtest/gtest.h>

#include "ArchiveBuilder.hpp"
#include "io/RawInflate.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {
Bytes sample() {
    std::string s;
    for (int i = 0; i < 20000; ++i) s += "X" + std::to_string(i * 37) + "Y" + std::to_string(i * 11) + "D01*\n";
    return bytesOf(s);
}
} // namespace

TEST(RawInflate, OneShotCountsBytesCutsOverflowAndReportsFailureAsZero) {
    const Bytes data = sample();
    const Bytes stream = deflateRaw(data);
    Bytes out(data.size() + 10);
    ASSERT_EQ(rawInflate(stream, out), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));

    Bytes small(1000);
    EXPECT_EQ(rawInflate(stream, small), 1000u);
    EXPECT_TRUE(std::equal(small.begin(), small.end(), data.begin()));

    Bytes half(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2));
    const std::size_t got = rawInflate(half, out);
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, data.size());

    EXPECT_EQ(rawInflate(Bytes{0xFF, 0xFF, 0xFF}, out), 0u);
    Bytes trailing = stream;
    append(trailing, bytesOf("trailer bytes"));
    EXPECT_EQ(rawInflate(trailing, out), data.size());
}

TEST(RawInflate, AppendGrowsWithTheDataAndStopsAtTheLimit) {
    const Bytes data = sample();
    const Bytes stream = deflateRaw(data);
    for (std::uint64_t hint : {std::uint64_t{0}, std::uint64_t{10}, std::uint64_t{1} << 40}) {
        Bytes out = bytesOf("prefix");
        InflateOutcome o = rawInflateAppend(stream, out, 1 << 30, hint);
        EXPECT_EQ(o.status, InflateStatus::finished);
        EXPECT_EQ(o.consumed, stream.size());
        ASSERT_EQ(out.size(), 6 + data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 6));
        EXPECT_LT(out.capacity(), 2 * out.size() + 70000); // a lying hint does not stay allocated
    }
    Bytes out;
    EXPECT_EQ(rawInflateAppend(stream, out, 5000, 0).status, InflateStatus::limitReached);
    EXPECT_EQ(out.size(), 5000u);

    Bytes cut(stream.begin(), stream.begin() + 100);
    out.clear();
    EXPECT_EQ(rawInflateAppend(cut, out, 1 << 30, 0).status, InflateStatus::inputEnded);
    out.clear();
    EXPECT_EQ(rawInflateAppend(Bytes{0xFF, 0xFF}, out, 1 << 30, 0).status, InflateStatus::failed);
}
