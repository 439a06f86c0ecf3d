#include "VellZipWriter.hpp"

#include <zlib.h>

#include <algorithm>

#include "VellZip.hpp"

namespace corvane {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint64_t v) {
    put16(out, static_cast<std::uint32_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint32_t>((v >> 16) & 0xFFFF));
}

constexpr std::uint32_t kVersion = 20;
constexpr std::uint32_t kUTF8Flag = 0x0800;
constexpr std::uint32_t kDate1980 = 0x0021;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;

[[noreturn]] void tooBig(const std::string& what) {
    throw VellZipError::unsupported("archive exceeds ZIP limits: " + what);
}

} // namespace

std::uint32_t VellZipWriter::crc32(std::span<const std::uint8_t> data) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    std::size_t done = 0;
    while (done < data.size()) {
        std::size_t n = std::min<std::size_t>(data.size() - done, std::size_t{1} << 30);
        crc = ::crc32(crc, data.data() + done, static_cast<uInt>(n));
        done += n;
    }
    return static_cast<std::uint32_t>(crc);
}

std::vector<std::uint8_t> VellZipWriter::archive(const std::vector<Entry>& entries) {
    if (entries.size() > 0xFFFF) tooBig("more than 65535 entries");
    std::size_t total = 22;
    for (const auto& [path, data] : entries) {
        if (path.size() > 0xFFFF) tooBig("path of 65536 bytes or more");
        if (data.size() > kMax32) tooBig("entry of 4 GiB or more: " + path);
        total += 30 + 46 + 2 * path.size() + data.size();
    }

    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> directory;
    out.reserve(total);
    for (const auto& [path, data] : entries) {
        const std::uint64_t offset = out.size();
        if (offset > kMax32) tooBig("offset of 4 GiB or more: " + path);
        const std::uint32_t crc = crc32(data);

        put32(out, 0x04034B50);
        put16(out, kVersion);
        put16(out, kUTF8Flag);
        put16(out, 0);
        put16(out, 0);
        put16(out, kDate1980);
        put32(out, crc);
        put32(out, data.size());
        put32(out, data.size());
        put16(out, static_cast<std::uint32_t>(path.size()));
        put16(out, 0);
        out.insert(out.end(), path.begin(), path.end());
        out.insert(out.end(), data.begin(), data.end());

        put32(directory, 0x02014B50);
        put16(directory, kVersion);
        put16(directory, kVersion);
        put16(directory, kUTF8Flag);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, kDate1980);
        put32(directory, crc);
        put32(directory, data.size());
        put32(directory, data.size());
        put16(directory, static_cast<std::uint32_t>(path.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory.insert(directory.end(), path.begin(), path.end());
    }

    const std::uint64_t directoryOffset = out.size();
    if (directoryOffset > kMax32 || directory.size() > kMax32) tooBig("central directory beyond 4 GiB");
    out.insert(out.end(), directory.begin(), directory.end());
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put32(out, directory.size());
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

} // namespace corvane
