#pragma once
// Ceilings on sizes taken from untrusted files. Declared sizes are hints at
// most: buffers grow with the data actually decoded and stop at these limits.
#include <cstdint>

namespace corvane {

// Largest single archive entry or decompressed stream we accept.
inline constexpr std::uint64_t kMaxEntryBytes = std::uint64_t{1} << 30;

// Largest total of bytes read and inflated during one import.
inline constexpr std::uint64_t kMaxImportBytes = std::uint64_t{4} << 30;

} // namespace corvane
