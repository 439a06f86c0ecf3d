#include "import/DocumentCache.hpp"

namespace corvane {

DocumentCache& DocumentCache::shared() {
    static DocumentCache instance;
    return instance;
}

std::shared_ptr<const PCBPackage> DocumentCache::package(const std::string& dataHash) {
    return packageCache_.get(dataHash);
}

void DocumentCache::store(std::shared_ptr<const PCBPackage> package, const std::string& dataHash) {
    if (package) packageCache_.put(dataHash, std::move(package));
}

std::shared_ptr<const GerberDocument> DocumentCache::gerber(const std::string& dataHash) {
    return gerberCache_.get(dataHash);
}

void DocumentCache::store(std::shared_ptr<const GerberDocument> gerber, const std::string& dataHash) {
    if (gerber) gerberCache_.put(dataHash, std::move(gerber));
}

void DocumentCache::removeAll() {
    packageCache_.clear();
    gerberCache_.clear();
}

} // namespace corvane
