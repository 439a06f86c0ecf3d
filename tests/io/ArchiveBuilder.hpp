#pragma once
// Builders of small ZIP, tar and gzip archives for tests, including the odd
// and broken layouts that real tools rarely write.
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline void put16(Bytes& out, std::uint64_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& out, std::uint64_t v) {
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}
inline void put64(Bytes& out, std::uint64_t v) {
    put32(out, v & 0xFFFFFFFF);
    put32(out, v >> 32);
}
inline void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
inline void append(Bytes& out, std::string_view more) { out.insert(out.end(), more.begin(), more.end()); }
inline Bytes concat(Bytes a, const Bytes& b) {
    append(a, b);
    return a;
}

// Raw DEFLATE (no wrapper), as ZIP and gzip carry it.
inline Bytes deflateRaw(const Bytes& input, int level = 6) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    Bytes out(deflateBound(&z, input.size()) + 16);
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = ::deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    return out;
}

inline std::uint32_t crcOf(const Bytes& b) {
    return static_cast<std::uint32_t>(::crc32(0, b.data(), static_cast<uInt>(b.size())));
}

struct ZipItem {
    std::string path;
    Bytes data;                 // uncompressed contents
    std::uint16_t method = 0;   // 0 stored, 8 deflate, anything else as is
    std::uint16_t flags = 0;
    std::uint32_t externalAttributes = 0;
    bool zip64Sizes = false;    // 0xFFFFFFFF in the header, real sizes in the extra block
    bool zip64Offset = false;
    bool dataDescriptor = false; // local header sizes 0, descriptor after the data
    std::optional<std::int64_t> declaredSize;   // overrides the central uncompressed size
    std::optional<Bytes> payload;               // overrides the stored bytes
    Bytes extraBefore;                          // other extra blocks before the ZIP64 one

    ZipItem(std::string p, Bytes d = {}) : path(std::move(p)), data(std::move(d)) {}
    ZipItem(std::string p, std::string_view text) : path(std::move(p)), data(bytesOf(text)) {}
    ZipItem&& deflated() && { method = 8; return std::move(*this); }
    ZipItem&& withMethod(std::uint16_t m) && { method = m; return std::move(*this); }
    ZipItem&& withFlags(std::uint16_t f) && { flags = f; return std::move(*this); }
    ZipItem&& withAttributes(std::uint32_t a) && { externalAttributes = a; return std::move(*this); }
    ZipItem&& zip64(bool sizes = true, bool offset = true) && {
        zip64Sizes = sizes;
        zip64Offset = offset;
        return std::move(*this);
    }
    ZipItem&& withDescriptor() && { dataDescriptor = true; return std::move(*this); }
    ZipItem&& declaring(std::int64_t size) && { declaredSize = size; return std::move(*this); }
    ZipItem&& withPayload(Bytes b) && { payload = std::move(b); return std::move(*this); }
    ZipItem&& withExtra(Bytes b) && { extraBefore = std::move(b); return std::move(*this); }
};

struct ZipLayout {
    bool zip64End = false;      // ZIP64 end record and locator, markers in the classic record
    std::string comment;
    Bytes trailing;             // bytes after the end record
    std::optional<std::uint16_t> declaredCount;

    static ZipLayout zip64() { ZipLayout l; l.zip64End = true; return l; }
    static ZipLayout commented(std::string c) { ZipLayout l; l.comment = std::move(c); return l; }
    static ZipLayout trailed(Bytes t) { ZipLayout l; l.trailing = std::move(t); return l; }
    static ZipLayout counting(std::uint16_t n) { ZipLayout l; l.declaredCount = n; return l; }
};

inline Bytes buildZip(const std::vector<ZipItem>& items, const ZipLayout& layout = {}) {
    Bytes out, dir;
    for (const ZipItem& it : items) {
        const std::uint64_t offset = out.size();
        Bytes payload = it.payload ? *it.payload : (it.method == 8 ? deflateRaw(it.data) : it.data);
        const std::uint64_t usize = it.declaredSize ? static_cast<std::uint64_t>(*it.declaredSize) : it.data.size();
        const std::uint32_t crc = crcOf(it.data);
        std::uint16_t flags = it.flags | (it.dataDescriptor ? 0x0008 : 0);

        put32(out, 0x04034B50);
        put16(out, 45);
        put16(out, flags);
        put16(out, it.method);
        put32(out, 0);
        put32(out, it.dataDescriptor ? 0 : crc);
        put32(out, it.dataDescriptor ? 0 : (it.zip64Sizes ? 0xFFFFFFFF : payload.size()));
        put32(out, it.dataDescriptor ? 0 : (it.zip64Sizes ? 0xFFFFFFFF : usize));
        put16(out, it.path.size());
        put16(out, 0);
        append(out, it.path);
        append(out, payload);
        if (it.dataDescriptor) {
            put32(out, 0x08074B50);
            put32(out, crc);
            put32(out, payload.size());
            put32(out, usize);
        }

        Bytes extra = it.extraBefore;
        if (it.zip64Sizes || it.zip64Offset) {
            Bytes block;
            if (it.zip64Sizes) {
                put64(block, usize);
                put64(block, payload.size());
            }
            if (it.zip64Offset) put64(block, offset);
            put16(extra, 0x0001);
            put16(extra, block.size());
            append(extra, block);
        }
        put32(dir, 0x02014B50);
        put16(dir, 45);
        put16(dir, 45);
        put16(dir, flags);
        put16(dir, it.method);
        put32(dir, 0);
        put32(dir, crc);
        put32(dir, it.zip64Sizes ? 0xFFFFFFFF : payload.size());
        put32(dir, it.zip64Sizes ? 0xFFFFFFFF : usize);
        put16(dir, it.path.size());
        put16(dir, extra.size());
        put16(dir, 0);
        put16(dir, 0);
        put16(dir, 0);
        put32(dir, it.externalAttributes);
        put32(dir, it.zip64Offset ? 0xFFFFFFFF : offset);
        append(dir, it.path);
        append(dir, extra);
    }
    const std::uint64_t dirOffset = out.size();
    append(out, dir);
    const std::uint64_t count = layout.declaredCount ? *layout.declaredCount : items.size();
    if (layout.zip64End) {
        const std::uint64_t recordAt = out.size();
        put32(out, 0x06064B50);
        put64(out, 44);
        put16(out, 45);
        put16(out, 45);
        put32(out, 0);
        put32(out, 0);
        put64(out, count);
        put64(out, count);
        put64(out, dir.size());
        put64(out, dirOffset);
        put32(out, 0x07064B50);
        put32(out, 0);
        put64(out, recordAt);
        put32(out, 1);
    }
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, layout.zip64End ? 0xFFFF : count);
    put16(out, layout.zip64End ? 0xFFFF : count);
    put32(out, layout.zip64End ? 0xFFFFFFFF : dir.size());
    put32(out, layout.zip64End ? 0xFFFFFFFF : dirOffset);
    put16(out, layout.comment.size());
    append(out, layout.comment);
    append(out, layout.trailing);
    return out;
}

// A raw DEFLATE stream of `chunks` x 64 MiB of zeros, built cheaply: a full
// flush makes every chunk's compressed form the same, so it is repeated.
inline Bytes zeroBombStream(int chunks) {
    Bytes zeros(std::size_t{64} << 20, 0);
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    Bytes chunk(1 << 20), tail(64);
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    if (::deflate(&z, Z_FULL_FLUSH) != Z_OK || z.avail_in != 0) throw std::runtime_error("deflate");
    chunk.resize(chunk.size() - z.avail_out);
    z.next_out = tail.data();
    z.avail_out = static_cast<uInt>(tail.size());
    if (::deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    tail.resize(tail.size() - z.avail_out);
    deflateEnd(&z);
    Bytes out;
    for (int i = 0; i < chunks; ++i) append(out, chunk);
    append(out, tail);
    return out;
}

struct GzipOptions {
    std::optional<Bytes> extra;
    std::optional<std::string> name;
    std::optional<std::string> comment;
    bool headerCRC = false;
    std::optional<std::uint32_t> isize; // overrides the trailer's size

    static GzipOptions named(std::string n) { GzipOptions o; o.name = std::move(n); return o; }
    static GzipOptions claiming(std::uint32_t size) { GzipOptions o; o.isize = size; return o; }
};

inline Bytes gzipMember(const Bytes& data, const GzipOptions& o = {}) {
    Bytes out{0x1F, 0x8B, 8, 0};
    std::uint8_t flags = 0;
    if (o.headerCRC) flags |= 0x02;
    if (o.extra) flags |= 0x04;
    if (o.name) flags |= 0x08;
    if (o.comment) flags |= 0x10;
    out[3] = flags;
    put32(out, 0);
    out.push_back(0);
    out.push_back(3);
    if (o.extra) {
        put16(out, o.extra->size());
        append(out, *o.extra);
    }
    if (o.name) {
        append(out, *o.name);
        out.push_back(0);
    }
    if (o.comment) {
        append(out, *o.comment);
        out.push_back(0);
    }
    if (o.headerCRC) put16(out, crcOf(out) & 0xFFFF);
    append(out, deflateRaw(data));
    put32(out, crcOf(data));
    put32(out, o.isize ? *o.isize : static_cast<std::uint32_t>(data.size()));
    return out;
}

// Tar headers: POSIX ustar unless told otherwise.
enum class TarMagic { posix, gnu, none };

inline Bytes tarHeader(std::string_view name, std::uint64_t size, char type = '0', TarMagic magic = TarMagic::posix,
                       std::string_view prefix = {}) {
    Bytes h(512, 0);
    auto field = [&](std::size_t at, std::string_view s, std::size_t width) {
        for (std::size_t i = 0; i < s.size() && i < width; ++i) h[at + i] = static_cast<std::uint8_t>(s[i]);
    };
    auto octal = [&](std::size_t at, std::uint64_t v, std::size_t width) {
        std::string digits(width - 1, '0');
        for (std::size_t i = width - 1; i-- > 0; v >>= 3) digits[i] = static_cast<char>('0' + (v & 7));
        field(at, digits, width);
    };
    field(0, name, 100);
    octal(100, 0644, 8);
    octal(108, 0, 8);
    octal(116, 0, 8);
    octal(124, size, 12);
    octal(136, 0, 12);
    h[156] = static_cast<std::uint8_t>(type);
    if (magic == TarMagic::posix) {
        field(257, std::string_view("ustar\0" "00", 8), 8);
        field(345, prefix, 155);
    } else if (magic == TarMagic::gnu) {
        field(257, std::string_view("ustar  \0", 8), 8);
    }
    std::uint32_t sum = 8 * ' ';
    for (std::size_t i = 0; i < 512; ++i)
        if (i < 148 || i >= 156) sum += h[i];
    octal(148, sum, 7);
    return h;
}

inline void tarAppend(Bytes& tar, std::string_view name, const Bytes& data, char type = '0',
                      TarMagic magic = TarMagic::posix, std::string_view prefix = {}) {
    append(tar, tarHeader(name, data.size(), type, magic, prefix));
    append(tar, data);
    tar.resize((tar.size() + 511) / 512 * 512, 0);
}

inline void tarEnd(Bytes& tar) { tar.resize(tar.size() + 1024, 0); }

inline Bytes paxRecord(std::string_view key, std::string_view value) {
    std::string body = " " + std::string(key) + "=" + std::string(value) + "\n";
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) ++length;
    return bytesOf(std::to_string(length) + body);
}

} // namespace corvane::testing
