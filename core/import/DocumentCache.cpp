#include "import/DocumentCache.hpp"

namespace corvane {

DocumentCache& DocumentCache::shared() {
    static DocumentCache instance;
    return instance;
}

std::optional<PCBPackage> DocumentCache::package(const std::string& dataHash) {
    if (auto boxed = packageCache_.get(dataHash)) return *boxed;
    return std::nullopt;
}

void DocumentCache::store(const PCBPackage& package, const std::string& dataHash) {
    packageCache_.put(dataHash, std::make_shared<const PCBPackage>(package));
}

std::optional<GerberDocument> DocumentCache::gerber(const std::string& dataHash) {
    if (auto boxed = gerberCache_.get(dataHash)) return *boxed;
    return std::nullopt;
}

void DocumentCache::store(const GerberDocument& gerber, const std::string& dataHash) {
    gerberCache_.put(dataHash, std::make_shared<const GerberDocument>(gerber));
}

void DocumentCache::removeAll() {
    packageCache_.clear();
    gerberCache_.clear();
}

} // namespace corvane
