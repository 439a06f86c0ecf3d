#pragma once
// Text measuring and line layout with Pango, shared by the report's layout code and its PDF back-end so
// that a right-aligned or centred text lands exactly where its measured width puts it.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "PageCanvas.hpp"

typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoContext PangoContext;
typedef struct _PangoLayout PangoLayout;

namespace corvane {

class TextEngine {
public:
    // The family every FontSpec resolves through; fontconfig maps it to a metric clone of Helvetica.
    static constexpr const char* family = "Helvetica";

    TextEngine();
    ~TextEngine();
    TextEngine(const TextEngine&) = delete;
    TextEngine& operator=(const TextEngine&) = delete;

    // What one drawn line may hold: valid UTF-8 (invalid bytes become U+FFFD) with control characters
    // and line or paragraph separators turned into spaces.
    static std::string singleLine(std::string_view text);

    // Typographic (logical) width in points of singleLine(text), kerned, unrounded.
    double width(const FontSpec& font, std::string_view text);

    // singleLine(text) cut to its longest prefix of whole characters that still fits with "…" after
    // it; the text itself when it fits, "…" alone when nothing does.
    std::string truncate(std::string_view text, const FontSpec& font, double maxWidth);

    // A one-line layout of already clean text; the caller releases it with g_object_unref.
    PangoLayout* makeLayout(const FontSpec& font, std::string_view cleanText) const;

    // The family name of the face the font actually resolves to ("Nimbus Sans").
    std::string resolvedFamily(const FontSpec& font) const;

private:
    double measureClean(const FontSpec& font, std::string_view cleanText);

    PangoFontMap* fontMap_ = nullptr;
    PangoContext* context_ = nullptr;
    std::unordered_map<std::string, double> widthCache_;
};

} // namespace corvane
