#include "Format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace corvane {

std::string formatFixed(double value, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 17) decimals = 17;
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // Largest double has 309 integer digits; 17 decimals plus sign and point fit.
    std::array<char, 400> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return "nan";
    return std::string(buf.data(), res.ptr);
}

std::string hex16(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = digits[value & 0xF];
        value >>= 4;
    }
    return out;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = asciiLowerChar(c);
    return out;
}

bool parseDouble(std::string_view text, double& out) {
    if (text.empty()) return false;
    const char* b = text.data();
    const char* e = b + text.size();
    if (*b == '+') {  // from_chars does not take a leading plus; "+-1" must still fail
        ++b;
        if (b == e || *b == '-') return false;
    }
    auto res = std::from_chars(b, e, out, std::chars_format::general);
    return res.ec == std::errc() && res.ptr == e;
}

bool parseInt64(std::string_view text, std::int64_t& out) {
    if (text.empty()) return false;
    const char* b = text.data();
    const char* e = b + text.size();
    if (*b == '+') {
        ++b;
        if (b == e || *b == '-') return false;
    }
    auto res = std::from_chars(b, e, out, 10);
    return res.ec == std::errc() && res.ptr == e;
}

namespace {
// Length of a valid UTF-8 sequence starting at s[i], or 0 when invalid.
std::size_t utf8SeqLen(std::string_view s, std::size_t i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t n;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return n;
}
} // namespace

bool isValidUTF8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t n = utf8SeqLen(bytes, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string sanitizeUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t n = utf8SeqLen(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

} // namespace corvane
