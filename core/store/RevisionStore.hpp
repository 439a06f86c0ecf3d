#pragma once
// The revision workspace: one ZIP archive per stored revision under W/packages, grouped into projects
// by the manifest W/projects.json. It is the one place the program writes the user's data, so every
// change is all-or-nothing and shared safely between processes.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/Codable.hpp"
#include "model/Model.hpp"

namespace corvane {

struct RevisionEntry {
    std::string id;
    std::string name;
    std::string archiveFileName;
    Date importedAt;
    bool operator==(const RevisionEntry&) const = default;
};

struct ProjectEntry {
    std::string id;
    std::string name;
    std::vector<RevisionEntry> revisions;
    bool operator==(const ProjectEntry&) const = default;
};

Json encodeValue(const RevisionEntry& value, const CodingOptions& options);
Json encodeValue(const ProjectEntry& value, const CodingOptions& options);
void decodeValue(const Json& json, RevisionEntry& out, const CodingOptions& options);
void decodeValue(const Json& json, ProjectEntry& out, const CodingOptions& options);

class RevisionStoreError : public CorvaneError {
public:
    using CorvaneError::CorvaneError;
};

class RevisionStore {
public:
    static constexpr const char* queueLabel = "corvane.revisionstore";

    // The given folder, or the default workspace folder when none is given.
    explicit RevisionStore(std::optional<std::filesystem::path> directory = std::nullopt);

    // $XDG_DATA_HOME (when absolute), else ~/.local/share, followed by Corvane/Workspace.
    static std::optional<std::filesystem::path> defaultDirectory();

    const std::optional<std::filesystem::path>& directory() const { return directory_; }
    std::vector<ProjectEntry> allProjects();
    // W/packages/<archiveFileName>; throws ImportError unless the name is one plain file name.
    std::filesystem::path archiveURL(const RevisionEntry& entry) const;
    PCBPackage loadPackage(const RevisionEntry& entry) const;
    RevisionEntry addPackage(const PCBPackage& package, std::span<const std::uint8_t> archiveData,
                             const std::string& projectName, const std::string& revisionName);
    void deleteRevision(const std::string& projectID, const std::string& revisionID);
    void renameRevision(const std::string& projectID, const std::string& revisionID, const std::string& newName);

    // Whether an archive name read from the manifest is one plain file name inside packages/.
    static bool isPlainFileName(const std::string& name);

private:
    struct Stamp {
        std::uint64_t inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool exists = false;
        bool operator==(const Stamp&) const = default;
    };
    class FileLock;
    class Change;

    std::filesystem::path manifestPath() const;
    std::filesystem::path packagesPath() const;
    const std::filesystem::path& requireDirectory() const;
    Stamp currentStamp() const;
    // True when the manifest was read and decoded. A corrupt one is moved aside only when locked.
    bool loadManifest(bool initial, bool locked);
    void reloadIfChanged(bool locked);
    // Under the lock: temporary files older than the lock, and archives no manifest entry names.
    void removeLeftovers(std::filesystem::file_time_type lockTakenAt, bool manifestRead);
    void removeOrphanArchives();
    void save(const std::vector<ProjectEntry>& projects);

    std::optional<std::filesystem::path> directory_;
    std::vector<ProjectEntry> projects_;
    Stamp stamp_;
    std::mutex mutex_;
};

} // namespace corvane
