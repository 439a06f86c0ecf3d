#include "BoardHeap.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Memory a board takes per byte of its file: a ZIP inflates about three times, and the objects read from
// the text take about three times its bytes.
constexpr std::uint64_t kMemoryPerFileByte = 10;
// Below this much memory the pages a huge page clears beyond what is used cost more than the faults saved.
constexpr std::uint64_t kLeastMemoryForHugePages = std::uint64_t{4} << 20;
// The heap reserved per byte of the board's file. What the heap hands out is more than what is touched: a
// layer's object table is reserved for every object its text could make, up to 17 times the text's bytes,
// and a ZIP inflates about three times. Only a reservation: pages never touched take no memory.
constexpr std::uint64_t kHeapPerFileByte = 64;
constexpr std::uint64_t kLeastHeap = std::uint64_t{64} << 20, kMostHeap = std::uint64_t{1} << 30;
// glibc's largest threshold for serving a block from its own mapping: below it every block comes from the heap.
constexpr int kLargestHeapBlock = 32 << 20;
// glibc's default growth margin, for growth past the reserve.
constexpr int kDefaultTopPad = 128 << 10;

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Grows the heap by `bytes` at once and returns the range it grew by: a block larger than the heap's free
// top makes the allocator take the block and its margin from the system together.
std::pair<std::uintptr_t, std::uintptr_t> growHeap(std::uint64_t bytes) {
    mallopt(M_TOP_PAD, static_cast<int>(std::min<std::uint64_t>(bytes, INT_MAX)));
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // Stored where the compiler must assume it is read, so that the allocation is not left out.
    static void* volatile block;
    block = std::malloc(kHugePage);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(block);
    block = nullptr;
    mallopt(M_TOP_PAD, kDefaultTopPad);
    return {before, after};
}

} // namespace

bool prepareHeapForBoard(const std::filesystem::path& input, std::uint64_t pictureBytes) {
    if (underSanitizer()) return false;
    std::error_code ec;
    const std::uint64_t fileBytes = std::filesystem::is_regular_file(input, ec) ? std::filesystem::file_size(input, ec) : 0;
    const std::uint64_t memory = (ec ? 0 : fileBytes) * kMemoryPerFileByte + pictureBytes;
    if (memory < kLeastMemoryForHugePages) return false;
    // One arena: the threads' own arenas would grow page by page where no hint can reach them.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    // More than this grows the heap page by page.
    const std::uint64_t reserve = (ec ? 0 : fileBytes) * kHeapPerFileByte + 2 * pictureBytes;
    const auto [from, to] = growHeap(std::clamp(reserve, kLeastHeap, kMostHeap));
    const std::uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1), last = to & ~(kHugePage - 1);
    // Only a hint: without huge pages the reserve is still one heap that is never handed back.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    return true;
}

} // namespace corvane
