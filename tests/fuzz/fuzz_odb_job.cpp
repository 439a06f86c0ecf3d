// Any bytes read as an ODB++ job (a gzip-compressed tar, or a plain tar for the mutator's sake) end
// in a package or the reader's error, never a crash, a sanitizer report or an oversized allocation.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "import/ODBPPParser.hpp"
#include "io/VellTar.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        if (corvane::VellTar::isGzip(bytes)) {
            (void)corvane::ODBPPParser{}.parse(bytes);
        } else {
            const std::vector<corvane::TarEntry> entries = corvane::VellTar::untar(bytes);
            (void)corvane::ODBPPParser{}.parseEntries(entries);
        }
    } catch (const corvane::CorvaneError&) {
    }
    return 0;
}
