#pragma once
// Builds small ODB++ jobs for tests: archive entries in order, and the same job packed as
// a gzip-compressed ustar archive.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "import/ODBPPParser.hpp"

namespace corvane::testing {

class TestJob {
public:
    TestJob& dir(std::string path) {
        if (!path.ends_with("/")) path += "/";
        entries.push_back(ODBArchiveEntry{std::move(path), {}, true});
        return *this;
    }
    TestJob& file(std::string path, std::string_view text) {
        entries.push_back(ODBArchiveEntry{std::move(path), std::vector<std::uint8_t>(text.begin(), text.end()), false});
        return *this;
    }

    std::vector<std::uint8_t> tar() const {
        std::vector<std::uint8_t> out;
        for (const auto& e : entries) {
            std::uint8_t h[512] = {};
            if (e.path.size() > 100) throw std::runtime_error("test tar names are at most 100 bytes");
            std::copy(e.path.begin(), e.path.end(), h);
            putOctal(h + 100, 8, e.isDirectory ? 0755 : 0644);
            putOctal(h + 108, 8, 0);
            putOctal(h + 116, 8, 0);
            putOctal(h + 124, 12, e.data.size());
            putOctal(h + 136, 12, 0);
            h[156] = e.isDirectory ? '5' : '0';
            std::copy_n("ustar", 6, h + 257);
            h[263] = '0';
            h[264] = '0';
            std::fill(h + 148, h + 156, ' ');
            unsigned sum = 0;
            for (auto b : h) sum += b;
            putOctal(h + 148, 7, sum);
            out.insert(out.end(), h, h + 512);
            out.insert(out.end(), e.data.begin(), e.data.end());
            out.resize((out.size() + 511) / 512 * 512, 0);
        }
        out.resize(out.size() + 1024, 0);
        return out;
    }

    std::vector<std::uint8_t> tgz() const { return gzip(tar()); }

    static std::vector<std::uint8_t> gzip(const std::vector<std::uint8_t>& raw) {
        z_stream zs{};
        if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2");
        std::vector<std::uint8_t> out(deflateBound(&zs, raw.size()) + 64);
        zs.next_in = const_cast<Bytef*>(raw.data());
        zs.avail_in = static_cast<uInt>(raw.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&zs, Z_FINISH);
        out.resize(zs.total_out);
        deflateEnd(&zs);
        if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
        return out;
    }

    std::vector<ODBArchiveEntry> entries;

private:
    static void putOctal(std::uint8_t* field, std::size_t width, std::uint64_t value) {
        // width - 1 digits and a terminating NUL
        for (std::size_t i = width - 1; i-- > 0;) {
            field[i] = static_cast<std::uint8_t>('0' + (value & 7));
            value >>= 3;
        }
        field[width - 1] = 0;
    }
};

} // namespace corvane::testing
