#pragma once
// Whole-file reads and the path-name helpers the importers share.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SizeLimits.hpp"
#include "model/Errors.hpp"
#include "model/Format.hpp"

namespace corvane {

using Bytes = std::vector<std::uint8_t>;

// A file that could not be read; what() names the file and the system's reason.
class FileReadError : public CorvaneError {
public:
    explicit FileReadError(const std::string& message, int code = 0) : CorvaneError(message), code_(code) {}
    // The system's error number (EFBIG for a file past the read's ceiling), 0 when there is none.
    int code() const { return code_; }

private:
    int code_;
};

// A file that could not be written; what() names the path and the system's reason.
class FileWriteError : public CorvaneError {
public:
    explicit FileWriteError(const std::string& message) : CorvaneError(message) {}
};

// Whether a written file must reach the disk before the write returns. `cached` leaves that to the system:
// the replacement is still whole for every reader, but a crash of the machine may lose it; for files as
// cheap to make again as a preview picture, where the flushes would cost more than the rest of the write.
enum class Durability { flushed, cached };

// Replaces `path` with `bytes` in one step: a temporary file in the same folder, written in full and
// (when flushed) flushed to disk, then renamed over the target (a link planted at the path is replaced,
// never followed) and the folder flushed. On any failure the temporary file is removed, the target is
// untouched, and FileWriteError is thrown.
void atomicWriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, unsigned mode = 0644,
                     Durability durability = Durability::flushed);
// Removes temporary files that an interrupted atomicWriteFile left in `folder`, only those last
// written before `olderThan`: a younger one may belong to a write still under way.
void removeStaleTemporaryFiles(const std::filesystem::path& folder, std::filesystem::file_time_type olderThan);

// Reads a whole regular file of at most `maxBytes`. Anything else (a folder, a device such as
// /dev/zero, a pipe, a socket), or a file past the ceiling, is refused before or while reading,
// and a pipe is opened without waiting for a writer. Uses read(2), not a mapping, so a file
// truncated while it is read cannot bring the process down. Throws FileReadError.
Bytes readWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes = kMaxEntryBytes);
// A regular file read where it is needed: each block is read the first time a range over it is asked for,
// by the thread that asks first, straight into a buffer of the file's size that nothing filled before. The
// workers of a ZIP package each read their own entries and begin at once, where reading the whole file
// first kept every one of them waiting, and the bytes no one asks for are never read. The same refusals as
// readWholeFile; throws FileReadError.
class FileOnDemand {
public:
    explicit FileOnDemand(const std::filesystem::path& path, std::uint64_t maxBytes = kMaxEntryBytes);
    ~FileOnDemand();
    FileOnDemand(const FileOnDemand&) = delete;
    FileOnDemand& operator=(const FileOnDemand&) = delete;

    // The file's extent when it was opened; only the ranges passed to need() hold its bytes.
    std::span<const std::uint8_t> bytes() const;
    // Reads what is not yet read of [offset, offset + length) within the file, waiting for what another
    // thread is reading. Safe from several threads at once. Bytes past an end that came sooner than the
    // opened size read as 0, and the file counts as changed.
    void need(std::uint64_t offset, std::uint64_t length) const;
    // Whether the file came up shorter than it was opened, or is longer now: what was read of it may not be
    // one version of it.
    bool changed() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
// Reads a file as readWholeFile does, handing each block read to `consume` instead of keeping it.
void readFileInBlocks(const std::filesystem::path& path, const std::function<void(std::span<const std::uint8_t>)>& consume,
                      std::uint64_t maxBytes = kMaxEntryBytes);
// The first `maxBytes` bytes of a file (all of a shorter one), opened the same way: anything but a regular
// file is refused, whatever its size. Throws FileReadError.
Bytes readFileHead(const std::filesystem::path& path, std::size_t maxBytes);

// The last component of a path, ignoring a trailing "/".
std::string lastPathComponent(const std::filesystem::path& path);
// Text after the last "." of a name, unless that "." starts the name; "" when there is none.
std::string pathExtension(std::string_view name);
// The name without its extension (and its dot).
std::string deletingPathExtension(std::string_view name);
// Last component of an archive path: "/" is the only separator inside archives.
std::string_view archiveLastComponent(std::string_view path);

} // namespace corvane
