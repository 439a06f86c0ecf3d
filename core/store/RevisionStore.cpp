#include "RevisionStore.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZip.hpp"
#include "model/UUID.hpp"

namespace corvane {

namespace fs = std::filesystem;

Json encodeValue(const RevisionEntry& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("id", value.id);
    w.put("name", value.name);
    w.put("archiveFileName", value.archiveFileName);
    w.put("importedAt", value.importedAt);
    return w.take();
}

Json encodeValue(const ProjectEntry& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("id", value.id);
    w.put("name", value.name);
    w.put("revisions", value.revisions);
    return w.take();
}

void decodeValue(const Json& json, RevisionEntry& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("id", out.id);
    r.required("name", out.name);
    r.required("archiveFileName", out.archiveFileName);
    r.required("importedAt", out.importedAt);
}

void decodeValue(const Json& json, ProjectEntry& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("id", out.id);
    r.required("name", out.name);
    r.required("revisions", out.revisions);
}

namespace {

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

} // namespace

// An exclusive lock on W/.lock held for one operation, so two processes (or two stores of one
// process) never interleave changes. Closing the file releases it.
class RevisionStore::FileLock {
public:
    explicit FileLock(const fs::path& dir) {
        fd_ = ::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
        takenAt_ = fs::file_time_type::clock::now();
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Changing the workspace unlocked could lose another store's change: refuse instead.
    void requireHeld() const {
        if (!held()) throw RevisionStoreError(std::string("The workspace could not be locked: ") + std::strerror(error_));
    }
    // Whatever was written before this moment was written by an earlier holder, which has finished.
    fs::file_time_type takenAt() const { return takenAt_; }

private:
    int fd_ = -1;
    int error_ = 0;
    fs::file_time_type takenAt_;
};

// What every change of the workspace begins and ends with: one change at a time in this process and
// under the workspace lock, made to a copy of the manifest as it is on disk now, which replaces what the
// store knows only once it is saved.
class RevisionStore::Change {
public:
    explicit Change(RevisionStore& store) : store_(store), guard_(store.mutex_), lock_(store.requireDirectory()) {
        lock_.requireHeld();
        store_.reloadIfChanged(true);
        projects = store_.projects_;
    }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    void commit() {
        store_.save(projects);
        store_.projects_ = std::move(projects);
    }

    std::vector<ProjectEntry> projects;

private:
    RevisionStore& store_;
    std::lock_guard<std::mutex> guard_;
    const FileLock lock_;
};

namespace {

// The name the store gives an archive: an upper-case UUID text and ".zip".
bool isStoreArchiveName(const std::string& name) {
    if (name.size() != 40 || !name.ends_with(".zip")) return false;
    for (std::size_t i = 0; i < 36; ++i) {
        const char c = name[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

} // namespace

std::optional<fs::path> RevisionStore::defaultDirectory() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home && home[0] == '/' ? home : "";
        if (homeDir.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') homeDir = pw->pw_dir;
        }
        if (homeDir.empty()) return std::nullopt;
        base = fs::path(homeDir) / ".local" / "share";
    }
    return base / "Corvane" / "Workspace";
}

RevisionStore::RevisionStore(std::optional<fs::path> directory)
    : directory_(directory ? std::move(directory) : defaultDirectory()) {
    if (!directory_) return;
    std::error_code ec;
    const bool existed = fs::exists(*directory_, ec);
    fs::create_directories(packagesPath(), ec);
    // A workspace we create holds the user's boards: keep it private.
    if (!existed) ::chmod(directory_->c_str(), 0700);
    const FileLock lock(*directory_);
    const bool manifestRead = loadManifest(true, lock.held());
    if (lock.held()) removeLeftovers(lock.takenAt(), manifestRead);
}

void RevisionStore::removeLeftovers(fs::file_time_type lockTakenAt, bool manifestRead) {
    // Other stores write their temporary files only while they hold the lock, so under it every
    // older one was left by a writer that died.
    removeStaleTemporaryFiles(*directory_, lockTakenAt);
    removeStaleTemporaryFiles(packagesPath(), lockTakenAt);
    // Only a manifest read whole can tell an orphan from a revision; otherwise keep every archive.
    if (manifestRead) removeOrphanArchives();
}

void RevisionStore::removeOrphanArchives() {
    std::set<std::string> listed;
    for (const auto& project : projects_)
        for (const auto& revision : project.revisions) listed.insert(revision.archiveFileName);
    std::error_code ec;
    for (fs::directory_iterator it(packagesPath(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code sec;
        // An archive written just before a crash, whose manifest entry never was.
        if (isStoreArchiveName(name) && !listed.contains(name) && it->is_regular_file(sec) && !sec)
            fs::remove(it->path(), sec);
    }
}

fs::path RevisionStore::manifestPath() const { return *directory_ / "projects.json"; }
fs::path RevisionStore::packagesPath() const { return *directory_ / "packages"; }

const fs::path& RevisionStore::requireDirectory() const {
    if (!directory_) throw RevisionStoreError("workspace folder unavailable");
    return *directory_;
}

RevisionStore::Stamp RevisionStore::currentStamp() const {
    struct stat st {};
    if (::stat(manifestPath().c_str(), &st) != 0) return Stamp{};
    return Stamp{static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, true};
}

bool RevisionStore::loadManifest(bool initial, bool locked) {
    const Stamp stamp = currentStamp();
    const fs::path path = manifestPath();
    if (!stamp.exists) {
        // No manifest: a new workspace has no projects; one that vanished under us keeps what we know.
        if (initial) projects_.clear();
        stamp_ = stamp;
        return false;
    }
    std::string problem;
    try {
        const Bytes bytes = readWholeFile(path);
        projects_ = decodeJSON<std::vector<ProjectEntry>>(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), CodingOptions::iso8601());
        stamp_ = stamp;
        return true;
    } catch (const std::exception& e) {
        problem = e.what();
    }
    // Never let the next save silently replace records we could not read: keep the file aside. What
    // this store already knows stays in memory and is what the next save writes.
    if (initial) projects_.clear();
    if (!locked) {
        // Unlocked, the file may be another store's fresh save: leave it where it is.
        stamp_ = stamp;
        return false;
    }
    const fs::path aside = path.string() + ".corrupt-" + utcStamp();
    std::error_code ec;
    fs::rename(path, aside, ec);
    const std::string line = "Corvane: workspace manifest could not be read (" + problem + "); " +
                             (ec ? "it stays at " + path.string() : "kept as " + aside.string()) + "\n";
    [[maybe_unused]] auto n = ::write(2, line.data(), line.size());
    stamp_ = currentStamp();
    return false;
}

void RevisionStore::reloadIfChanged(bool locked) {
    if (currentStamp() != stamp_) loadManifest(false, locked);
}

void RevisionStore::save(const std::vector<ProjectEntry>& projects) {
    const std::string text = encodeJSONPretty(projects, CodingOptions::iso8601());
    atomicWriteFile(manifestPath(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0600);
    stamp_ = currentStamp();
}

std::vector<ProjectEntry> RevisionStore::allProjects() {
    std::lock_guard guard(mutex_);
    if (directory_) {
        // Reading is safe without the lock (the manifest is replaced in one step), so a workspace
        // that cannot be locked still lists what it holds.
        const FileLock lock(*directory_);
        reloadIfChanged(lock.held());
    }
    return projects_;
}

bool RevisionStore::isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

fs::path RevisionStore::archiveURL(const RevisionEntry& entry) const {
    // The name comes from a file anyone may edit: "/tmp/x" or "../../x" must not lead out of packages/.
    if (!isPlainFileName(entry.archiveFileName))
        throw ImportError::unreadable("'" + entry.archiveFileName + "' is not a ZIP archive.");
    return requireDirectory() / "packages" / entry.archiveFileName;
}

PCBPackage RevisionStore::loadPackage(const RevisionEntry& entry) const {
    // The importer's rules hold: a regular file only, read within the import's ceilings.
    return PackageImporter{}.importZIP(archiveURL(entry));
}

RevisionEntry RevisionStore::addPackage(const PCBPackage&, std::span<const std::uint8_t> archiveData,
                                        const std::string& projectName, const std::string& revisionName) {
    requireDirectory();
    if (!VellZip::isZip(archiveData)) throw RevisionStoreError("The revision to store is not a ZIP archive.");
    Change change(*this);

    RevisionEntry entry;
    entry.archiveFileName = UUID::random().uuidString() + ".zip";
    entry.id = UUID::random().uuidString();
    entry.name = revisionName;
    // Whole seconds, as the manifest stores them, so memory and disk agree.
    entry.importedAt = Date{std::floor(Date::now().timeIntervalSinceReferenceDate)};

    const fs::path archive = packagesPath() / entry.archiveFileName;
    atomicWriteFile(archive, archiveData, 0600);

    std::vector<ProjectEntry>& next = change.projects;
    auto it = std::find_if(next.begin(), next.end(), [&](const ProjectEntry& p) { return p.name == projectName; });
    if (it != next.end()) {
        it->revisions.push_back(entry);
    } else {
        next.push_back(ProjectEntry{UUID::random().uuidString(), projectName, {entry}});
    }
    try {
        change.commit();
    } catch (...) {
        std::error_code ec;
        fs::remove(archive, ec);
        throw;
    }
    return entry;
}

namespace {
// The project and revision with these ids in `projects`, or nulls.
std::pair<std::vector<ProjectEntry>::iterator, RevisionEntry*> findRevision(std::vector<ProjectEntry>& projects,
                                                                           const std::string& projectID,
                                                                           const std::string& revisionID) {
    auto project = std::find_if(projects.begin(), projects.end(), [&](const ProjectEntry& p) { return p.id == projectID; });
    if (project == projects.end()) return {project, nullptr};
    auto revision = std::find_if(project->revisions.begin(), project->revisions.end(),
                                 [&](const RevisionEntry& r) { return r.id == revisionID; });
    return {project, revision == project->revisions.end() ? nullptr : &*revision};
}
} // namespace

void RevisionStore::deleteRevision(const std::string& projectID, const std::string& revisionID) {
    Change change(*this);
    std::vector<ProjectEntry>& next = change.projects;
    auto [project, found] = findRevision(next, projectID, revisionID);
    if (!found) return;
    const std::string archiveName = found->archiveFileName;
    const auto revision = project->revisions.begin() + (found - project->revisions.data());
    project->revisions.erase(revision);
    if (project->revisions.empty()) next.erase(project);
    // The manifest first: a failed save must never leave an entry pointing at a removed archive.
    change.commit();
    if (isPlainFileName(archiveName)) {
        std::error_code ec;
        fs::remove(packagesPath() / archiveName, ec);
    }
}

void RevisionStore::renameRevision(const std::string& projectID, const std::string& revisionID,
                                   const std::string& newName) {
    Change change(*this);
    RevisionEntry* revision = findRevision(change.projects, projectID, revisionID).second;
    if (!revision) return;
    revision->name = newName;
    change.commit();
}

} // namespace corvane
