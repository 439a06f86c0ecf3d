#pragma once
// Line and token handling shared by the ODB++ job and feature readers.
#include <cstddef>
#include <cstdint>
#include <vector>
#include <string>
#include <string_view>

namespace corvane::odbtext {

// Length of a space separator (tab or a Unicode Zs character) starting at s[i], 0 when none.
inline std::size_t spaceAt(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c == ' ' || c == '\t') return 1;
    if (c == 0xC2 && i + 1 < s.size() && b(i + 1) == 0xA0) return 2;
    if (i + 2 >= s.size()) return 0;
    if (c == 0xE1 && b(i + 1) == 0x9A && b(i + 2) == 0x80) return 3;
    if (c == 0xE2 && b(i + 1) == 0x80 && (b(i + 2) <= 0x8A || b(i + 2) == 0xAF) && b(i + 2) >= 0x80) return 3;
    if (c == 0xE2 && b(i + 1) == 0x81 && b(i + 2) == 0x9F) return 3;
    if (c == 0xE3 && b(i + 1) == 0x80 && b(i + 2) == 0x80) return 3;
    return 0;
}

// Length of a space separator ending just before s[end], 0 when none.
inline std::size_t spaceBefore(std::string_view s, std::size_t end) {
    for (std::size_t len = 1; len <= 3 && len <= end; ++len)
        if (spaceAt(s, end - len) == len) return len;
    return 0;
}

inline std::string_view trim(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size()) {
        const std::size_t n = spaceAt(s, b);
        if (n == 0) break;
        b += n;
    }
    std::size_t e = s.size();
    while (e > b) {
        const std::size_t n = spaceBefore(s, e);
        if (n == 0) break;
        e -= n;
    }
    return s.substr(b, e - b);
}

// Calls fn(line) for every non-empty line, trimmed. Lines end at LF or CR LF.
template <class Fn>
void forEachLine(std::string_view text, Fn&& fn) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (!fn(trim(line))) return;
    }
}

// ASCII upper case: every keyword the reader compares is ASCII (asciiLower is the other way).
inline std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Splits "key = value" at the first "=": key trimmed and upper-cased, value trimmed.
inline bool keyValue(std::string_view line, std::string& key, std::string_view& value) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = upper(trim(line.substr(0, eq)));
    value = trim(line.substr(eq + 1));
    return true;
}

inline std::string_view textOf(const std::vector<std::uint8_t>& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace corvane::odbtext
