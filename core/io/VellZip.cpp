#include "VellZip.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include "RawInflate.hpp"
#include "SizeLimits.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint64_t kMaxSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentLength = 65535;

std::string describe(VellZipError::Case kind, const std::string& detail) {
    switch (kind) {
    case VellZipError::Case::corrupted: return "Corrupted ZIP archive: " + detail;
    case VellZipError::Case::unsupported: return "Unsupported ZIP feature: " + detail;
    case VellZipError::Case::entryNotFound: return "Entry not found in archive: " + detail;
    case VellZipError::Case::notAZip: return "Not a ZIP archive.";
    }
    return {};
}

// Callers check `at + width <= data.size()` before every read.
std::uint16_t u16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}
std::uint32_t u32(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d[at + 2]) << 16) | (static_cast<std::uint32_t>(d[at + 3]) << 24);
}
std::uint64_t u64(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint64_t>(u32(d, at)) | (static_cast<std::uint64_t>(u32(d, at + 4)) << 32);
}
std::int64_t clampSigned(std::uint64_t v) { return static_cast<std::int64_t>(std::min(v, kMaxSigned)); }

// True when [start, start + length) lies inside the data; never overflows.
bool fits(std::uint64_t start, std::uint64_t length, std::size_t size) {
    std::uint64_t end;
    return !__builtin_add_overflow(start, length, &end) && end <= size;
}

std::string decodeName(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return {};
    return sanitizeUTF8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Hands a range about to be looked at to the archive's reader, if it reads on demand.
void askFor(const VellZip::NeedBytes& need, std::uint64_t offset, std::uint64_t length) {
    if (need) need(offset, length);
}

// The bytes an entry takes in the archive: its local header, name, extra field and data. Entries
// whose local header cannot be read are left out; reading them fails on its own.
struct StoredSpan {
    std::uint64_t begin = 0, end = 0;
    const VellZip::CentralEntry* entry = nullptr;
};

std::vector<StoredSpan> storedSpans(const std::vector<VellZip::CentralEntry>& entries,
                                    std::span<const std::uint8_t> data, const VellZip::NeedBytes& need) {
    std::vector<StoredSpan> spans;
    spans.reserve(entries.size());
    for (const auto& e : entries) {
        if (e.localHeaderOffset < 0 || e.compressedSize < 0) continue;
        const auto at = static_cast<std::uint64_t>(e.localHeaderOffset);
        askFor(need, at, 30);
        if (!fits(at, 30, data.size()) || u32(data, static_cast<std::size_t>(at)) != kLocalSignature) continue;
        const std::uint64_t start = at + 30 + u16(data, at + 26) + u16(data, at + 28);
        const auto length = static_cast<std::uint64_t>(e.compressedSize);
        if (!fits(start, length, data.size())) continue;
        spans.push_back(StoredSpan{at, start + length, &e});
    }
    return spans;
}

// Refuses entries that share bytes: real archives never do, while a few kilobytes of entries all
// pointing at one stream would make every one of them inflate the same gigabyte.
void requireDisjointEntries(const std::vector<VellZip::CentralEntry>& entries, std::span<const std::uint8_t> data,
                            const VellZip::NeedBytes& need) {
    std::vector<StoredSpan> spans = storedSpans(entries, data, need);
    std::sort(spans.begin(), spans.end(), [](const StoredSpan& a, const StoredSpan& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end)
            throw VellZipError::corrupted("entries overlap: " + spans[i - 1].entry->path + " and " + spans[i].entry->path);
    }
}

} // namespace

VellZipError::VellZipError(Case kind, std::string detail)
    : CorvaneError(describe(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

bool VellZip::isZip(std::span<const std::uint8_t> data) {
    return data.size() >= 4 && data[0] == 'P' && data[1] == 'K' && (data[2] == 3 || data[2] == 5) &&
           (data[3] == 4 || data[3] == 6);
}

VellZip::EOCDRecord VellZip::makeEOCD(std::span<const std::uint8_t> data, std::size_t at) {
    EOCDRecord r;
    r.entryCount = u16(data, at + 10);
    r.directorySize = u32(data, at + 12);
    r.directoryOffset = u32(data, at + 16);
    r.recordOffset = static_cast<std::int64_t>(at);
    return r;
}

VellZip::EOCDRecord VellZip::findEOCD(std::span<const std::uint8_t> data, const NeedBytes& need) {
    const std::size_t n = data.size();
    if (n < kEndRecordSize) throw VellZipError::notAZip();
    const std::size_t window = kMaxCommentLength + kEndRecordSize;
    const std::size_t lowest = n > window ? n - window : 0;
    askFor(need, lowest, n - lowest);
    // An exact fit (the comment reaches the end) wins over one followed by trailing bytes.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t p = n - kEndRecordSize + 1; p-- > lowest;) {
            if (u32(data, p) != kEndSignature) continue;
            std::size_t end = p + kEndRecordSize + u16(data, p + 20);
            if (pass == 0 ? end == n : end <= n) return makeEOCD(data, p);
        }
    }
    throw VellZipError::notAZip();
}

void VellZip::resolveZIP64EOCD(std::span<const std::uint8_t> data, EOCDRecord& eocd, const NeedBytes& need) {
    const bool countMarked = eocd.entryCount == 0xFFFF;
    const bool sizeMarked = eocd.directorySize == 0xFFFFFFFF;
    const bool offsetMarked = eocd.directoryOffset == 0xFFFFFFFF;
    if (!countMarked && !sizeMarked && !offsetMarked) return;
    if (eocd.recordOffset < 20) return;
    const auto locator = static_cast<std::size_t>(eocd.recordOffset) - 20;
    askFor(need, locator, 20);
    if (u32(data, locator) != kZip64LocatorSignature) return;
    const std::uint64_t q = std::min(u64(data, locator + 8), kMaxSigned);
    if (!fits(q, 56, data.size())) return;
    const auto at = static_cast<std::size_t>(q);
    askFor(need, at, 56);
    if (u32(data, at) != kZip64EndSignature) return;
    if (countMarked) eocd.entryCount = clampSigned(u64(data, at + 32));
    if (sizeMarked) eocd.directorySize = clampSigned(u64(data, at + 40));
    if (offsetMarked) eocd.directoryOffset = clampSigned(u64(data, at + 48));
}

std::vector<VellZip::CentralEntry> VellZip::parseCentralDirectory(std::span<const std::uint8_t> data,
                                                                  const NeedBytes& need) {
    EOCDRecord eocd = findEOCD(data, need);
    resolveZIP64EOCD(data, eocd, need);
    const std::size_t n = data.size();
    if (eocd.directoryOffset < 0 || eocd.directorySize < 0 ||
        !fits(static_cast<std::uint64_t>(eocd.directoryOffset), static_cast<std::uint64_t>(eocd.directorySize), n))
        throw VellZipError::corrupted("central directory out of bounds");
    // Headers are read until the declared count, which may run past the declared size.
    askFor(need, static_cast<std::uint64_t>(eocd.directoryOffset),
           n - static_cast<std::uint64_t>(eocd.directoryOffset));

    std::vector<CentralEntry> entries;
    // Never trust the declared count for the reservation: each header takes 46 bytes at least.
    entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
        {static_cast<std::uint64_t>(eocd.entryCount), (n - eocd.directoryOffset) / 46, kMaxArchiveEntries})));
    std::size_t o = static_cast<std::size_t>(eocd.directoryOffset);
    while (fits(o, 46, n) && u32(data, o) == kCentralSignature) {
        const std::uint16_t nameLength = u16(data, o + 28);
        const std::uint16_t extraLength = u16(data, o + 30);
        const std::uint16_t commentLength = u16(data, o + 32);
        const std::size_t nameStart = o + 46;
        const std::size_t extraStart = nameStart + nameLength;
        const std::size_t next = extraStart + extraLength + commentLength;
        if (next > n) throw VellZipError::corrupted("central directory entry overruns file");

        CentralEntry e;
        e.path = decodeName(data.subspan(nameStart, nameLength));
        e.flags = u16(data, o + 8);
        e.method = u16(data, o + 10);
        std::uint32_t compressed32 = u32(data, o + 20);
        std::uint32_t uncompressed32 = u32(data, o + 24);
        std::uint32_t offset32 = u32(data, o + 42);
        e.compressedSize = compressed32;
        e.uncompressedSize = uncompressed32;
        e.localHeaderOffset = offset32;

        if (uncompressed32 == 0xFFFFFFFF || compressed32 == 0xFFFFFFFF || offset32 == 0xFFFFFFFF) {
            const std::size_t extraEnd = extraStart + extraLength;
            std::size_t b = extraStart;
            while (b + 4 <= extraEnd) {
                const std::uint16_t id = u16(data, b);
                const std::size_t blockEnd = b + 4 + u16(data, b + 2);
                if (blockEnd > extraEnd) break;
                if (id == 0x0001) {
                    std::size_t v = b + 4;
                    auto take = [&](std::uint32_t field, std::int64_t& target) {
                        if (field != 0xFFFFFFFF || v + 8 > blockEnd) return;
                        target = clampSigned(u64(data, v));
                        v += 8;
                    };
                    take(uncompressed32, e.uncompressedSize);
                    take(compressed32, e.compressedSize);
                    take(offset32, e.localHeaderOffset);
                    break;
                }
                b = blockEnd;
            }
        }

        const std::uint32_t external = u32(data, o + 38);
        if (!e.path.empty() && e.path.back() == '/') e.isDirectory = true;
        else if ((external >> 28) == 4) e.isDirectory = true;
        else if (external >= 0x10000) e.isDirectory = false;
        else e.isDirectory = (external & 0x10) != 0;

        requireRoomForArchiveEntry(entries.size());
        entries.push_back(std::move(e));
        if (eocd.entryCount >= 1 && static_cast<std::int64_t>(entries.size()) >= eocd.entryCount) break;
        o = next;
    }
    if (entries.empty() && eocd.entryCount >= 1)
        throw VellZipError::corrupted("central directory not found at offset " + std::to_string(eocd.directoryOffset));
    requireDisjointEntries(entries, data, need);
    return entries;
}

std::span<const std::uint8_t> VellZip::localDataRange(const CentralEntry& entry, std::span<const std::uint8_t> data,
                                                      const NeedBytes& need) {
    if (entry.localHeaderOffset < 0 || !fits(static_cast<std::uint64_t>(entry.localHeaderOffset), 30, data.size()))
        throw VellZipError::corrupted("local header out of bounds for " + entry.path);
    const auto at = static_cast<std::size_t>(entry.localHeaderOffset);
    askFor(need, at, 30);
    if (u32(data, at) != kLocalSignature) throw VellZipError::corrupted("bad local header signature for " + entry.path);
    const std::uint64_t start = std::uint64_t{at} + 30 + u16(data, at + 26) + u16(data, at + 28);
    if (entry.compressedSize < 0 || !fits(start, static_cast<std::uint64_t>(entry.compressedSize), data.size()))
        throw VellZipError::corrupted("entry data out of bounds for " + entry.path);
    askFor(need, start, static_cast<std::uint64_t>(entry.compressedSize));
    return data.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(entry.compressedSize));
}

std::vector<std::uint8_t> VellZip::inflate(std::span<const std::uint8_t> compressed, std::int64_t uncompressedSize,
                                           const std::string& path) {
    if (uncompressedSize < 1) return {};
    if (compressed.empty()) throw VellZipError::corrupted("empty deflate stream for " + path);
    const auto declared = static_cast<std::uint64_t>(uncompressedSize);
    // Output past the declared size is cut off; past the ceiling the entry is refused.
    const std::uint64_t limit = declared > kMaxEntryBytes ? kMaxEntryBytes + 1 : declared;
    std::vector<std::uint8_t> out;
    InflateOutcome outcome = rawInflateAppend(compressed, out, limit, declared);
    if (out.size() > kMaxEntryBytes) throw VellZipError::corrupted("entry too large for " + path);
    if (outcome.status == InflateStatus::failed || out.empty())
        throw VellZipError::corrupted("deflate decompression failed for " + path);
    return out;
}

std::vector<std::uint8_t> VellZip::decodeEntryData(const CentralEntry& entry, std::span<const std::uint8_t> data,
                                                   const NeedBytes& need) {
    if (entry.flags & 1)
        throw VellZipError::unsupported("encrypted entries are not supported (" + entry.path + ")");
    std::span<const std::uint8_t> stored = localDataRange(entry, data, need);
    switch (entry.method) {
    case 8: return inflate(stored, entry.uncompressedSize, entry.path);
    case 0:
        if (entry.uncompressedSize < 0 || stored.size() != static_cast<std::uint64_t>(entry.uncompressedSize))
            throw VellZipError::corrupted("stored size mismatch for " + entry.path);
        if (stored.size() > kMaxEntryBytes) throw VellZipError::corrupted("entry too large for " + entry.path);
        chargeImportBytes(stored.size());
        return {stored.begin(), stored.end()};
    default:
        throw VellZipError::unsupported("compression method " + std::to_string(entry.method) + " in " + entry.path);
    }
}

// ---- Archive ----

VellZip::Archive::Archive(std::span<const std::uint8_t> archiveData, NeedBytes need)
    : data_(archiveData), need_(std::move(need)), entries_(parseCentralDirectory(archiveData, need_)) {
    firstByPath_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) firstByPath_.try_emplace(entries_[i].path, i);
}

std::vector<ZipEntryInfo> VellZip::Archive::listEntries() const {
    std::vector<ZipEntryInfo> out;
    out.reserve(entries_.size());
    for (const CentralEntry& e : entries_)
        if (!e.isDirectory) out.push_back(ZipEntryInfo{e.path, e.uncompressedSize, false});
    return out;
}

const VellZip::CentralEntry* VellZip::Archive::find(std::string_view path) const {
    auto it = firstByPath_.find(path);
    return it == firstByPath_.end() ? nullptr : &entries_[it->second];
}

std::vector<std::uint8_t> VellZip::Archive::read(const CentralEntry& entry) const {
    if (entry.isDirectory) return {};
    return decodeEntryData(entry, data_, need_);
}

std::vector<std::uint8_t> VellZip::Archive::readEntry(std::string_view path) const {
    const CentralEntry* e = find(path);
    if (!e) throw VellZipError::entryNotFound(std::string(path));
    return read(*e);
}

std::vector<ZipEntryInfo> VellZip::listEntries(std::span<const std::uint8_t> archiveData) {
    return Archive(archiveData).listEntries();
}

std::vector<std::uint8_t> VellZip::readEntry(std::span<const std::uint8_t> archiveData, std::string_view path) {
    return Archive(archiveData).readEntry(path);
}

// ---- Extraction ----

std::string VellZip::sanitizedRelativePath(const std::string& path) {
    // The operating system would cut the name at a NUL after every check had passed.
    if (path.find('\0') != std::string::npos)
        throw VellZipError::corrupted("invalid character in entry path in archive: " + sanitizeUTF8(path));
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');

    // A drive letter: an ASCII letter, or any non-ASCII character (erring on the safe side), before ":".
    bool drive = false;
    if (!p.empty()) {
        const auto c = static_cast<unsigned char>(p[0]);
        std::size_t firstLength = 1;
        if (c >= 0x80) {
            firstLength = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        }
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
        drive = letter && p.size() > firstLength && p[firstLength] == ':';
    }
    if (drive || (!p.empty() && p[0] == '/')) throw VellZipError::corrupted("absolute path in archive: " + path);

    std::vector<std::string_view> pieces;
    std::string_view rest(p);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view piece = rest.substr(0, slash);
        if (!piece.empty()) pieces.push_back(piece);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    if (pieces.empty()) throw VellZipError::corrupted("empty entry path in archive");
    for (std::string_view piece : pieces)
        if (piece == "..") throw VellZipError::corrupted("path traversal in archive: " + path);
    std::string joined;
    for (std::string_view piece : pieces) {
        if (piece == ".") continue;
        if (!joined.empty()) joined += '/';
        joined.append(piece);
    }
    if (joined.empty()) throw VellZipError::corrupted("empty entry path in archive: " + path);
    return joined;
}

namespace {

[[noreturn]] void throwErrno(const std::string& what, const std::filesystem::path& p) {
    throw std::filesystem::filesystem_error(what, p, std::error_code(errno, std::generic_category()));
}

// Refuses a path below the root that passes through, or ends at, a symbolic
// link already present: writing there would land outside the destination.
void requireNoLinks(const std::filesystem::path& root, const std::string& relative, const std::string& storedPath) {
    std::filesystem::path walk = root;
    std::string_view rest(relative);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        walk /= std::string(rest.substr(0, slash));
        std::error_code ec;
        if (std::filesystem::symlink_status(walk, ec).type() == std::filesystem::file_type::symlink)
            throw VellZipError::corrupted("entry escapes destination directory: " + storedPath);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
}

// Writes to a temporary file beside the target, then renames it into place.
void writeAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    std::string hidden = ".";
    hidden.append(target.filename().string()).append(".XXXXXX");
    std::string tmpl = (target.parent_path() / hidden).string();
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throwErrno("cannot create file", target);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
        if (w < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            ::unlink(tmpl.c_str());
            errno = saved;
            throwErrno("cannot write file", target);
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fchmod(fd, 0644) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        throwErrno("cannot write file", target);
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        throwErrno("cannot write file", target);
    }
}

} // namespace

std::vector<std::string> VellZip::extract(std::span<const std::uint8_t> archiveData,
                                          const std::filesystem::path& toDirectory) {
    std::vector<CentralEntry> entries = parseCentralDirectory(archiveData);
    std::filesystem::create_directories(toDirectory);
    std::string root = toDirectory.lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const std::filesystem::path rootPath(root);

    std::vector<std::string> written;
    for (const CentralEntry& e : entries) {
        const std::string relative = sanitizedRelativePath(e.path);
        const std::string destination = (rootPath / relative).lexically_normal().string();
        if (destination != root && destination.compare(0, root.size() + 1, root + "/") != 0)
            throw VellZipError::corrupted("entry escapes destination directory: " + e.path);
        requireNoLinks(rootPath, relative, e.path);
        const std::filesystem::path target(destination);
        if (e.isDirectory) {
            std::filesystem::create_directories(target);
            continue;
        }
        std::filesystem::create_directories(target.parent_path());
        std::vector<std::uint8_t> bytes = decodeEntryData(e, archiveData);
        writeAtomically(target, bytes);
        written.push_back(relative);
    }
    return written;
}

} // namespace corvane

std::size_t std::hash<corvane::ZipEntryInfo>::operator()(const corvane::ZipEntryInfo& e) const noexcept {
    std::size_t seed = 0;
    corvane::hashCombineValue(seed, e.path);
    corvane::hashCombineValue(seed, e.uncompressedSize);
    corvane::hashCombineValue(seed, e.isDirectory);
    return seed;
}
