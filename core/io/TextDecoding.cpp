#include "TextDecoding.hpp"

#include <cstring>

#include "model/Format.hpp"

namespace corvane {

namespace {
std::string_view asChars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

// Drill and Gerber files are almost entirely ASCII and reach tens of megabytes: skip ASCII
// eight bytes at a time.
bool validatesAsUTF8(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        // Validate from here with the shared checker, one non-ASCII stretch at a time.
        std::size_t j = i;
        while (j < n && bytes[j] >= 0x80) ++j;
        // A valid sequence consists of bytes >= 0x80 only, so each stretch stands on its own.
        if (!isValidUTF8(asChars(bytes.subspan(i, j - i)))) return false;
        i = j;
    }
    return true;
}

std::string latin1ToUTF8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (std::uint8_t b : bytes) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string decodeUTF8OrLatin1(std::span<const std::uint8_t> bytes) {
    if (validatesAsUTF8(bytes)) return std::string(asChars(bytes));
    return latin1ToUTF8(bytes);
}

std::span<const std::uint8_t> droppingIncompleteUTF8Tail(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    // Walk back over at most three continuation bytes to the lead byte of the last sequence.
    std::size_t back = 0;
    while (back < 3 && back < n && (bytes[n - 1 - back] & 0xC0) == 0x80) ++back;
    if (back == n) return bytes;
    const std::uint8_t lead = bytes[n - 1 - back];
    std::size_t need = 0;
    if (lead >= 0xC2 && lead <= 0xDF) need = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) need = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) need = 4;
    else return bytes;  // ASCII or an invalid lead: nothing cut short here
    if (back + 1 < need) return bytes.first(n - 1 - back);
    return bytes;
}

std::string decodeHead(std::span<const std::uint8_t> bytes, std::size_t maxBytes) {
    std::span<const std::uint8_t> head = bytes.first(bytes.size() < maxBytes ? bytes.size() : maxBytes);
    if (head.size() < bytes.size()) head = droppingIncompleteUTF8Tail(head);
    return decodeUTF8OrLatin1(head);
}

std::string_view droppingUTF8BOM(std::string_view text) {
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
    return text;
}

} // namespace corvane
