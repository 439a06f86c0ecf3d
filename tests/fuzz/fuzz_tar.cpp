// Any bytes given to the gzip and tar readers end in entries or a
// VellTarError, never a crash, a sanitizer report or an oversized allocation.
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/SizeLimits.hpp"
#include "io/VellTar.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    try {
        (void)corvane::VellTar::untar(bytes);
    } catch (const corvane::VellTarError&) {
    } catch (const corvane::SizeLimitError&) {  // more entries than any job holds
    }
    try {
        (void)corvane::VellTar::readTGZ(bytes);
    } catch (const corvane::VellTarError&) {
    } catch (const corvane::SizeLimitError&) {  // more entries than any job holds
    }
    return 0;
}
