#pragma once
// Reader of ODB++ jobs: a gzip-compressed tar archive becomes a package of
// synthetic layer, profile and drill files in millimetres.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/SizeLimits.hpp"
#include "io/VellTar.hpp"
#include "model/Model.hpp"

namespace corvane {

// Unit in which one feature file writes its coordinates.
enum class ODBUnits : std::uint8_t { mm, inch };

class ODBPPParseError : public CorvaneError {
public:
    enum class Case : std::uint8_t { malformed, notODBPP };

    static ODBPPParseError malformed(std::string detail) { return ODBPPParseError(Case::malformed, std::move(detail)); }
    static ODBPPParseError notODBPP() { return ODBPPParseError(Case::notODBPP, {}); }

    Case errorCase() const { return case_; }
    const std::string& detail() const { return detail_; }

private:
    ODBPPParseError(Case c, std::string detail);
    Case case_;
    std::string detail_;
};

class ODBPPParser {
public:
    struct MatrixLayerInfo {
        std::string name;
        std::string type = "SIGNAL";
        std::string polarity = "POSITIVE";
        std::string context = "BOARD";
        std::string startName;
        std::string endName;
        bool operator==(const MatrixLayerInfo&) const = default;
    };

    ODBPPParser() = default;

    // Unpacks the archive and reads the job. Throws ODBPPParseError.
    PCBPackage parse(std::span<const std::uint8_t> tgzData) const;
    // Reads a job that is already unpacked (entries in archive order).
    PCBPackage parseEntries(const std::vector<TarEntry>& entries) const;

    static void validateODBStructure(const std::vector<TarEntry>& entries);
    static std::vector<MatrixLayerInfo> parseMatrix(std::string_view text);
    // Name of the first step the matrix declares, "pcb" when it declares none.
    static std::string stepName(std::string_view text);
    // Every step the matrix declares, in matrix order.
    static std::vector<std::string> stepNames(std::string_view text);
    static std::optional<ODBUnits> detectUnits(std::string_view text);
    // A "UNITS=" key-value line anywhere in a job-level file (misc/info, a step header).
    static std::optional<ODBUnits> declaredUnits(std::string_view text);
    // Side of a copper-type layer: its position among the board's copper rows.
    static CopperLayerID copperID(const MatrixLayerInfo& layer, const std::vector<MatrixLayerInfo>& layers);
    static BBox bbox(const GerberDocument& document);

    // Matrix types whose rows are copper and count in the copper numbering.
    static bool isCopperType(std::string_view type);
    static bool isBoardContext(std::string_view context) { return context == "BOARD" || context.empty(); }
};

// Reads the records of one feature file.
class FeaturesParser {
public:
    struct Symbol {
        ApertureShape shape;
        double diameterMM = 0;
    };

    explicit FeaturesParser(ODBUnits units) : units(units) {}

    // Hands the objects it read to the document it returns.
    GerberDocument parse(std::string_view text);
    DrillDocument parseDrill(std::string_view text, const ODBPPParser::MatrixLayerInfo& layer);

    ODBUnits units;
    std::map<std::int64_t, Symbol> symbols;
    std::vector<std::string> warnings;
    std::vector<PCBObject> objects;

private:
    double coordScale() const { return units == ODBUnits::inch ? 25.4 : 1.0; }
    double sizeScale() const { return units == ODBUnits::inch ? 0.0254 : 0.001; }
    void defineSymbol(std::string_view line);
    // The symbol a record names (its number truncated toward zero), or none.
    const Symbol* symbolNumbered(double number) const;
    void append(PCBObjectKind kind, SharedShape shape, Polarity polarity);
    void addContourPoint(Contour& contour, Vec2 p);
    void addPad(Vec2 at, const Symbol& symbol, const std::vector<double>& numbers, Polarity polarity);

    ObjectInterner intern_;
    // Objects and surface points count against the import's ceilings.
    BuildCounter built_;
};

} // namespace corvane
