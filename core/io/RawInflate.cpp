#include "RawInflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "SizeLimits.hpp"

namespace corvane {

namespace {

// zlib counts in 32-bit units; larger buffers are fed in slices.
constexpr std::size_t kSlice = std::size_t{1} << 30;

class RawStream {
public:
    RawStream() { ok_ = inflateInit2(&z_, -15) == Z_OK; }
    ~RawStream() {
        if (ok_) inflateEnd(&z_);
    }
    RawStream(const RawStream&) = delete;
    RawStream& operator=(const RawStream&) = delete;

    bool ok() const { return ok_; }
    z_stream& z() { return z_; }

private:
    z_stream z_{};
    bool ok_ = false;
};

// Feeds the next slice of the source when zlib has used up the current one.
struct SourceFeed {
    const std::uint8_t* next;
    std::size_t left;

    void refill(z_stream& z) {
        if (z.avail_in == 0 && left > 0) {
            std::size_t n = std::min(left, kSlice);
            z.next_in = const_cast<Bytef*>(next);
            z.avail_in = static_cast<uInt>(n);
            next += n;
            left -= n;
        }
    }
    bool exhausted(const z_stream& z) const { return left == 0 && z.avail_in == 0; }
};

// Grows `out` to `size` bytes, charged first to the import in progress on this thread, if any: the
// budget counts bytes as they are inflated, so workers of one import stop together. A move to a
// larger buffer holds the old one and the new one at once, so it is charged the whole new size, and
// the old one's bytes are handed back once it is gone: a buffer costs its size, not the sum of the
// sizes it grew through (a 480 MB entry was charged more than 1 GB).
void growCharged(std::vector<std::uint8_t>& out, std::size_t size) {
    if (size <= out.size()) return;
    if (size <= out.capacity()) {
        chargeImportBytes(size - out.size());
        out.resize(size);
        return;
    }
    const std::size_t given = out.size();
    chargeImportBytes(size);
    out.resize(size);
    refundImportBytes(given);
}

// Cuts `out` to the `size` bytes written, handing back the rest.
void shrinkCharged(std::vector<std::uint8_t>& out, std::size_t size) {
    if (size >= out.size()) return;
    refundImportBytes(out.size() - size);
    out.resize(size);
}

std::uint64_t saturatingMulAdd(std::uint64_t a, std::uint64_t m, std::uint64_t add) {
    std::uint64_t r;
    if (__builtin_mul_overflow(a, m, &r) || __builtin_add_overflow(r, add, &r))
        return std::numeric_limits<std::uint64_t>::max();
    return r;
}

} // namespace

std::size_t rawInflate(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination) {
    if (destination.empty()) return 0;
    RawStream stream;
    if (!stream.ok()) return 0;
    z_stream& z = stream.z();
    SourceFeed feed{source.data(), source.size()};
    std::size_t written = 0;
    for (;;) {
        feed.refill(z);
        std::size_t room = std::min(destination.size() - written, kSlice);
        if (room == 0) return written; // full: the rest is cut off
        z.next_out = destination.data() + written;
        z.avail_out = static_cast<uInt>(room);
        int rc = inflate(&z, Z_NO_FLUSH);
        written += room - z.avail_out;
        if (rc == Z_STREAM_END) return written;
        if (rc == Z_BUF_ERROR) {
            if (feed.exhausted(z)) return written; // truncated stream: what came out so far
            continue;
        }
        if (rc != Z_OK) return 0;
        if (feed.exhausted(z) && z.avail_out > 0) return written;
    }
}

InflateOutcome rawInflateAppend(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& out,
                                std::uint64_t limit, std::uint64_t sizeHint) {
    InflateOutcome outcome;
    RawStream stream;
    if (!stream.ok()) return outcome;
    z_stream& z = stream.z();
    SourceFeed feed{source.data(), source.size()};

    const std::size_t base = out.size();
    limit = std::min<std::uint64_t>(limit, std::numeric_limits<std::size_t>::max() / 2);
    const std::uint64_t room = limit > base ? limit - base : 0;
    // A declared size is believed only as far as the compressed bytes could
    // plausibly expand; beyond that the buffer grows as output appears.
    const std::uint64_t plausible = saturatingMulAdd(source.size(), 16, 65536);
    std::uint64_t first = sizeHint != 0 ? sizeHint : saturatingMulAdd(source.size(), 4, 4096);
    first = std::min({first, plausible, room});
    growCharged(out, base + static_cast<std::size_t>(first));

    std::size_t pos = base;
    for (;;) {
        feed.refill(z);
        if (pos == out.size()) {
            if (out.size() >= limit) {
                outcome.status = InflateStatus::limitReached;
                break;
            }
            std::uint64_t grown = std::max<std::uint64_t>(std::uint64_t{out.size()} * 2, out.size() + 65536);
            growCharged(out, static_cast<std::size_t>(std::min(grown, limit)));
        }
        std::size_t avail = std::min(out.size() - pos, kSlice);
        z.next_out = out.data() + pos;
        z.avail_out = static_cast<uInt>(avail);
        int rc = inflate(&z, Z_NO_FLUSH);
        pos += avail - z.avail_out;
        if (rc == Z_STREAM_END) {
            outcome.status = InflateStatus::finished;
            break;
        }
        if (rc == Z_BUF_ERROR) {
            if (feed.exhausted(z)) {
                outcome.status = InflateStatus::inputEnded;
                break;
            }
            continue;
        }
        if (rc != Z_OK) {
            outcome.status = InflateStatus::failed;
            break;
        }
        if (feed.exhausted(z) && z.avail_out > 0) {
            outcome.status = InflateStatus::inputEnded;
            break;
        }
    }
    outcome.consumed = source.size() - feed.left - z.avail_in;
    shrinkCharged(out, pos);
    if (out.capacity() - out.size() > out.size() / 4 + 65536) out.shrink_to_fit();
    return outcome;
}

} // namespace corvane
