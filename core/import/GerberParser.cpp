#include "import/GerberParser.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "import/ApertureMacro.hpp"
#include "io/SizeLimits.hpp"
#include "io/TextDecoding.hpp"
#include "model/Angles.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

constexpr double kTenDegrees = 0.17453292519943295;
// With trailing zeros omitted, coordinates are padded to the format's digit count, never beyond this.
constexpr std::size_t kMaxPaddedDigits = 32;
// A single-quadrant arc may sweep a quarter turn; coordinates rounded to the file's resolution can
// put a true quarter a little over it.
constexpr double kQuarterSweepLimit = kPi * 0.5 + 0.05;
// Outline points that flashes may show in total. A flash only refers to its aperture's outline, but
// whatever draws the layer fills the outline once per flash; past the budget a flash is drawn by its size.
constexpr std::size_t kObjectOutlinePointBudget = std::size_t{1} << 24;
// Statements and points that macro evaluation may produce in one file.
constexpr std::size_t kMacroWorkBudget = std::size_t{1} << 25;

// How many objects ahead of the one being built the table is fetched into cache.
constexpr std::size_t kPrefetchObjects = 8;

constexpr std::array<double, 10> kPow10 = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

const char* const kWarnStepRepeat = "Step & Repeat (SR) is not supported; geometry shown once.";
const char* const kWarnImagePolarity = "Unknown image polarity (IP); image shown positive.";
const char* const kWarnNegativeImage = "Negative image polarity (IPNEG) is not supported; image shown positive.";
const char* const kWarnNoUnits = "No unit command; inches assumed.";
const char* const kWarnMirror = "Image mirroring (MI) is not supported; image shown unmirrored.";
const char* const kWarnNotFinite = kNonFiniteObjectsWarning.data();
const char* const kWarnIncrementalOverflow = "Incremental moves past the largest number were left out.";

// A word that a line break splits is copied to be read whole; past this length it is no word of any writer
// and is dropped, so that a file of one unbroken run of digits is not copied whole.
constexpr std::size_t kMaxJoinedWordBytes = std::size_t{64} << 10;

// --- text helpers --------------------------------------------------------------------------------

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view trimSpacesTabs(std::string_view s) {
    while (!s.empty() && isSpaceOrTab(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpaceOrTab(s.back())) s.remove_suffix(1);
    return s;
}

// Length of a white-space or line-break character (the Unicode sets Z* + TAB and line breaks) at the
// start of `s`, 0 when there is none.
std::size_t leadingWhitespaceLength(std::string_view s) {
    if (s.empty()) return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
    if (b0 < 0x80 || s.size() < 2) return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
    if (s.size() < 3) return 0;
    const auto b2 = static_cast<unsigned char>(s[2]);
    if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80) return 3;  // U+1680
    if (b0 == 0xE2 && b1 == 0x80 && (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF)) return 3;
    if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F) return 3;  // U+205F
    if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) return 3;  // U+3000
    return 0;
}

std::size_t trailingWhitespaceLength(std::string_view s) {
    if (s.empty()) return 0;
    // Every member of the set is 1, 2 or 3 bytes long; try the ASCII case first.
    for (std::size_t n : {1u, 2u, 3u}) {
        if (s.size() < n) break;
        const auto lead = static_cast<unsigned char>(s[s.size() - n]);
        if (n > 1 && (lead & 0xC0) == 0x80) continue;
        if (n == 1 && lead >= 0x80) continue;
        return leadingWhitespaceLength(s.substr(s.size() - n)) == n ? n : 0;
    }
    return 0;
}

std::string_view trimWhitespaceAndNewlines(std::string_view s) {
    while (std::size_t n = leadingWhitespaceLength(s)) s.remove_prefix(n);
    while (std::size_t n = trailingWhitespaceLength(s)) s.remove_suffix(n);
    return s;
}

// What one pass over a file's bytes tells before it is read: whether they are all ASCII (so need no
// decoding), and how many words end in '*'.
struct TextCensus {
    bool ascii = true;
    std::size_t stars = 0;
};

TextCensus takeCensus(std::string_view bytes) {
    TextCensus census;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
#if defined(__SSE2__)
    // Per-lane counts in bytes (a match is -1), summed into the total before any lane can overflow.
    const __m128i star = _mm_set1_epi8('*');
    __m128i high = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i lanes = _mm_setzero_si128();
        for (int k = 0; k < 255 && end - p >= 16; ++k, p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, star));
            high = _mm_or_si128(high, v);
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        census.stars += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                        static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
    census.ascii = _mm_movemask_epi8(high) == 0;
#endif
    for (; p < end; ++p) {
        census.stars += *p == '*';
        census.ascii = census.ascii && static_cast<unsigned char>(*p) < 0x80;
    }
    return census;
}

// The first of '%', '*', LF and CR in [p, end), or end. Words are some 25 bytes long, so this runs once
// per word and looks at 16 bytes a step.
inline const char* findSpecial(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i percent = _mm_set1_epi8('%');
    const __m128i star = _mm_set1_epi8('*');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, percent), _mm_cmpeq_epi8(v, star)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '%' && *p != '*' && *p != '\n' && *p != '\r') ++p;
    return p;
}

// Eight ASCII digits at p as their value, or nothing when one of them is not a digit. Coordinates are
// mostly 7 to 10 digits long, so reading eight at a time halves the work of the common case.
inline std::optional<std::uint64_t> eightDigits(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
    const std::uint64_t digitsOnly =
        (v & 0xF0F0F0F0F0F0F0F0ULL) | (((v + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4);
    if (digitsOnly != 0x3333333333333333ULL) return std::nullopt;
    v = ((v & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;
    v = ((v & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;
    return ((v & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32;
}

// A run of 1 to 18 ASCII digits and nothing else: the common case, read without a general parser.
[[gnu::always_inline]] inline std::optional<std::uint64_t> parseDigits(std::string_view s) {
    if (s.empty() || s.size() > 18) return std::nullopt;
    std::uint64_t v = 0;
    std::size_t k = 0;
    if (s.size() >= 8) {
        const auto head = eightDigits(s.data());
        if (!head) return std::nullopt;
        v = *head;
        k = 8;
    }
    for (; k < s.size(); ++k) {
        const auto d = static_cast<unsigned>(static_cast<unsigned char>(s[k]) - '0');
        if (d > 9) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

// A whole decimal number with an optional sign.
inline bool readInteger(std::string_view s, std::int64_t& out) {
    if (!s.empty() && s.front() != '+' && s.front() != '-') {
        if (const auto v = parseDigits(s)) {
            out = static_cast<std::int64_t>(*v);
            return true;
        }
    }
    return parseInt64(s, out);
}

// A decimal number that is finite; anything else is unreadable.
std::optional<double> readFinite(std::string_view s) {
    double v = 0;
    if (!parseDouble(s, v) || !std::isfinite(v)) return std::nullopt;
    return v;
}

// parseCoordinateSpec: a non-negative whole number v read as (v / 10, v % 10).
std::optional<std::pair<std::int64_t, std::int64_t>> parseCoordinateSpec(std::string_view s) {
    if (s.empty()) return std::nullopt;
    std::int64_t v = 0;
    if (!parseInt64(s, v) || v < 0) return std::nullopt;
    return std::make_pair(v / 10, v % 10);
}

double distance(const Vec2& a, const Vec2& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

// The letter-value pairs of a word; a later pair with the same letter replaces an earlier one.
struct WordFields {
    std::string_view xs, ys, is, js, ds;
    bool hasX = false, hasY = false, hasI = false, hasJ = false, hasD = false;
};

// What a character is to the word splitter: 1 for a letter that starts a pair, 2 for 'G'.
constexpr std::array<std::uint8_t, 256> kWordCharClass = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned char c : {'X', 'Y', 'I', 'J', 'D'}) t[c] = 1;
    t['G'] = 2;
    return t;
}();

inline void setField(WordFields& f, char letter, std::string_view value) {
    switch (letter) {
    case 'X': f.xs = value; f.hasX = true; break;
    case 'Y': f.ys = value; f.hasY = true; break;
    case 'I': f.is = value; f.hasI = true; break;
    case 'J': f.js = value; f.hasJ = true; break;
    case 'D': f.ds = value; f.hasD = true; break;
    default: break;
    }
}

#if defined(__SSE2__)
// Bit k set where block[k] is one of X, Y, I, J, D (pairLetters) or G.
inline void letterMasks(const char* block, std::uint32_t& pairLetters, std::uint32_t& gs) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const __m128i pairs = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('X')), _mm_cmpeq_epi8(v, _mm_set1_epi8('Y'))),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('I')), _mm_cmpeq_epi8(v, _mm_set1_epi8('J'))),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8('D'))));
    pairLetters = static_cast<std::uint32_t>(_mm_movemask_epi8(pairs));
    gs = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('G'))));
}
#endif

// Splits a word into letter-value pairs, a value running to the next X, Y, I, J or D. With stopAtG,
// gives up (false) at the first 'G' after the word's first character, which then needs other reading.
// `readable` bytes from body.data() may be read (at least body.size()).
[[gnu::always_inline]] inline bool splitWord(std::string_view body, std::size_t readable, bool stopAtG,
                                             WordFields& f) {
    const char* const data = body.data();
    const std::size_t size = body.size();
#if defined(__SSE2__)
    if (size <= 32 && readable >= 32) {
        // Nearly every word: find all the letters at once, then cut the values between them.
        std::uint32_t lo = 0, loG = 0, hi = 0, hiG = 0;
        letterMasks(data, lo, loG);
        letterMasks(data + 16, hi, hiG);
        const std::uint64_t inWord = (std::uint64_t{1} << size) - 1;
        const auto starts = static_cast<std::uint32_t>((lo | (hi << 16)) & inWord);
        const auto gs = static_cast<std::uint32_t>((loG | (hiG << 16)) & inWord);
        if (stopAtG && (gs & ~std::uint32_t{1}) != 0) return false;
        // The first character starts a pair whatever it is.
        std::uint32_t rest = starts & ~std::uint32_t{1};
        std::size_t i = 0;
        for (;;) {
            const std::size_t j = rest == 0 ? size : static_cast<std::size_t>(std::countr_zero(rest));
            setField(f, data[i], std::string_view(data + i + 1, j - i - 1));
            if (rest == 0) break;
            rest &= rest - 1;
            i = j;
        }
        return true;
    }
#else
    (void)readable;
#endif
    std::size_t i = 0;
    while (i < size) {
        const char letter = data[i];
        std::size_t j = i + 1;
        while (j < size) {
            const std::uint8_t cls = kWordCharClass[static_cast<unsigned char>(data[j])];
            if (cls == 1) break;
            if (cls == 2 && stopAtG) return false;
            ++j;
        }
        setField(f, letter, std::string_view(data + i + 1, j - i - 1));
        i = j;
    }
    return true;
}

enum class Interpolation : std::uint8_t { linear, clockwise, counterClockwise };
// Files that never say G74 or G75 are common among older writers; they get their own treatment.
enum class QuadrantMode : std::uint8_t { unset, single, multi };

struct MacroBody {
    std::vector<std::string> statements;
    std::optional<double> measured;  // file units, cached until the body changes
};

// Large object tables are written once from front to back; with huge pages that costs a fault per
// 2 MiB instead of per 4 KiB. Only for tables so large that the huge page the last objects touch, which
// is resident however little of it they fill, is a small share. Only a hint.
void adviseHugePages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (bytes < 16 * huge) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(huge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// The shapes primitives refer to, made once per aperture definition.
struct ApertureShapes {
    SharedShape shape;
    // The same macro without its outline, made when the outline budget first runs out.
    SharedShape withoutOutline;
    std::size_t outlinePoints = 0;
};

// How many objects to reserve room for: at most one per word, and nearly every word ends in '*'; nor, in
// any real file, more than one per 8 bytes ("X1Y1D01*"), which is the closer bound for layers of large
// pours, whose every vertex is a word. Files beyond either grow their table as needed.
std::size_t objectBound(std::string_view text, std::size_t stars) {
    return std::min(stars + 1, text.size() / 8 + 16);
}

// --- the reader ----------------------------------------------------------------------------------

class GerberReader {
public:
    GerberReader(std::string_view text, std::size_t stars) {
        // Reserved once for the objects the text can make, so that the table is written in place and never
        // moved; only what is written takes memory. Capped so that a huge file does not ask for gigabytes
        // before its first object: past the cap the table grows as needed.
        objects_.reserve(std::min<std::size_t>(objectBound(text, stars), std::size_t{1} << 21));
        adviseHugePages(objects_.data(), objects_.capacity() * sizeof(PCBObject));
    }

    GerberParseResult run(std::string_view text);

private:
    // lexer
    void appendToWord(const char* from, const char* to);
    std::string_view wordView() const;
    void resetWord();
    void flushWord();

    // extended commands and apertures
    void handleExtended(std::string_view block);
    void handleExtendedPart(std::string_view cmd);
    void handleAttribute(std::string_view cmd);
    void handleFormat(std::string_view rest);
    void handleStepRepeat(std::string_view rest);
    void handleMirror(std::string_view rest);
    void defineAperture(std::string_view cmd);
    double measuredMacro(MacroBody& body);

    // words
    // readable: how many bytes from word.data() may be read, at least word.size(); the word splitter
    // reads whole 16-byte blocks when it can.
    void handleWord(std::string_view word, std::size_t readable);
    void handleComment(std::string_view word);
    void handleGCode(std::string_view code);
    [[gnu::always_inline]] inline double coordinateValue(std::string_view text) const;
    void emitDrawOrArc(Vec2 target, std::optional<double> rawI, std::optional<double> rawJ);
    void emitFlash(Vec2 at);
    Vec2 arcCenter(Vec2 target, double i, double j) const;
    Vec2 singleQuadrantCenter(Vec2 target, double i, double j) const;
    void finishContour();
    void emitRegion();
    void appendRegionArc(Vec2 target, Vec2 center);
    void selectAperture(std::int64_t code);
    PCBObject& newObject(bool withAperture);
    void addContourPoint(Vec2 p);
    void finishObject(PCBObject& o);
    void emitStroke(Vec2 from, Vec2 to);
    void dropNotFinite();

    void warn(const char* text);
    void noteInternal(std::string text);

    // coordinate format and units
    std::int64_t intDigits_ = 2;
    std::int64_t decDigits_ = 6;
    bool trailingZeroOmission_ = false;
    // Until a unit command says otherwise, inches: the format's old default, and what other readers assume.
    double mmPerUnit_ = 25.4;
    bool formatSeen_ = false;
    bool unitSeen_ = false;
    // Incremental notation (the format statement's "I", or G91): each coordinate moves from the current point.
    bool incremental_ = false;

    // apertures and macros
    std::map<std::int64_t, Aperture> apertures_;
    std::map<std::int64_t, ApertureShapes> apertureShapes_;
    std::map<std::string, MacroBody, std::less<>> macros_;
    MacroBody* pendingMacro_ = nullptr;
    std::size_t macroWorkBudget_ = kMacroWorkBudget;
    std::size_t outlinePointBudget_ = kObjectOutlinePointBudget;

    // plotting state
    std::optional<std::int64_t> currentAperture_;
    ApertureShapes* currentShapes_ = nullptr;
    // Half the current aperture's bounding diameter: what an object's box grows by around its points.
    double currentRadius_ = 0.0;
    Vec2 point_;
    Interpolation interpolation_ = Interpolation::linear;
    QuadrantMode quadrant_ = QuadrantMode::unset;
    std::int64_t modalDCode_ = 1;
    Polarity polarity_ = Polarity::dark;
    bool inRegion_ = false;
    std::vector<Contour> contours_;
    // Reused for every contour; each finished one is copied out at its exact size.
    Contour currentContour_;

    // attributes: object attributes are shared by every object drawn while they hold
    TextInterner texts_;
    SharedText net_, component_, pin_, aperFunction_;
    // The record of the names above that objects take, made again when one of them has changed.
    SharedAttributes names_;
    bool namesChanged_ = false;
    std::optional<std::string> fileFunction_, filePolarity_, imagePolarity_, projectID_, creationDate_;
    bool fileFunctionFromAttribute_ = false;
    std::map<std::string, std::string> fileAttributes_;

    std::vector<PCBObject> objects_;
    // Objects and region points count against the import's ceilings.
    BuildCounter built_;
    BBox bbox_ = BBox::empty();
    std::vector<std::string> warnings_;
    std::vector<std::string> internalWarnings_;

    // the word being collected: a range of the text until a line break splits it, then a copy
    const char* wordBegin_ = nullptr;
    const char* wordEnd_ = nullptr;
    bool wordInScratch_ = false;
    bool wordTooLong_ = false;
    std::string scratch_;
    std::string blockScratch_;
};

void GerberReader::warn(const char* text) {
    if (std::find(warnings_.begin(), warnings_.end(), text) == warnings_.end()) warnings_.emplace_back(text);
}

void GerberReader::noteInternal(std::string text) {
    // Diagnostics only: each text once, and not without end for files defining endless apertures.
    constexpr std::size_t kMaxNotes = 256;
    if (internalWarnings_.size() >= kMaxNotes) return;
    if (std::find(internalWarnings_.begin(), internalWarnings_.end(), text) != internalWarnings_.end()) return;
    internalWarnings_.push_back(std::move(text));
}

// --- lexer ---------------------------------------------------------------------------------------

void GerberReader::appendToWord(const char* from, const char* to) {
    if (from == to) return;
    if (wordInScratch_) {
        if (wordTooLong_) return;
        if (scratch_.size() + static_cast<std::size_t>(to - from) > kMaxJoinedWordBytes) {
            wordTooLong_ = true;
            scratch_.clear();
            scratch_.shrink_to_fit();
            return;
        }
        scratch_.append(from, to);
    } else if (wordBegin_ == nullptr) {
        wordBegin_ = from;
        wordEnd_ = to;
    } else if (wordEnd_ == from) {
        wordEnd_ = to;
    } else {
        scratch_.assign(wordBegin_, wordEnd_);
        scratch_.append(from, to);
        wordInScratch_ = true;
    }
}

std::string_view GerberReader::wordView() const {
    if (wordTooLong_) return {};
    if (wordInScratch_) return scratch_;
    if (wordBegin_ == nullptr) return {};
    return std::string_view(wordBegin_, static_cast<std::size_t>(wordEnd_ - wordBegin_));
}

void GerberReader::resetWord() {
    wordBegin_ = wordEnd_ = nullptr;
    wordInScratch_ = false;
    wordTooLong_ = false;
    scratch_.clear();
}

void GerberReader::flushWord() {
    const std::string_view word = trimSpacesTabs(wordView());
    if (!word.empty()) handleWord(word, word.size());
    resetWord();
}

GerberParseResult GerberReader::run(std::string_view text) {
    static const auto special = [] {
        std::array<bool, 256> t{};
        t[static_cast<unsigned char>('%')] = true;
        t[static_cast<unsigned char>('*')] = true;
        t[static_cast<unsigned char>('\n')] = true;
        t[static_cast<unsigned char>('\r')] = true;
        return t;
    }();

    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        if (wordBegin_ == nullptr && !wordInScratch_) {
            // Nothing collected yet, the common case: line breaks between words do nothing, and a word
            // ending in '*' needs none of the collecting below.
            while (p < end && (*p == '\n' || *p == '\r')) ++p;
            const char* q = findSpecial(p, end);
            if (q < end && *q == '*') {
                const std::string_view word = trimSpacesTabs(std::string_view(p, static_cast<std::size_t>(q - p)));
                if (!word.empty()) handleWord(word, static_cast<std::size_t>(end - word.data()));
                p = q + 1;
                continue;
            }
            appendToWord(p, q);
            if (q == end) break;
            p = q;
        } else {
            const char* q = p;
            while (q < end && !special[static_cast<unsigned char>(*q)]) ++q;
            appendToWord(p, q);
            if (q == end) break;
            p = q;
        }
        switch (*p) {
        case '%': {
            // A comment may hold "%": it is comment text, not the start of a block.
            if (trimSpacesTabs(wordView()).starts_with("G04")) {
                appendToWord(p, p + 1);
                ++p;
                break;
            }
            flushWord();
            const char* blockStart = p + 1;
            const void* close = blockStart < end ? std::memchr(blockStart, '%', static_cast<std::size_t>(end - blockStart)) : nullptr;
            const char* blockEnd = close ? static_cast<const char*>(close) : end;
            handleExtended(std::string_view(blockStart, static_cast<std::size_t>(blockEnd - blockStart)));
            p = close ? blockEnd + 1 : end;
            break;
        }
        case '*':
            flushWord();
            ++p;
            break;
        default: {  // line break
            const std::string_view t = trimSpacesTabs(wordView());
            if (wordTooLong_) {
                // Still the dropped word: it ends at its '*' as any other.
            } else if (t.empty()) {
                resetWord();
            } else if (t[0] == 'D' || t[0] == 'G' || t[0] == 'M' || t[0] == 'S') {
                flushWord();
            } else if (!wordInScratch_) {
                // The word goes on after the line break, which is not part of it.
                if (t.size() > kMaxJoinedWordBytes) wordTooLong_ = true;
                else scratch_.assign(wordView());
                wordInScratch_ = true;
            }
            ++p;
            break;
        }
        }
    }
    flushWord();

    // End of the parse.
    if (!formatSeen_ && objects_.empty()) throw GerberParseError::missingFormatStatement();
    if (!unitSeen_) warn(kWarnNoUnits);

    GerberParseResult result;
    GerberDocument& doc = result.document;
    doc.bbox = bbox_;
    doc.format = fileAttributes_.empty() ? SourceFormat::gerberRS274X : SourceFormat::gerberX2;
    doc.units = mmPerUnit_ == 25.4 ? Units::mil : Units::mm;
    doc.objects = std::move(objects_);
    doc.apertures = std::move(apertures_);
    doc.fileFunction = std::move(fileFunction_);
    doc.filePolarity = std::move(filePolarity_);
    doc.imagePolarity = std::move(imagePolarity_);
    doc.fileAttributes = std::move(fileAttributes_);
    doc.projectID = std::move(projectID_);
    doc.creationDate = std::move(creationDate_);
    result.warnings = std::move(warnings_);
    result.internalWarnings = std::move(internalWarnings_);
    return result;
}

// --- extended commands ---------------------------------------------------------------------------

void GerberReader::handleExtended(std::string_view block) {
    // A CR LF inside a block reads as LF, as it does everywhere else.
    if (block.find('\r') != std::string_view::npos) {
        blockScratch_.clear();
        for (std::size_t i = 0; i < block.size(); ++i) {
            if (block[i] == '\r' && i + 1 < block.size() && block[i + 1] == '\n') continue;
            blockScratch_.push_back(block[i]);
        }
        block = blockScratch_;
    }
    block = trimWhitespaceAndNewlines(block);
    while (!block.empty()) {
        const std::size_t star = block.find('*');
        const std::string_view piece = block.substr(0, star);
        block = star == std::string_view::npos ? std::string_view() : block.substr(star + 1);
        if (!piece.empty()) handleExtendedPart(trimWhitespaceAndNewlines(piece));
    }
}

void GerberReader::handleExtendedPart(std::string_view cmd) {
    if (cmd.starts_with("TF.") || cmd.starts_with("TA.") || cmd.starts_with("TO.") || cmd.starts_with("TD")) {
        handleAttribute(cmd);
    } else if (cmd.starts_with("FS")) {
        handleFormat(cmd.substr(2));
    } else if (cmd.starts_with("MOMM")) {
        mmPerUnit_ = 1.0;
        unitSeen_ = true;
    } else if (cmd.starts_with("MOIN")) {
        mmPerUnit_ = 25.4;
        unitSeen_ = true;
    } else if (cmd.starts_with("LP")) {
        polarity_ = cmd.ends_with("C") ? Polarity::clear : Polarity::dark;
    } else if (cmd.starts_with("AM")) {
        const std::string_view name = trimSpacesTabs(cmd.substr(2));
        if (name.empty()) return;
        auto it = macros_.find(name);
        if (it == macros_.end()) it = macros_.emplace(std::string(name), MacroBody{}).first;
        it->second = MacroBody{};
        pendingMacro_ = &it->second;
    } else if (cmd.starts_with("AD")) {
        pendingMacro_ = nullptr;
        defineAperture(cmd);
    } else if (cmd.starts_with("SR")) {
        handleStepRepeat(cmd.substr(2));
    } else if (cmd.starts_with("IP")) {
        // IPPOS is the default image polarity and changes nothing to the picture.
        if (cmd == "IPPOS") {
            imagePolarity_ = "Positive";
            return;
        }
        if (cmd == "IPNEG") imagePolarity_ = "Negative";
        warn(cmd == "IPNEG" ? kWarnNegativeImage : kWarnImagePolarity);
    } else if (cmd.starts_with("MI")) {
        handleMirror(cmd.substr(2));
    } else if (pendingMacro_ != nullptr && !cmd.empty()) {
        pendingMacro_->statements.emplace_back(cmd);
        pendingMacro_->measured.reset();
    }
}

void GerberReader::handleAttribute(std::string_view cmd) {
    namesChanged_ = true;
    if (cmd.starts_with("TD")) {
        std::string_view name = cmd.substr(2);
        while (!name.empty() && name.front() == '.') name.remove_prefix(1);
        while (!name.empty() && name.back() == '.') name.remove_suffix(1);
        if (name == "N") net_.reset();
        else if (name == "C") component_.reset();
        else if (name == "P") pin_.reset();
        else if (name == "AperFunction") aperFunction_.reset();
        else {
            net_.reset();
            component_.reset();
            pin_.reset();
            aperFunction_.reset();
        }
        return;
    }
    const char kind = cmd[1];
    std::string_view rest = cmd.substr(3);
    // The first non-empty piece before a comma is the name; everything after that comma is the value.
    while (!rest.empty() && rest.front() == ',') rest.remove_prefix(1);
    if (rest.empty()) return;
    const std::size_t comma = rest.find(',');
    const std::string_view name = rest.substr(0, comma);
    const std::string_view value = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const bool hasValue = !value.empty();

    if (kind == 'F') {
        fileAttributes_[std::string(name)] = std::string(value);
        if (name == "FileFunction") {
            fileFunction_ = std::string(value);
            fileFunctionFromAttribute_ = true;
        } else if (name == "FilePolarity") {
            filePolarity_ = std::string(value);
        } else if (name == "ProjectId") {
            projectID_ = std::string(value.substr(0, value.find(',')));
        } else if (name == "CreationDate") {
            creationDate_ = std::string(value);
        }
    } else if (kind == 'A') {
        if (name == "AperFunction" && hasValue) aperFunction_ = texts_(value);
    } else {
        if (name == "N") net_ = texts_(value);
        else if (name == "C") component_ = texts_(value);
        else if (name == "P") pin_ = texts_(value);
        else if (name == "AperFunction") aperFunction_ = texts_(value);
    }
}

void GerberReader::handleFormat(std::string_view rest) {
    formatSeen_ = true;
    if (!rest.empty() && rest.front() == 'L') {
        trailingZeroOmission_ = false;
        rest.remove_prefix(1);
    } else if (!rest.empty() && rest.front() == 'T') {
        trailingZeroOmission_ = true;
        rest.remove_prefix(1);
    }
    // The notation letter follows the zero omission letter: A absolute, I incremental.
    if (!rest.empty() && (rest.front() == 'A' || rest.front() == 'I')) incremental_ = rest.front() == 'I';
    const std::size_t x = rest.find('X');
    const std::size_t y = rest.find('Y');
    // Without both letters, or with Y first, the digit counts stay as they are.
    if (x == std::string_view::npos || y == std::string_view::npos || y < x) return;
    if (const auto spec = parseCoordinateSpec(rest.substr(x + 1, y - x - 1))) {
        intDigits_ = spec->first;
        decDigits_ = spec->second;
    }
    if (const auto spec = parseCoordinateSpec(rest.substr(y + 1))) decDigits_ = spec->second;
}

void GerberReader::handleStepRepeat(std::string_view rest) {
    // "SR" alone and "SRX1Y1…" close a block or repeat once: the picture is what the file draws.
    auto count = [&](char letter) -> std::optional<std::int64_t> {
        const std::size_t at = rest.find(letter);
        if (at == std::string_view::npos) return 1;
        std::size_t end = at + 1;
        while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9') ++end;
        std::int64_t v = 0;
        if (!parseInt64(rest.substr(at + 1, end - at - 1), v)) return std::nullopt;
        return v;
    };
    const auto xs = count('X');
    const auto ys = count('Y');
    if (!xs || !ys || *xs != 1 || *ys != 1) warn(kWarnStepRepeat);
}

void GerberReader::handleMirror(std::string_view rest) {
    // "MIA0B0" mirrors nothing; A1 or B1 mirrors an axis, which the picture shown does not.
    for (std::size_t i = 0; i + 1 < rest.size(); ++i)
        if ((rest[i] == 'A' || rest[i] == 'B') && rest[i + 1] == '1') {
            warn(kWarnMirror);
            return;
        }
}

double GerberReader::measuredMacro(MacroBody& body) {
    if (!body.measured) body.measured = ApertureMacro::measureBoundingDiameter(body.statements);
    return *body.measured;
}

void GerberReader::defineAperture(std::string_view cmd) {
    std::string_view def = cmd.substr(2);
    const std::size_t comma = def.find(',');
    // Without parameters the aperture is still defined: many writers name a parameterless macro.
    if (comma == 0 || def.empty()) return;
    const std::string_view head = def.substr(0, comma);
    std::size_t digitsEnd = 1;
    while (digitsEnd < head.size() && head[digitsEnd] >= '0' && head[digitsEnd] <= '9') ++digitsEnd;
    std::int64_t code = 0;
    if (digitsEnd == 1 || !parseInt64(head.substr(1, digitsEnd - 1), code)) return;
    const std::string_view templateName = head.substr(digitsEnd);

    std::vector<double> params;
    if (comma != std::string_view::npos) {
        std::string_view rest = def.substr(comma + 1);
        while (!rest.empty()) {
            const std::size_t x = rest.find('X');
            const std::string_view piece = rest.substr(0, x);
            rest = x == std::string_view::npos ? std::string_view() : rest.substr(x + 1);
            if (piece.empty()) continue;
            params.push_back(readFinite(trimWhitespaceAndNewlines(piece)).value_or(0.0));
        }
    }
    auto length = [&](std::size_t i) -> double {
        if (i >= params.size()) return 0.0;
        const double v = params[i] * mmPerUnit_;
        return std::isfinite(v) ? v : 0.0;
    };

    std::optional<ApertureShape> shape;
    const auto macro = macros_.find(templateName);
    const char last = head.back();
    if (macro == macros_.end() && last == 'C') {
        shape = ApertureShape::circle(length(0));
    } else if (macro == macros_.end() && (last == 'R' || last == 'O')) {
        const double w = length(0);
        const double h = params.size() >= 2 ? length(1) : w;
        shape = last == 'R' ? ApertureShape::rectangle(w, h) : ApertureShape::obround(w, h);
    } else if (macro == macros_.end() && last == 'P') {
        std::int64_t vertices = 6;
        if (params.size() >= 2) {
            const auto v = ApertureMacro::truncatedCount(params[1]);
            if (!v) return;  // a count beyond any integer: not a shape we can keep
            vertices = *v;
        }
        shape = ApertureShape::polygon(length(0), vertices, params.size() >= 3 ? params[2] : 0.0);
    } else {
        double measured = 0;
        std::optional<std::vector<Contour>> outline;
        if (macro != macros_.end()) {
            measured = measuredMacro(macro->second) * mmPerUnit_;
            if (!std::isfinite(measured)) measured = 0;
            outline = ApertureMacro::evaluate(macro->second.statements, params, mmPerUnit_, macroWorkBudget_);
        }
        // What the evaluated outline covers is exact; the estimate from the body's plain numbers is
        // only a fallback (it reads Eagle's "1.08239X$1" octagon as 22.5 units wide).
        double extent = 0;
        if (outline) {
            for (const Contour& c : *outline)
                for (const Vec2& p : c) extent = std::max(extent, std::sqrt(p.x * p.x + p.y * p.y));
        }
        double diameter = measured;
        if (extent > 0 && std::isfinite(extent)) {
            diameter = extent * 2;
        } else if (!(measured > 0)) {
            noteInternal("Aperture macro '" + std::string(templateName) +
                         "' could not be measured; using 1mm approximation.");
            diameter = 1.0;
        }
        shape = ApertureShape::macro(std::string(templateName), diameter, std::move(outline));
    }

    ApertureShapes shapes;
    if (const auto* m = shape->as<ApertureShape::Macro>(); m && m->outline) {
        for (const Contour& c : *m->outline) shapes.outlinePoints += c.size();
    }
    shapes.shape = *shape;
    apertures_.insert_or_assign(code, Aperture{code, std::move(*shape), std::nullopt});
    apertureShapes_.insert_or_assign(code, std::move(shapes));
    if (currentAperture_ && *currentAperture_ == code) selectAperture(code);
}

// --- words ---------------------------------------------------------------------------------------

void GerberReader::handleComment(std::string_view word) {
    // The attribute form for older readers: "G04 #@! TF.FileFunction,<value>".
    std::string_view rest = trimSpacesTabs(word.substr(3));
    if (!rest.starts_with("#@!")) return;
    rest = trimSpacesTabs(rest.substr(3));
    constexpr std::string_view key = "TF.FileFunction,";
    if (!rest.starts_with(key) || fileFunctionFromAttribute_) return;
    fileFunction_ = std::string(trimSpacesTabs(rest.substr(key.size())));
}

void GerberReader::handleGCode(std::string_view code) {
    if (code == "G01" || code == "G1") {
        interpolation_ = Interpolation::linear;
    } else if (code == "G02" || code == "G2") {
        interpolation_ = Interpolation::clockwise;
    } else if (code == "G03" || code == "G3") {
        interpolation_ = Interpolation::counterClockwise;
    } else if (code == "G74") {
        quadrant_ = QuadrantMode::single;
    } else if (code == "G75") {
        quadrant_ = QuadrantMode::multi;
    } else if (code == "G36") {
        inRegion_ = true;
        contours_.clear();
        currentContour_.clear();
    } else if (code == "G37") {
        finishContour();
        inRegion_ = false;
        emitRegion();
    } else if (code == "G70") {
        mmPerUnit_ = 25.4;
        unitSeen_ = true;
    } else if (code == "G71") {
        mmPerUnit_ = 1.0;
        unitSeen_ = true;
    } else if (code == "G90") {
        incremental_ = false;
    } else if (code == "G91") {
        incremental_ = true;
    }
}

void GerberReader::selectAperture(std::int64_t code) {
    currentAperture_ = code;
    const auto it = apertureShapes_.find(code);
    currentShapes_ = it == apertureShapes_.end() ? nullptr : &it->second;
    currentRadius_ = currentShapes_ ? currentShapes_->shape->boundingDiameter() * 0.5 : 0.0;
}

void GerberReader::handleWord(std::string_view word, std::size_t readable) {
    const char first = word[0];
    if (first == 'G') {
        if (word.starts_with("G04")) {
            handleComment(word);
            return;
        }
        if (word == "G54" || word == "G55") return;
    } else if (first == 'M' && word.size() >= 2 && (word[1] == '0' || word[1] == '2')) {
        return;
    }

    std::string_view body = word;
    if (first == 'G') {
        // The code is "G" and its digits, so "G1X100Y100D01" keeps its coordinates.
        std::size_t n = 1;
        while (n < word.size() && word[n] >= '0' && word[n] <= '9') ++n;
        handleGCode(word.substr(0, n));
        body = word.substr(n);
        if (body.empty()) return;
    }

    WordFields f;
    const std::size_t bodyReadable = readable - static_cast<std::size_t>(body.data() - word.data());
    if (!splitWord(body, bodyReadable, first != 'G', f)) {
        // A "G" inside a word that does not start with one: its first three characters are the code.
        handleGCode(word.substr(0, 3));
        body = word.substr(std::min<std::size_t>(3, word.size()));
        if (body.empty()) return;
        f = WordFields{};
        splitWord(body, body.size(), false, f);
    }
    const std::string_view xs = f.xs, ys = f.ys, is = f.is, js = f.js;
    const bool hasX = f.hasX, hasY = f.hasY, hasI = f.hasI, hasJ = f.hasJ;
    std::optional<std::int64_t> dCode;
    if (f.hasD) {
        std::int64_t d = 0;
        if (readInteger(f.ds, d)) dCode = d;
    }

    const bool hasCoordinates = hasX || hasY || hasI || hasJ;
    if (!hasCoordinates && !dCode) return;
    if (dCode && *dCode >= 10) {
        selectAperture(*dCode);
        return;
    }
    // A word without a D code repeats the last of D01, D02 and D03.
    const std::int64_t d = dCode ? *dCode : modalDCode_;
    if (d < 1 || d > 3) return;
    modalDCode_ = d;

    const Vec2 target = incremental_ ? Vec2{point_.x + (hasX ? coordinateValue(xs) : 0.0),
                                            point_.y + (hasY ? coordinateValue(ys) : 0.0)}
                                     : Vec2{hasX ? coordinateValue(xs) : point_.x, hasY ? coordinateValue(ys) : point_.y};
    // Every coordinate read is finite; only a sum of incremental moves can pass the largest double. Such a
    // move is left out whole: the current point stays where it was, so what follows is drawn from there.
    if (!target.isFinite()) {
        warn(kWarnIncrementalOverflow);
        return;
    }
    switch (d) {
    case 1:
        emitDrawOrArc(target, hasI ? std::optional<double>(coordinateValue(is)) : std::nullopt,
                      hasJ ? std::optional<double>(coordinateValue(js)) : std::nullopt);
        break;
    case 2:
        if (inRegion_) finishContour();
        break;
    case 3:
        emitFlash(target);
        break;
    default:
        break;
    }
    point_ = target;
}

double GerberReader::coordinateValue(std::string_view text) const {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    std::array<char, kMaxPaddedDigits> padded;
    if (trailingZeroOmission_) {
        const std::int64_t wanted = std::min<std::int64_t>(static_cast<std::int64_t>(kMaxPaddedDigits), intDigits_ + decDigits_);
        const auto target = static_cast<std::size_t>(wanted);
        if (text.size() < target) {
            std::memcpy(padded.data(), text.data(), text.size());
            std::memset(padded.data() + text.size(), '0', target - text.size());
            text = std::string_view(padded.data(), target);
        }
    }
    double n = 0;
    if (const auto whole = parseDigits(text)) {
        n = static_cast<double>(*whole);  // exact below 2^53, correctly rounded above, as a full parse
    } else if (const auto v = readFinite(text)) {
        n = *v;
    } else {
        return 0.0;
    }
    const double value = (negative ? -n : n) * mmPerUnit_ / kPow10[static_cast<std::size_t>(decDigits_)];
    return std::isfinite(value) ? value : 0.0;
}

// The object is built in place in the table, which was reserved for every object the text can make. The
// caller sets the kind, then finishObject fills the box.
PCBObject& GerberReader::newObject(bool withAperture) {
    // The table is written once, front to back, into memory that is not in cache yet: ask for the lines of
    // an object a few places ahead so that they arrive before it is built.
    if (objects_.capacity() - objects_.size() > kPrefetchObjects) {
        const char* ahead = reinterpret_cast<const char*>(objects_.data() + objects_.size() + kPrefetchObjects);
        for (std::size_t line = 0; line < sizeof(PCBObject); line += 64) __builtin_prefetch(ahead + line, 1, 3);
    }
    built_.object();
    PCBObject& o = objects_.emplace_back();
    if (withAperture) {
        o.setApertureCode(currentAperture_);
        if (ApertureShapes* shapes = currentShapes_) {
            if (shapes->outlinePoints > 0 && shapes->outlinePoints > outlinePointBudget_) {
                // Past the budget a macro flash keeps its size but not its outline.
                if (!shapes->withoutOutline) {
                    ApertureShape shape = *shapes->shape;
                    shape.as<ApertureShape::Macro>()->outline.reset();
                    shapes->withoutOutline = std::move(shape);
                }
                o.apertureShape = shapes->withoutOutline;
            } else {
                outlinePointBudget_ -= shapes->outlinePoints;
                o.apertureShape = shapes->shape;
            }
        }
    }
    o.polarity = polarity_;
    if (namesChanged_) {
        // The last record serves again when the names came back to it (a TD and the same TO); otherwise the
        // objects from here on get a record of their own. A file that names every pad apart makes one per pad.
        ObjectAttributes names{net_, component_, pin_, aperFunction_};
        if (names_ ? !(*names_ == names) : !names.empty()) names_ = sharedAttributes(std::move(names));
        namesChanged_ = false;
    }
    o.setAttributes(names_);
    o.index = static_cast<std::int64_t>(objects_.size() - 1);
    return o;
}

void GerberReader::dropNotFinite() {
    objects_.pop_back();
    warn(kWarnNotFinite);
}

void GerberReader::finishObject(PCBObject& o) {
    o.bbox = PCBObject::computeBBox(o.kind, o.apertureShape);
    if (!o.isFinite()) {
        dropNotFinite();
        return;
    }
    // The document's box, grown in file order while the object is still in cache.
    if (o.bbox.isValid()) bbox_.include(o.bbox);
}

// Strokes and flashes are nearly every object; their box is the points grown by the aperture's half
// size, the same steps PCBObject::computeBBox takes, with the half size worked out once per aperture.
void GerberReader::emitStroke(Vec2 from, Vec2 to) {
    const double r = currentShapes_ ? currentRadius_ : 0.0;
    if (!reachesFinitely(from, r) || !reachesFinitely(to, r)) {
        warn(kWarnNotFinite);
        return;
    }
    PCBObject& o = newObject(true);
    o.kind.emplace<PCBObjectKind::Stroke>(PCBObjectKind::Stroke{from, to});
    BBox box = BBox::empty();
    box.include(Vec2{from.x - r, from.y - r});
    box.include(Vec2{from.x + r, from.y + r});
    box.include(Vec2{to.x - r, to.y - r});
    box.include(Vec2{to.x + r, to.y + r});
    o.bbox = box;
    if (box.isValid()) bbox_.include(box);
}

void GerberReader::emitDrawOrArc(Vec2 target, std::optional<double> rawI, std::optional<double> rawJ) {
    const bool circular = interpolation_ != Interpolation::linear;
    if (inRegion_) {
        if (currentContour_.empty()) addContourPoint(point_);
        if (circular) appendRegionArc(target, arcCenter(target, rawI.value_or(0.0), rawJ.value_or(0.0)));
        else addContourPoint(target);
        return;
    }
    if (!currentAperture_) return;
    if (!circular) {
        emitStroke(point_, target);
        return;
    }
    const Vec2 center = arcCenter(target, rawI.value_or(0.0), rawJ.value_or(0.0));
    PCBObject& o = newObject(true);
    o.kind.emplace<PCBObjectKind::ArcStroke>(
        PCBObjectKind::ArcStroke{point_, target, center, interpolation_ == Interpolation::clockwise});
    finishObject(o);
}

void GerberReader::emitFlash(Vec2 at) {
    if (!currentAperture_) return;
    const double r = currentShapes_ ? currentRadius_ : 0.0;
    if (!reachesFinitely(at, r)) {
        warn(kWarnNotFinite);
        return;
    }
    PCBObject& o = newObject(true);
    o.kind.emplace<PCBObjectKind::Flash>(PCBObjectKind::Flash{at});
    BBox box = BBox::empty();
    box.include(Vec2{at.x - r, at.y - r});
    box.include(Vec2{at.x + r, at.y + r});
    o.bbox = box;
    if (box.isValid()) bbox_.include(box);
}

namespace {
// How far a centre is from being one: the difference of its distances to the two ends.
double fitError(Vec2 c, Vec2 start, Vec2 end) { return std::abs(distance(c, end) - distance(c, start)); }

// Rounded coordinates leave a small mismatch on true centres.
bool fits(Vec2 c, Vec2 start, Vec2 end) {
    const double err = fitError(c, start, end);
    return std::isfinite(err) && err <= 0.005 + 0.01 * distance(c, start);
}

// Angle swept from start to end about c in the given direction, in [0, 2π).
double sweep(Vec2 c, Vec2 start, Vec2 end, bool clockwise) {
    const double a0 = std::atan2(start.y - c.y, start.x - c.x);
    const double a1 = std::atan2(end.y - c.y, end.x - c.x);
    double s = clockwise ? a0 - a1 : a1 - a0;
    while (s < 0) s += kTwoPi;
    while (s >= kTwoPi) s -= kTwoPi;
    return s;
}
} // namespace

Vec2 GerberReader::singleQuadrantCenter(Vec2 target, double i, double j) const {
    const Vec2 s = point_;
    const double ai = std::abs(i), aj = std::abs(j);
    const std::array<Vec2, 4> candidates = {Vec2{s.x - ai, s.y - aj}, Vec2{s.x - ai, s.y + aj},
                                            Vec2{s.x + ai, s.y - aj}, Vec2{s.x + ai, s.y + aj}};
    const bool clockwise = interpolation_ == Interpolation::clockwise;
    // First the candidates whose arc is at most a quarter turn in the drawing direction.
    int best = -1;
    double bestError = 0;
    for (int k = 0; k < 4; ++k) {
        const Vec2 c = candidates[static_cast<std::size_t>(k)];
        if (!fits(c, s, target) || sweep(c, s, target, clockwise) > kQuarterSweepLimit) continue;
        const double err = fitError(c, s, target);
        if (best < 0 || err < bestError) {
            best = k;
            bestError = err;
        }
    }
    if (best >= 0) return candidates[static_cast<std::size_t>(best)];
    // Otherwise the best fit of all four; ties keep the earlier, non-finite errors never win.
    best = -1;
    for (int k = 0; k < 4; ++k) {
        const double err = fitError(candidates[static_cast<std::size_t>(k)], s, target);
        if (!std::isfinite(err)) continue;
        if (best < 0 || err < bestError) {
            best = k;
            bestError = err;
        }
    }
    return candidates[static_cast<std::size_t>(best < 0 ? 3 : best)];
}

Vec2 GerberReader::arcCenter(Vec2 target, double i, double j) const {
    const Vec2 multi{point_.x + i, point_.y + j};
    switch (quadrant_) {
    case QuadrantMode::multi:
        return multi;
    case QuadrantMode::single:
        return singleQuadrantCenter(target, i, j);
    case QuadrantMode::unset:
        break;
    }
    return fits(multi, point_, target) ? multi : singleQuadrantCenter(target, i, j);
}

void GerberReader::appendRegionArc(Vec2 target, Vec2 c) {
    const Vec2 s = point_;
    const double r = distance(c, s);
    if (!(r > 1e-9) || !std::isfinite(r)) {
        addContourPoint(target);
        return;
    }
    const double a0 = std::atan2(s.y - c.y, s.x - c.x);
    double a1 = std::atan2(target.y - c.y, target.x - c.x);
    if (interpolation_ == Interpolation::clockwise) {
        while (a1 >= a0) a1 -= kTwoPi;
    } else {
        while (a1 <= a0) a1 += kTwoPi;
    }
    const double span = a1 - a0;
    const auto steps = ApertureMacro::truncatedCount(std::ceil(std::abs(span) / kTenDegrees));
    if (!steps) {
        addContourPoint(target);
        return;
    }
    const std::int64_t n = std::max<std::int64_t>(4, *steps);
    for (std::int64_t k = 1; k <= n; ++k) {
        const double t = a0 + span * static_cast<double>(k) / static_cast<double>(n);
        addContourPoint(Vec2{c.x + r * std::cos(t), c.y + r * std::sin(t)});
    }
}

void GerberReader::addContourPoint(Vec2 p) {
    built_.vertices(1);
    currentContour_.push_back(p);
}

void GerberReader::finishContour() {
    if (currentContour_.size() >= 3) contours_.emplace_back(currentContour_.begin(), currentContour_.end());
    currentContour_.clear();
}

void GerberReader::emitRegion() {
    if (contours_.empty()) return;
    std::vector<Contour> contours(std::make_move_iterator(contours_.begin()), std::make_move_iterator(contours_.end()));
    contours_.clear();
    PCBObject& o = newObject(false);
    o.kind.emplace<PCBObjectKind::Region>(PCBObjectKind::Region{std::move(contours)});
    finishObject(o);
}

// --- decoding ------------------------------------------------------------------------------------

GerberParseResult parseBytes(std::string_view bytes) {
    bytes = droppingUTF8BOM(bytes);
    std::string latin1;
    std::string_view text = bytes;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const TextCensus census = takeCensus(bytes);
    if (!census.ascii && !isValidUTF8(bytes)) {
        latin1 = latin1ToUTF8(std::span<const std::uint8_t>(raw, bytes.size()));
        text = latin1;  // '*' stays one byte: the count holds
    }
    if (trimWhitespaceAndNewlines(text).empty()) throw GerberParseError::emptyInput();
    GerberReader reader(text, census.stars);
    return reader.run(text);
}

} // namespace

GerberDocument GerberParser::parse(std::string_view fileName, std::span<const std::uint8_t> data) const {
    return parseWithWarnings(fileName, data).document;
}

GerberDocument GerberParser::parse(std::string_view fileName, std::string_view text) const {
    return parseWithWarnings(fileName, text).document;
}

GerberParseResult GerberParser::parseWithWarnings(std::string_view fileName, std::span<const std::uint8_t> data) const {
    return parseWithWarnings(fileName, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

GerberParseResult GerberParser::parseWithWarnings(std::string_view, std::string_view text) const {
    return parseBytes(text);
}

} // namespace corvane
