#pragma once
// Reader of ZIP archives held in memory: single disk, ZIP64, stored and
// deflated entries. Every offset and length from the archive is checked
// before use; entries never allocate more than their data really inflates to.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/Errors.hpp"

namespace corvane {

struct ZipEntryInfo {
    std::string path;
    std::int64_t uncompressedSize = 0;
    bool isDirectory = false;

    bool operator==(const ZipEntryInfo&) const = default;
};

class VellZipError : public CorvaneError {
public:
    enum class Case { corrupted, unsupported, entryNotFound, notAZip };

    static VellZipError corrupted(std::string detail) { return {Case::corrupted, std::move(detail)}; }
    static VellZipError unsupported(std::string detail) { return {Case::unsupported, std::move(detail)}; }
    static VellZipError entryNotFound(std::string path) { return {Case::entryNotFound, std::move(path)}; }
    static VellZipError notAZip() { return {Case::notAZip, {}}; }

    Case kind() const { return kind_; }
    // The payload: the detail text, or the path for entryNotFound.
    const std::string& detail() const { return detail_; }

private:
    VellZipError(Case kind, std::string detail);
    Case kind_;
    std::string detail_;
};

class VellZip {
public:
    VellZip() = delete;

    struct CentralEntry {
        std::string path;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::int64_t compressedSize = 0;
        std::int64_t uncompressedSize = 0;
        std::int64_t localHeaderOffset = 0;
        bool isDirectory = false;
    };

    // Called with the bytes [offset, offset + length) of the archive before they are looked at, where they are
    // read as they are needed (FileOnDemand); empty where every byte is there from the start.
    using NeedBytes = std::function<void(std::uint64_t offset, std::uint64_t length)>;

    struct EOCDRecord {
        std::int64_t entryCount = 0;
        std::int64_t directorySize = 0;
        std::int64_t directoryOffset = 0;
        std::int64_t recordOffset = 0;
    };

    // An archive whose central directory was parsed once. It refers to the
    // caller's bytes, which must outlive it; reading entries is const and may
    // run on several threads at once.
    class Archive {
    public:
        explicit Archive(std::span<const std::uint8_t> archiveData, NeedBytes need = {});
        // The path index refers into the entries, so an archive moves but is not copied.
        Archive(const Archive&) = delete;
        Archive& operator=(const Archive&) = delete;
        Archive(Archive&&) = default;
        Archive& operator=(Archive&&) = default;

        const std::vector<CentralEntry>& entries() const { return entries_; }
        std::vector<ZipEntryInfo> listEntries() const;
        // The first entry of exactly that path, or null.
        const CentralEntry* find(std::string_view path) const;
        std::vector<std::uint8_t> readEntry(std::string_view path) const;
        // The uncompressed bytes of one of entries(); a directory gives nothing.
        std::vector<std::uint8_t> read(const CentralEntry& entry) const;

    private:
        std::span<const std::uint8_t> data_;
        NeedBytes need_;
        std::vector<CentralEntry> entries_;
        std::unordered_map<std::string_view, std::size_t> firstByPath_;
    };

    static bool isZip(std::span<const std::uint8_t> data);
    static std::vector<ZipEntryInfo> listEntries(std::span<const std::uint8_t> archiveData);
    static std::vector<std::uint8_t> readEntry(std::span<const std::uint8_t> archiveData, std::string_view path);
    // Writes every entry below the folder; returns the relative paths written.
    static std::vector<std::string> extract(std::span<const std::uint8_t> archiveData,
                                            const std::filesystem::path& toDirectory);

    static EOCDRecord findEOCD(std::span<const std::uint8_t> data, const NeedBytes& need = {});
    static void resolveZIP64EOCD(std::span<const std::uint8_t> data, EOCDRecord& eocd, const NeedBytes& need = {});
    static std::vector<CentralEntry> parseCentralDirectory(std::span<const std::uint8_t> data,
                                                           const NeedBytes& need = {});
    static std::vector<std::uint8_t> decodeEntryData(const CentralEntry& entry, std::span<const std::uint8_t> data,
                                                     const NeedBytes& need = {});
    static std::vector<std::uint8_t> inflate(std::span<const std::uint8_t> compressed, std::int64_t uncompressedSize,
                                             const std::string& path);
    static std::string sanitizedRelativePath(const std::string& path);

private:
    static EOCDRecord makeEOCD(std::span<const std::uint8_t> data, std::size_t at);
    static std::span<const std::uint8_t> localDataRange(const CentralEntry& entry, std::span<const std::uint8_t> data,
                                                        const NeedBytes& need);
};

} // namespace corvane

template <> struct std::hash<corvane::ZipEntryInfo> {
    std::size_t operator()(const corvane::ZipEntryInfo& e) const noexcept;
};
