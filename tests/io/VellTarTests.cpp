#include <gtest/gtest.h>

#include "ArchiveTestSupport.hpp"
#include "io/VellTar.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

Bytes fixture(const std::string& name) { return archiveFixture(name); }

template <class F>
std::string tarFailure(F&& f, VellTarError::Case expected) {
    return failureText<VellTarError>(std::forward<F>(f), expected);
}

std::string gunzipText(const Bytes& gz) { return textOf(VellTar::gunzip(gz)); }

const std::string kLongDir = "odb/steps/pcb/layers/very_long_layer_name_very_long_layer_name_very_long_layer_name_"
                             "very_long_layer_name_very_long_layer_name_very_long_layer_name_";

} // namespace

TEST(VellTarGzip, HeaderFieldsInEveryCombinationAreSkipped) {
    const Bytes text = bytesOf("G04 layer*\nM02*\n");
    EXPECT_TRUE(VellTar::isGzip(Bytes{0x1F, 0x8B}));
    EXPECT_FALSE(VellTar::isGzip(Bytes{0x1F}));
    for (int mask = 0; mask < 16; ++mask) {
        GzipOptions o;
        if (mask & 1) o.extra = Bytes{'A', 'B', 2, 0, 'x', 'y'};
        if (mask & 2) o.name = "job.tar";
        if (mask & 4) o.comment = "made by hand";
        if (mask & 8) o.headerCRC = true;
        EXPECT_EQ(VellTar::gunzip(gzipMember(text, o)), text) << "flags " << mask;
    }
}

TEST(VellTarGzip, BrokenHeadersAndStreams) {
    EXPECT_EQ(tarFailure([] { VellTar::gunzip(bytesOf("PK")); }, VellTarError::Case::notGzip), "Not a gzip stream.");
    EXPECT_EQ(tarFailure([] { VellTar::gunzip(Bytes{0x1F, 0x8B}); }, VellTarError::Case::corrupted),
              "Corrupted archive: gzip header");
    Bytes good = gzipMember(bytesOf("payload"));
    Bytes method = good;
    method[2] = 7;
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(method); }, VellTarError::Case::corrupted),
              "Corrupted archive: gzip compression method is not deflate");
    Bytes extra{0x1F, 0x8B, 8, 0x04, 0, 0, 0, 0, 0, 3, 5};
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(extra); }, VellTarError::Case::corrupted),
              "Corrupted archive: gzip extra");
    Bytes unterminatedName{0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 3, 'j', 'o', 'b'};
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(unterminatedName); }, VellTarError::Case::corrupted),
              "Corrupted archive: gzip header");
    Bytes headerOnly(good.begin(), good.begin() + 10);
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(headerOnly); }, VellTarError::Case::corrupted),
              "Corrupted archive: gzip header");
    Bytes noPayload(good.begin(), good.begin() + 15);
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(noPayload); }, VellTarError::Case::corrupted),
              "Corrupted archive: no payload");
    Bytes garbage(good.begin(), good.begin() + 10);
    append(garbage, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 7, 0, 0, 0});
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(garbage); }, VellTarError::Case::corrupted),
              "Corrupted archive: deflate failed");
}

TEST(VellTarGzip, EveryMemberIsDecodedFullyWhateverIsizeSays) {
    EXPECT_EQ(gunzipText(fixture("python_two_members.gz")), "first member\nsecond member\n");
    Bytes three = gzipMember(bytesOf("a"));
    append(three, gzipMember(bytesOf("")));
    append(three, gzipMember(bytesOf("b"), GzipOptions::named("second")));
    EXPECT_EQ(gunzipText(three), "ab");

    const Bytes text = bytesOf(std::string(5000, 'g'));
    EXPECT_EQ(VellTar::gunzip(gzipMember(text, GzipOptions::claiming(10))), text);
    EXPECT_EQ(VellTar::gunzip(gzipMember(text, GzipOptions::claiming(0))), text);
    EXPECT_EQ(VellTar::gunzip(gzipMember(text, GzipOptions::claiming(0xFFFFFFFF))), text);
    EXPECT_TRUE(VellTar::gunzip(gzipMember(Bytes{})).empty());
    Bytes badCRC = gzipMember(text);
    badCRC[badCRC.size() - 8] ^= 0xFF; // the CRC-32 is not checked
    EXPECT_EQ(VellTar::gunzip(badCRC), text);

    // Zero padding after the last member is ignored, as gzip itself does.
    Bytes padded = gzipMember(text);
    padded.resize(padded.size() + 512, 0);
    EXPECT_EQ(VellTar::gunzip(padded), text);

    // A cut stream keeps what it gave.
    Bytes cut = gzipMember(bytesOf(std::string(200000, 'x') + std::string(200000, 'y')));
    cut.resize(cut.size() / 2);
    EXPECT_GT(VellTar::gunzip(cut).size(), 0u);
}

TEST(VellTarGzip, BombIsRefusedAtTheCeiling) {
    Bytes bomb{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    append(bomb, zeroBombStream(17));
    put32(bomb, 0);
    put32(bomb, 0); // ISIZE 0: nothing to size a buffer by
    EXPECT_EQ(tarFailure([&] { VellTar::gunzip(bomb); }, VellTarError::Case::corrupted),
              "Corrupted archive: gunzip too large");
}

TEST(VellTarUntar, EntriesDirectoriesAndLeadingDotSlash) {
    Bytes tar;
    tarAppend(tar, "./", {}, '5');
    tarAppend(tar, "./odb/", {}, '5');
    tarAppend(tar, "./odb/matrix/matrix", bytesOf("STEP {\n}\n"));
    tarAppend(tar, "././twice", bytesOf("2"));
    tarAppend(tar, "d", {}, '5', TarMagic::none);
    tarAppend(tar, "v7-file", bytesOf("old"), '\0', TarMagic::none);
    tarAppend(tar, "link", {}, '2');
    tarAppend(tar, "pax_global_header", bytesOf("x"), '0');
    tarAppend(tar, "global", paxRecord("comment", "c"), 'g');
    tarEnd(tar);
    auto entries = VellTar::untar(tar);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].path, "odb/");
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].path, "odb/matrix/matrix");
    EXPECT_EQ(textOf(entries[1].data), "STEP {\n}\n");
    EXPECT_FALSE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].path, "./twice");
    EXPECT_TRUE(entries[3].isDirectory);
    EXPECT_EQ(textOf(entries[4].data), "old");
    EXPECT_EQ(entries[5].path, "link");
}

TEST(VellTarUntar, EndsCleanlyAndRefusesWhatIsNotTar) {
    EXPECT_EQ(tarFailure([] { VellTar::untar(Bytes(511, 0)); }, VellTarError::Case::notTar), "Not a tar archive.");
    EXPECT_EQ(tarFailure([] { VellTar::untar(Bytes(1024, 0)); }, VellTarError::Case::notTar), "Not a tar archive.");
    Bytes nine = tarHeader("file", 0);
    std::fill(nine.begin() + 124, nine.begin() + 136, 0);
    nine[124] = '9';
    EXPECT_EQ(tarFailure([&] { VellTar::untar(nine); }, VellTarError::Case::notTar), "Not a tar archive.");

    // No end blocks, and a short tail after the last entry.
    Bytes bare;
    tarAppend(bare, "a", bytesOf("1"));
    bare.resize(bare.size() + 100, 0xAB);
    ASSERT_EQ(VellTar::untar(bare).size(), 1u);

    // A declared size past the end fails the whole archive, even after good entries.
    Bytes truncated;
    tarAppend(truncated, "a", bytesOf("1"));
    append(truncated, tarHeader("b", 5000));
    truncated.resize(truncated.size() + 512, 0);
    EXPECT_EQ(tarFailure([&] { VellTar::untar(truncated); }, VellTarError::Case::corrupted),
              "Corrupted archive: tar truncated");
}

TEST(VellTarUntar, LongNamesFromPrefixGnuAndPaxRecords) {
    const std::string longPath = kLongDir + "/features";
    Bytes tar;
    tarAppend(tar, "features", bytesOf("prefix"), '0', TarMagic::posix, kLongDir);
    tarAppend(tar, "././@LongLink", bytesOf(longPath + std::string(1, '\0')), 'L', TarMagic::gnu);
    tarAppend(tar, longPath.substr(0, 100), bytesOf("gnu"), '0', TarMagic::gnu);
    tarAppend(tar, "PaxHeaders/x", concat(paxRecord("mtime", "1"), paxRecord("path", "./" + longPath)), 'x');
    tarAppend(tar, longPath.substr(0, 100), bytesOf("pax"), '0');
    tarAppend(tar, "././@LongLink", bytesOf("target-name"), 'K', TarMagic::gnu);
    tarAppend(tar, "short", bytesOf("plain"), '0');
    tarEnd(tar);
    auto entries = VellTar::untar(tar);
    ASSERT_EQ(entries.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(entries[i].path, longPath) << i;
    EXPECT_EQ(textOf(entries[0].data), "prefix");
    EXPECT_EQ(textOf(entries[1].data), "gnu");
    EXPECT_EQ(textOf(entries[2].data), "pax");
    EXPECT_EQ(entries[3].path, "short"); // the long names apply to one entry only

    // The GNU layout keeps other data where ustar has its prefix.
    Bytes gnu = tarHeader("name", 0, '0', TarMagic::gnu);
    gnu[345] = '1';
    gnu.resize(1536, 0);
    EXPECT_EQ(VellTar::untar(gnu)[0].path, "name");
}

TEST(VellTarUntar, ArchivesWrittenByPython) {
    for (const char* name : {"python_gnu.tar", "python_pax.tar", "python_ustar.tar"}) {
        auto entries = VellTar::untar(fixture(name));
        ASSERT_EQ(entries.size(), 3u) << name;
        EXPECT_EQ(entries[0].path, "odb/") << name;
        EXPECT_TRUE(entries[0].isDirectory);
        EXPECT_EQ(entries[1].path, "odb/matrix/matrix") << name;
        EXPECT_EQ(entries[2].path, kLongDir + "/features") << name;
        EXPECT_EQ(textOf(entries[2].data).substr(0, 13), "%FSLAX26Y26*%");
    }
    auto job = VellTar::readTGZ(fixture("python_job.tgz"));
    ASSERT_EQ(job.size(), 3u);
    EXPECT_EQ(job[2].path, kLongDir + "/features");
}

TEST(VellTarSafety, TruncatedAndBitFlippedArchivesNeverCrash) {
    Bytes tar;
    tarAppend(tar, "./odb/matrix/matrix", bytesOf("STEP {\n}\n"));
    tarAppend(tar, "././@LongLink", bytesOf(kLongDir), 'L', TarMagic::gnu);
    tarAppend(tar, "x", bytesOf("1"));
    tarAppend(tar, "PaxHeaders/x", paxRecord("path", "p"), 'x');
    tarAppend(tar, "y", bytesOf("2"), '0', TarMagic::posix, "pre");
    tarEnd(tar);
    Bytes gz = gzipMember(tar, GzipOptions::named("job.tar"));
    auto exercise = [](const Bytes& bytes) {
        try {
            VellTar::readTGZ(bytes);
        } catch (const VellTarError&) {
        }
    };
    for (std::size_t n = 0; n < gz.size(); ++n) exercise(Bytes(gz.begin(), gz.begin() + n));
    for (std::size_t i = 0; i < gz.size(); ++i) {
        Bytes flipped = gz;
        flipped[i] ^= 0x5A;
        exercise(flipped);
    }
    for (std::size_t i = 0; i < tar.size(); i += 7) {
        Bytes flipped = tar;
        flipped[i] ^= 0xFF;
        try {
            VellTar::untar(flipped);
        } catch (const VellTarError&) {
        }
    }
}
