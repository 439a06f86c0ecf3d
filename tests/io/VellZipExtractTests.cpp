#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ArchiveBuilder.hpp"
#include "io/VellZip.hpp"

using namespace corvane;
using namespace corvane::testing;
namespace fs = std::filesystem;

namespace {

std::string sanitizeFailure(const std::string& path) {
    try {
        VellZip::sanitizedRelativePath(path);
    } catch (const VellZipError& e) {
        EXPECT_EQ(e.kind(), VellZipError::Case::corrupted);
        return e.what();
    }
    return "(accepted)";
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "vellzip-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(VellZipExtract, SanitisingPaths) {
    EXPECT_EQ(VellZip::sanitizedRelativePath("a\\b/./c"), "a/b/c");
    EXPECT_EQ(VellZip::sanitizedRelativePath("dir//file"), "dir/file");
    EXPECT_EQ(VellZip::sanitizedRelativePath("ab:c/d:e"), "ab:c/d:e");
    EXPECT_EQ(sanitizeFailure("C:evil"), "Corrupted ZIP archive: absolute path in archive: C:evil");
    EXPECT_EQ(sanitizeFailure("\xC3\xA9:x"), "Corrupted ZIP archive: absolute path in archive: \xC3\xA9:x");
    EXPECT_EQ(sanitizeFailure("/etc/passwd"), "Corrupted ZIP archive: absolute path in archive: /etc/passwd");
    EXPECT_EQ(sanitizeFailure("\\etc\\passwd"), "Corrupted ZIP archive: absolute path in archive: \\etc\\passwd");
    EXPECT_EQ(sanitizeFailure("a/../../b"), "Corrupted ZIP archive: path traversal in archive: a/../../b");
    EXPECT_EQ(sanitizeFailure("./."), "Corrupted ZIP archive: empty entry path in archive: ./.");
    EXPECT_EQ(sanitizeFailure(""), "Corrupted ZIP archive: empty entry path in archive");
    EXPECT_EQ(sanitizeFailure("//"), "Corrupted ZIP archive: absolute path in archive: //");
    EXPECT_NE(sanitizeFailure(std::string("ok.gbr\0/../../x", 16)), "(accepted)");
}

TEST(VellZipExtract, WritesFilesAndFoldersBelowTheDestination) {
    TempDir tmp;
    Bytes zip = buildZip({ZipItem("gerbers/"), ZipItem("gerbers\\top.gbr", "%FSLAX26Y26*%").deflated(),
                          ZipItem("./drill.drl", "M48")});
    auto written = VellZip::extract(zip, tmp.path() / "out");
    EXPECT_EQ(written, (std::vector<std::string>{"gerbers/top.gbr", "drill.drl"}));
    EXPECT_EQ(slurp(tmp.path() / "out/gerbers/top.gbr"), "%FSLAX26Y26*%");
    EXPECT_EQ(slurp(tmp.path() / "out/drill.drl"), "M48");

    // A second extraction replaces the files.
    Bytes again = buildZip({ZipItem("drill.drl", "M48\nT1C0.3")});
    VellZip::extract(again, tmp.path() / "out");
    EXPECT_EQ(slurp(tmp.path() / "out/drill.drl"), "M48\nT1C0.3");
}

TEST(VellZipExtract, NeverWritesThroughALinkInTheDestination) {
    TempDir tmp;
    fs::create_directories(tmp.path() / "out");
    fs::create_directories(tmp.path() / "elsewhere");
    fs::create_directory_symlink(tmp.path() / "elsewhere", tmp.path() / "out/linked");
    fs::create_symlink(tmp.path() / "elsewhere/victim", tmp.path() / "out/file.gbr");

    Bytes throughFolder = buildZip({ZipItem("linked/evil.gbr", "x")});
    EXPECT_THROW(VellZip::extract(throughFolder, tmp.path() / "out"), VellZipError);
    Bytes ontoLink = buildZip({ZipItem("file.gbr", "x")});
    EXPECT_THROW(VellZip::extract(ontoLink, tmp.path() / "out"), VellZipError);
    EXPECT_TRUE(fs::is_empty(tmp.path() / "elsewhere"));
}

TEST(VellZipExtract, FirstErrorStopsWithEarlierFilesKept) {
    TempDir tmp;
    Bytes zip = buildZip({ZipItem("ok.gbr", "1"), ZipItem("../escape.gbr", "2"), ZipItem("late.gbr", "3")});
    try {
        VellZip::extract(zip, tmp.path());
        FAIL();
    } catch (const VellZipError& e) {
        EXPECT_EQ(std::string(e.what()), "Corrupted ZIP archive: path traversal in archive: ../escape.gbr");
    }
    EXPECT_TRUE(fs::exists(tmp.path() / "ok.gbr"));
    EXPECT_FALSE(fs::exists(tmp.path() / "late.gbr"));
    EXPECT_FALSE(fs::exists(tmp.path().parent_path() / "escape.gbr"));
}
