#include <gtest/gtest.h>

#include "TempDir.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "store/RevisionStore.hpp"
#include "io/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZipWriter.hpp"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

using corvane::testing::TempDir;

Bytes boardZip() {
    const std::string gerber = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nM02*\n";
    return VellZipWriter::archive({{"board-F_Cu.gbr", Bytes(gerber.begin(), gerber.end())}});
}

std::string readText(const fs::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::size_t archiveCount(const fs::path& dir) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir / "packages"))
        if (e.path().extension() == ".zip") ++n;
    return n;
}

} // namespace

TEST(RevisionStoreBasics, RoundTripThroughASecondStore) {
    TempDir dir;
    const Bytes zip = boardZip();
    RevisionEntry first, second, other;
    {
        RevisionStore store(dir.path);
        EXPECT_TRUE(store.allProjects().empty());
        first = store.addPackage(PCBPackage{}, zip, "Widget", "Rev A");
        second = store.addPackage(PCBPackage{}, zip, "Widget", "Rev B");
        other = store.addPackage(PCBPackage{}, zip, "widget", "Rev A");
        EXPECT_NE(first.id + ".zip", first.archiveFileName);
        EXPECT_TRUE(RevisionStore::isPlainFileName(first.archiveFileName));
    }
    RevisionStore again(dir.path);
    const auto projects = again.allProjects();
    ASSERT_EQ(projects.size(), 2u);
    EXPECT_EQ(projects[0].name, "Widget");
    EXPECT_EQ(projects[0].revisions, (std::vector<RevisionEntry>{first, second}));
    EXPECT_EQ(projects[1].revisions, (std::vector<RevisionEntry>{other}));
    EXPECT_NE(projects[0].id, projects[1].id);

    const PCBPackage pkg = again.loadPackage(first);
    EXPECT_EQ(pkg.name, first.archiveFileName.substr(0, 36));
    EXPECT_EQ(pkg.sourceFileName, first.archiveFileName);
    EXPECT_EQ(pkg.files.size(), 1u);

    // Keys sorted, dates as whole-second UTC text.
    const Json manifest = Json::parse(readText(dir.path / "projects.json"));
    EXPECT_TRUE(manifest[0]["revisions"][0]["importedAt"].get<std::string>().ends_with("Z"));
}

TEST(RevisionStoreBasics, DeleteRenameAndUnknownIds) {
    TempDir dir;
    RevisionStore store(dir.path);
    const auto entry = store.addPackage(PCBPackage{}, boardZip(), "P", "r1");
    const std::string projectID = store.allProjects()[0].id;
    const auto before = fs::last_write_time(dir.path / "projects.json");
    const std::string beforeText = readText(dir.path / "projects.json");
    store.deleteRevision(projectID, "no-such-revision");
    store.deleteRevision("no-such-project", entry.id);
    store.renameRevision(projectID, "no-such-revision", "x");
    EXPECT_EQ(readText(dir.path / "projects.json"), beforeText);
    EXPECT_EQ(fs::last_write_time(dir.path / "projects.json"), before);

    store.renameRevision(projectID, entry.id, "renamed");
    EXPECT_EQ(RevisionStore(dir.path).allProjects()[0].revisions[0].name, "renamed");

    store.deleteRevision(projectID, entry.id);
    EXPECT_TRUE(store.allProjects().empty());
    EXPECT_EQ(archiveCount(dir.path), 0u);
    EXPECT_TRUE(RevisionStore(dir.path).allProjects().empty());
}

TEST(RevisionStoreSafety, CorruptManifestIsKeptAside) {
    TempDir dir;
    fs::create_directories(dir.path);
    { std::ofstream(dir.path / "projects.json") << "[{\"id\": 5}]"; }
    RevisionStore store(dir.path);
    EXPECT_TRUE(store.allProjects().empty());
    bool kept = false;
    for (const auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename().string().starts_with("projects.json.corrupt-")) kept = readText(e.path()) == "[{\"id\": 5}]";
    EXPECT_TRUE(kept);
}

TEST(RevisionStoreSafety, FailingSaveChangesNothing) {
    TempDir dir;
    const fs::path ws = dir.path / "ws";
    RevisionStore store(ws);
    const auto entry = store.addPackage(PCBPackage{}, boardZip(), "P", "r1");
    const auto projects = store.allProjects();
    const std::string manifest = readText(ws / "projects.json");
    // A plain file where the workspace folder should be makes every write fail, even as root.
    fs::rename(ws, dir.path / "ws.moved");
    { std::ofstream(ws) << "not a folder"; }
    EXPECT_THROW(store.addPackage(PCBPackage{}, boardZip(), "P", "r2"), CorvaneError);
    EXPECT_THROW(store.renameRevision(projects[0].id, entry.id, "new"), CorvaneError);
    EXPECT_THROW(store.deleteRevision(projects[0].id, entry.id), CorvaneError);
    EXPECT_EQ(store.allProjects(), projects);
    fs::remove(ws);
    fs::rename(dir.path / "ws.moved", ws);
    EXPECT_EQ(readText(ws / "projects.json"), manifest);
    EXPECT_EQ(archiveCount(ws), 1u);
    EXPECT_EQ(store.allProjects(), projects);
}

TEST(RevisionStoreSafety, PackagesFolderReplacedByAFileFailsTheAdd) {
    TempDir dir;
    RevisionStore store(dir.path);
    fs::remove_all(dir.path / "packages");
    { std::ofstream(dir.path / "packages") << "not a folder"; }
    EXPECT_THROW(store.addPackage(PCBPackage{}, boardZip(), "P", "r1"), FileWriteError);
    EXPECT_TRUE(store.allProjects().empty());
    EXPECT_FALSE(fs::exists(dir.path / "projects.json"));
}

TEST(RevisionStoreSafety, TraversalNamesAndNonZipBytes) {
    TempDir dir;
    const fs::path outside = dir.path / "outside.zip";
    { std::ofstream(outside) << "precious"; }
    const fs::path ws = dir.path / "ws";
    fs::create_directories(ws);
    {
        std::ofstream(ws / "projects.json")
            << R"([{"id":"P","name":"n","revisions":[{"id":"R","name":"r","archiveFileName":"../outside.zip","importedAt":"2026-03-01T12:00:00Z"}]}])";
    }
    RevisionStore store(ws);
    const auto entry = store.allProjects().at(0).revisions.at(0);
    EXPECT_THROW(store.loadPackage(entry), ImportError);
    // The location handed to the importer follows the same rule.
    EXPECT_THROW(store.archiveURL(entry), ImportError);
    EXPECT_THROW(store.archiveURL(RevisionEntry{"x", "x", "/tmp/x", Date{}}), ImportError);
    EXPECT_EQ(store.archiveURL(RevisionEntry{"x", "x", "A.zip", Date{}}), ws / "packages" / "A.zip");
    store.deleteRevision("P", "R");
    EXPECT_EQ(readText(outside), "precious");
    EXPECT_TRUE(store.allProjects().empty());

    const std::string text = "plain text";
    EXPECT_THROW(store.addPackage(PCBPackage{}, Bytes(text.begin(), text.end()), "P", "r"), RevisionStoreError);
    EXPECT_EQ(archiveCount(ws), 0u);

    // A link planted among the archives is read by the importer's rule: a device never is.
    fs::create_symlink("/dev/zero", ws / "packages" / "LINK.zip");
    try {
        store.loadPackage(RevisionEntry{"x", "x", "LINK.zip", Date{}});
        FAIL();
    } catch (const FileReadError& e) {
        EXPECT_STREQ(e.what(), "Could not read 'LINK.zip': Not a regular file");
    }

    // A stored archive that holds plain text fails to load with the importer's message.
    const fs::path bogus = ws / "packages" / "BOGUS.zip";
    { std::ofstream(bogus) << text; }
    try {
        store.loadPackage(RevisionEntry{"x", "x", "BOGUS.zip", Date{}});
        FAIL();
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), "Could not import: 'BOGUS.zip' is not a ZIP archive.");
    }
}

TEST(RevisionStoreConcurrency, TwoStoresAddingAtOnceKeepEverything) {
    TempDir dir;
    RevisionStore a(dir.path), b(dir.path);
    // Archives of some size, so that their temporary files live a while, and new stores opening all the
    // time meanwhile, as the desktop opens one per Store click: nobody removes a write under way.
    const std::string gerber = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nM02*\n";
    const Bytes zip = VellZipWriter::archive(
        {{"board-F_Cu.gbr", Bytes(gerber.begin(), gerber.end())}, {"notes.bin", Bytes(std::size_t{2} << 20, 7)}});
    std::atomic<bool> adding{true};
    std::thread opener([&] {
        while (adding) RevisionStore{dir.path};
    });
    std::thread ta([&] { for (int i = 0; i < 10; ++i) a.addPackage(PCBPackage{}, zip, "P", "a" + std::to_string(i)); });
    std::thread tb([&] { for (int i = 0; i < 10; ++i) b.addPackage(PCBPackage{}, zip, "P", "b" + std::to_string(i)); });
    ta.join();
    tb.join();
    adding = false;
    opener.join();
    const auto projects = RevisionStore(dir.path).allProjects();
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects[0].revisions.size(), 20u);
    EXPECT_EQ(archiveCount(dir.path), 20u);
}

namespace {

// Holds W/.lock as another store would while it writes.
struct HeldLock {
    int fd;
    explicit HeldLock(const fs::path& dir) : fd(::open((dir / ".lock").c_str(), O_RDWR | O_CREAT, 0600)) {
        ::flock(fd, LOCK_EX);
    }
    ~HeldLock() { ::close(fd); }
};

void setAge(const fs::path& p, std::chrono::seconds age) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - age);
}

} // namespace

TEST(RevisionStoreSafety, LeftoversAreRemovedOnlyUnderTheLockAndOnlyWhenSurelyLeftOver) {
    TempDir dir;
    const RevisionEntry kept = RevisionStore(dir.path).addPackage(PCBPackage{}, boardZip(), "P", "r1");
    const fs::path packages = dir.path / "packages";
    const fs::path orphan = packages / "0123ABCD-4567-89EF-0123-456789ABCDEF.zip";  // written, never listed
    const fs::path userFile = packages / "notes.zip";
    const fs::path staleTemp = packages / ".X.zip.tmp-0000000000000001";
    const fs::path liveTemp = dir.path / ".projects.json.tmp-0000000000000002";
    for (const fs::path& p : {orphan, userFile, staleTemp, liveTemp}) std::ofstream(p) << "x";
    setAge(staleTemp, std::chrono::hours(1));
    setAge(liveTemp, -std::chrono::hours(1));  // younger than any lock taken now: a write under way

    std::optional<HeldLock> held(std::in_place, dir.path);
    std::atomic<bool> opened{false};
    std::thread opening([&] {
        RevisionStore store(dir.path);
        opened = true;
    });
    // While another holder may be writing, a store that opens touches nothing: it waits for the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(opened);
    EXPECT_TRUE(fs::exists(staleTemp));
    EXPECT_TRUE(fs::exists(orphan));
    held.reset();
    opening.join();
    EXPECT_FALSE(fs::exists(staleTemp));
    EXPECT_TRUE(fs::exists(liveTemp));
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(userFile));
    EXPECT_TRUE(fs::exists(packages / kept.archiveFileName));

    // A manifest that cannot be read cannot tell orphans from revisions: every archive stays.
    std::ofstream(orphan) << "x";
    { std::ofstream(dir.path / "projects.json") << "[{"; }
    RevisionStore{dir.path};
    EXPECT_TRUE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(packages / kept.archiveFileName));
}

TEST(RevisionStoreSafety, AWorkspaceThatCannotBeLockedIsReadButNeverWritten) {
    TempDir dir;
    const RevisionEntry entry = RevisionStore(dir.path).addPackage(PCBPackage{}, boardZip(), "P", "r1");
    const std::string manifest = readText(dir.path / "projects.json");
    // A folder where the lock file belongs cannot be opened, even as root.
    fs::remove(dir.path / ".lock");
    fs::create_directory(dir.path / ".lock");
    RevisionStore store(dir.path);
    const auto projects = store.allProjects();
    ASSERT_EQ(projects.size(), 1u);
    try {
        store.addPackage(PCBPackage{}, boardZip(), "P", "r2");
        FAIL();
    } catch (const RevisionStoreError& e) {
        EXPECT_STREQ(e.what(), "The workspace could not be locked: Is a directory");
    }
    EXPECT_THROW(store.renameRevision(projects[0].id, entry.id, "new"), RevisionStoreError);
    EXPECT_THROW(store.deleteRevision(projects[0].id, entry.id), RevisionStoreError);
    EXPECT_EQ(readText(dir.path / "projects.json"), manifest);
    EXPECT_EQ(archiveCount(dir.path), 1u);
    EXPECT_EQ(store.allProjects(), projects);
}
