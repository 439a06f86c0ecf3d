#pragma once
// Raw DEFLATE (no zlib or gzip wrapper) decoding on top of zlib.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corvane {

// One-shot decode into a fixed destination. Returns the number of bytes
// written; output that does not fit is cut off; 0 means failure (a valid
// stream that decodes to nothing also gives 0).
std::size_t rawInflate(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination);

enum class InflateStatus {
    finished,     // the final block was decoded
    inputEnded,   // the source ran out before the final block
    limitReached, // the output reached the limit with the stream not yet finished
    failed,       // invalid data
};

struct InflateOutcome {
    InflateStatus status = InflateStatus::failed;
    std::size_t consumed = 0; // source bytes used (exact when finished)
};

// Appends the decoded stream to `out`, growing it with the data actually
// produced and never beyond `limit` bytes in total (existing bytes counted).
// `sizeHint` (untrusted) only shapes the first allocation, and never beyond
// what the source could plausibly hold. Growth is charged to the import in
// progress on this thread (SizeLimitError when its budget is spent).
InflateOutcome rawInflateAppend(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& out,
                                std::uint64_t limit, std::uint64_t sizeHint);

} // namespace corvane
