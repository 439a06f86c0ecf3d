#include "VellTar.hpp"

#include <optional>
#include <string_view>

#include "RawInflate.hpp"
#include "SizeLimits.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

constexpr std::size_t kBlock = 512;

std::string describe(VellTarError::Case kind, const std::string& detail) {
    switch (kind) {
    case VellTarError::Case::corrupted: return "Corrupted archive: " + detail;
    case VellTarError::Case::notGzip: return "Not a gzip stream.";
    case VellTarError::Case::notTar: return "Not a tar archive.";
    }
    return {};
}

constexpr std::uint8_t kFHCRC = 0x02, kFEXTRA = 0x04, kFNAME = 0x08, kFCOMMENT = 0x10;

// Start of the DEFLATE data of the member at `m`, after its optional fields.
std::size_t memberPayloadStart(std::span<const std::uint8_t> d, std::size_t m) {
    const std::size_t c = d.size();
    if (c - m < 4) throw VellTarError::corrupted("gzip header");
    if (d[m + 2] != 8) throw VellTarError::corrupted("gzip compression method is not deflate");
    const std::uint8_t flags = d[m + 3];
    std::size_t p = m + 10;
    if (flags & kFEXTRA) {
        if (c - m < 12) throw VellTarError::corrupted("gzip extra");
        p = m + 12 + (d[m + 10] | (d[m + 11] << 8));
    }
    auto skipZeroTerminated = [&] {
        while (p < c && d[p] != 0) ++p;
        ++p;
    };
    if (flags & kFNAME) skipZeroTerminated();
    if (flags & kFCOMMENT) skipZeroTerminated();
    if (flags & kFHCRC) p += 2;
    if (p >= c) throw VellTarError::corrupted("gzip header");
    return p;
}

std::string_view fieldBytes(std::span<const std::uint8_t> d, std::size_t offset, std::size_t length) {
    if (offset >= d.size()) return {};
    length = std::min(length, d.size() - offset);
    std::string_view s(reinterpret_cast<const char*>(d.data() + offset), length);
    return s.substr(0, s.find('\0'));
}

std::string readString(std::span<const std::uint8_t> d, std::size_t offset, std::size_t length) {
    return sanitizeUTF8(fieldBytes(d, offset, length));
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The "path" value of a pax extended header ("<length> <key>=<value>\n" records).
std::optional<std::string> paxPath(std::string_view records) {
    std::optional<std::string> path;
    while (!records.empty()) {
        std::size_t digits = 0;
        std::uint64_t length = 0;
        while (digits < records.size() && digits < 12 && records[digits] >= '0' && records[digits] <= '9')
            length = length * 10 + static_cast<std::uint64_t>(records[digits++] - '0');
        if (digits == 0 || digits >= records.size() || records[digits] != ' ' || length <= digits + 1 ||
            length > records.size() || records[length - 1] != '\n')
            break;
        std::string_view body = records.substr(digits + 1, length - digits - 2);
        std::size_t eq = body.find('=');
        if (eq != std::string_view::npos && body.substr(0, eq) == "path")
            path = sanitizeUTF8(body.substr(eq + 1));
        records.remove_prefix(length);
    }
    return path;
}

} // namespace

VellTarError::VellTarError(Case kind, std::string detail)
    : CorvaneError(describe(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

bool VellTar::isGzip(std::span<const std::uint8_t> data) {
    return data.size() >= 2 && data[0] == 0x1F && data[1] == 0x8B;
}

std::vector<std::uint8_t> VellTar::gunzip(std::span<const std::uint8_t> data) {
    if (!isGzip(data)) throw VellTarError::notGzip();
    const std::size_t c = data.size();
    std::vector<std::uint8_t> out;
    std::size_t member = 0;
    for (;;) {
        const std::size_t p = memberPayloadStart(data, member);
        if (c - p < 8) throw VellTarError::corrupted("no payload");
        // ISIZE (the last four bytes) sizes only the first allocation: it may lie.
        std::uint64_t hint = 0;
        if (member == 0)
            hint = std::uint64_t{data[c - 4]} | (std::uint64_t{data[c - 3]} << 8) |
                   (std::uint64_t{data[c - 2]} << 16) | (std::uint64_t{data[c - 1]} << 24);
        InflateOutcome outcome = rawInflateAppend(data.subspan(p), out, kMaxEntryBytes + 1, hint);
        if (out.size() > kMaxEntryBytes) throw VellTarError::corrupted("gunzip too large");
        if (outcome.status == InflateStatus::failed) throw VellTarError::corrupted("deflate failed");
        if (outcome.status != InflateStatus::finished) {
            // A cut stream keeps what it gave; one that gave nothing has failed.
            if (out.empty()) throw VellTarError::corrupted("deflate failed");
            break;
        }
        // Another member may follow the 8-byte trailer; anything else there is ignored, as gzip does.
        const std::size_t next = p + outcome.consumed + 8;
        if (next >= c || !isGzip(data.subspan(next))) break;
        member = next;
    }
    return out;
}

std::vector<TarEntry> VellTar::untar(std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    if (n < kBlock) throw VellTarError::notTar();
    std::vector<TarEntry> entries;
    std::optional<std::string> longName; // from a GNU "L" record, for the next entry
    std::optional<std::string> paxName;  // from a pax "x" record, for the next entry
    std::size_t h = 0;
    for (;;) {
        std::string name = readString(data, h, 100);
        std::string_view sizeField = trimmed(fieldBytes(data, h + 124, 12));
        if (sizeField.empty() || sizeField.find_first_not_of("01234567") != std::string_view::npos) break;
        std::uint64_t size = 0;
        for (char ch : sizeField) size = size * 8 + static_cast<std::uint64_t>(ch - '0');
        const char type = static_cast<char>(data[h + 156]);
        const std::string_view magic = fieldBytes(data, h + 257, 6);
        const bool ustar = magic.substr(0, 5) == "ustar";
        if (!ustar && name.empty()) break;

        const std::size_t start = h + kBlock;
        if (size > n - start) throw VellTarError::corrupted("tar truncated");
        const std::size_t next = start + static_cast<std::size_t>((size + kBlock - 1) / kBlock * kBlock);
        std::span<const std::uint8_t> body = data.subspan(start, static_cast<std::size_t>(size));

        if (type == 'L') {
            longName = sanitizeUTF8(fieldBytes(body, 0, body.size()));
        } else if (type == 'x') {
            if (auto p = paxPath(std::string_view(reinterpret_cast<const char*>(body.data()), body.size())))
                paxName = std::move(*p);
        } else if (type != 'K' && type != 'g' && name != "pax_global_header") {
            // POSIX ustar keeps the leading directories of long names in a prefix field;
            // the older GNU layout ("ustar" then a space) uses those bytes for other things.
            if (magic == std::string_view("ustar", 5) && data[h + 262] == 0) {
                std::string prefix = readString(data, h + 345, 155);
                if (!prefix.empty()) name = prefix + "/" + name;
            }
            if (longName) name = std::move(*longName);
            if (paxName) name = std::move(*paxName);
            longName.reset();
            paxName.reset();
            const bool isDirectory = type == '5' || (!name.empty() && name.back() == '/');
            if (name.compare(0, 2, "./") == 0) name.erase(0, 2);
            if (!name.empty()) {
                requireRoomForArchiveEntry(entries.size());
                chargeImportBytes(body.size());
                entries.push_back(TarEntry{std::move(name), {body.begin(), body.end()}, isDirectory});
            }
        }
        if (next > n || n - next < kBlock) break;
        h = next;
    }
    if (entries.empty()) throw VellTarError::notTar();
    return entries;
}

std::vector<TarEntry> VellTar::readTGZ(std::span<const std::uint8_t> data) { return untar(gunzip(data)); }

} // namespace corvane
