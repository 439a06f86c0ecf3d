#include "LayerClassifier.hpp"

#include "model/Format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace corvane {

namespace {

// Keywords, extensions and markers are all ASCII, so ASCII case mapping is enough; non-ASCII
// letters keep their case.
std::string upperASCII(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool contains(std::string_view hay, std::string_view needle) { return hay.find(needle) != std::string_view::npos; }
bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A whole ASCII digit run as a number; none on overflow or an empty run.
std::optional<std::int64_t> digitsValue(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (!isDigit(c)) return std::nullopt;
    std::int64_t v = 0;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return std::nullopt;
    return v;
}

// The number n of "<prefix><digits>", e.g. 12 for "g12" with prefix "g".
std::optional<std::int64_t> numberedForm(std::string_view token, std::string_view prefix) {
    if (token.size() <= prefix.size() || token.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return digitsValue(token.substr(prefix.size()));
}

// The extension is the text after the last "." of the name, unless that "." starts the name.
struct NameParts {
    std::string lower;
    std::string ext;
    std::string stem;
};

// The letters of Latin-1 (U+00C0-U+00FF as UTF-8 "C3 xx") folded to their ASCII base letters, so that
// Lötstopp, Loetstopp and LÖTSTOPP, or sérigraphie and Serigraphie, meet one keyword.
std::string foldLatinLetters(std::string_view lower) {
    static constexpr std::string_view bases[64] = {
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
        "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "ss",
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
        "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "y",
    };
    std::string out;
    out.reserve(lower.size());
    for (std::size_t i = 0; i < lower.size(); ++i) {
        const auto c = static_cast<unsigned char>(lower[i]);
        const auto next = i + 1 < lower.size() ? static_cast<unsigned char>(lower[i + 1]) : 0;
        if (c == 0xC3 && next >= 0x80 && next <= 0xBF && !bases[next - 0x80].empty()) {
            out += bases[next - 0x80];
            ++i;
        } else {
            out += lower[i];
        }
    }
    return out;
}

NameParts splitName(std::string_view fileName) {
    NameParts p;
    p.lower = foldLatinLetters(asciiLower(fileName));
    const auto dot = p.lower.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        p.stem = p.lower;
    } else {
        p.ext = p.lower.substr(dot + 1);
        p.stem = p.lower.substr(0, dot);
    }
    return p;
}

// Text layer files hold no control characters but tabs, line and page breaks and an old DOS end-of-file mark;
// a head of which more than a tenth are others is binary.
bool binaryHead(std::string_view head) {
    constexpr double kBinaryShare = 0.1;
    std::size_t control = 0;
    for (char ch : head) {
        const auto c = static_cast<unsigned char>(ch);
        const bool textControl = c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0x1A;
        if ((c < 0x20 && !textControl) || c == 0x7F) ++control;
    }
    return static_cast<double>(control) > kBinaryShare * static_cast<double>(head.size());
}

// What the first part of a file's content shows, worked out once per detection.
struct HeadFacts {
    bool gerberFormat = false;   // "%FS": a Gerber format statement
    bool excellonWords = false;  // M48, FMAT, METRIC or INCH in any case
    bool x2Marks = false;        // X2 attributes, or their comment form
    bool m48 = false;
    bool t01 = false;            // "T01" in any case
    bool toolLine = false;       // a line starting "T<digits>C"
    // Altium's "G04 Layer_Physical_Order=<n>*": the layer's place in the stack, 1 being the top.
    std::optional<std::int64_t> physicalOrder;

    explicit HeadFacts(std::string_view head) {
        const std::string upper = upperASCII(head);
        constexpr std::string_view orderMark = "LAYER_PHYSICAL_ORDER=";
        if (const auto at = upper.find(orderMark); at != std::string::npos) {
            const std::string_view rest = std::string_view(upper).substr(at + orderMark.size());
            std::size_t end = 0;
            while (end < rest.size() && isDigit(rest[end])) ++end;
            physicalOrder = digitsValue(rest.substr(0, end));
        }
        gerberFormat = contains(upper, "%FS");
        excellonWords = contains(upper, "M48") || contains(upper, "FMAT") || contains(upper, "METRIC") ||
                        contains(upper, "INCH");
        x2Marks = contains(upper, "%TF.") || contains(upper, "%TA.") || contains(upper, "%TO.") ||
                  contains(upper, "#@! T");
        m48 = contains(head, "M48");
        t01 = contains(upper, "T01");
        std::size_t start = 0;
        while (start < head.size() && !toolLine) {
            std::size_t end = head.find_first_of("\r\n", start);
            if (end == std::string_view::npos) end = head.size();
            std::string_view line = head.substr(start, end - start);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
            if (line.size() >= 3 && line[0] == 'T' && isDigit(line[1])) {
                std::size_t i = 1;
                while (i < line.size() && isDigit(line[i])) ++i;
                toolLine = i < line.size() && line[i] == 'C';
            }
            start = end + 1;
        }
    }

    // Excellon words without a Gerber format statement mean a drill file.
    SourceFormat format() const {
        if (excellonWords && !gerberFormat) return SourceFormat::excellon;
        if (x2Marks) return SourceFormat::gerberX2;
        return SourceFormat::gerberRS274X;
    }
    // CAD tools name both drill files and text reports ".txt": only real drill content counts.
    bool drillText() const { return (m48 || toolLine) && !gerberFormat; }
};

// A role found by name goes to the Excellon reader when it is a drill role and the head shows
// no Gerber format statement (headerless NC drill files carry no Excellon words at all).
SourceFormat formatFor(const LayerType& type, const HeadFacts& facts) {
    if (type.isDrill() && !facts.gerberFormat) return SourceFormat::excellon;
    return facts.format();
}

enum class Role : std::uint8_t { copperTop, copperBottom, copperInner, maskTop, maskBottom, silkTop, silkBottom, pasteTop, pasteBottom, outline, drill };

struct ExtensionRule {
    std::string_view token;
    Role role;
};

constexpr ExtensionRule extensionTable[] = {
    {"gtl", Role::copperTop}, {"top", Role::copperTop}, {"gt", Role::copperTop}, {"cmp", Role::copperTop},
    {"gbl", Role::copperBottom}, {"bot", Role::copperBottom}, {"gb", Role::copperBottom}, {"sol", Role::copperBottom},
    {"gts", Role::maskTop}, {"gbs", Role::maskBottom}, {"smt", Role::maskTop}, {"smb", Role::maskBottom},
    {"sts", Role::maskBottom}, {"stc", Role::maskTop}, {"tsm", Role::maskTop}, {"bsm", Role::maskBottom},
    {"gto", Role::silkTop}, {"gbo", Role::silkBottom}, {"plt", Role::silkTop}, {"plb", Role::silkBottom},
    {"sot", Role::silkTop}, {"sob", Role::silkBottom}, {"sst", Role::silkTop}, {"ssb", Role::silkBottom},
    {"plc", Role::silkTop}, {"pls", Role::silkBottom}, {"tsk", Role::silkTop}, {"bsk", Role::silkBottom},
    {"gtp", Role::pasteTop}, {"gbp", Role::pasteBottom}, {"cpt", Role::pasteTop}, {"crb", Role::pasteBottom},
    {"crc", Role::pasteTop}, {"crs", Role::pasteBottom}, {"tsp", Role::pasteTop}, {"bsp", Role::pasteBottom},
    {"spt", Role::pasteTop}, {"spb", Role::pasteBottom},
    {"gko", Role::outline}, {"gml", Role::outline}, {"out", Role::outline}, {"kee", Role::outline}, {"brd", Role::outline},
    // Eagle's milling and dimension layers hold the board's edge, as does pcb-rnd's board boundary in its
    // Eagle-style job.
    {"mil", Role::outline}, {"dim", Role::outline}, {"oln", Role::outline},
    {"txt", Role::drill}, {"drl", Role::drill}, {"drd", Role::drill}, {"xln", Role::drill}, {"nc", Role::drill},
    {"tap", Role::drill}, {"exc", Role::drill}, {"drills", Role::drill}, {"cnc", Role::drill}, {"ncd", Role::drill},
    // Allegro's NC route files (routed slots and cut-outs) and Zuken's drill data are Excellon.
    {"rou", Role::drill}, {"fdr", Role::drill},
    // TARGET 3001! names each file by its layer.
    {"positop", Role::silkTop}, {"posibot", Role::silkBottom}, {"stoptop", Role::maskTop}, {"stopbot", Role::maskBottom},
    {"pastetop", Role::pasteTop}, {"pastebot", Role::pasteBottom}, {"outline", Role::outline}, {"drill", Role::drill},
    // Inner layers written as fixed extensions: the digit is the layer number.
    {"in1", Role::copperInner}, {"in2", Role::copperInner}, {"in3", Role::copperInner},
    {"in4", Role::copperInner}, {"in5", Role::copperInner}, {"in6", Role::copperInner},
};

// Whole file names without an extension that name a layer: a CAM tool's two letters, side then layer, as
// Protel's extensions without their "G" (tl, bl copper; ts, bs mask; to, bo legend; ko the keep-out outline),
// and the drill data beside them (drl).
constexpr ExtensionRule bareNameTable[] = {
    {"tl", Role::copperTop}, {"bl", Role::copperBottom}, {"ts", Role::maskTop}, {"bs", Role::maskBottom},
    {"to", Role::silkTop},   {"bo", Role::silkBottom},   {"ko", Role::outline},  {"drl", Role::drill},
};

// German short names, bare or as the stem of a generic Gerber name (sieb0.grb): 0 the solder side (bottom),
// 1 the component side (top), as the films themselves are titled; sieb is the paste screen ("Solder Paste"),
// stp the Stopplack ("Solder Resist"). Unlike two letters, these words say a layer wherever they stand.
constexpr ExtensionRule germanNameTable[] = {
    {"sieb0", Role::pasteBottom}, {"sieb1", Role::pasteTop}, {"stp0", Role::maskBottom}, {"stp1", Role::maskTop},
};

// Extensions that say "Gerber" without saying which layer: the stem decides.
constexpr std::array<std::string_view, 7> genericExtensions{"gbr", "art", "pho", "ger", "gerber", "grb", "gdo"};

constexpr auto allKnownExtensions = [] {
    // Mechanical layers are files too: they pass the name filter and come out unknown.
    std::array<std::string_view, std::size(extensionTable) + genericExtensions.size() + 1> all{};
    std::size_t i = 0;
    for (const auto& r : extensionTable) all[i++] = r.token;
    for (auto g : genericExtensions) all[i++] = g;
    all[i++] = "gm";
    return all;
}();

bool isGeneric(std::string_view ext) {
    for (auto g : genericExtensions)
        if (ext == g) return true;
    return false;
}

LayerType typeOf(Role r, std::int64_t innerNumber = 1) {
    switch (r) {
    case Role::copperInner: return LayerType::copper(CopperLayerID::inner(innerNumber));
    case Role::copperTop: return LayerType::copper(CopperLayerID::top());
    case Role::copperBottom: return LayerType::copper(CopperLayerID::bottom());
    case Role::maskTop: return LayerType::solderMask(CopperLayerID::top());
    case Role::maskBottom: return LayerType::solderMask(CopperLayerID::bottom());
    case Role::silkTop: return LayerType::silkscreen(CopperLayerID::top());
    case Role::silkBottom: return LayerType::silkscreen(CopperLayerID::bottom());
    case Role::pasteTop: return LayerType::paste(CopperLayerID::top());
    case Role::pasteBottom: return LayerType::paste(CopperLayerID::bottom());
    case Role::outline: return LayerType::outline();
    case Role::drill: return LayerType::drill();
    }
    return LayerType::unknown();
}

// A German short name, bare or as a generic name's stem.
std::optional<LayerType> germanNameLayerType(std::string_view lowerStem) {
    for (const auto& r : germanNameTable)
        if (r.token == lowerStem) return typeOf(r.role);
    return std::nullopt;
}

// A whole name without an extension from the bare-name tables.
std::optional<LayerType> bareNameLayerType(std::string_view lowerName) {
    for (const auto& r : bareNameTable)
        if (r.token == lowerName) return typeOf(r.role);
    return germanNameLayerType(lowerName);
}

// Altium mechanical layers (gm, gm<n>) hold drawing sheets, dimensions or the outline, often
// far larger than the board: never take them for the outline.
bool mechanicalLayer(std::string_view token) { return token == "gm" || numberedForm(token, "gm").has_value(); }

// The extension table: a lower-case token to its layer role.
std::optional<LayerType> extensionLayerType(std::string_view token, const HeadFacts& facts) {
    if (mechanicalLayer(token)) return std::nullopt;
    // Altium numbers inner signal (g<n>) and plane (gp<n>) layers without limit.
    for (std::string_view prefix : {"gp", "g"}) {
        if (auto n = numberedForm(token, prefix)) {
            if (*n >= 1) return LayerType::copper(CopperLayerID::inner(*n));
            return std::nullopt;
        }
    }
    if (token == "txt" || numberedForm(token, "tx")) {
        if (facts.drillText()) return LayerType::drill();
        return std::nullopt;
    }
    for (const auto& r : extensionTable)
        if (r.token == token) return typeOf(r.role, r.role == Role::copperInner ? token.back() - '0' : 1);
    return std::nullopt;
}

// Gerber X2 file function, e.g. "Copper,L2,Inr" or "Soldermask,Bot".
std::optional<LayerType> fileFunctionLayerType(std::string_view function) {
    const std::string f = asciiLower(function);
    auto side = [&] { return contains(f, "bot") ? CopperLayerID::bottom() : CopperLayerID::top(); };
    if (f.rfind("copper", 0) == 0) {
        std::vector<std::string_view> fields;
        std::string_view rest = f;
        while (true) {
            const auto comma = rest.find(',');
            std::string_view field = rest.substr(0, comma);
            if (!field.empty()) fields.push_back(field);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (fields.size() < 3) return LayerType::copper(CopperLayerID::top());
        std::string_view number = fields[1].substr(1);
        std::int64_t n = 0;
        if (number.empty() || !parseInt64(number, n) || n == std::numeric_limits<std::int64_t>::min())
            return LayerType::copper(CopperLayerID::top());
        if (fields[2] == "bot") return LayerType::copper(CopperLayerID::bottom());
        if (fields[2] == "inr") return LayerType::copper(CopperLayerID::inner(n - 1 < 1 ? 1 : n - 1));
        return LayerType::copper(CopperLayerID::top());
    }
    if (f.rfind("soldermask", 0) == 0) return LayerType::solderMask(side());
    if (f.rfind("legend", 0) == 0) return LayerType::silkscreen(side());
    if (f.rfind("paste", 0) == 0) return LayerType::paste(side());
    if (f.rfind("profile", 0) == 0) return LayerType::outline();
    if (contains(f, "plated") || contains(f, "drill")) return LayerType::drill();
    return std::nullopt;
}

// The number of the leftmost "<word><digits><tail>" in s, e.g. "in12-cu"; the match must have
// at least one digit. `found` says whether any match exists (its digits may still overflow).
std::optional<std::int64_t> firstNumbered(std::string_view s, std::string_view word, std::string_view tail, bool& found) {
    found = false;
    for (std::size_t at = s.find(word); at != std::string_view::npos; at = s.find(word, at + 1)) {
        const std::size_t digits = at + word.size();
        std::size_t end = digits;
        while (end < s.size() && isDigit(s[end])) ++end;
        if (end == digits) continue;
        if (s.compare(end, tail.size(), tail) != 0) continue;
        found = true;
        return digitsValue(s.substr(digits, end - digits));
    }
    return std::nullopt;
}

// KiCad layer names: F.Cu, B_Mask, In3.Cu, Edge.Cuts and friends, however separated.
std::optional<LayerType> kicadLayerType(std::string_view name) {
    std::string s = asciiLower(name);
    for (char& c : s)
        if (c == '_' || c == '.' || c == ' ') c = '-';
    if (endsWith(s, "f-cu") || s == "fcu") return LayerType::copper(CopperLayerID::top());
    if (endsWith(s, "b-cu") || s == "bcu") return LayerType::copper(CopperLayerID::bottom());
    bool found = false;
    if (auto n = firstNumbered(s, "in", "-cu", found)) return LayerType::copper(CopperLayerID::inner(*n));
    struct Suffix { std::string_view text; Role role; };
    static constexpr Suffix suffixes[] = {
        {"f-mask", Role::maskTop}, {"b-mask", Role::maskBottom}, {"f-silkscreen", Role::silkTop},
        {"f-silks", Role::silkTop}, {"b-silkscreen", Role::silkBottom}, {"b-silks", Role::silkBottom},
        {"f-paste", Role::pasteTop}, {"b-paste", Role::pasteBottom}, {"edge-cuts", Role::outline},
    };
    for (const auto& sfx : suffixes)
        if (endsWith(s, sfx.text)) return typeOf(sfx.role);
    return std::nullopt;
}

// The ASCII letter-and-digit runs of a name.
std::vector<std::string_view> nameWords(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && !isAlnum(s[i])) ++i;
        const std::size_t start = i;
        while (i < s.size() && isAlnum(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool containsAny(std::string_view hay, std::span<const std::string_view> needles) {
    for (auto n : needles)
        if (contains(hay, n)) return true;
    return false;
}

bool isAnyOf(std::string_view word, std::span<const std::string_view> words) {
    for (auto w : words)
        if (word == w) return true;
    return false;
}

// Whole words that name a side of the board.
constexpr std::string_view kBottomSideWords[] = {"bottom", "bot", "back", "sec", "secondary"};
constexpr std::string_view kTopSideWords[] = {"top", "front", "primary"};

// Side words of layer names, in English and as German, French, Spanish, Italian and Dutch tools write them
// (after folding accents). Compound words ("Kupferoben") hold them too, so they are searched as text.
constexpr std::string_view kBottomWords[] = {"unten", "unterseite", "loetseite", "lotseite", "dessous",
                                             "inferieur", "inferior", "onder"};
constexpr std::string_view kTopWords[] = {"oben", "oberseite", "dessus", "superieur", "superior", "boven"};

// "sec"/"secondary" is the bottom side in several CAD tools' layer names.
bool namesSecondarySide(std::string_view lower) {
    if (contains(lower, "secondary")) return true;
    for (auto w : nameWords(lower))
        if (w == "sec") return true;
    return false;
}

bool namesLocalBottom(std::string_view lower) { return containsAny(lower, kBottomWords); }

// Within one edit (a letter left out, added, changed or two swapped) of `word`: the misspellings that
// reach fabrication ("Outine", "Oultine", "Boardoutlline").
bool withinOneEdit(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 1) return false;
    std::size_t i = 0;
    while (i < a.size() && a[i] == b[i]) ++i;
    if (i == a.size()) return true;
    if (a.size() == b.size()) {
        if (a.substr(i + 1) == b.substr(i + 1)) return true;
        return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] && a.substr(i + 2) == b.substr(i + 2);
    }
    return a.substr(i) == b.substr(i + 1);
}

// A word ending in "outline", perhaps misspelt by one letter.
bool namesOutlineLoosely(std::string_view lower) {
    constexpr std::string_view target = "outline";
    for (auto w : nameWords(lower))
        for (std::size_t len = target.size() - 1; len <= target.size() + 1 && len <= w.size(); ++len)
            if (withinOneEdit(w.substr(w.size() - len), target)) return true;
    return false;
}

// Drawings of the holes (drill charts, symbol maps, legends) are documentation, whatever drill word they
// carry: DrillDrawingThrough.gdo, NCLEGEND-1-2.ger, board-PTH-drl_map.gbr, Bohrplan.gbr.
bool namesDrillDrawing(std::string_view lower) {
    static constexpr std::string_view drillWords[] = {"drill", "drl", "bohr", "percage", "taladr", "hole"};
    static constexpr std::string_view drawingWords[] = {"drawing", "draw", "dwg", "map", "chart", "legend",
                                                        "symbol", "plot", "plan", "photo", "zeichnung", "dessin"};
    if (contains(lower, "nclegend")) return true;
    return containsAny(lower, drillWords) && containsAny(lower, drawingWords);
}

// Drawings of the parts and of the fabrication, as their tools name them: OrCAD's and pcb-rnd's .ast and .asb
// (assembly, top and bottom), pcb-rnd's .fab, topassy and bottomassy, gEDA's board.fab.gbr, Xpedition's
// AssemblyTop.gdo, Allegro's fab1.art. They draw the pads on the holes as a mask or the copper would.
bool namesPartsDrawing(const NameParts& name) {
    static constexpr std::string_view extensions[] = {"ast", "asb", "fab"};
    static constexpr std::string_view words[] = {"fab", "fabrication", "assy", "topassy", "bottomassy", "assytop",
                                                 "assybot", "assybottom", "assembly", "assemblytop", "assemblybottom"};
    if (isAnyOf(name.ext, extensions)) return true;
    for (auto w : nameWords(name.lower))
        if (isAnyOf(w, words) || numberedForm(w, "fab")) return true;
    return false;
}

// A role found in a name, with its place in a numbered copper set when the name gives only that.
struct NamedRole {
    LayerType type;
    std::optional<CopperSetPlace> place = std::nullopt;
};

// Inner copper named by function (GND, GND2, PWR, VCC, Ground, Plane3): its rank orders it among the
// other inner layers so named, ground planes first and power planes last.
std::optional<std::int64_t> planeFunctionRank(std::string_view word) {
    static constexpr std::string_view ground[] = {"gnd", "ground"};
    static constexpr std::string_view power[] = {"pwr", "vcc", "vdd", "vee", "power", "plane"};
    auto bare = [](std::string_view w) {
        while (!w.empty() && isDigit(w.back())) w.remove_suffix(1);
        return w;
    };
    const std::string_view stem = bare(word);
    if (isAnyOf(stem, ground)) return 0;
    if (isAnyOf(stem, power)) return 2;
    return std::nullopt;
}

// The number a word ends with, when it has one ("gnd2" gives 2), else 0.
std::int64_t trailingNumber(std::string_view word) {
    std::size_t start = word.size();
    while (start > 0 && isDigit(word[start - 1])) --start;
    return digitsValue(word.substr(start)).value_or(0);
}

CopperSetPlace innerPlace(std::int64_t number, std::int64_t rank) {
    return CopperSetPlace{CopperSetPlace::Set::inner, number, rank};
}

LayerType provisionalInner(std::int64_t n) { return LayerType::copper(CopperLayerID::inner(n < 1 ? 1 : n)); }

// Free-form keywords in a lower-cased name, English first, then the words of other languages' tools.
std::optional<NamedRole> patternLayerType(std::string_view lower) {
    auto any = [&](std::initializer_list<std::string_view> words) {
        for (auto w : words)
            if (contains(lower, w)) return true;
        return false;
    };
    const auto words = nameWords(lower);
    auto anyWord = [&](std::initializer_list<std::string_view> list) {
        for (auto w : words)
            for (auto l : list)
                if (w == l) return true;
        return false;
    };
    const bool secondary = namesSecondarySide(lower) || namesLocalBottom(lower);
    auto sideA = [&] {
        return any({"bot", "bottom", "b-"}) || secondary ? CopperLayerID::bottom() : CopperLayerID::top();
    };
    if (any({"outline", "boardoutline", "profile", "keepout", "contour", "route", "umriss", "kontur", "platinenrand",
             "contorno", "omtrek", "decoupe"}) ||
        namesOutlineLoosely(lower))
        return NamedRole{LayerType::outline()};
    if (any({"drill", "hole", "bohr", "percage", "taladr", "foratura", "furacao", "boorgat"}))
        return NamedRole{LayerType::drill()};
    if (any({"silkscreen", "silk", "legend", "overlay", "bestueck", "bestuck", "positionsdruck", "serigraf",
             "serigraph", "zeefdruk"}))
        return NamedRole{LayerType::silkscreen(sideA())};
    // Paste before mask: a "paste mask" is the stencil's layer.
    if (any({"paste", "stencil", "cream", "pasta"})) return NamedRole{LayerType::paste(sideA())};
    if (any({"soldermask", "solderresist", "mask", "lotstop", "loetstop", "stoplack", "stopplack", "vernis",
             "epargne", "mascara", "maschera", "soldeerstop"}))
        return NamedRole{LayerType::solderMask(sideA())};
    const bool named = any({"copper", "signal", "kupfer", "cuivre", "cobre", "koper", "miedz"}) || anyWord({"rame"});
    const bool plane = any({"power", "ground", "plane"});
    if (named || plane) {
        const bool bottom = any({"bot", "bottom"}) || secondary;
        bool found = false;
        for (std::string_view word : {"inner", "innenlage", "innen", "interne", "interna", "interno"})
            if (auto n = firstNumbered(lower, word, "", found)) return NamedRole{LayerType::copper(CopperLayerID::inner(*n))};
        // Eagle's CAM names inner layers by their copper layer number (copper_inner_l2 under copper_top_l1):
        // only their order counts. pcb-rnd's job for the same fab house writes "innter".
        for (std::string_view prefix : {"inner_l", "innter_l"})
            if (auto n = firstNumbered(lower, prefix, "", found)) return NamedRole{provisionalInner(*n), innerPlace(*n, 1)};
        const bool top = std::any_of(words.begin(), words.end(), [](auto w) { return isAnyOf(w, kTopSideWords); }) ||
                         containsAny(lower, kTopWords);
        // A plane named by its function alone, without a side, lies inside the board.
        if (plane && !named && !bottom && !top) {
            for (auto w : words)
                if (const auto rank = planeFunctionRank(w)) return NamedRole{provisionalInner(1), innerPlace(trailingNumber(w), *rank)};
            return NamedRole{provisionalInner(1), innerPlace(0, 2)};
        }
        return NamedRole{LayerType::copper(bottom ? CopperLayerID::bottom() : CopperLayerID::top())};
    }
    return std::nullopt;
}

// The words that name a layer: the stem's when the extension says only "Gerber" or is a tool's own code
// (".f1", ".m2", ".o", ".001"), else the whole name's (board.bottom).
std::vector<std::string_view> layerWords(const NameParts& name) {
    const bool code = std::any_of(name.ext.begin(), name.ext.end(), isDigit) || name.ext.size() <= 2;
    const bool stemOnly = isGeneric(name.ext) || (!name.ext.empty() && code && !LayerClassifier::mapsExtension(name.ext));
    return nameWords(stemOnly ? std::string_view(name.stem) : std::string_view(name.lower));
}

// Copper named only by its side as the last word: TOP.art, Bottom.pho, board.bottom, board_BOTTOM.f2, and
// with a word for "layer" after it (Top Layer.pho, BOTTOM_L.art).
std::optional<LayerType> lastWordSide(const NameParts& name) {
    static constexpr std::string_view fillers[] = {"layer", "l", "lyr", "copper", "cu", "signal", "etch", "side"};
    auto words = layerWords(name);
    while (words.size() > 1 && isAnyOf(words.back(), fillers)) words.pop_back();
    if (words.empty()) return std::nullopt;
    const std::string_view last = words.back();
    if (last == "top" || last == "front") return LayerType::copper(CopperLayerID::top());
    if (isAnyOf(last, kBottomSideWords)) return LayerType::copper(CopperLayerID::bottom());
    return std::nullopt;
}

LayerDetection make(LayerType type, DetectionConfidence confidence, SourceFormat format, std::string note = {}) {
    return LayerDetection{std::move(type), confidence, format, std::move(note)};
}

// The role of copper number n of a numbered set, read on its own: 1 is the top, the rest inner.
LayerType provisionalStackCopper(std::int64_t n) {
    return LayerType::copper(n <= 1 ? CopperLayerID::top() : CopperLayerID::inner(n - 1));
}

// Copper number n of a numbered set, with its place in the set.
NamedRole stackRole(std::int64_t n) {
    return NamedRole{provisionalStackCopper(n), CopperSetPlace{CopperSetPlace::Set::stack, n}};
}

// A detection of a named role that keeps the role's place in a copper set.
LayerDetection makePlaced(const NamedRole& role, DetectionConfidence confidence, SourceFormat format, std::string note) {
    LayerDetection d = make(role.type, confidence, format, std::move(note));
    d.copperSet = role.place;
    return d;
}

// A word "<prefix><digits>", or the word "<prefix>" followed by a word of digits ("LAYER_1", "artwork_3").
std::optional<std::int64_t> numberedWord(const std::vector<std::string_view>& words, std::size_t i,
                                         std::string_view prefix) {
    if (auto n = numberedForm(words[i], prefix)) return n;
    if (words[i] == prefix && i + 1 < words.size()) return digitsValue(words[i + 1]);
    return std::nullopt;
}

// A place in the stack named anywhere in the name: Allegro's lyr3 (board_lyr3_GAF.art) and l2 (l2_gnd.art),
// Mentor's artwork_3 and L02, LAYER_1, and the layer words of German, French, Spanish and Italian tools.
std::optional<std::int64_t> stackNumber(const std::vector<std::string_view>& words) {
    static constexpr std::string_view prefixes[] = {"lyr", "layer", "artwork", "lage", "couche", "capa", "strato"};
    for (std::size_t i = 0; i < words.size(); ++i) {
        for (auto prefix : prefixes)
            if (auto n = numberedWord(words, i, prefix); n && *n >= 1) return n;
        if (auto n = numberedForm(words[i], "l"); n && *n >= 1) return n;
    }
    return std::nullopt;
}

// Inner copper numbered among the inner layers only: gEDA's group<n>, signal layers sig<n>, mid<n>. Layer
// groups count from 0 where pcb-rnd numbers every copper group (group0 its top).
std::optional<std::int64_t> innerSetNumber(const std::vector<std::string_view>& words) {
    static constexpr std::string_view prefixes[] = {"group", "sig", "signal", "mid", "midlayer", "inner"};
    for (std::size_t i = 0; i < words.size(); ++i)
        for (auto prefix : prefixes)
            if (auto n = numberedWord(words, i, prefix); n && *n >= (prefix == "group" ? 0 : 1)) return n;
    return std::nullopt;
}

// Xpedition's EtchLayer<n>Top, EtchLayer<n>, EtchLayer<n>Bottom (and EtchLayerTop, EtchLayerBottom).
std::optional<NamedRole> etchLayer(const std::vector<std::string_view>& words) {
    constexpr std::string_view prefix = "etchlayer";
    for (auto w : words) {
        if (!w.starts_with(prefix)) continue;
        std::string_view rest = w.substr(prefix.size());
        std::size_t digits = 0;
        while (digits < rest.size() && isDigit(rest[digits])) ++digits;
        const auto n = digitsValue(rest.substr(0, digits));
        const std::string_view side = rest.substr(digits);
        if (side == "top") return NamedRole{LayerType::copper(CopperLayerID::top())};
        if (side == "bottom" || side == "bot") return NamedRole{LayerType::copper(CopperLayerID::bottom())};
        if (side.empty() && n && *n >= 1)
            return stackRole(*n);
    }
    return std::nullopt;
}

// PADS names its CAM documents by kind, then the copper layer and the document layer as three digits
// each: sm001021.pho is the solder mask (PADS layer 21) over layer 1, sst001026 the top silkscreen,
// pm001023 the top paste. The document layer tells the side (21, 23, 26 top; 28, 22, 29 bottom); without
// it, copper layer 1 is the top and any other the bottom.
std::optional<Role> padsDocument(const std::vector<std::string_view>& words) {
    struct Kind { std::string_view prefix; Role top; Role bottom; };
    static constexpr Kind kinds[] = {{"sst", Role::silkTop, Role::silkTop},   {"ssb", Role::silkBottom, Role::silkBottom},
                                     {"ss", Role::silkTop, Role::silkBottom}, {"sm", Role::maskTop, Role::maskBottom},
                                     {"pm", Role::pasteTop, Role::pasteBottom}};
    for (auto w : words)
        for (const auto& k : kinds) {
            if (!w.starts_with(k.prefix)) continue;
            const std::string_view digits = w.substr(k.prefix.size());
            if ((digits.size() != 3 && digits.size() != 6) || !std::all_of(digits.begin(), digits.end(), isDigit)) continue;
            const auto copper = digitsValue(digits.substr(0, 3)).value_or(0);
            const auto document = digits.size() == 6 ? digitsValue(digits.substr(3)).value_or(0) : 0;
            bool top = copper == 1;
            if (document == 21 || document == 23 || document == 26) top = true;
            if (document == 22 || document == 28 || document == 29) top = false;
            return top ? k.top : k.bottom;
        }
    return std::nullopt;
}

// PADS artwork of copper layer n: art001.pho, art002.pho.
std::optional<std::int64_t> padsArtwork(const std::vector<std::string_view>& words) {
    for (auto w : words)
        if (w.size() == 6 && w.starts_with("art"))
            if (auto n = digitsValue(w.substr(3)); n && *n >= 1) return n;
    return std::nullopt;
}

// Zuken's photoplot names end with the layer and its side, A the top and B the bottom: Resist-A (solder
// mask), Symbol-B (legend), MetalMask-A (paste); copper is Conductive-<n>, numbered through the stack.
std::optional<NamedRole> zukenLayer(std::string_view stem) {
    const auto words = nameWords(stem);
    if (words.size() < 2) return std::nullopt;
    const std::string_view kind = words[words.size() - 2];
    const std::string_view last = words.back();
    if (kind == "conductive") {
        if (auto n = digitsValue(last); n && *n >= 1) return stackRole(*n);
        return std::nullopt;
    }
    struct Film { std::string_view word; Role a; Role b; };
    static constexpr Film films[] = {{"resist", Role::maskTop, Role::maskBottom},
                                     {"symbol", Role::silkTop, Role::silkBottom},
                                     {"metalmask", Role::pasteTop, Role::pasteBottom}};
    if (last != "a" && last != "b") return std::nullopt;
    for (const auto& f : films)
        if (kind == f.word) return NamedRole{typeOf(last == "a" ? f.a : f.b)};
    return std::nullopt;
}

// Film and layer names of Allegro, OrCAD, Xpedition, PADS, gEDA and fab-house sets, read from the words
// of the name: films such as smc.art or tslk.art, copper by number and side (l2_inner, l4_secondary),
// Xpedition's EtchLayer names, copper numbered through the stack (lyr3, L02, Layer2, artwork_3), inner
// layers numbered apart (group2) and planes named by function (GND2.art, PWR.art).
std::optional<LayerDetection> filmLayer(const NameParts& name, SourceFormat format) {
    const auto words = layerWords(name);
    struct Film { std::string_view word; Role role; };
    static constexpr Film films[] = {
        {"smc", Role::maskTop},  {"sms", Role::maskBottom}, {"spc", Role::pasteTop},  {"sps", Role::pasteBottom},
        {"tslk", Role::silkTop}, {"bslk", Role::silkBottom}, {"ssc", Role::silkTop}, {"sss", Role::silkBottom},
        {"tmsk", Role::maskTop}, {"bmsk", Role::maskBottom}, {"tskl", Role::silkTop}, {"bskl", Role::silkBottom},
        // Allegro's default films.
        {"smtop", Role::maskTop}, {"smbot", Role::maskBottom}, {"smbottom", Role::maskBottom},
        {"sptop", Role::pasteTop}, {"spbot", Role::pasteBottom}, {"spbottom", Role::pasteBottom},
        {"pmtop", Role::pasteTop}, {"pmbot", Role::pasteBottom}, {"sstop", Role::silkTop}, {"ssbot", Role::silkBottom},
    };
    const std::string film = "CAD film name";
    for (auto w = words.rbegin(); w != words.rend(); ++w)
        for (const auto& f : films)
            if (*w == f.word) return make(typeOf(f.role), DetectionConfidence::medium, format, film);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        const auto n = numberedForm(words[i], "l");
        if (!n || *n < 1) continue;
        const std::string_view side = words[i + 1];
        if (side == "primary") return make(typeOf(Role::copperTop), DetectionConfidence::medium, format, film);
        if (side == "secondary") return make(typeOf(Role::copperBottom), DetectionConfidence::medium, format, film);
        if (side == "inner")
            return make(typeOf(Role::copperInner, std::max<std::int64_t>(1, *n - 1)), DetectionConfidence::medium,
                        format, film);
    }
    auto placed = [&](const NamedRole& role, std::string note) {
        return makePlaced(role, DetectionConfidence::medium, format, std::move(note));
    };
    if (auto pads = padsDocument(words)) return make(typeOf(*pads), DetectionConfidence::medium, format, film);
    if (auto n = padsArtwork(words))
        return placed(stackRole(*n), "Copper numbered in the stack");
    if (auto etch = etchLayer(words)) return placed(*etch, film);
    if (auto n = stackNumber(words))
        return placed(stackRole(*n), "Copper numbered in the stack");
    // pcb-rnd's job of numbered groups may leave the group as the extension: board.group1.
    auto group = numberedForm(name.ext, "group");
    if (!group) group = innerSetNumber(words);
    if (group) return placed(NamedRole{provisionalInner(*group), innerPlace(*group, 1)}, "Inner copper");
    // Planes named by function alone, unless the name also says a side.
    const bool sided = LayerClassifier::sideNamed(name.lower).has_value();
    for (auto w : words)
        if (const auto rank = planeFunctionRank(w); rank && !sided)
            return placed(NamedRole{provisionalInner(1), innerPlace(trailingNumber(w), *rank)}, "Inner copper");
    return std::nullopt;
}

// Rule 6: what the content alone shows.
LayerDetection fromContent(std::string_view head, const HeadFacts& facts) {
    if (!facts.gerberFormat && (facts.m48 || facts.t01))
        return make(LayerType::drill(), DetectionConfidence::medium, SourceFormat::excellon, "Excellon header detected");
    if (contains(head, "%FS") || contains(head, "%ADD") || contains(head, "G04"))
        return make(LayerType::unknown(), DetectionConfidence::low, SourceFormat::gerberRS274X,
                    "Gerber content but unknown layer role");
    return make(LayerType::unknown(), DetectionConfidence::low, SourceFormat::unknown, "Unrecognized file");
}

// Altium's numbered inner layers: .G<n> signal, .GP<n> plane.
std::optional<CopperSetPlace> altiumInner(std::string_view ext) {
    if (auto n = numberedForm(ext, "gp"); n && *n >= 1) return CopperSetPlace{CopperSetPlace::Set::altiumPlane, *n};
    if (auto n = numberedForm(ext, "g"); n && *n >= 1) return CopperSetPlace{CopperSetPlace::Set::altiumSignal, *n};
    return std::nullopt;
}

// An Altium inner layer by its extension: its place in the stack when the file names it, else its
// number, which the package importer keeps apart from the other set.
LayerDetection altiumInnerLayer(const CopperSetPlace& place, const HeadFacts& facts) {
    if (facts.physicalOrder && *facts.physicalOrder >= 2)
        return make(LayerType::copper(CopperLayerID::inner(*facts.physicalOrder - 1)), DetectionConfidence::high,
                    facts.format(), "Altium layer order");
    LayerDetection d = make(LayerType::copper(CopperLayerID::inner(place.number)), DetectionConfidence::high, facts.format());
    d.copperSet = place;
    return d;
}

// Copper numbered through the stack by its extension: Eagle's .ly2, .ly3, the .G2L ... .G<n>L of other
// tools and the .GL2 ... .GL<n> that Seeed's and Elecrow's naming asks for, between the top and bottom files
// named apart.
std::optional<std::int64_t> stackExtension(std::string_view ext) {
    for (std::string_view prefix : {"ly", "gl"})
        if (auto n = numberedForm(ext, prefix); n && *n >= 1) return n;
    if (ext.size() >= 3 && ext.front() == 'g' && ext.back() == 'l')
        if (auto n = digitsValue(ext.substr(1, ext.size() - 2)); n && *n >= 1) return n;
    return std::nullopt;
}

} // namespace

LayerDetection LayerClassifier::detect(std::string_view fileName, std::string_view contentHead,
                                       const std::optional<std::string>& x2FileFunction) const {
    const NameParts name = splitName(fileName);
    const HeadFacts facts(contentHead);
    // Whatever its name says, binary content without a Gerber or Excellon word (Protel's binary drill file
    // beside its text one) is no layer; a layer file spoilt further on is still read for what it holds.
    if (!facts.gerberFormat && !facts.excellonWords && binaryHead(contentHead))
        return make(LayerType::unknown(), DetectionConfidence::low, SourceFormat::unknown, "Binary content");
    using C = DetectionConfidence;
    const auto altium = altiumInner(name.ext);

    if (x2FileFunction) {
        if (auto x2 = fileFunctionLayerType(*x2FileFunction)) {
            const auto byExtension = extensionLayerType(name.ext, facts);
            // Altium's G/GP numbers count signal and plane layers apart: they name no place in the stack.
            const auto* copper = x2->as<LayerType::Copper>();
            const bool innerOfAltium = altium && copper && copper->side.as<CopperLayerID::Inner>();
            if (byExtension && byExtension->matchKey() != x2->matchKey() && !innerOfAltium)
                return make(*x2, C::low, formatFor(*x2, facts),
                            "X2 metadata (" + *x2FileFunction + ") conflicts with filename \u2014 review this layer.");
            return make(*x2, C::high, formatFor(*x2, facts), "Gerber X2 metadata: " + *x2FileFunction);
        }
    }
    if (altium) return altiumInnerLayer(*altium, facts);
    if (auto n = stackExtension(name.ext)) {
        return makePlaced(stackRole(*n), C::high, facts.format(), "Copper numbered in the stack");
    }
    if (auto t = extensionLayerType(name.ext, facts)) return make(*t, C::high, formatFor(*t, facts));
    if (name.ext.empty())
        if (auto t = bareNameLayerType(name.stem)) return make(*t, C::high, formatFor(*t, facts));
    // Mechanical layers say nothing about their role: only their content may.
    if (mechanicalLayer(name.ext)) return fromContent(contentHead, facts);
    if (facts.gerberFormat && namesDrillDrawing(name.lower))
        return make(LayerType::unknown(), C::medium, facts.format(), "Drill drawing (documentation)");
    if (facts.gerberFormat && !x2FileFunction && namesPartsDrawing(name))
        return make(LayerType::unknown(), C::medium, facts.format(), "Drawing (documentation)");
    if (isGeneric(name.ext)) {
        if (auto t = extensionLayerType(name.stem, facts))
            return make(*t, C::medium, formatFor(*t, facts), "Detected from file stem");
        if (auto t = kicadLayerType(name.stem)) return make(*t, C::high, formatFor(*t, facts), "KiCad-style stem");
        if (auto t = germanNameLayerType(name.stem)) return make(*t, C::medium, formatFor(*t, facts), "Detected from file stem");
    }
    // The German short names also end longer names whose extension says nothing: cd1r2.1_sieb0.off.
    if (const auto words = nameWords(name.stem); words.size() > 1)
        if (auto t = germanNameLayerType(words.back())) return make(*t, C::medium, formatFor(*t, facts), "Detected from file stem");
    if (auto t = kicadLayerType(name.lower)) return make(*t, C::high, formatFor(*t, facts));
    if (auto role = zukenLayer(name.stem))
        return makePlaced(*role, C::high, formatFor(role->type, facts), role->place ? "Copper numbered in the stack" : "");
    if (auto role = patternLayerType(name.lower)) return makePlaced(*role, C::medium, formatFor(role->type, facts), {});
    // A file that tells its own function is not guessed from the words of its name.
    const bool hasFunction = x2FileFunction && !x2FileFunction->empty();
    if (!hasFunction && facts.format() != SourceFormat::excellon) {
        if (auto d = filmLayer(name, facts.format())) return *d;
        if (auto t = lastWordSide(name)) return make(*t, C::medium, facts.format(), "Side from the name's last word");
    }
    return fromContent(contentHead, facts);
}

bool LayerClassifier::mapsExtension(std::string_view ext) {
    for (auto known : allKnownExtensions)
        if (ext == known) return true;
    for (std::string_view prefix : {"g", "gp", "gm", "tx"})
        if (numberedForm(ext, prefix)) return true;
    return stackExtension(ext).has_value();
}

bool LayerClassifier::knowsWholeName(std::string_view fileName) {
    const NameParts name = splitName(fileName);
    if (name.ext.empty()) return bareNameLayerType(name.stem).has_value();
    return name.ext == "fph" && zukenLayer(name.stem).has_value();
}

std::span<const std::string_view> LayerClassifier::knownExtensions() { return allKnownExtensions; }

std::optional<CopperLayerID> LayerClassifier::sideNamed(std::string_view fileName) {
    const std::string lower = foldLatinLetters(asciiLower(fileName));
    const auto words = nameWords(lower);
    for (auto w : words)
        if (isAnyOf(w, kBottomSideWords)) return CopperLayerID::bottom();
    for (auto w : words)
        if (isAnyOf(w, kTopSideWords)) return CopperLayerID::top();
    if (containsAny(lower, kBottomWords)) return CopperLayerID::bottom();
    if (containsAny(lower, kTopWords)) return CopperLayerID::top();
    return std::nullopt;
}

bool LayerClassifier::headShowsLayerData(std::string_view contentHead) {
    const HeadFacts facts(contentHead);
    return facts.gerberFormat || facts.drillText();
}

} // namespace corvane
