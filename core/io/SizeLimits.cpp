#include "SizeLimits.hpp"

#include <algorithm>

#include "model/Format.hpp"
#include "model/Primitives.hpp"

namespace corvane {

// The object ceiling is sized by memory: with the byte budget and the contour points, a table
// that grows by doubling must leave the import within about 2 GB.
static_assert(kMaxImportObjects * sizeof(PCBObject) <= (std::uint64_t{512} << 20),
              "the object ceiling no longer fits the import's memory budget");

namespace {

thread_local ImportAllowance* tCurrent = nullptr;

// Objects and points a reader takes from the shared counts at a time.
constexpr std::uint64_t kObjectBatch = 4096;
constexpr std::uint64_t kVertexBatch = 65536;

// Takes n from `left` unless fewer remain; never lets the count wrap.
bool take(std::atomic<std::uint64_t>& left, std::uint64_t n) {
    std::uint64_t have = left.load(std::memory_order_relaxed);
    do {
        if (have < n) return false;
    } while (!left.compare_exchange_weak(have, have - n, std::memory_order_relaxed));
    return true;
}

// Takes up to `want` but at least `need`, as much as remains; 0 when not even `need` does.
std::uint64_t takeUpTo(std::atomic<std::uint64_t>& left, std::uint64_t need, std::uint64_t want) {
    std::uint64_t have = left.load(std::memory_order_relaxed);
    std::uint64_t got = 0;
    do {
        if (have < need) return 0;
        got = std::min(have, want);
    } while (!left.compare_exchange_weak(have, have - got, std::memory_order_relaxed));
    return got;
}

[[noreturn]] void refuse(std::uint64_t ceiling, const char* what) {
    throw SizeLimitError("more than " + formatInt(static_cast<std::int64_t>(ceiling)) + " " + what);
}

} // namespace

SizeLimitError::SizeLimitError(std::string detail)
    : CorvaneError("Too large to read: " + detail + "."), detail_(std::move(detail)) {}

ImportAllowance::ImportAllowance(Ceilings ceilings)
    : ceilings_(ceilings), bytes_(ceilings.bytes), objects_(ceilings.objects), vertices_(ceilings.vertices) {}

void ImportAllowance::takeBytes(std::uint64_t n) {
    if (!take(bytes_, n)) refuse(ceilings_.bytes >> 20, "MB of data");
}

std::uint64_t ImportAllowance::takeObjects(std::uint64_t need, std::uint64_t want) {
    const std::uint64_t got = takeUpTo(objects_, need, want);
    if (got == 0 && need > 0) refuse(ceilings_.objects, "objects");
    return got;
}

std::uint64_t ImportAllowance::takeVertices(std::uint64_t need, std::uint64_t want) {
    const std::uint64_t got = takeUpTo(vertices_, need, want);
    if (got == 0 && need > 0) refuse(ceilings_.vertices, "contour points");
    return got;
}

ImportAllowance* ImportAllowance::current() { return tCurrent; }

AllowanceScope::AllowanceScope(ImportAllowance& allowance) : previous_(tCurrent) { tCurrent = &allowance; }

AllowanceScope::~AllowanceScope() { tCurrent = previous_; }

ImportSession::ImportSession() : allowance_(ImportAllowance::current()) {
    if (allowance_) return;
    own_.emplace();
    allowance_ = &*own_;
    scope_.emplace(*allowance_);
}

BuildCounter::BuildCounter() = default;

BuildCounter::~BuildCounter() {
    session_.allowance().returnObjects(objectsAhead_);
    session_.allowance().returnVertices(verticesAhead_);
}

void BuildCounter::refillObjects(std::uint64_t need) {
    objectsAhead_ += session_.allowance().takeObjects(need - objectsAhead_, std::max(need, kObjectBatch));
}

void BuildCounter::refillVertices(std::uint64_t need) {
    verticesAhead_ += session_.allowance().takeVertices(need - verticesAhead_, std::max(need, kVertexBatch));
}

void requirePackageFileCount(std::size_t count) {
    if (count > kMaxPackageFiles) refuse(kMaxPackageFiles, "layer files");
}

void requireRoomForArchiveEntry(std::size_t listed) {
    if (listed >= kMaxArchiveEntries) refuse(kMaxArchiveEntries, "entries");
}

void chargeImportBytes(std::uint64_t n) {
    if (ImportAllowance* allowance = ImportAllowance::current()) allowance->takeBytes(n);
}

void refundImportBytes(std::uint64_t n) {
    if (ImportAllowance* allowance = ImportAllowance::current()) allowance->returnBytes(n);
}

} // namespace corvane
