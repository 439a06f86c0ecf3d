#include "RasterImage.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <zlib.h>

#include "io/FileIO.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

RasterImage::RGBA RasterImage::rgba(int x, int y) const {
    const std::uint32_t p = pixel(x, y);
    const int a = static_cast<int>((p >> 24) & 0xFF);
    auto un = [a](std::uint32_t c) { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
    return RGBA{un((p >> 16) & 0xFF), un((p >> 8) & 0xFF), un(p & 0xFF), a};
}

namespace {

// PNG is written with zlib's fastest level, rows compressed in pieces side by side: a preview is written
// once and thrown away, so speed matters far more than the last tenth of its size.
constexpr int kDeflateLevel = 1;
constexpr int kRowsPerPiece = 64;
// The raw rows that make another compressing thread worth its start; a thumbnail is compressed sooner by one.
constexpr std::size_t kRawBytesPerWorker = std::size_t{256} << 10;

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, const char type[4], std::span<const std::uint8_t> data) {
    putU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + at, static_cast<uInt>(out.size() - at));
    putU32(out, static_cast<std::uint32_t>(crc));
}

// Rows [first, last) as PNG scanlines (filter byte 0, then straight RGBA), raw-deflated. A piece ends on a
// byte boundary (a sync flush) so pieces follow one another in one stream; the last one ends the stream.
// Rows are converted one at a time into a small buffer, and the output is touched only as far as it is
// written: fresh memory costs more here than the compression.
struct Piece {
    std::vector<std::uint8_t> deflated;
    uLong adler = 1;
    uLong rawLength = 0;
    bool ok = false;
};

void straightRow(const std::uint32_t* row, int width, std::uint8_t* out) {
    *out++ = 0;
    for (int x = 0; x < width; ++x, out += 4) {
        const std::uint32_t p = row[x];
        const std::uint32_t a = p >> 24;
        if (a == 255 || a == 0) {
            out[0] = static_cast<std::uint8_t>(p >> 16);
            out[1] = static_cast<std::uint8_t>(p >> 8);
            out[2] = static_cast<std::uint8_t>(p);
        } else {
            out[0] = static_cast<std::uint8_t>((((p >> 16) & 0xFF) * 255 + a / 2) / a);
            out[1] = static_cast<std::uint8_t>((((p >> 8) & 0xFF) * 255 + a / 2) / a);
            out[2] = static_cast<std::uint8_t>(((p & 0xFF) * 255 + a / 2) / a);
        }
        out[3] = static_cast<std::uint8_t>(a);
    }
}

// A compressor reset between the pieces one thread compresses: its half megabyte of tables is taken, and
// first touched, once per thread instead of once per piece. A reset stream writes what a fresh one would.
class Deflater {
public:
    Deflater() { ok_ = deflateInit2(&z_, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater() {
        if (ok_) deflateEnd(&z_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // The stream, ready for a new piece; null when zlib could not be set up.
    z_stream* fresh() { return ok_ && deflateReset(&z_) == Z_OK ? &z_ : nullptr; }

private:
    z_stream z_{};
    bool ok_ = false;
};

Piece deflateRows(Deflater& deflater, const RasterImage& image, int first, int last, bool final) {
    Piece piece;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4 + 1;
    piece.rawLength = static_cast<uLong>(static_cast<std::size_t>(last - first) * rowBytes);
    z_stream* stream = deflater.fresh();
    if (!stream) return piece;
    z_stream& z = *stream;
    const std::size_t bound = deflateBound(&z, piece.rawLength) + 16;
    const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[bound]);
    std::vector<std::uint8_t> row(rowBytes);
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(bound);
    bool ok = true;
    for (int y = first; y < last && ok; ++y) {
        straightRow(image.pixels->data() + static_cast<std::size_t>(y) * image.width, image.width, row.data());
        piece.adler = adler32(piece.adler, row.data(), static_cast<uInt>(rowBytes));
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(rowBytes);
        ok = deflate(&z, Z_NO_FLUSH) == Z_OK && z.avail_in == 0;
    }
    const int rc = ok ? deflate(&z, final ? Z_FINISH : Z_SYNC_FLUSH) : Z_STREAM_ERROR;
    piece.ok = final ? rc == Z_STREAM_END : rc == Z_OK;
    piece.deflated.assign(out.get(), out.get() + z.total_out);
    return piece;
}

} // namespace

std::optional<std::vector<std::uint8_t>> RasterImage::pngData() const {
    if (!pixels || width <= 0 || height <= 0 || pixels->size() < static_cast<std::size_t>(width) * height) return std::nullopt;
    // One piece's raw rows must fit zlib's 32-bit counts.
    if (static_cast<std::uint64_t>(width) * 4 + 1 > (std::uint64_t{1} << 24)) return std::nullopt;
    const int pieceCount = (height + kRowsPerPiece - 1) / kRowsPerPiece;
    std::vector<Piece> pieces(static_cast<std::size_t>(pieceCount));
    const std::size_t rawBytes = (static_cast<std::size_t>(width) * 4 + 1) * static_cast<std::size_t>(height);
    const auto workers = static_cast<unsigned>(std::clamp<std::size_t>(rawBytes / kRawBytesPerWorker, 1, defaultWorkerCount()));
    parallelForWithState(
        pieces.size(), [] { return Deflater{}; },
        [&](Deflater& deflater, std::size_t i) {
            const int first = static_cast<int>(i) * kRowsPerPiece;
            pieces[i] = deflateRows(deflater, *this, first, std::min(height, first + kRowsPerPiece), i + 1 == pieces.size());
        },
        workers);

    std::vector<std::uint8_t> stream{0x78, 0x01};  // zlib header: deflate, 32 KiB window, fastest level
    uLong adler = 1;
    for (const Piece& p : pieces) {
        if (!p.ok) return std::nullopt;
        stream.insert(stream.end(), p.deflated.begin(), p.deflated.end());
        adler = adler32_combine(adler, p.adler, static_cast<z_off_t>(p.rawLength));
    }
    putU32(stream, static_cast<std::uint32_t>(adler));

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putU32(header, static_cast<std::uint32_t>(width));
    putU32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    putChunk(png, "IHDR", header);
    constexpr std::size_t kMaxChunk = std::size_t{1} << 30;  // chunk lengths must stay below 2^31
    for (std::size_t at = 0; at < stream.size(); at += kMaxChunk)
        putChunk(png, "IDAT", std::span<const std::uint8_t>(stream).subspan(at, std::min(kMaxChunk, stream.size() - at)));
    putChunk(png, "IEND", {});
    return png;
}

bool RasterImage::writePNG(const std::filesystem::path& path) const {
    const auto png = pngData();
    if (!png) return false;
    try {
        atomicWriteFile(path, *png, 0644, Durability::cached);
        return true;
    } catch (const FileWriteError&) {
        return false;
    }
}

} // namespace corvane
