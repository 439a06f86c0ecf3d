#include "UUID.hpp"

#include <random>

namespace corvane {

UUID UUID::random() {
    thread_local std::mt19937_64 gen([] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }());
    UUID u;
    for (int i = 0; i < 2; ++i) {
        std::uint64_t v = gen();
        for (int k = 0; k < 8; ++k) u.bytes[static_cast<std::size_t>(i * 8 + k)] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0F) | 0x40);
    u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3F) | 0x80);
    return u;
}

std::string UUID::uuidString() const {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0xF]);
    }
    return s;
}

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    UUID u;
    std::size_t b = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto nibble = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        u.bytes[b++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return u;
}

} // namespace corvane
