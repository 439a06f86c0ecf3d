#pragma once
// Turning untrusted file bytes into UTF-8 text. Every syntax character of the board formats is
// ASCII, so text that is not valid UTF-8 is taken as Latin-1 (one byte, one code point) rather
// than refused: a single accented letter in a comment must not lose a whole file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// Strict UTF-8 validation (no overlongs, surrogates or cut sequences), fast over ASCII runs.
bool validatesAsUTF8(std::span<const std::uint8_t> bytes);

// The bytes as text: unchanged when they are valid UTF-8, otherwise each byte read as the
// Latin-1 code point of the same value. The result is always valid UTF-8.
std::string decodeUTF8OrLatin1(std::span<const std::uint8_t> bytes);

// Each byte as the Latin-1 code point of the same value, encoded as UTF-8.
std::string latin1ToUTF8(std::span<const std::uint8_t> bytes);

// `bytes` without a trailing multi-byte sequence that was cut short (at most 3 bytes), so that
// a prefix taken at an arbitrary byte count still validates as UTF-8 when the whole did.
std::span<const std::uint8_t> droppingIncompleteUTF8Tail(std::span<const std::uint8_t> bytes);

// The first `maxBytes` bytes (fewer when shorter) as text: a multi-byte character cut by the
// limit is dropped, then the rest decoded as UTF-8, else as Latin-1.
std::string decodeHead(std::span<const std::uint8_t> bytes, std::size_t maxBytes);

// The text without a leading byte-order mark.
std::string_view droppingUTF8BOM(std::string_view text);

} // namespace corvane
