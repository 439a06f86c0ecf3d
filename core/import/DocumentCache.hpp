#pragma once
// Process-wide memory cache of imported board data, keyed by content hash.
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "model/Documents.hpp"
#include "model/Layers.hpp"

namespace corvane {

// A least-recently-used map of immutable values, safe to use from any thread.
// Values are shared: the map holds one reference, every reader another.
template <class Value>
class LRUCache {
public:
    explicit LRUCache(std::size_t countLimit) : limit_(countLimit) {}

    std::shared_ptr<const Value> get(const std::string& key) {
        std::lock_guard lock(mutex_);
        auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->second;
    }

    void put(const std::string& key, std::shared_ptr<const Value> value) {
        std::shared_ptr<const Value> evicted; // released after the lock
        std::lock_guard lock(mutex_);
        if (auto it = index_.find(key); it != index_.end()) {
            evicted = std::exchange(it->second->second, std::move(value));
            order_.splice(order_.begin(), order_, it->second);
            return;
        }
        order_.emplace_front(key, std::move(value));
        index_.emplace(key, order_.begin());
        if (order_.size() > limit_) {
            evicted = std::move(order_.back().second);
            index_.erase(order_.back().first);
            order_.pop_back();
        }
    }

    void clear() {
        std::list<Entry> dropped;
        std::lock_guard lock(mutex_);
        index_.clear();
        dropped.swap(order_);
    }

    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return order_.size();
    }

private:
    using Entry = std::pair<std::string, std::shared_ptr<const Value>>;
    std::size_t limit_;
    mutable std::mutex mutex_;
    std::list<Entry> order_; // most recently used first
    std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

// Packages and documents are immutable once imported: the cache holds the very package the program shows,
// shared, never a copy of it.
class DocumentCache {
public:
    static constexpr std::size_t packageLimit = 12;
    static constexpr std::size_t gerberLimit = 64;

    DocumentCache() = default;
    DocumentCache(const DocumentCache&) = delete;
    DocumentCache& operator=(const DocumentCache&) = delete;

    static DocumentCache& shared();

    std::shared_ptr<const PCBPackage> package(const std::string& dataHash);
    void store(std::shared_ptr<const PCBPackage> package, const std::string& dataHash);
    void store(PCBPackage package, const std::string& dataHash) {
        store(std::make_shared<const PCBPackage>(std::move(package)), dataHash);
    }
    std::shared_ptr<const GerberDocument> gerber(const std::string& dataHash);
    void store(std::shared_ptr<const GerberDocument> gerber, const std::string& dataHash);
    void store(GerberDocument gerber, const std::string& dataHash) {
        store(std::make_shared<const GerberDocument>(std::move(gerber)), dataHash);
    }
    void removeAll();

private:
    LRUCache<PCBPackage> packageCache_{packageLimit};
    LRUCache<GerberDocument> gerberCache_{gerberLimit};
};

} // namespace corvane
