#include "ExcellonParser.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "io/SizeLimits.hpp"
#include "io/TextDecoding.hpp"
#include "model/GeometryEngine.hpp"

namespace corvane {

namespace {

constexpr double mmPerInch = 25.4;
constexpr double mmPerMil = 0.0254;
// Longest digit string a coordinate is padded to: more digits than a double holds.
constexpr std::size_t maxPaddedDigits = 32;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Keyword tests run on the line as if upper-cased; `word` is upper case.
bool startsWithCI(std::string_view s, std::string_view word) {
    if (s.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (upper(s[i]) != word[i]) return false;
    return true;
}

// Candidates are the places of the word's first letter in either case, each found by a memchr scan: a
// line of hundreds of megabytes is searched at the speed of memory, several times over.
std::size_t findCI(std::string_view s, std::string_view word, std::size_t from = 0) {
    constexpr auto npos = std::string_view::npos;
    if (word.empty() || word.size() > s.size()) return npos;
    const std::size_t last = s.size() - word.size();
    const char first = word[0];
    const char other = first >= 'A' && first <= 'Z' ? static_cast<char>(first - 'A' + 'a') : first;
    std::size_t nextFirst = s.find(first, from);
    std::size_t nextOther = other == first ? npos : s.find(other, from);
    for (;;) {
        const std::size_t at = std::min(nextFirst, nextOther);
        if (at == npos || at > last) return npos;
        if (startsWithCI(s.substr(at), word)) return at;
        if (at == nextFirst) nextFirst = s.find(first, at + 1);
        else nextOther = s.find(other, at + 1);
    }
}

bool containsCI(std::string_view s, std::string_view word) { return findCI(s, word) != std::string_view::npos; }

std::optional<std::int64_t> wholeNumber(std::string_view digits) {
    std::int64_t v = 0;
    if (!parseInt64(digits, v)) return std::nullopt;
    return v;
}

std::optional<double> decimalNumber(std::string_view text) {
    double v = 0;
    if (!parseDouble(text, v) || !std::isfinite(v)) return std::nullopt;
    return v;
}

double powerOfTen(std::int64_t n) {
    static constexpr std::array<double, 23> exact = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (n >= 0 && n < static_cast<std::int64_t>(exact.size())) return exact[static_cast<std::size_t>(n)];
    if (n > 400) return std::numeric_limits<double>::infinity();
    return std::pow(10.0, static_cast<double>(n));
}

// Plating named anywhere in the file, decided once before the lines are read. Drill files
// reach tens of megabytes, so the words are found from their rare letters ("plated" by its
// L, "npth" and "type=pth" by their H) with memchr instead of a lower-cased copy.
Plating filePlating(std::string_view fileName, std::string_view text) {
    auto forEach = [&](char lower, auto&& visit) {
        for (char c : {lower, upper(lower)}) {
            const char* p = text.data();
            const char* end = text.data() + text.size();
            while (p < end) {
                p = static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
                if (!p) break;
                visit(static_cast<std::size_t>(p - text.data()));
                ++p;
            }
        }
    };
    auto wordAt = [&](std::size_t at, std::string_view word) {
        return at + word.size() <= text.size() && startsWithCI(text.substr(at), word);
    };
    bool plated = false, nonPlated = false;
    forEach('l', [&](std::size_t at) {
        if (at < 1 || !wordAt(at - 1, "PLATED")) return;
        plated = true;
        if ((at >= 4 && wordAt(at - 4, "NON")) ||
            (at >= 5 && (wordAt(at - 5, "NON-") || wordAt(at - 5, "NON_"))))
            nonPlated = true;
    });
    forEach('h', [&](std::size_t at) {
        if (at < 2 || !wordAt(at - 2, "PTH")) return;
        if (at >= 3 && upper(text[at - 3]) == 'N') nonPlated = true;
        if (at >= 7 && wordAt(at - 7, "TYPE=")) plated = true;
    });
    if (nonPlated) return Plating::npth;
    if (plated) return Plating::pth;
    if (containsCI(fileName, "NPTH")) return Plating::npth;
    return Plating::unknown;
}

// The plating a comment declares for what follows it, if any: ";TYPE=PLATED",
// ";TYPE=NON_PLATED", or the X2 aperture function form "#@! TA.AperFunction,NonPlated,...".
std::optional<Plating> sectionPlating(std::string_view comment) {
    auto fromWord = [](std::string_view w) -> std::optional<Plating> {
        if (startsWithCI(w, "NON_PLATED") || startsWithCI(w, "NON-PLATED") || startsWithCI(w, "NONPLATED") ||
            startsWithCI(w, "NPTH"))
            return Plating::npth;
        if (startsWithCI(w, "PLATED") || startsWithCI(w, "PTH")) return Plating::pth;
        return std::nullopt;
    };
    if (startsWithCI(comment, "TYPE=")) return fromWord(trimmed(comment.substr(5)));
    const std::string_view mark = "#@! TA.APERFUNCTION,";
    if (const auto at = findCI(comment, mark); at != std::string_view::npos)
        return fromWord(comment.substr(at + mark.size()));
    return std::nullopt;
}

// "FILE_FORMAT\s*=\s*(\d+)\s*:\s*(\d+)\s*([TL]?)", tried at every occurrence of the keyword,
// leftmost first. Hand-written: a general engine recurses per character on long lines.
struct FileFormat {
    std::string_view intDigits;
    std::string_view decDigits;
    char zeros = 0;  // 'T', 'L' or none
};

std::optional<FileFormat> matchFileFormat(std::string_view line) {
    const std::string_view key = "FILE_FORMAT";
    auto isWhite = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    for (std::size_t at = findCI(line, key); at != std::string_view::npos; at = findCI(line, key, at + 1)) {
        std::size_t i = at + key.size();
        auto skipWhite = [&] { while (i < line.size() && isWhite(line[i])) ++i; };
        auto digits = [&] {
            const std::size_t start = i;
            while (i < line.size() && isDigit(line[i])) ++i;
            return line.substr(start, i - start);
        };
        skipWhite();
        if (i >= line.size() || line[i] != '=') continue;
        ++i;
        skipWhite();
        FileFormat f;
        f.intDigits = digits();
        if (f.intDigits.empty()) continue;
        skipWhite();
        if (i >= line.size() || line[i] != ':') continue;
        ++i;
        skipWhite();
        f.decDigits = digits();
        if (f.decDigits.empty()) continue;
        skipWhite();
        if (i < line.size() && (upper(line[i]) == 'T' || upper(line[i]) == 'L')) f.zeros = upper(line[i]);
        return f;
    }
    return std::nullopt;
}

struct Word {
    char letter;
    std::string_view value;
    // When the value is an optional sign and 1 to 15 digits: those digits as a number, read
    // while the line is cut into words (coordinates are most of a file).
    bool plainDigits;
    std::uint64_t magnitude;
};

// One letter, then spaces and tabs, then the characters of a number. Anything else between
// words is skipped. Returns whether the line may hold a format hint ("DECIMALS" needs a D,
// "FILE_FORMAT" an underscore).
bool tokenize(std::string_view line, std::vector<Word>& words) {
    // Real lines hold a handful of words; a line of junk letters must not make a word list
    // many times its own size, so words past this many are not read.
    constexpr std::size_t maxWords = 1024;
    words.clear();
    bool mayHoldHint = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i++];
        if (!isLetter(c)) {
            mayHoldHint |= c == '_';
            continue;
        }
        if (words.size() == maxWords) break;
        mayHoldHint |= c == 'D' || c == 'd';
        while (i < line.size() && isSpace(line[i])) ++i;
        const std::size_t start = i;
        std::uint64_t magnitude = 0;
        std::size_t digits = 0, others = 0;
        for (; i < line.size(); ++i) {
            const char ch = line[i];
            if (isDigit(ch)) {
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(ch - '0');  // wraps harmlessly past 15 digits
                ++digits;
            } else if (ch == '.' || ch == '+' || ch == '-') {
                ++others;
            } else {
                break;
            }
        }
        const std::string_view value = line.substr(start, i - start);
        const bool plain = digits >= 1 && digits <= 15 &&
                           (others == 0 || (others == 1 && (value.front() == '-' || value.front() == '+')));
        words.push_back({c, value, plain, magnitude});
    }
    return mayHoldHint;
}

bool is(const Word& w, char letter, std::string_view value) { return w.letter == letter && w.value == value; }

// How a drill file without a header (PADS's, Allegro's without nc_param.txt) writes its numbers, read
// from the coordinates themselves. Where some keep their leading zeros (X015, X0140000), the integer
// digits are fixed and the digits fill from the left: with lengths that vary, trailing zeros were
// dropped and the integer digits are the unit's usual ones; with one length throughout, nothing was
// dropped, and the usual formats of that length (2.4, 2.5, 3.5 in inches) split it. Nothing when no
// coordinate keeps a leading zero: the digits then fill from the right, as without a header anyway.
struct HeaderlessFormat {
    std::optional<std::int64_t> intDigits;
    std::optional<std::int64_t> decDigits;
};
std::optional<HeaderlessFormat> headerlessFormat(std::string_view text) {
    if (containsCI(text, "M48")) return std::nullopt;
    bool leadingZero = false;
    std::size_t shortest = SIZE_MAX, longest = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const char c = upper(text[i]);
        if (c != 'X' && c != 'Y') continue;
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
        const std::size_t start = j;
        while (j < text.size() && isDigit(text[j])) ++j;
        if (j == start || (j < text.size() && text[j] == '.')) continue;
        const std::size_t length = j - start;
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
        leadingZero = leadingZero || (length >= 2 && text[start] == '0');
    }
    if (!leadingZero) return std::nullopt;
    if (shortest != longest) return HeaderlessFormat{};
    const auto integer = static_cast<std::int64_t>(longest >= 8 ? 3 : 2);
    return HeaderlessFormat{integer, static_cast<std::int64_t>(longest) - integer};
}

class Reader {
public:
    Reader(std::string_view fileName, std::string_view text, const ExcellonParser::FormatDefaults& defaults)
        : fileName_(fileName), plating_(filePlating(fileName, text)) {
        metric_ = defaults.metric.value_or(metric_);
        unitDeclared_ = defaults.metric.has_value();
        intDigits_ = defaults.intDigits;
        decDigits_ = defaults.decDigits;
        fillFromLeft_ = defaults.trailingZerosOmitted.value_or(fillFromLeft_);
        if (defaults == ExcellonParser::FormatDefaults{})
            if (const auto headerless = headerlessFormat(text)) {
                fillFromLeft_ = true;
                intDigits_ = headerless->intDigits;
                decDigits_ = headerless->decDigits;
            }
        // About one hit per coordinate line; a guess only, capped so junk cannot reserve gigabytes.
        hits_.reserve(std::min<std::size_t>(text.size() / 16, std::size_t{1} << 22));
        words_.reserve(16);
    }

    void read(std::string_view text) {
        // Lines end at LF, CR or CR LF; empty lines are dropped, so CR LF is simply two ends.
        const char* const base = text.data();
        const std::size_t size = text.size();
        std::size_t start = 0;
        while (start < size) {
            const void* lf = std::memchr(base + start, '\n', size - start);
            const std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : size;
            std::size_t from = start;
            while (true) {
                const void* cr = std::memchr(base + from, '\r', end - from);
                const std::size_t to = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) : end;
                if (to > from && !handleLine(text.substr(from, to - from))) return;
                if (!cr) break;
                from = to + 1;
            }
            start = end + 1;
        }
    }

    DrillDocument finish() {
        settleToolUnits();
        DrillDocument doc;
        BBox box = BBox::empty();
        std::optional<std::int64_t> lastTool;
        double radius = 0;  // of lastTool; 0 when it has no positive diameter
        // Every coordinate read is finite, but a hole far out may reach past the largest double, and its
        // box and every figure measured around it with it: such holes and slots are left out.
        std::size_t kept = 0;
        for (const auto& h : hits_) {
            if (h.toolNumber != lastTool) {
                lastTool = h.toolNumber;
                const auto tool = tools_.find(h.toolNumber);
                radius = tool != tools_.end() && tool->second.diameterMM > 0 ? tool->second.diameterMM / 2 : 0;
            }
            const double r = radius;
            if (!reachesFinitely(h.position, r)) continue;
            box.include(h.position);
            if (r > 0) {
                box.include(Vec2{h.position.x - r, h.position.y - r});
                box.include(Vec2{h.position.x + r, h.position.y + r});
            }
            hits_[kept++] = h;
        }
        hits_.resize(kept);
        std::erase_if(slots_, [](const PCBObject& s) { return !s.isFinite(); });
        for (std::size_t i = 0; i < slots_.size(); ++i) slots_[i].index = static_cast<std::int64_t>(i);
        for (const auto& s : slots_)
            if (s.bbox.isValid()) box.include(s.bbox);
        doc.tools = std::move(tools_);
        doc.hits = std::move(hits_);
        doc.slots = std::move(slots_);
        doc.units = Units::mm;
        doc.bbox = box;
        doc.fileName = std::string(fileName_);
        return doc;
    }

private:
    // Returns false when the program ends.
    bool handleLine(std::string_view line) {
        line = trimmed(line);
        if (line.empty()) return true;
        if (line.front() == '/') {
            line = trimmed(line.substr(1));
            if (line.empty()) return true;
        }
        if (line.front() == ';') {
            handleComment(trimmed(line.substr(1)));
            applyFormatHints(line);
            return true;
        }
        switch (upper(line.front())) {
        case 'M':
        case 'I':
            if (startsWithCI(line, "METRIC") || startsWithCI(line, "INCH")) {
                metric_ = startsWithCI(line, "METRIC");
                unitDeclared_ = true;
                unitLineOptions(line);
                return true;
            }
            break;
        // LZ: leading zeros written, so the digits fill from the left; TZ: trailing zeros
        // written, so the number is right-aligned.
        case 'L':
            if (startsWithCI(line, "LZ")) {
                fillFromLeft_ = true;
                return true;
            }
            break;
        case 'T':
            if (startsWithCI(line, "TZ")) {
                fillFromLeft_ = false;
                return true;
            }
            break;
        default: break;
        }
        // Words are read before the hints are tried (reading them changes nothing), so that
        // coordinate lines, most of a file, are ruled out as hints in the same pass.
        if (tokenize(line, words_) && applyFormatHints(line)) return true;
        return handleWords();
    }

    // "METRIC,TZ", "INCH,LZ,00.0000", "METRIC,0000.00".
    void unitLineOptions(std::string_view line) {
        if (containsCI(line, "TZ")) fillFromLeft_ = false;
        else if (containsCI(line, "LZ")) fillFromLeft_ = true;
        const auto comma = line.rfind(',');
        if (comma == std::string_view::npos) return;
        const std::string_view pattern = line.substr(comma + 1);
        const auto dot = pattern.find('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == pattern.size()) return;
        for (std::size_t i = 0; i < pattern.size(); ++i)
            if (i != dot && pattern[i] != '0') return;
        intDigits_ = static_cast<std::int64_t>(dot);
        decDigits_ = static_cast<std::int64_t>(pattern.size() - dot - 1);
    }

    bool applyFormatHints(std::string_view line) {
        bool taken = false;
        if (const auto at = findCI(line, "DECIMALS"); at != std::string_view::npos) {
            // The digits after the word, wherever they stand. Leading zeros add nothing; past
            // 20 significant digits the number cannot be read anyway.
            std::array<char, 20> digits{};
            std::size_t count = 0;
            bool any = false, tooLong = false;
            for (char c : line.substr(at + 8)) {
                if (!isDigit(c)) continue;
                any = true;
                if (c == '0' && count == 0) continue;
                if (count == digits.size()) {
                    tooLong = true;
                    break;
                }
                digits[count++] = c;
            }
            if (any && !tooLong) {
                if (auto n = wholeNumber(count ? std::string_view(digits.data(), count) : std::string_view("0"))) {
                    decDigits_ = *n;
                    taken = true;
                }
            }
        }
        if (containsCI(line, "FILE_FORMAT")) {
            if (auto f = matchFileFormat(line)) {
                auto i = wholeNumber(f->intDigits);
                auto d = wholeNumber(f->decDigits);
                if (i && d) {
                    intDigits_ = *i;
                    decDigits_ = *d;
                    taken = true;
                    // The hint's letter names the suppressed zeros: T = trailing ones left out.
                    if (f->zeros == 'T') fillFromLeft_ = true;
                    else if (f->zeros == 'L') fillFromLeft_ = false;
                }
            }
        }
        return taken;
    }

    // Section markers and tool tables written as comments.
    void handleComment(std::string_view comment) {
        if (auto p = sectionPlating(comment)) {
            section_ = *p;
            return;
        }
        commentTool(comment);
    }

    // Allegro's tool table in comments: ";Holesize 1. = 12.000000 Tolerance = +2.000000/-2.000000 PLATED MILS
    // Quantity = 24", some versions with the tool in front (";T01 Holesize 1. = ..."). The plating it names
    // holds for that tool even when a T..C word defines the tool's size later.
    void commentTool(std::string_view comment) {
        std::optional<std::int64_t> number;
        if (comment.size() >= 2 && upper(comment[0]) == 'T' && isDigit(comment[1])) {
            std::size_t i = 1;
            while (i < comment.size() && isDigit(comment[i])) ++i;
            number = wholeNumber(comment.substr(1, i - 1));
            comment = trimmed(comment.substr(i));
            if (!number) return;
        }
        if (!startsWithCI(comment, "HOLESIZE")) return;
        const std::string_view rest = trimmed(comment.substr(8));
        if (!number) {
            std::size_t i = 0;
            while (i < rest.size() && isDigit(rest[i])) ++i;
            number = wholeNumber(rest.substr(0, i));
            if (!number) return;
        }
        const auto eq = rest.find('=');
        if (eq == std::string_view::npos) return;
        std::size_t v = eq + 1;
        while (v < rest.size() && isSpace(rest[v])) ++v;
        std::size_t e = v;
        while (e < rest.size() && (isDigit(rest[e]) || rest[e] == '.' || rest[e] == '+' || rest[e] == '-')) ++e;
        const auto size = decimalNumber(rest.substr(v, e - v));
        if (!size) return;
        std::optional<double> scale;
        std::optional<Plating> plating;
        std::size_t w = e;
        while (w < rest.size()) {
            while (w < rest.size() && !(isLetter(rest[w]) || rest[w] == '_' || rest[w] == '-')) ++w;
            const std::size_t start = w;
            while (w < rest.size() && (isLetter(rest[w]) || rest[w] == '_' || rest[w] == '-')) ++w;
            const std::string_view word = rest.substr(start, w - start);
            auto eq2 = [&](std::string_view s) { return word.size() == s.size() && startsWithCI(word, s); };
            if (eq2("MILS") || eq2("MIL")) scale = mmPerMil;
            else if (eq2("MM")) scale = 1.0;
            else if (eq2("INCH") || eq2("INCHES")) scale = mmPerInch;
            else if (eq2("NON_PLATED") || eq2("NON-PLATED") || eq2("NONPLATED") || eq2("NPTH")) plating = Plating::npth;
            else if (eq2("PLATED") || eq2("PTH")) plating = Plating::pth;
        }
        if (plating) headerPlating_[*number] = *plating;
        if (definedByC_.count(*number)) {
            if (plating) tools_[*number].plating = *plating;
            return;
        }
        if (!scale || !std::isfinite(*size * *scale)) return;
        tools_[*number] = DrillTool{*number, *size * *scale, toolPlating(*number)};
        unsettled_.erase(*number);
        selectedValid_ = false;
    }

    bool handleWords() {
        bool end = false, skip = false, moveOnly = false, linear = false, slot = false;
        std::optional<std::int64_t> toolWord;
        for (const auto& w : words_) {
            if (w.letter == 'M') {
                const auto v = w.value;
                if (v == "30" || v == "00") end = true;
                else if (v == "14" || v == "15") toolDown_ = true;
                else if (v == "16" || v == "17") toolDown_ = false;
                else if (v == "71" || v == "72") {
                    metric_ = v == "71";
                    unitDeclared_ = true;
                }
                else if (v == "01" || v == "02" || v == "06" || v == "08" || v == "09" || v == "24" || v == "25" ||
                         v == "26" || v == "27" || v == "45" || v == "47" || v == "50" || v == "51" || v == "52")
                    skip = true;
            } else if (w.letter == 'G') {
                const auto v = w.value;
                if (v == "00") moveOnly = true;
                else if (v == "01" || v == "02" || v == "03") {
                    linear = true;
                    routArc_ = v == "01" ? std::nullopt : std::optional<bool>(v == "02");
                }
                else if (v == "05") toolDown_ = false;
                else if (v == "85") slot = true;
                else if (v == "93" || v == "04") skip = true;
            } else if (w.letter == 'T') {
                if (auto n = wholeNumber(w.value)) toolWord = n;
            }
        }
        if (end) return false;
        if (skip) return true;

        if (toolWord) {
            for (const auto& w : words_) {
                if (w.letter != 'C' || w.value.empty()) continue;
                if (auto d = diameterInFileUnits(w.value)) {
                    defineTool(*toolWord, *d);
                    definedByC_.insert(*toolWord);
                }
                break;
            }
            currentTool_ = toolWord;
            selectedValid_ = false;
        }

        const Word* x = nullptr;
        const Word* y = nullptr;
        const Word* r = nullptr;
        ArcWords arc;
        for (const auto& w : words_) {
            if (w.value.empty()) continue;
            if (w.letter == 'X' && !x) x = &w;
            else if (w.letter == 'Y' && !y) y = &w;
            else if (w.letter == 'R' && !r) r = &w;
            else if (w.letter == 'I' && !arc.i) arc.i = &w;
            else if (w.letter == 'J' && !arc.j) arc.j = &w;
            else if (w.letter == 'A' && !arc.a) arc.a = &w;
        }
        if (slot) {
            slotG85();
            return true;
        }
        if (r) {
            if (auto count = decimalNumber(r->value)) {
                if (!x && !y) return true;
                bool coordinateBefore = false;
                for (const Word* w = words_.data(); w != r; ++w)
                    if (w->letter == 'X' || w->letter == 'Y') coordinateBefore = true;
                if (!toolDown_ && !coordinateBefore) {
                    repeat(*count, x, y);
                    return true;
                }
            }
        }

        const auto nx = x ? coordinateValue(*x) : std::nullopt;
        const auto ny = y ? coordinateValue(*y) : std::nullopt;
        if (!nx && !ny) return true;
        const Vec2 old = position_;
        position_ = Vec2{nx.value_or(old.x), ny.value_or(old.y)};
        if (moveOnly) return true;
        if (toolDown_) {
            rout(old, position_, arc);
        } else if (!linear) {
            addHit(position_);
        }
        return true;
    }

    // The words of a routed arc: its centre as I and J from the start, or its radius as A.
    struct ArcWords {
        const Word* i = nullptr;
        const Word* j = nullptr;
        const Word* a = nullptr;
    };

    // A move with the tool down routes a slot of the tool's width; an arc (G02 clockwise, G03
    // counter-clockwise, until G01) routes one slot along each of its chords.
    void rout(const Vec2& from, const Vec2& to, const ArcWords& words) {
        // An arc whose ends lie closer than this share of its radius is its chord: no real rout takes the
        // long way round so large a circle, and the angles of its ends no longer differ in a double.
        constexpr double kChordShareOfRadius = 1e-9;
        auto center = routArc_ ? arcCenter(from, to, *routArc_, words) : std::nullopt;
        const double chord = from.distance(to);
        if (center && chord > 0 && chord <= kChordShareOfRadius * from.distance(*center)) center.reset();
        if (!center) {
            if (from.x != to.x || from.y != to.y) addSlot(from, to);
            return;
        }
        // Chords close enough that the routed edge stays true to a hundredth of a millimetre, but at most one
        // per degree of turn: a hostile radius must not make one line a million slots.
        constexpr double kRoutedArcToleranceMM = 0.01;
        constexpr std::int64_t kMostChordsPerArc = 360;
        GeometryEngine engine;
        engine.arcChordToleranceMM = kRoutedArcToleranceMM;
        if (engine.sampledPointCount(from, to, *center, *routArc_) > kMostChordsPerArc) {
            engine.arcChordToleranceMM = 0;
            engine.arcSegmentDegrees = 360.0 / static_cast<double>(kMostChordsPerArc);
        }
        arcPoints_.clear();
        engine.sampleArc(from, to, *center, *routArc_, arcPoints_);
        if (arcPoints_.empty()) return;
        // The samples lie on the start's circle; the routed path ends where the file says.
        arcPoints_.back() = to;
        Vec2 at = from;
        for (const Vec2& p : arcPoints_) {
            if (p.x == at.x && p.y == at.y) continue;
            addSlot(at, p);
            at = p;
        }
    }

    // The centre of a routed arc: I and J from the start (equal ends make a full turn), else the
    // radius A on the side that makes the arc the shorter one in its direction.
    std::optional<Vec2> arcCenter(const Vec2& from, const Vec2& to, bool clockwise, const ArcWords& words) const {
        if (words.i || words.j) {
            const double i = words.i ? coordinateValue(*words.i).value_or(0) : 0;
            const double j = words.j ? coordinateValue(*words.j).value_or(0) : 0;
            const Vec2 c{from.x + i, from.y + j};
            if (!c.isFinite() || (i == 0 && j == 0)) return std::nullopt;
            return c;
        }
        if (!words.a) return std::nullopt;
        const auto radius = coordinateValue(*words.a);
        const double dx = to.x - from.x;
        const double dy = to.y - from.y;
        const double chord = std::hypot(dx, dy);
        if (!radius || !(chord > 0) || !std::isfinite(chord)) return std::nullopt;
        const double r = std::fabs(*radius);
        if (!std::isfinite(r)) return std::nullopt;
        // From the chord's middle along its left normal for a counter-clockwise arc, its right for a clockwise one.
        const double rise = std::sqrt(std::max(0.0, r * r - chord * chord / 4));
        const double side = clockwise ? -1.0 : 1.0;
        const Vec2 c{(from.x + to.x) / 2 - side * rise * dy / chord, (from.y + to.y) / 2 + side * rise * dx / chord};
        if (!c.isFinite()) return std::nullopt;
        return c;
    }

    void repeat(double r, const Word* x, const Word* y) {
        std::int64_t count = r >= 10000 ? 10000 : r <= 0 ? 0 : static_cast<std::int64_t>(r);
        count = std::min(count, ExcellonParser::maxRepeatedHits - repeatedHits_);
        repeatedHits_ += count;
        const double dx = x ? coordinateValue(*x).value_or(0) : 0;
        const double dy = y ? coordinateValue(*y).value_or(0) : 0;
        for (std::int64_t k = 0; k < count; ++k) {
            const Vec2 next{position_.x + dx, position_.y + dy};
            if (!std::isfinite(next.x) || !std::isfinite(next.y)) break;
            position_ = next;
            addHit(position_);
        }
    }

    // "X1.0Y2.0G85X3.0Y2.0": a slot from the coordinates before G85 to those after it.
    void slotG85() {
        std::size_t g = 0;
        while (g < words_.size() && !is(words_[g], 'G', "85")) ++g;
        auto firstValue = [&](char letter, std::size_t from, std::size_t to) -> std::optional<double> {
            for (std::size_t i = from; i < to; ++i)
                if (words_[i].letter == letter && !words_[i].value.empty())
                    if (auto v = coordinateValue(words_[i])) return v;
            return std::nullopt;
        };
        const Vec2 start{firstValue('X', 0, g).value_or(position_.x), firstValue('Y', 0, g).value_or(position_.y)};
        const Vec2 end{firstValue('X', g + 1, words_.size()).value_or(start.x),
                       firstValue('Y', g + 1, words_.size()).value_or(start.y)};
        addSlot(start, end);
        position_ = end;
    }

    // A C word's size in the file's unit; without a decimal point it counts thousandths.
    static std::optional<double> diameterInFileUnits(std::string_view value) {
        auto d = decimalNumber(value);
        if (!d) return std::nullopt;
        return value.find('.') == std::string_view::npos ? *d / 1000 : *d;
    }

    double toMM(double fileUnits) const { return metric_ ? fileUnits : fileUnits * mmPerInch; }

    // Tools defined before any unit statement and before the first hit take the unit the file has
    // settled on by that hit: some writers put the tool table before the unit command (VeriBest: the
    // table, "%", then M71).
    void defineTool(std::int64_t number, double size) {
        const bool beforeFirstHit = !unitsSettled_ && !unitDeclared_;
        const double mm = beforeFirstHit ? size : toMM(size);
        if (!std::isfinite(mm)) return;
        tools_[number] = DrillTool{number, mm, toolPlating(number)};
        if (beforeFirstHit) unsettled_.insert(number);
        else unsettled_.erase(number);
    }

    void settleToolUnits() {
        if (unitsSettled_) return;
        unitsSettled_ = true;
        for (const std::int64_t n : unsettled_) {
            DrillTool& tool = tools_[n];
            const double mm = toMM(tool.diameterMM);
            tool.diameterMM = std::isfinite(mm) ? mm : 0.0;
        }
        unsettled_.clear();
    }

    std::optional<double> coordinateValue(const Word& word) const {
        std::string_view value = word.value;
        bool negative = false;
        if (!value.empty() && value.front() == '-') {
            negative = true;
            value.remove_prefix(1);
        } else if (!value.empty() && value.front() == '+') {
            value.remove_prefix(1);
        }
        if (value.empty()) return std::nullopt;
        const double unit = metric_ ? 1.0 : mmPerInch;
        double result;
        if (word.plainDigits && paddedLength(value.size()) <= 15) {
            // Exact as an integer: no text round trip.
            std::uint64_t n = word.magnitude;
            for (std::size_t k = value.size(); k < paddedLength(value.size()); ++k) n *= 10;
            result = static_cast<double>(n) / powerOfTen(decDigits()) * unit;
        } else if (value.find('.') != std::string_view::npos) {
            auto d = decimalNumber(value);
            if (!d) return std::nullopt;
            result = *d * unit;
        } else {
            auto d = digitValue(value);
            if (!d) return std::nullopt;
            result = *d / powerOfTen(decDigits()) * unit;
        }
        if (negative) result = -result;
        if (!std::isfinite(result)) return std::nullopt;
        return result;
    }

    // How many digits a coordinate has once filled on the right, when the digits fill from
    // the left; otherwise its own length.
    std::size_t paddedLength(std::size_t length) const {
        if (!fillFromLeft_) return length;
        // Each count is bounded before the two are added: a hint may name any 64-bit count.
        auto bounded = [](std::int64_t n) {
            return static_cast<std::size_t>(std::clamp<std::int64_t>(n, 0, static_cast<std::int64_t>(maxPaddedDigits)));
        };
        const std::size_t want = std::min(bounded(intDigits()) + bounded(decDigits()), maxPaddedDigits);
        return std::max(want, length);
    }

    // A digit string of any length, filled on the right first when the digits fill from the left.
    std::optional<double> digitValue(std::string_view digits) const {
        const std::size_t target = paddedLength(digits.size());
        std::array<char, maxPaddedDigits> padded{};
        std::string_view text = digits;
        if (target > digits.size()) {
            std::copy(digits.begin(), digits.end(), padded.begin());
            std::fill(padded.begin() + static_cast<std::ptrdiff_t>(digits.size()),
                      padded.begin() + static_cast<std::ptrdiff_t>(target), '0');
            text = std::string_view(padded.data(), target);
        }
        return decimalNumber(text);
    }

    std::int64_t intDigits() const { return intDigits_.value_or(metric_ ? 3 : 2); }
    std::int64_t decDigits() const { return decDigits_.value_or(metric_ ? 3 : 4); }

    Plating newToolPlating() const { return section_.value_or(plating_); }
    Plating toolPlating(std::int64_t number) const {
        const auto named = headerPlating_.find(number);
        return named != headerPlating_.end() ? named->second : newToolPlating();
    }

    // The selected tool's table entry, looked up once per change of tool or table: every hit
    // needs its plating. Map nodes stay put, so the pointer survives later definitions.
    const DrillTool* selectedTool() {
        if (!selectedValid_) {
            selected_ = nullptr;
            if (currentTool_) {
                const auto t = tools_.find(*currentTool_);
                if (t != tools_.end()) selected_ = &t->second;
            }
            selectedValid_ = true;
        }
        return selected_;
    }

    Plating holePlating() {
        const DrillTool* tool = selectedTool();
        return tool ? tool->plating : newToolPlating();
    }

    void addHit(const Vec2& at) {
        built_.object();
        settleToolUnits();
        hits_.push_back(DrillHit{at, currentTool_.value_or(0), holePlating()});
    }

    void addSlot(const Vec2& start, const Vec2& end) {
        built_.object();
        settleToolUnits();
        const DrillTool* tool = selectedTool();
        const double d = tool ? tool->diameterMM : 0.1;
        slots_.emplace_back(PCBObjectKind::slot(start, end, d, holePlating() == Plating::pth), currentTool_,
                            ApertureShape::circle(d), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                            std::nullopt, static_cast<std::int64_t>(slots_.size()));
        intern_(slots_.back());
    }

    std::string_view fileName_;
    Plating plating_;                  // the file-wide rule
    std::optional<Plating> section_;   // the latest plating section marker
    bool metric_ = false;              // Excellon starts in inches
    bool unitDeclared_ = false;        // by a unit line, M71/M72 or the package's drill parameters
    bool fillFromLeft_ = false;
    std::optional<std::int64_t> intDigits_;
    std::optional<std::int64_t> decDigits_;
    std::map<std::int64_t, DrillTool> tools_;
    std::set<std::int64_t> definedByC_;
    std::map<std::int64_t, Plating> headerPlating_;  // named in the tool table's comments
    bool unitsSettled_ = false;                      // from the first hit or slot on
    std::set<std::int64_t> unsettled_;               // tools whose size is still in file units
    std::optional<std::int64_t> currentTool_;
    const DrillTool* selected_ = nullptr;
    bool selectedValid_ = false;
    Vec2 position_;
    bool toolDown_ = false;
    std::optional<bool> routArc_;  // the routing mode: an arc, clockwise or not, from G02/G03 until G01
    std::vector<Vec2> arcPoints_;
    std::int64_t repeatedHits_ = 0;
    std::vector<DrillHit> hits_;
    std::vector<PCBObject> slots_;
    ObjectInterner intern_;
    std::vector<Word> words_;
    // Hits and slots count against the import's object ceiling.
    BuildCounter built_;
};

} // namespace

bool ExcellonParser::isAllegroParameterFile(std::string_view fileName) {
    const std::string_view name = "NC_PARAM.TXT";
    return fileName.size() == name.size() && startsWithCI(fileName, name);
}

std::optional<ExcellonParser::FormatDefaults> ExcellonParser::allegroParameters(std::string_view text) {
    // A setting is its line's first two words; nothing more of a line is looked at, whatever its length.
    struct Setting {
        std::string_view first, second;
        int words = 0;  // 0, 1, or 2 for two or more
    };
    auto setting = [](std::string_view line) {
        auto blank = [](char c) { return isSpace(c) || c == '\r'; };
        Setting out;
        std::size_t i = 0;
        while (out.words < 2) {
            while (i < line.size() && blank(line[i])) ++i;
            const std::size_t start = i;
            while (i < line.size() && !blank(line[i])) ++i;
            if (i == start) break;
            (out.words == 0 ? out.first : out.second) = line.substr(start, i - start);
            ++out.words;
        }
        return out;
    };
    auto is = [](std::string_view word, std::string_view upperWord) {
        return word.size() == upperWord.size() && startsWithCI(word, upperWord);
    };
    auto places = [](std::string_view value) -> std::optional<std::int64_t> {
        const auto n = wholeNumber(value);
        return n && *n >= 0 ? n : std::nullopt;
    };
    FormatDefaults d;
    std::optional<bool> leadSuppressed, trailSuppressed;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const Setting line = setting(text.substr(start, end - start));
        start = end + 1;
        if (line.words == 0) continue;
        const std::string_view key = line.first;
        const std::string_view value = line.words == 2 ? line.second : line.first;
        if (is(key, "FORMAT") && line.words == 2) {
            // Older releases: "FORMAT 2.5", integer and decimal places in one.
            const auto dot = value.find('.');
            if (dot == std::string_view::npos) continue;
            const auto i = places(value.substr(0, dot));
            const auto f = places(value.substr(dot + 1));
            if (i && f) {
                d.intDigits = *i;
                d.decDigits = *f;
            }
        } else if (is(key, "INTEGER-PLACES") && line.words == 2) {
            if (const auto i = places(value)) d.intDigits = *i;
        } else if (is(key, "DECIMAL-PLACES") && line.words == 2) {
            if (const auto f = places(value)) d.decDigits = *f;
        } else if (line.words == 1 || is(key, "OUTPUT-UNITS") || is(key, "UNITS")) {
            if (is(value, "ENGLISH") || is(value, "INCH") || is(value, "INCHES")) d.metric = false;
            else if (is(value, "METRIC") || is(value, "MM")) d.metric = true;
        } else if (is(key, "SUPPRESS-LEAD-ZEROES") || is(key, "SUPPRESS-LEADING-ZEROS")) {
            if (is(value, "YES") || is(value, "NO")) leadSuppressed = is(value, "YES");
        } else if (is(key, "SUPPRESS-TRAIL-ZEROES") || is(key, "SUPPRESS-TRAILING-ZEROS")) {
            if (is(value, "YES") || is(value, "NO")) trailSuppressed = is(value, "YES");
        }
    }
    // Numbers with trailing zeros dropped fill from the left; with leading zeros dropped, or none
    // dropped (every place written), they are right-aligned. Both dropped says nothing readable.
    const bool lead = leadSuppressed.value_or(false), trail = trailSuppressed.value_or(false);
    if (lead != trail) d.trailingZerosOmitted = trail;
    else if (leadSuppressed && trailSuppressed && !lead) d.trailingZerosOmitted = false;
    if (d == FormatDefaults{}) return std::nullopt;
    return d;
}

DrillDocument ExcellonParser::parse(std::string_view fileName, std::span<const std::uint8_t> data,
                                    const FormatDefaults& defaults) const {
    if (data.empty()) throw ExcellonParseError::emptyInput();
    if (validatesAsUTF8(data))
        return parse(fileName, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), defaults);
    const std::string text = latin1ToUTF8(data);
    return parse(fileName, std::string_view(text), defaults);
}

DrillDocument ExcellonParser::parse(std::string_view fileName, std::string_view text, const FormatDefaults& defaults) const {
    text = droppingUTF8BOM(text);
    Reader reader(fileName, text, defaults);
    reader.read(text);
    return reader.finish();
}

} // namespace corvane
