#pragma once
// Ceilings on what untrusted input may make an import read, inflate and build. Declared sizes are
// hints at most: buffers grow with the data actually decoded and stop at these limits. Together they
// keep one import (archive, inflated entries, objects and contour points) within about 2 GB.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "model/Errors.hpp"

namespace corvane {

// Largest file read from disk, single archive entry or decompressed stream we accept.
inline constexpr std::uint64_t kMaxEntryBytes = std::uint64_t{512} << 20;

// Bytes one import may read and inflate in total, counted as every worker produces them.
inline constexpr std::uint64_t kMaxImportBytes = std::uint64_t{1} << 30;

// Entries one archive may list: its directory alone would otherwise cost gigabytes.
inline constexpr std::size_t kMaxArchiveEntries = 100'000;

// Layer files one package may bring (a real package has a few dozen).
inline constexpr std::size_t kMaxPackageFiles = 2'000;

// Objects, drill hits and slots the readers may build during one import: about ten times the
// largest real package, and at today's object size about 400 MB.
inline constexpr std::uint64_t kMaxImportObjects = 3'000'000;

// Points of region contours the readers may build during one import (16 bytes each).
inline constexpr std::uint64_t kMaxImportVertices = std::uint64_t{1} << 24;

// Lists one S-expression read may hold: a 30 MB board holds about 1.5 million.
inline constexpr std::size_t kMaxListNodes = std::size_t{1} << 22;

// Atoms (numbers and strings) one S-expression read may hold, at 8 or 16 bytes each: a 30 MB board holds
// about 4 million.
inline constexpr std::size_t kMaxListAtoms = std::size_t{1} << 25;

// A ceiling was reached; detail() says which, e.g. "more than 2000 layer files".
class SizeLimitError : public CorvaneError {
public:
    explicit SizeLimitError(std::string detail);
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

// What one import may still read, inflate and build, shared by every reader working for it on any
// thread. Takings are all or nothing, so a refused one leaves the counts as they were.
class ImportAllowance {
public:
    struct Ceilings {
        std::uint64_t bytes = kMaxImportBytes;
        std::uint64_t objects = kMaxImportObjects;
        std::uint64_t vertices = kMaxImportVertices;
    };

    ImportAllowance() : ImportAllowance(Ceilings{}) {}
    explicit ImportAllowance(Ceilings ceilings);
    ImportAllowance(const ImportAllowance&) = delete;
    ImportAllowance& operator=(const ImportAllowance&) = delete;

    // Throws SizeLimitError when fewer than n are left.
    void takeBytes(std::uint64_t n);
    // Take as many as are left up to `want`, at least `need`; throw SizeLimitError when fewer remain.
    std::uint64_t takeObjects(std::uint64_t need, std::uint64_t want);
    std::uint64_t takeVertices(std::uint64_t need, std::uint64_t want);
    // Hands back what a reader took ahead and did not use.
    void returnObjects(std::uint64_t n) { objects_.fetch_add(n); }
    void returnVertices(std::uint64_t n) { vertices_.fetch_add(n); }
    // Hands back bytes of a buffer given up (a smaller one, moved from as it grew).
    void returnBytes(std::uint64_t n) { bytes_.fetch_add(n); }

    const Ceilings& ceilings() const { return ceilings_; }

    // The allowance that readers on this thread charge, or null outside any import.
    static ImportAllowance* current();

private:
    Ceilings ceilings_;
    std::atomic<std::uint64_t> bytes_, objects_, vertices_;
};

// While open, readers on this thread charge `allowance`. Workers of one import each open one.
class AllowanceScope {
public:
    explicit AllowanceScope(ImportAllowance& allowance);
    ~AllowanceScope();
    AllowanceScope(const AllowanceScope&) = delete;
    AllowanceScope& operator=(const AllowanceScope&) = delete;

private:
    ImportAllowance* previous_;
};

// The allowance of the import in progress on this thread, or a fresh one of its own (with the
// default ceilings) when the caller runs outside any import, in force while this lives.
class ImportSession {
public:
    ImportSession();
    ImportSession(const ImportSession&) = delete;
    ImportSession& operator=(const ImportSession&) = delete;
    ImportAllowance& allowance() { return *allowance_; }

private:
    std::optional<ImportAllowance> own_;
    ImportAllowance* allowance_;
    std::optional<AllowanceScope> scope_;
};

// What one reader builds, charged to the import's allowance in batches so that the shared counters
// are touched once per few thousand objects. Whatever was taken ahead goes back at the end.
class BuildCounter {
public:
    BuildCounter();
    ~BuildCounter();
    BuildCounter(const BuildCounter&) = delete;
    BuildCounter& operator=(const BuildCounter&) = delete;

    void object() {
        if (objectsAhead_ == 0) refillObjects(1);
        --objectsAhead_;
    }
    void vertices(std::uint64_t n) {
        if (verticesAhead_ < n) refillVertices(n);
        verticesAhead_ -= n;
    }

private:
    void refillObjects(std::uint64_t need);
    void refillVertices(std::uint64_t need);

    ImportSession session_;
    std::uint64_t objectsAhead_ = 0;
    std::uint64_t verticesAhead_ = 0;
};

// Throws SizeLimitError when a package would bring more than kMaxPackageFiles layer files.
void requirePackageFileCount(std::size_t count);
// Throws SizeLimitError when an archive or folder that already lists `listed` entries would list
// one more than kMaxArchiveEntries.
void requireRoomForArchiveEntry(std::size_t listed);
// Charges `n` bytes about to be copied or inflated to the import in progress on this thread, if any.
void chargeImportBytes(std::uint64_t n);
// Hands back `n` bytes charged for a buffer that is gone, to the import in progress on this thread, if any.
void refundImportBytes(std::uint64_t n);

} // namespace corvane
