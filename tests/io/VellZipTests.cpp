#include <gtest/gtest.h>

#include "ArchiveTestSupport.hpp"
#include "io/SizeLimits.hpp"
#include "io/VellZip.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

Bytes fixture(const std::string& name) { return archiveFixture(name); }

template <class F>
std::string zipFailure(F&& f, VellZipError::Case expected) {
    return failureText<VellZipError>(std::forward<F>(f), expected);
}

Bytes gerberText(std::size_t lines) {
    std::string s = "%FSLAX26Y26*%\n%MOMM*%\n";
    for (std::size_t i = 0; i < lines; ++i) s += "X" + std::to_string(i * 1000) + "Y2540000D01*\n";
    return bytesOf(s);
}

} // namespace

TEST(VellZipSignature, AcceptsLocalAndEndSignaturesLoosely) {
    EXPECT_TRUE(VellZip::isZip(Bytes{'P', 'K', 3, 4}));
    EXPECT_TRUE(VellZip::isZip(Bytes{'P', 'K', 5, 6}));
    EXPECT_TRUE(VellZip::isZip(Bytes{'P', 'K', 3, 6}));
    EXPECT_FALSE(VellZip::isZip(Bytes{'P', 'K', 3}));
    EXPECT_FALSE(VellZip::isZip(Bytes{'P', 'K', 7, 8}));
    EXPECT_FALSE(VellZip::isZip(bytesOf("%FSLAX26Y26*%")));
}

TEST(VellZipRead, StoredAndDeflatedEntriesComeBackExactly) {
    Bytes gerber = gerberText(2000);
    Bytes zip = buildZip({ZipItem("top.gbr", gerber).deflated(), ZipItem("drill.drl", "M48\nT1C0.3\n"),
                          ZipItem("empty.txt"), ZipItem("sub/")});
    auto list = VellZip::listEntries(zip);
    ASSERT_EQ(list.size(), 3u); // the directory is left out
    EXPECT_EQ(list[0], (ZipEntryInfo{"top.gbr", static_cast<std::int64_t>(gerber.size()), false}));
    EXPECT_EQ(list[1].path, "drill.drl");
    EXPECT_EQ(list[2].uncompressedSize, 0);
    EXPECT_EQ(VellZip::readEntry(zip, "top.gbr"), gerber);
    EXPECT_EQ(textOf(VellZip::readEntry(zip, "drill.drl")), "M48\nT1C0.3\n");
    EXPECT_TRUE(VellZip::readEntry(zip, "empty.txt").empty());
    EXPECT_TRUE(VellZip::readEntry(zip, "sub/").empty());
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "TOP.gbr"); }, VellZipError::Case::entryNotFound),
              "Entry not found in archive: TOP.gbr");
}

TEST(VellZipRead, DirectoriesByNameUnixModeOrDosAttribute) {
    Bytes zip = buildZip({ZipItem("unix").withAttributes(0x41ED0000u), ZipItem("dos").withAttributes(0x10),
                          ZipItem("file-with-dos-bit-above-unix-mode").withAttributes(0x81A40010u),
                          ZipItem("plain", "x")});
    auto list = VellZip::listEntries(zip);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, "file-with-dos-bit-above-unix-mode");
    EXPECT_EQ(list[1].path, "plain");
}

TEST(VellZipRead, ArchivesWrittenByPython) {
    Bytes zip = fixture("python_deflated.zip");
    auto list = VellZip::listEntries(zip);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].path, "gerbers/\xC3\x9C" "berblick.txt");
    EXPECT_EQ(textOf(VellZip::readEntry(zip, list[2].path)), "readme \xC3\xBC");
    Bytes gerber = VellZip::readEntry(zip, "gerbers/board-F_Cu.gbr");
    EXPECT_EQ(gerber.size(), static_cast<std::size_t>(list[0].uncompressedSize));
    EXPECT_EQ(textOf(gerber).substr(0, 13), "%FSLAX26Y26*%");

    // Sizes after the data (data descriptors): the central directory's sizes rule.
    Bytes streamed = fixture("python_descriptors.zip");
    auto streamedList = VellZip::listEntries(streamed);
    ASSERT_EQ(streamedList.size(), 2u);
    EXPECT_EQ(VellZip::readEntry(streamed, "a.gbr"), gerber);
    EXPECT_EQ(textOf(VellZip::readEntry(streamed, "b.drl")).substr(0, 3), "M48");

    // A ZIP64 extra block in the local header only moves the data start.
    EXPECT_EQ(VellZip::readEntry(fixture("python_zip64.zip"), "big.gbr"), gerber);
}

TEST(VellZipRead, DataDescriptorsWithZeroLocalSizes) {
    Bytes data = gerberText(300);
    Bytes zip = buildZip({ZipItem("a.gbr", data).deflated().withDescriptor(),
                          ZipItem("b.gbr", "stored").withDescriptor()});
    EXPECT_EQ(VellZip::readEntry(zip, "a.gbr"), data);
    EXPECT_EQ(textOf(VellZip::readEntry(zip, "b.gbr")), "stored");
}

TEST(VellZipRead, Zip64SizesOffsetsAndEndRecord) {
    Bytes data = gerberText(500);
    Bytes zip = buildZip({ZipItem("pad.txt", "padding").withExtra({0x55, 0x54, 1, 0, 7}),
                          ZipItem("top.gbr", data).deflated().zip64().withExtra({0x0A, 0, 4, 0, 1, 2, 3, 4})},
                         ZipLayout::zip64());
    auto list = VellZip::listEntries(zip);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].uncompressedSize, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(VellZip::readEntry(zip, "top.gbr"), data);

    auto entries = VellZip::parseCentralDirectory(zip);
    EXPECT_GT(entries[1].localHeaderOffset, 0);

    // Without the ZIP64 block the markers stay and the data range is out of bounds.
    Bytes missing = buildZip({ZipItem("top.gbr", data).deflated().zip64(true, false)});
    // Drop the extra block by zeroing its length in the central header (name follows at 46).
    auto eocd = VellZip::findEOCD(missing);
    missing[static_cast<std::size_t>(eocd.directoryOffset) + 30] = 0;
    missing[static_cast<std::size_t>(eocd.directoryOffset) + 31] = 0;
    auto raw = VellZip::parseCentralDirectory(missing);
    EXPECT_EQ(raw[0].uncompressedSize, 4294967295);
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(missing, "top.gbr"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: entry data out of bounds for top.gbr");
}

TEST(VellZipRead, EndRecordSearchPrefersExactFitThenTrailingData) {
    Bytes plain = buildZip({ZipItem("a", "1")});
    Bytes commented = buildZip({ZipItem("a", "1")}, ZipLayout::commented(std::string(65535, 'c')));
    EXPECT_EQ(VellZip::listEntries(commented).size(), 1u);
    Bytes trailing = buildZip({ZipItem("a", "1")}, ZipLayout::trailed(Bytes(100, 0)));
    EXPECT_EQ(textOf(VellZip::readEntry(trailing, "a")), "1");

    // A comment holding a fake end record that reaches the end: the exact fit wins.
    Bytes fake;
    put32(fake, 0x06054B50);
    fake.resize(20, 0);
    put16(fake, 0);
    Bytes tricky = buildZip({ZipItem("a", "1")}, ZipLayout::commented(textOf(fake)));
    auto eocd = VellZip::findEOCD(tricky);
    EXPECT_EQ(eocd.recordOffset, static_cast<std::int64_t>(tricky.size() - 22));
    EXPECT_TRUE(VellZip::listEntries(tricky).empty());
    EXPECT_EQ(VellZip::findEOCD(plain).recordOffset, static_cast<std::int64_t>(plain.size() - 22));

    // Out of the 65557-byte window.
    Bytes far = buildZip({ZipItem("a", "1")}, ZipLayout::trailed(Bytes(65536, 0)));
    EXPECT_EQ(zipFailure([&] { VellZip::listEntries(far); }, VellZipError::Case::notAZip), "Not a ZIP archive.");
}

TEST(VellZipRead, EmptyAndTooShortArchives) {
    EXPECT_TRUE(VellZip::listEntries(buildZip({})).empty());
    zipFailure([] { VellZip::listEntries(Bytes(21, 0)); }, VellZipError::Case::notAZip);
    Bytes local{'P', 'K', 3, 4};
    local.resize(200, 0);
    EXPECT_TRUE(VellZip::isZip(local));
    zipFailure([&] { VellZip::listEntries(local); }, VellZipError::Case::notAZip);
}

TEST(VellZipRead, DeclaredCountsAndDuplicateNames) {
    Bytes more = buildZip({ZipItem("a", "1"), ZipItem("b", "2")}, ZipLayout::counting(3));
    EXPECT_EQ(VellZip::listEntries(more).size(), 2u);
    Bytes fewer = buildZip({ZipItem("a", "1"), ZipItem("b", "2")}, ZipLayout::counting(1));
    EXPECT_EQ(VellZip::listEntries(fewer).size(), 1u);
    Bytes twice = buildZip({ZipItem("a", "first"), ZipItem("a", "second")});
    EXPECT_EQ(textOf(VellZip::readEntry(twice, "a")), "first");
}

TEST(VellZipRead, EncryptedAndUnknownMethodsAreRefused) {
    Bytes zip = buildZip({ZipItem("secret.gbr", "x").withFlags(1), ZipItem("bzip.gbr", "x").withMethod(12)});
    EXPECT_EQ(VellZip::listEntries(zip).size(), 2u);
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "secret.gbr"); }, VellZipError::Case::unsupported),
              "Unsupported ZIP feature: encrypted entries are not supported (secret.gbr)");
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "bzip.gbr"); }, VellZipError::Case::unsupported),
              "Unsupported ZIP feature: compression method 12 in bzip.gbr");
}

TEST(VellZipRead, DamagedDirectoriesAndHeaders) {
    Bytes zip = buildZip({ZipItem("a.gbr", gerberText(50)).deflated()});
    const auto eocd = VellZip::findEOCD(zip);
    const auto dir = static_cast<std::size_t>(eocd.directoryOffset);
    const std::size_t end = static_cast<std::size_t>(eocd.recordOffset);

    Bytes outOfBounds = zip;
    outOfBounds[end + 16] = 0xFF; // directory offset far past the end
    EXPECT_EQ(zipFailure([&] { VellZip::listEntries(outOfBounds); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: central directory out of bounds");

    Bytes overrun = zip;
    overrun[dir + 32] = 0xFF; // comment length past the end
    overrun[dir + 33] = 0xFF;
    EXPECT_EQ(zipFailure([&] { VellZip::listEntries(overrun); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: central directory entry overruns file");

    Bytes badSignature = zip;
    badSignature[dir] = 'X';
    EXPECT_EQ(zipFailure([&] { VellZip::listEntries(badSignature); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: central directory not found at offset " + std::to_string(dir));

    Bytes badLocal = zip;
    badLocal[0] = 'X';
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(badLocal, "a.gbr"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: bad local header signature for a.gbr");

    Bytes localFar = zip;
    localFar[dir + 45] = 0x7F; // local header offset
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(localFar, "a.gbr"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: local header out of bounds for a.gbr");

    Bytes longExtra = zip;
    longExtra[28] = 0xFF; // local extra length pushes the data past the end
    longExtra[29] = 0xFF;
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(longExtra, "a.gbr"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: entry data out of bounds for a.gbr");
}

TEST(VellZipRead, StoredSizeAndDeflateFailures) {
    Bytes zip = buildZip({ZipItem("short", "abc").declaring(4), ZipItem("empty-stream", "abc").deflated().withPayload({}),
                          ZipItem("garbage", "abc").deflated().withPayload({0xFF, 0xFF}),
                          ZipItem("garbage-size-0").deflated().withPayload({0xFF, 0xFF})});
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "short"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: stored size mismatch for short");
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "empty-stream"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: empty deflate stream for empty-stream");
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(zip, "garbage"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: deflate decompression failed for garbage");
    EXPECT_TRUE(VellZip::readEntry(zip, "garbage-size-0").empty());

    // CRC-32 values are not checked: a damaged byte passes through.
    Bytes flipped = buildZip({ZipItem("f", "abc").withPayload(bytesOf("abd"))});
    EXPECT_EQ(textOf(VellZip::readEntry(flipped, "f")), "abd");
}

TEST(VellZipRead, InflatedOutputIsCutOrShortenedToWhatTheStreamGives) {
    Bytes data = gerberText(1000);
    Bytes zip = buildZip({ZipItem("cut", data).deflated().declaring(100),
                          ZipItem("longer", data).deflated().declaring(10'000'000)});
    EXPECT_EQ(VellZip::readEntry(zip, "cut"), Bytes(data.begin(), data.begin() + 100));
    EXPECT_EQ(VellZip::readEntry(zip, "longer"), data);

    // A stream cut in half gives the bytes decoded so far.
    Bytes stream = deflateRaw(data);
    stream.resize(stream.size() / 2);
    Bytes half = buildZip({ZipItem("half", data).deflated().withPayload(stream)});
    Bytes got = VellZip::readEntry(half, "half");
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
}

TEST(VellZipSafety, BombsEndInCorruptedErrorWithoutAllocatingTheDeclaredSize) {
    // A kilobyte-sized entry that declares 2^62 bytes but inflates to little.
    Bytes small = bytesOf("tiny");
    Bytes liar = buildZip({ZipItem("liar", small).deflated().zip64(true, false).declaring(std::int64_t{1} << 62)});
    EXPECT_EQ(VellZip::listEntries(liar)[0].uncompressedSize, std::int64_t{1} << 62);
    EXPECT_EQ(VellZip::readEntry(liar, "liar"), small);

    // A real bomb: 1.125 GiB of zeros in about a megabyte.
    Bytes stream = zeroBombStream(18);
    Bytes bomb = buildZip({ZipItem("bomb.gbr").deflated().zip64(true, false).declaring(std::int64_t{18} << 26)
                               .withPayload(stream)});
    EXPECT_EQ(zipFailure([&] { VellZip::readEntry(bomb, "bomb.gbr"); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: entry too large for bomb.gbr");
}

// Central entries that all point at the one local entry of the archive, as overlap bombs do.
Bytes sharingOneStream(const Bytes& single, int names) {
    const std::size_t dirAt = single.size() - 22 - (46 + 7);  // one 7-byte name in the directory
    const Bytes local(single.begin(), single.begin() + static_cast<std::ptrdiff_t>(dirAt));
    const Bytes header(single.begin() + static_cast<std::ptrdiff_t>(dirAt), single.end() - 22);
    Bytes out = local, dir;
    for (int i = 0; i < names; ++i) {
        Bytes h = header;
        h[46 + 1] = static_cast<std::uint8_t>('0' + i / 10);  // "l00.gbr", "l01.gbr", ...
        h[46 + 2] = static_cast<std::uint8_t>('0' + i % 10);
        append(dir, h);
    }
    append(out, dir);
    put32(out, 0x06054B50);
    put32(out, 0);
    put16(out, names);
    put16(out, names);
    put32(out, dir.size());
    put32(out, local.size());
    put16(out, 0);
    return out;
}

TEST(VellZipSafety, OverlappingEntriesAndEndlessDirectoriesAreRefusedBeforeAnyRead) {
    // Sixteen names for one 64 MiB stream: refused when listed, before a byte is inflated.
    const Bytes one = buildZip({ZipItem("l00.gbr").deflated().declaring(std::int64_t{1} << 26).withPayload(zeroBombStream(1))});
    const Bytes shared = sharingOneStream(one, 16);
    EXPECT_EQ(zipFailure([&] { VellZip::listEntries(shared); }, VellZipError::Case::corrupted),
              "Corrupted ZIP archive: entries overlap: l00.gbr and l01.gbr");
    EXPECT_EQ(VellZip::listEntries(sharingOneStream(one, 1)).size(), 1u);
    // Back-to-back entries touch without sharing a byte.
    EXPECT_EQ(VellZip::listEntries(buildZip({ZipItem("a", "1"), ZipItem("b", ""), ZipItem("c", "3")})).size(), 3u);

    // A directory of more entries than any package has is refused as it is listed.
    std::vector<ZipItem> many;
    for (std::size_t i = 0; i <= kMaxArchiveEntries; ++i) many.emplace_back("d/");
    const Bytes huge = buildZip(many, ZipLayout::zip64());
    try {
        VellZip::listEntries(huge);
        FAIL() << "listed";
    } catch (const SizeLimitError& e) {
        EXPECT_STREQ(e.what(), "Too large to read: more than 100000 entries.");
    }
    many.pop_back();
    EXPECT_EQ(VellZip::Archive(buildZip(many, ZipLayout::zip64())).entries().size(), kMaxArchiveEntries);
}

TEST(VellZipSafety, TruncatedAndBitFlippedArchivesNeverCrash) {
    Bytes zip = buildZip({ZipItem("a.gbr", gerberText(200)).deflated(), ZipItem("b.drl", "M48\nT1C0.3\n%\nM30\n"),
                          ZipItem("c.gbr", gerberText(10)).deflated().zip64()},
                         ZipLayout::zip64());
    auto exercise = [](const Bytes& bytes) {
        try {
            VellZip::Archive archive(bytes);
            for (const auto& e : archive.entries()) {
                try {
                    archive.read(e);
                } catch (const VellZipError&) {
                }
            }
        } catch (const VellZipError&) {
        }
    };
    for (std::size_t n = 0; n < zip.size(); ++n) exercise(Bytes(zip.begin(), zip.begin() + n));
    for (std::size_t i = 0; i < zip.size(); ++i)
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes flipped = zip;
            flipped[i] ^= mask;
            exercise(flipped);
        }
}

TEST(VellZipArchive, OneParseServesManyReadsAndLookups) {
    Bytes zip = buildZip({ZipItem("a", "1"), ZipItem("a", "2"), ZipItem("b/")});
    VellZip::Archive archive(zip);
    ASSERT_EQ(archive.entries().size(), 3u);
    EXPECT_EQ(archive.find("a"), &archive.entries()[0]);
    EXPECT_EQ(archive.find("c"), nullptr);
    VellZip::Archive moved = std::move(archive);
    EXPECT_EQ(textOf(moved.readEntry("a")), "1");
    EXPECT_EQ(moved.listEntries().size(), 2u);
}
