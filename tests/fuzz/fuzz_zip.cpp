// Any bytes given to the ZIP reader end in entries or a VellZipError (or the entry
// count ceiling), never a crash, a sanitizer report or an allocation beyond the
// entry ceiling.
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/SizeLimits.hpp"
#include "io/VellZip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    (void)corvane::VellZip::isZip(bytes);
    try {
        corvane::VellZip::Archive archive(bytes);
        (void)archive.listEntries();
        for (const auto& entry : archive.entries()) {
            try {
                (void)archive.read(entry);
            } catch (const corvane::VellZipError&) {
            }
            try {
                (void)corvane::VellZip::sanitizedRelativePath(entry.path);
            } catch (const corvane::VellZipError&) {
            }
        }
    } catch (const corvane::VellZipError&) {
    } catch (const corvane::SizeLimitError&) {  // a directory of more entries than any package holds
    }
    return 0;
}
