#pragma once
// Builds a ZIP archive in memory, every entry stored uncompressed.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

class VellZipWriter {
public:
    VellZipWriter() = delete;

    using Entry = std::pair<std::string, std::vector<std::uint8_t>>;

    // Entries keep their order and paths exactly as given. Throws
    // VellZipError::unsupported when the archive would not fit the classic
    // (non-ZIP64) layout.
    static std::vector<std::uint8_t> archive(const std::vector<Entry>& entries);
    static std::uint32_t crc32(std::span<const std::uint8_t> data);
};

} // namespace corvane
