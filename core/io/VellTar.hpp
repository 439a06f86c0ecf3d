#pragma once
// Reader of gzip-compressed tar archives held in memory (the container of
// ODB++ jobs): every gzip member, POSIX ustar, GNU long names and pax paths.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/Errors.hpp"

namespace corvane {

struct TarEntry {
    std::string path;
    std::vector<std::uint8_t> data;
    bool isDirectory = false;
};

class VellTarError : public CorvaneError {
public:
    enum class Case { corrupted, notGzip, notTar };

    static VellTarError corrupted(std::string detail) { return {Case::corrupted, std::move(detail)}; }
    static VellTarError notGzip() { return {Case::notGzip, {}}; }
    static VellTarError notTar() { return {Case::notTar, {}}; }

    Case kind() const { return kind_; }
    const std::string& detail() const { return detail_; }

private:
    VellTarError(Case kind, std::string detail);
    Case kind_;
    std::string detail_;
};

class VellTar {
public:
    VellTar() = delete;

    static bool isGzip(std::span<const std::uint8_t> data);
    // Decodes every member in turn; the result never exceeds kMaxEntryBytes.
    static std::vector<std::uint8_t> gunzip(std::span<const std::uint8_t> data);
    static std::vector<TarEntry> untar(std::span<const std::uint8_t> data);
    static std::vector<TarEntry> readTGZ(std::span<const std::uint8_t> data);
};

} // namespace corvane
