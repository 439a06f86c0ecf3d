// The reader takes short cuts for the common shape of a file (one word per line, words of up to 32
// characters with text after them); the same words laid out any other way must give the same document,
// and plain strokes and flashes must land exactly where their digits say.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "GerberTestHelpers.hpp"

namespace corvane::test {
namespace {

// One statement of a generated file: a word ended by '*', or a whole %...% block.
struct Statement {
    std::string text;
    bool block = false;
};

struct GeneratedFile {
    std::vector<Statement> statements;
    // What the plain strokes and flashes must come out as, in file order, with their aperture codes.
    std::vector<PCBObjectKind> plainKinds;
    std::vector<std::int64_t> plainCodes;
};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : seed_(seed) {}

    GeneratedFile make(int count) {
        GeneratedFile f;
        auto word = [&](std::string w) { f.statements.push_back({std::move(w), false}); };
        auto block = [&](std::string b) { f.statements.push_back({std::move(b), true}); };
        word("G04 a comment with % inside");
        block("TF.FileFunction,Copper,L1,Top");
        block("FSLAX46Y46");
        block("MOMM");
        block("AMRR*4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*1,1,$1+$1,$2,$3*20,1,$1+$1,$2,$3,$4,$5,0");
        block("ADD10C,0.25");
        block("ADD11R,1.5X0.6");
        block("ADD12O,1.2X0.5");
        block("ADD13P,1.0X5X10");
        block("ADD14RR,0.15X-0.6X-0.3X0.6X-0.3X0.6X0.3X-0.6X0.3");
        std::int64_t code = 10;
        std::int64_t x = 0, y = 0;
        bool linear = true, region = false;
        int mode = 1;
        word("D10");
        for (int k = 0; k < count; ++k) {
            const auto r = next(100);
            if (r < 6) {
                code = 10 + next(5);
                word("D" + std::to_string(code));
            } else if (r < 10) {
                const char* nets[] = {"GND", "Net-(U1-Pad1)", "/a/long/hierarchical/net/name/past/small/strings"};
                block(std::string("TO.N,") + nets[next(3)]);
                if (next(2) == 0) block("TO.C,U" + std::to_string(next(300)));
            } else if (r < 12) {
                block(next(2) == 0 ? "TD" : "TA.AperFunction,SMDPad,CuDef");
            } else if (r < 14) {
                block(next(2) == 0 ? "LPC" : "LPD");
            } else if (r < 18 && !region) {
                const char* g[] = {"G01", "G02", "G03", "G75", "G74", "G1", "G3"};
                const std::string s = g[next(7)];
                linear = s == "G01" || s == "G1" ? true : (s == "G74" || s == "G75" ? linear : false);
                word(s);
            } else if (r < 21) {
                region = !region;
                word(region ? "G36" : "G37");
            } else {
                x += next(4000001) - 2000000;
                y += next(4000001) - 2000000;
                const auto form = next(20);
                const bool plain = form < 14 && !region && linear && known_;
                std::string w;
                if (form < 10) {
                    mode = next(3) == 0 ? 2 : (next(4) == 0 ? 3 : 1);
                    w = "X" + std::to_string(x) + "Y" + std::to_string(y) + "D0" + std::to_string(mode);
                } else if (form < 12) {
                    w = "X" + std::to_string(x) + "Y" + std::to_string(y);  // modal D code
                } else if (form < 14) {
                    w = "G01X" + std::to_string(x) + "Y" + std::to_string(y) + "D0" + std::to_string(mode);
                    linear = true;
                } else if (form < 18) {
                    // Arcs, and words past 32 characters.
                    w = "X" + std::to_string(x) + "Y" + std::to_string(y) + "I" + std::to_string(next(600001) - 300000) +
                        "J" + std::to_string(next(600001) - 300000) + "D01";
                    mode = 1;
                } else if (form < 19) {
                    w = "X" + std::to_string(x) + "G01Y" + std::to_string(y) + "D01";  // G inside a word
                    mode = 1;
                } else {
                    w = "Y" + std::to_string(y) + "X+" + std::to_string(x) + "D1";
                    mode = 1;
                }
                word(w);
                if (plain && mode != 2) {
                    const Vec2 p{static_cast<double>(x) / 1e6, static_cast<double>(y) / 1e6};
                    if (mode == 1) f.plainKinds.push_back(PCBObjectKind::stroke(last_, p));
                    else f.plainKinds.push_back(PCBObjectKind::flash(p));
                    f.plainCodes.push_back(code);
                }
                last_ = {static_cast<double>(x) / 1e6, static_cast<double>(y) / 1e6};
                // Words with a G inside or a signed value leave the point where the reader puts it.
                known_ = form < 18;
            }
        }
        if (region) word("G37");
        word("M02");
        return f;
    }

private:
    std::int64_t next(std::int64_t range) {
        seed_ = seed_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::int64_t>((seed_ >> 33) % static_cast<std::uint64_t>(range));
    }
    std::uint64_t seed_;
    Vec2 last_{0, 0};
    bool known_ = true;
};

enum class Layout { linePerWord, crlf, oneLine, padded, splitCoordinates };

std::string render(const GeneratedFile& f, Layout layout) {
    std::string s;
    for (const Statement& st : f.statements) {
        if (st.block) {
            s += '%';
            s += st.text;
            s += "*%";
            s += layout == Layout::oneLine ? "" : (layout == Layout::crlf ? "\r\n" : "\n");
            continue;
        }
        std::string w;
        if (layout == Layout::padded) w = " \t";
        w += st.text;
        if (layout == Layout::padded) w += ' ';
        if (layout == Layout::splitCoordinates && st.text[0] == 'X') {
            // A line break inside a word that starts with a coordinate does not end it.
            const auto y = w.find('Y');
            if (y != std::string::npos) {
                std::string split = w.substr(0, y);
                split += '\n';
                split.append(w, y, std::string::npos);
                w = std::move(split);
            }
        }
        s += w;
        s += '*';
        s += layout == Layout::oneLine ? "" : (layout == Layout::crlf ? "\r\n" : "\n");
    }
    return s;
}

void expectSameDocument(const GerberDocument& a, const GerberDocument& b) {
    ASSERT_EQ(a.objects.size(), b.objects.size());
    for (std::size_t i = 0; i < a.objects.size(); ++i) {
        ASSERT_TRUE(a.objects[i] == b.objects[i]) << "object " << i << " (" << a.objects[i].typeName() << ")";
    }
    EXPECT_TRUE(a.apertures == b.apertures);
    EXPECT_TRUE(a.bbox == b.bbox);
    EXPECT_EQ(a.fileFunction, b.fileFunction);
}

TEST(GerberParserLayout, EveryLayoutOfTheSameWordsGivesTheSameDocument) {
    for (std::uint64_t seed : {1u, 7u, 42u}) {
        const GeneratedFile f = Generator(seed).make(3000);
        const GerberDocument reference = parseDoc(render(f, Layout::linePerWord));
        ASSERT_GT(reference.objects.size(), 1000u);
        for (Layout layout : {Layout::crlf, Layout::oneLine, Layout::padded, Layout::splitCoordinates}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " layout " + std::to_string(static_cast<int>(layout)));
            expectSameDocument(reference, parseDoc(render(f, layout)));
        }
    }
}

TEST(GerberParserLayout, PlainStrokesAndFlashesKeepTheirDigitsAndBoxes) {
    const GeneratedFile f = Generator(3).make(4000);
    const GerberDocument doc = parseDoc(render(f, Layout::linePerWord));
    std::vector<PCBObjectKind> plain;
    std::vector<std::int64_t> codes;
    BBox all = BBox::empty();
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        const PCBObject& o = doc.objects[i];
        EXPECT_EQ(o.index, static_cast<std::int64_t>(i));
        // Every box is the one the model itself works out for the object.
        ASSERT_TRUE(o.bbox == PCBObject::computeBBox(o.kind, o.apertureShape)) << "object " << i;
        all.include(o.bbox);
        if (o.kind.as<PCBObjectKind::Stroke>() || o.kind.as<PCBObjectKind::Flash>()) {
            plain.push_back(o.kind);
            codes.push_back(o.apertureCode().value_or(-1));
            ASSERT_TRUE(o.apertureShape.has_value());
            EXPECT_TRUE(*o.apertureShape == doc.apertures.at(*o.apertureCode()).shape);
        }
    }
    EXPECT_TRUE(doc.bbox == all);
    // The generator predicts only some strokes and flashes: find them in order, skipping the others.
    std::size_t at = 0;
    for (std::size_t i = 0; i < f.plainKinds.size(); ++i) {
        while (at < plain.size() && !(plain[at] == f.plainKinds[i] && codes[at] == f.plainCodes[i])) ++at;
        ASSERT_LT(at, plain.size()) << "expected object " << i << " not found in order";
        ++at;
    }
    EXPECT_GT(f.plainKinds.size(), 500u);
}

} // namespace
} // namespace corvane::test
