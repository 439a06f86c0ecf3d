#pragma once
// Builds small ODB++ jobs for tests: archive entries in order, and the same job packed as
// a gzip-compressed ustar archive.
#include <string>
#include <string_view>
#include <vector>

#include "io/ArchiveBuilder.hpp"
#include "import/ODBPPParser.hpp"

namespace corvane::testing {

class TestJob {
public:
    TestJob& dir(std::string path) {
        if (!path.ends_with("/")) path += "/";
        entries.push_back(TarEntry{std::move(path), {}, true});
        return *this;
    }
    TestJob& file(std::string path, std::string_view text) {
        entries.push_back(TarEntry{std::move(path), bytesOf(text), false});
        return *this;
    }

    Bytes tar() const {
        Bytes out;
        for (const auto& e : entries) tarAppend(out, e.path, e.data, e.isDirectory ? '5' : '0');
        tarEnd(out);
        return out;
    }
    Bytes tgz() const { return gzipMember(tar()); }

    std::vector<TarEntry> entries;
};

} // namespace corvane::testing
