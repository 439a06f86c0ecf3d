#include "SExpr.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>
#include <optional>
#include <string>
#include <vector>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

#include "model/Format.hpp"

#include "io/TextDecoding.hpp"

namespace corvane {

namespace {

bool equalsIgnoringASCIICase(std::string_view a, std::string_view lowerB) {
    if (a.size() != lowerB.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLowerChar(a[i]) != lowerB[i]) return false;
    }
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Magnitude class of a decimal literal that from_chars reported out of range: true when it
// overflowed (its leading digit sits at a positive power of ten), false when it underflowed.
bool decimalOverflows(std::string_view s) {
    std::int64_t pointPos = -1, firstNonZero = -1, digits = 0;
    std::size_t i = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.') { pointPos = digits; continue; }
        if (!isDigit(c)) break;
        if (c != '0' && firstNonZero < 0) firstNonZero = digits;
        ++digits;
    }
    if (pointPos < 0) pointPos = digits;
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        for (; i < s.size() && isDigit(s[i]); ++i) {
            if (exponent < 100000000) exponent = exponent * 10 + (s[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    if (firstNonZero < 0) return false;
    return exponent + (pointPos - firstNonZero - 1) > 0;
}

// Whole-text number test with the platform's reading of numbers: optional sign, decimal or
// hexadecimal notation, inf, infinity and nan in any letter case; out-of-range values become
// infinities or zeros instead of failing.
bool readNumber(std::string_view text, double& out) {
    if (text.empty()) return false;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    const char c0 = text[0];
    if (!isDigit(c0) && c0 != '.') {
        if (equalsIgnoringASCIICase(text, "inf") || equalsIgnoringASCIICase(text, "infinity")) {
            out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            return true;
        }
        if (equalsIgnoringASCIICase(text, "nan")) {
            out = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        return false;
    }
    std::chars_format format = std::chars_format::general;
    if (text.size() > 2 && c0 == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.empty() || text[0] == '+' || text[0] == '-') return false;
        format = std::chars_format::hex;
    }
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value, format);
    if (res.ptr != text.data() + text.size()) return false;
    if (res.ec == std::errc::result_out_of_range) {
        bool overflow = false;
        if (format == std::chars_format::hex) {
            // The sign of the binary exponent decides; without one only overflow is possible.
            const auto p = text.find_first_of("pP");
            overflow = !(p != std::string_view::npos && p + 1 < text.size() && text[p + 1] == '-');
        } else {
            overflow = decimalOverflows(text);
        }
        value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (res.ec != std::errc()) {
        return false;
    }
    out = negative ? -value : value;
    return true;
}

// Byte length of the white-space character at s[i], or 0. White space is the Unicode
// White_Space set; only its ASCII members are looked at byte by byte.
std::size_t whiteSpaceLength(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0x80) return 0;
    const std::size_t n = s.size();
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    if (c == 0xC2 && i + 1 < n && (at(i + 1) == 0x85 || at(i + 1) == 0xA0)) return 2;
    if (i + 2 >= n) return 0;
    const unsigned char c1 = at(i + 1), c2 = at(i + 2);
    if (c == 0xE1 && c1 == 0x9A && c2 == 0x80) return 3;                        // U+1680
    if (c == 0xE2 && c1 == 0x80 && ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF))
        return 3;                                                                // U+2000-200A, 2028, 2029, 202F
    if (c == 0xE2 && c1 == 0x81 && c2 == 0x9F) return 3;                        // U+205F
    if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;                        // U+3000
    return 0;
}

// ASCII bytes that can only continue a bare token (control characters included); delimiters,
// white space and bytes of multi-byte characters (which may be white space) need a closer look.
constexpr auto kPlainByte = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x80; ++c)
        t[static_cast<std::size_t>(c)] = c != '(' && c != ')' && c != '"' && c != ' ' && !(c >= 0x09 && c <= 0x0D);
    return t;
}();

enum class TokenKind { open, close, bare, quoted, end };

struct Token {
    TokenKind kind = TokenKind::end;
    std::string_view text;  // for bare and quoted tokens: the text without quotes
    bool inScratch = false;  // text lives in the tokenizer's scratch buffer until the next token
};

// Reads tokens on demand. A quoted token that needs no rewriting is a view into the input;
// escapes or text written directly before the opening quote go through a reused scratch buffer.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : s_(text) {}

    Token next() {
        if (pending_) {
            pending_ = false;
            return pendingToken_;
        }
        const std::size_t n = s_.size();
        while (pos_ < n) {
            const std::size_t w = whiteSpaceLength(s_, pos_);
            if (w == 0) break;
            pos_ += w;
        }
        if (pos_ >= n) return Token{};
        const char c = s_[pos_];
        if (c == '(') { ++pos_; return Token{TokenKind::open, {}}; }
        if (c == ')') { ++pos_; return Token{TokenKind::close, {}}; }
        const std::size_t start = pos_;
        while (pos_ < n) {
            const auto d = static_cast<unsigned char>(s_[pos_]);
            if (kPlainByte[d]) {
                ++pos_;
                continue;
            }
            if (d < 0x80 || whiteSpaceLength(s_, pos_) != 0) break;
            ++pos_;
        }
        if (pos_ < n && s_[pos_] == '"') return quoted(s_.substr(start, pos_ - start));
        return Token{TokenKind::bare, s_.substr(start, pos_ - start)};
    }

    void pushBack(Token t) {
        pending_ = true;
        pendingToken_ = t;
    }

private:
    // pos_ is on the opening quote; `prefix` is text written directly before it.
    Token quoted(std::string_view prefix) {
        ++pos_;
        const std::size_t n = s_.size();
        const std::size_t start = pos_;
        while (pos_ < n && s_[pos_] != '"' && s_[pos_] != '\\') ++pos_;
        if (pos_ >= n) throw KiCadParseError::malformed("unexpected EOF");
        if (s_[pos_] == '"' && prefix.empty()) {
            const std::string_view body = s_.substr(start, pos_ - start);
            ++pos_;
            return Token{TokenKind::quoted, body};
        }
        scratch_.assign(prefix);
        scratch_.append(s_.substr(start, pos_ - start));
        while (true) {
            if (pos_ >= n) throw KiCadParseError::malformed("unexpected EOF");
            const char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                return Token{TokenKind::quoted, scratch_, true};
            }
            if (c == '\\' && pos_ + 1 < n) {
                const char e = s_[pos_ + 1];
                if (e == '"' || e == '\\') {
                    scratch_.push_back(e);
                } else {
                    scratch_.push_back('\\');
                    scratch_.push_back(e);
                }
                pos_ += 2;
                continue;
            }
            scratch_.push_back(c);
            ++pos_;
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string scratch_;
    bool pending_ = false;
    Token pendingToken_;
};

static_assert(std::is_trivially_destructible_v<SExprNode>, "arena nodes are released without destructors");

} // namespace

SExprTree SExprNode::parse(std::string_view input, std::size_t nodeLimit, std::size_t atomLimit) {
    // A leading byte-order mark is an encoding artefact, not content.
    input = droppingUTF8BOM(input);

    SExprTree tree;
    // The first chunk holds the text and, for typical boards, most of the tree.
    tree.arena_ = std::make_unique<std::pmr::monotonic_buffer_resource>(std::max<std::size_t>(input.size() * 2, 4096));
    std::pmr::memory_resource& arena = *tree.arena_;
    auto* textCopy = static_cast<char*>(arena.allocate(std::max<std::size_t>(input.size(), 1), 1));
    std::copy(input.begin(), input.end(), textCopy);
    const std::string_view text(textCopy, input.size());

    Tokenizer tokens(text);
    // Views into the text stay valid; rewritten quoted tokens live in the tokenizer's scratch
    // buffer until the next token and are copied into the arena.
    auto keep = [&](const Token& t) -> std::string_view {
        if (!t.inScratch || t.text.empty()) return t.text;
        auto* chars = static_cast<char*>(arena.allocate(t.text.size(), 1));
        std::copy(t.text.begin(), t.text.end(), chars);
        return std::string_view(chars, t.text.size());
    };
    auto copyOut = [&]<class T>(std::vector<T>& scratch, std::size_t from) -> std::span<const T> {
        const std::size_t n = scratch.size() - from;
        if (n == 0) return {};
        auto* out = static_cast<T*>(arena.allocate(n * sizeof(T), alignof(T)));
        std::copy(scratch.begin() + static_cast<std::ptrdiff_t>(from), scratch.end(), out);
        scratch.resize(from);
        return std::span<const T>(out, n);
    };

    struct Frame {
        SExprNode* node;
        std::size_t strings, doubles, children;
        // The list's last string, which names it, when it came past the atoms kept.
        std::optional<std::string> lastUnkept;
    };
    std::vector<Frame> frames;
    std::vector<std::string_view> strings;
    std::vector<double> doubles;
    std::vector<const SExprNode*> children;
    std::size_t nodeCount = 0;
    std::size_t atomCount = 0;
    // Atoms past maxAtomsPerList in one list are read but not kept (the reader looks at a list's first
    // few and its last string), so a list of any length costs what it keeps, and the ceiling counts
    // the atoms kept.
    auto keepAtom = [&] {
        if (++atomCount > atomLimit) throw KiCadParseError::malformed("too many atoms");
    };
    auto takeString = [&](const Token& t) {
        Frame& f = frames.back();
        if (strings.size() - f.strings < maxAtomsPerList) {
            keepAtom();
            strings.push_back(keep(t));
            return;
        }
        if (!f.lastUnkept) f.lastUnkept.emplace();
        f.lastUnkept->assign(t.text);
    };

    // Opens a list whose "(" was just taken. A parenthesis where the name belongs gives an empty
    // name and is left for the list body to read.
    auto openList = [&]() {
        if (++nodeCount > nodeLimit) throw KiCadParseError::malformed("too many lists");
        const Token t = tokens.next();
        auto* node = new (arena.allocate(sizeof(SExprNode), alignof(SExprNode))) SExprNode();
        switch (t.kind) {
        case TokenKind::end: throw KiCadParseError::malformed("unexpected EOF");
        case TokenKind::bare:
        case TokenKind::quoted: node->name = keep(t); break;
        case TokenKind::open:
        case TokenKind::close: tokens.pushBack(t); break;
        }
        frames.push_back(Frame{node, strings.size(), doubles.size(), children.size(), std::nullopt});
    };

    if (tokens.next().kind != TokenKind::open) throw KiCadParseError::malformed("expected '(' at token 0");
    openList();
    while (true) {
        const Token t = tokens.next();
        switch (t.kind) {
        case TokenKind::end: throw KiCadParseError::malformed("unexpected EOF");
        case TokenKind::close: {
            Frame& f = frames.back();
            SExprNode& node = *f.node;
            node.strings = copyOut(strings, f.strings);
            node.bareDoubles = copyOut(doubles, f.doubles);
            node.children = copyOut(children, f.children);
            if (frames.size() == 1) {
                tree.root_ = &node;
                return tree;
            }
            if (!node.strings.empty() && !(node.strings.size() == 1 && node.bareDoubles.empty()))
                node.nameAttribute = f.lastUnkept ? keep(Token{TokenKind::quoted, *f.lastUnkept, true}) : node.strings.back();
            frames.pop_back();
            children.push_back(&node);
            break;
        }
        case TokenKind::open: openList(); break;
        case TokenKind::bare: {
            double value = 0;
            if (!readNumber(t.text, value)) {
                takeString(t);
            } else if (doubles.size() - frames.back().doubles < maxAtomsPerList) {
                keepAtom();
                doubles.push_back(value);
            }
            break;
        }
        case TokenKind::quoted: takeString(t); break;
        }
    }
}

std::vector<const SExprNode*> SExprNode::childrenNamed(std::string_view childName) const {
    std::vector<const SExprNode*> out;
    for (const SExprNode* c : children)
        if (c->name == childName) out.push_back(c);
    return out;
}

const SExprNode* SExprNode::firstChild(std::string_view childName) const {
    for (const SExprNode* c : children)
        if (c->name == childName) return c;
    return nullptr;
}

std::optional<std::string_view> SExprNode::firstString(std::string_view childName) const {
    const SExprNode* c = firstChild(childName);
    if (!c || c->strings.empty()) return std::nullopt;
    return c->strings.front();
}

std::optional<std::string_view> SExprNode::firstString() const {
    if (strings.empty()) return std::nullopt;
    return strings.front();
}

std::optional<double> SExprNode::firstDouble() const {
    if (bareDoubles.empty()) return std::nullopt;
    return bareDoubles.front();
}

double SExprNode::doubleAt(std::int64_t index) const {
    if (index < 0 || static_cast<std::uint64_t>(index) >= bareDoubles.size()) return 0;
    return bareDoubles[static_cast<std::size_t>(index)];
}

} // namespace corvane
