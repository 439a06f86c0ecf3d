#include <gtest/gtest.h>

#include "ArchiveBuilder.hpp"
#include "io/VellZip.hpp"
#include "io/VellZipWriter.hpp"

using namespace corvane;
using namespace corvane::testing;

TEST(VellZipWriter, EmptyArchiveIsTheBareEndRecord) {
    Bytes expected{'P', 'K', 5, 6};
    expected.resize(22, 0);
    EXPECT_EQ(VellZipWriter::archive({}), expected);
    EXPECT_TRUE(VellZip::listEntries(expected).empty());
}

TEST(VellZipWriter, LayoutOfOneEntryIsByteExact) {
    Bytes zip = VellZipWriter::archive({{"", {}}});
    ASSERT_EQ(zip.size(), 98u);
    Bytes local;
    put32(local, 0x04034B50);
    put16(local, 20);
    put16(local, 0x0800);
    put16(local, 0);
    put16(local, 0);
    put16(local, 0x0021);
    local.resize(30, 0);
    EXPECT_EQ(Bytes(zip.begin(), zip.begin() + 30), local);
    EXPECT_EQ(zip[30], 'P');
    EXPECT_EQ(zip[34], 20); // version made by
    EXPECT_EQ(zip[76 + 12], 46); // directory size
    EXPECT_EQ(zip[76 + 16], 30); // directory offset

    Bytes named = VellZipWriter::archive({{"\xC3\xA9t\xC3\xA9.gbr", bytesOf("abc")}});
    EXPECT_EQ(named[26], 9);                       // name length counts bytes
    EXPECT_EQ(named[14], 0xC2);                    // CRC-32 of "abc" = 0x352441C2, little-endian
    EXPECT_EQ(named[17], 0x35);
}

TEST(VellZipWriter, Crc32MatchesTheZipDefinition) {
    EXPECT_EQ(VellZipWriter::crc32(bytesOf("abc")), 0x352441C2u);
    EXPECT_EQ(VellZipWriter::crc32({}), 0u);
    EXPECT_EQ(VellZipWriter::crc32(bytesOf("123456789")), 0xCBF43926u);
}

TEST(VellZipWriter, ReaderGetsBackEveryEntryAndTheFirstOfDuplicates) {
    Bytes big(300000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
    std::vector<VellZipWriter::Entry> entries{
        {"rev1/top.gbr", bytesOf("%FSLAX26Y26*%\nM02*\n")},
        {"rev1/empty.drl", {}},
        {"rev1/big.bin", big},
        {"rev1/top.gbr", bytesOf("second copy")},
        {"\xE5\x9F\xBA\xE6\x9D\xBF.gbr", bytesOf("unicode")},
    };
    Bytes zip = VellZipWriter::archive(entries);
    auto list = VellZip::listEntries(zip);
    ASSERT_EQ(list.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(list[i].path, entries[i].first);
        EXPECT_EQ(list[i].uncompressedSize, static_cast<std::int64_t>(entries[i].second.size()));
    }
    EXPECT_EQ(VellZip::readEntry(zip, "rev1/big.bin"), big);
    EXPECT_EQ(textOf(VellZip::readEntry(zip, "rev1/top.gbr")), "%FSLAX26Y26*%\nM02*\n");
    EXPECT_EQ(textOf(VellZip::readEntry(zip, "\xE5\x9F\xBA\xE6\x9D\xBF.gbr")), "unicode");
}

TEST(VellZipWriter, LayoutLimitsAreRefused) {
    try {
        VellZipWriter::archive({{std::string(65536, 'n'), {}}});
        FAIL();
    } catch (const VellZipError& e) {
        EXPECT_EQ(e.kind(), VellZipError::Case::unsupported);
        EXPECT_EQ(std::string(e.what()), "Unsupported ZIP feature: archive exceeds ZIP limits: path of 65536 bytes or more");
    }
    std::vector<VellZipWriter::Entry> many(65536, {"x", {}});
    EXPECT_THROW(VellZipWriter::archive(many), VellZipError);
    many.pop_back();
    EXPECT_EQ(VellZip::listEntries(VellZipWriter::archive(many)).size(), 65535u);
}
