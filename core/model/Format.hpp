#pragma once
// Locale-independent number texts and hashing helpers shared by the whole core.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace corvane {

// Fixed-point text with `decimals` digits after the point ("%.Nf"), never
// influenced by the process locale. Non-finite values give "nan", "inf", "-inf".
std::string formatFixed(double value, int decimals);

// "%016llx": sixteen lower-case hexadecimal digits.
std::string hex16(std::uint64_t value);

// "%d" of a 64-bit integer.
inline std::string formatInt(std::int64_t value) { return std::to_string(value); }

inline void hashCombine(std::size_t& seed, std::size_t h) {
    seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// 0.0 and -0.0 hash alike, matching floating-point equality.
inline std::size_t hashDouble(double d) { return std::hash<double>{}(d == 0.0 ? 0.0 : d); }

template <class T>
inline void hashCombineValue(std::size_t& seed, const T& v) { hashCombine(seed, std::hash<T>{}(v)); }
inline void hashCombineValue(std::size_t& seed, double v) { hashCombine(seed, hashDouble(v)); }

// Parses a decimal number from the whole of `text` (no surrounding spaces);
// returns false on anything else.
bool parseDouble(std::string_view text, double& out);
bool parseInt64(std::string_view text, std::int64_t& out);

// ASCII case mapping. Keywords, extensions and markers in board files are ASCII; other letters keep
// their case.
constexpr char asciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string asciiLower(std::string_view text);

// Replaces invalid UTF-8 sequences with U+FFFD.
std::string sanitizeUTF8(std::string_view bytes);
bool isValidUTF8(std::string_view bytes);

} // namespace corvane
