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
// The reserve is address space, but it counts against the capped data memory (capDataMemory) as soon as it
// is taken: it stays within a quarter of the cap. A block too large for the heap that the cap refuses its own
// mapping is served from the reserve instead.
constexpr std::uint64_t kLeastHeap = std::uint64_t{64} << 20, kMostHeap = std::uint64_t{512} << 20;
// glibc's largest threshold for serving a block from its own mapping: below it every block comes from the heap.
constexpr int kLargestHeapBlock = 32 << 20;
// glibc's default growth margin, for growth past the reserve.
constexpr int kDefaultTopPad = 128 << 10;

// The bytes of a board's file, or of the files of a board's folder (links not followed; a folder of more
// files than any board has is counted as far as that). 0 when there is nothing to read.
std::uint64_t boardBytes(const std::filesystem::path& input) {
    constexpr std::size_t kMostFilesCounted = 10000;
    std::error_code ec;
    if (std::filesystem::is_regular_file(input, ec)) {
        const auto size = std::filesystem::file_size(input, ec);
        return ec ? 0 : size;
    }
    std::uint64_t bytes = 0;
    std::size_t files = 0;
    std::filesystem::recursive_directory_iterator it(input, std::filesystem::directory_options::skip_permission_denied, ec);
    for (const std::filesystem::recursive_directory_iterator end; !ec && it != end && files < kMostFilesCounted;
         it.increment(ec), ++files) {
        std::error_code fileError;
        if (it->symlink_status(fileError).type() != std::filesystem::file_type::regular || fileError) continue;
        const auto size = it->file_size(fileError);
        if (!fileError) bytes += size;
    }
    return bytes;
}

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
    const std::uint64_t fileBytes = boardBytes(input);
    const std::uint64_t memory = fileBytes * kMemoryPerFileByte + pictureBytes;
    if (memory < kLeastMemoryForHugePages) return false;
    // One arena: the threads' own arenas would grow page by page where no hint can reach them.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    // More than this grows the heap page by page.
    const std::uint64_t reserve = fileBytes * kHeapPerFileByte + 2 * pictureBytes;
    const auto [from, to] = growHeap(std::clamp(reserve, kLeastHeap, kMostHeap));
    const std::uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1), last = to & ~(kHugePage - 1);
    // Only a hint: without huge pages the reserve is still one heap that is never handed back.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    return true;
}

} // namespace corvane
