#include "TextEngine.hpp"

#include <cstring>
#include <pango/pangocairo.h>

#include "model/Format.hpp"

namespace corvane {

namespace {

PangoFontDescription* describe(const FontSpec& font) {
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, TextEngine::family);
    pango_font_description_set_weight(desc, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    // Absolute: device units, which are PDF points here. A plain size would be taken at 96 dpi.
    pango_font_description_set_absolute_size(desc, font.size * PANGO_SCALE);
    return desc;
}

std::string cacheKey(const FontSpec& font, std::string_view text) {
    std::string key;
    key.reserve(text.size() + 1 + sizeof(double));
    key.push_back(font.bold ? 'B' : 'R');
    char size[sizeof(double)];
    std::memcpy(size, &font.size, sizeof(double));
    key.append(size, sizeof(double));
    key.append(text);
    return key;
}

constexpr std::string_view ellipsis = "\xE2\x80\xA6";  // …
constexpr std::size_t widthCacheLimit = 8192;

} // namespace

TextEngine::TextEngine() {
    // A font map of our own keeps engines on different threads apart (Pango objects are not shared
    // safely between threads).
    fontMap_ = pango_cairo_font_map_new();
    context_ = pango_font_map_create_context(fontMap_);
    cairo_font_options_t* options = cairo_font_options_create();
    // Unhinted metrics and unrounded glyph positions: widths are the font's own fractional advances,
    // the same on paper as in measuring.
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(context_, 72.0);
    pango_context_set_round_glyph_positions(context_, FALSE);
}

TextEngine::~TextEngine() {
    if (context_) g_object_unref(context_);
    if (fontMap_) g_object_unref(fontMap_);
}

std::string TextEngine::singleLine(std::string_view text) {
    std::string out = isValidUTF8(text) ? std::string(text) : sanitizeUTF8(text);
    std::string clean;
    clean.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || c == 0x7F) {
            clean.push_back(' ');
        } else if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xA0) {
            clean.push_back(' ');  // C1 control U+0080…U+009F
            ++i;
        } else if (c == 0xE2 && i + 2 < out.size() && static_cast<unsigned char>(out[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(out[i + 2]) == 0xA8 || static_cast<unsigned char>(out[i + 2]) == 0xA9)) {
            clean.push_back(' ');  // U+2028, U+2029 would start a new line in the layout
            i += 2;
        } else {
            clean.push_back(static_cast<char>(c));
        }
    }
    return clean;
}

PangoLayout* TextEngine::makeLayout(const FontSpec& font, std::string_view cleanText) const {
    PangoLayout* layout = pango_layout_new(context_);
    PangoFontDescription* desc = describe(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, cleanText.data(), static_cast<int>(cleanText.size()));
    return layout;
}

double TextEngine::measureClean(const FontSpec& font, std::string_view cleanText) {
    if (cleanText.empty()) return 0;
    std::string key = cacheKey(font, cleanText);
    if (auto it = widthCache_.find(key); it != widthCache_.end()) return it->second;
    PangoLayout* layout = makeLayout(font, cleanText);
    PangoRectangle logical{};
    pango_layout_line_get_extents(pango_layout_get_line_readonly(layout, 0), nullptr, &logical);
    g_object_unref(layout);
    const double w = static_cast<double>(logical.width) / PANGO_SCALE;
    if (widthCache_.size() >= widthCacheLimit) widthCache_.clear();
    widthCache_.emplace(std::move(key), w);
    return w;
}

double TextEngine::width(const FontSpec& font, std::string_view text) {
    return measureClean(font, singleLine(text));
}

std::string TextEngine::truncate(std::string_view text, const FontSpec& font, double maxWidth) {
    std::string clean = singleLine(text);
    if (measureClean(font, clean) <= maxWidth) return clean;

    // Character boundaries (a character with its combining marks) and the advance of everything
    // before each, from one layout of the whole text. The advances only estimate the cut: shaping at
    // the cut and the kerning before "…" differ, so real measurements settle it. Re-measuring after
    // every removed character would be quadratic in the text's length.
    PangoLayout* layout = makeLayout(font, clean);
    std::vector<double> byteAdvance(clean.size() + 1, 0.0);
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0);
    for (GSList* run = line ? line->runs : nullptr; run; run = run->next) {
        const auto* item = static_cast<const PangoGlyphItem*>(run->data);
        for (int g = 0; g < item->glyphs->num_glyphs; ++g) {
            const auto byte = static_cast<std::size_t>(item->item->offset + item->glyphs->log_clusters[g]);
            if (byte < byteAdvance.size()) byteAdvance[byte] += item->glyphs->glyphs[g].geometry.width;
        }
    }
    int attrCount = 0;
    const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(layout, &attrCount);
    std::vector<std::size_t> bounds;   // byte offsets of character boundaries, 0 … size
    std::vector<double> before;        // advance of the text before each boundary, points
    double sum = 0;
    std::size_t byte = 0;
    for (int ci = 0; ci < attrCount; ++ci) {
        if (attrs[ci].is_cursor_position || byte == 0 || byte >= clean.size()) {
            bounds.push_back(byte);
            before.push_back(sum / PANGO_SCALE);
        }
        if (byte >= clean.size()) break;
        const auto next = static_cast<std::size_t>(g_utf8_next_char(clean.data() + byte) - clean.data());
        for (std::size_t b = byte; b < next && b < byteAdvance.size(); ++b) sum += byteAdvance[b];
        byte = next;
    }
    g_object_unref(layout);
    if (bounds.empty() || bounds.back() != clean.size()) {
        bounds.push_back(clean.size());
        before.push_back(sum / PANGO_SCALE);
    }

    const double ellipsisWidth = measureClean(font, ellipsis);
    std::size_t k = bounds.size() - 1;
    while (k > 0 && before[k] + ellipsisWidth > maxWidth) --k;
    auto fits = [&](std::size_t i) {
        std::string candidate = clean.substr(0, bounds[i]);
        candidate.append(ellipsis);
        return measureClean(font, candidate) <= maxWidth;
    };
    while (k + 1 < bounds.size() && fits(k + 1)) ++k;
    while (k > 0 && !fits(k)) --k;
    std::string out = clean.substr(0, bounds[k]);
    out.append(ellipsis);
    return out;
}

std::string TextEngine::resolvedFamily(const FontSpec& font) const {
    PangoFontDescription* desc = describe(font);
    PangoFont* loaded = pango_font_map_load_font(fontMap_, context_, desc);
    pango_font_description_free(desc);
    if (!loaded) return {};
    PangoFontDescription* actual = pango_font_describe(loaded);
    const char* name = pango_font_description_get_family(actual);
    std::string out = name ? name : "";
    pango_font_description_free(actual);
    g_object_unref(loaded);
    return out;
}

} // namespace corvane
