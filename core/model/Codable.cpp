#include "Codable.hpp"

#include <cmath>
#include <limits>
#include <type_traits>

namespace corvane {

// ---- Errors and paths ------------------------------------------------------------------------------------

std::string indexKey(std::size_t index) { return "Index " + std::to_string(index); }

std::string codingPathText(const CodingPath& path) {
    std::string out;
    for (const auto& component : path) {
        if (!out.empty()) out += '/';
        out += component;
    }
    return out;
}

DecodingError::DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription)
    : CorvaneError(debugDescription), kind_(kind), codingPath_(std::move(codingPath)),
      debugDescription_(std::move(debugDescription)) {}

DecodingError DecodingError::prefixed(std::string component) const {
    CodingPath path;
    path.reserve(codingPath_.size() + 1);
    path.push_back(std::move(component));
    path.insert(path.end(), codingPath_.begin(), codingPath_.end());
    return DecodingError(kind_, std::move(path), debugDescription_);
}

EncodingError::EncodingError(CodingPath codingPath, std::string debugDescription)
    : CorvaneError(debugDescription), codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {}

EncodingError EncodingError::prefixed(std::string component) const {
    CodingPath path;
    path.reserve(codingPath_.size() + 1);
    path.push_back(std::move(component));
    path.insert(path.end(), codingPath_.begin(), codingPath_.end());
    return EncodingError(std::move(path), debugDescription_);
}

namespace {
using Kind = DecodingError::Kind;

std::string_view foundDescription(const Json& json) {
    switch (json.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "a dictionary";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return "a bool";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return "a number";
    default: return "an unsupported value";
    }
}

[[noreturn]] void throwCorrupted(std::string description) {
    throw DecodingError(Kind::dataCorrupted, {}, std::move(description));
}
} // namespace

void throwTypeMismatch(std::string_view expectedType, const Json& found) {
    if (found.is_null())
        throw DecodingError(Kind::valueNotFound, {},
                            "Expected " + std::string(expectedType) + " value but found null instead.");
    throw DecodingError(Kind::typeMismatch, {},
                        "Expected to decode " + std::string(expectedType) + " but found " +
                            std::string(foundDescription(found)) + " instead.");
}

void throwInvalidRawValue(std::string_view typeName, std::string_view raw) {
    throwCorrupted("Cannot initialize " + std::string(typeName) + " from invalid String value " + std::string(raw));
}

void throwInvalidIntKey(std::string_view key) {
    throw DecodingError(Kind::typeMismatch, {std::string(key)}, "Expected Int key but found String key instead.");
}

void throwDuplicateIntKey(std::string_view key) {
    throw DecodingError(Kind::dataCorrupted, {std::string(key)},
                        "Duplicate key " + std::string(key) + " names an integer key already read.");
}

// ---- Scalars ---------------------------------------------------------------------------------------------

Json encodeValue(double value, const CodingOptions&) {
    if (std::isnan(value)) throw EncodingError({}, "Unable to encode Double.nan directly in JSON.");
    if (std::isinf(value))
        throw EncodingError({}, value < 0 ? "Unable to encode -Double.infinity directly in JSON."
                                          : "Unable to encode Double.infinity directly in JSON.");
    return Json(value);
}

Json encodeValue(std::int64_t value, const CodingOptions&) { return Json(value); }
Json encodeValue(bool value, const CodingOptions&) { return Json(value); }
Json encodeValue(const std::string& value, const CodingOptions&) { return Json(value); }

void decodeValue(const Json& json, double& out, const CodingOptions&) {
    if (!json.is_number()) throwTypeMismatch("Double", json);
    out = json.get<double>();
}

void decodeValue(const Json& json, std::int64_t& out, const CodingOptions&) {
    switch (json.type()) {
    case Json::value_t::number_integer:
        out = json.get<std::int64_t>();
        return;
    case Json::value_t::number_unsigned: {
        const auto u = json.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throwCorrupted("Parsed JSON number <" + std::to_string(u) + "> does not fit in Int.");
        out = static_cast<std::int64_t>(u);
        return;
    }
    case Json::value_t::number_float: {
        // nlohmann would truncate 1.5 to 1; only exactly integral values within 64 bits are an Int.
        const double d = json.get<double>();
        constexpr double limit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(d) || d != std::trunc(d) || d < -limit || d >= limit)
            throwCorrupted("Parsed JSON number <" + json.dump() + "> does not fit in Int.");
        out = static_cast<std::int64_t>(d);
        return;
    }
    default: throwTypeMismatch("Int", json);
    }
}

void decodeValue(const Json& json, bool& out, const CodingOptions&) {
    if (!json.is_boolean()) throwTypeMismatch("Bool", json);
    out = json.get<bool>();
}

void decodeValue(const Json& json, std::string& out, const CodingOptions&) {
    if (!json.is_string()) throwTypeMismatch("String", json);
    out = json.get_ref<const std::string&>();
}

std::optional<std::int64_t> parseIntKey(std::string_view text) {
    std::int64_t value = 0;
    if (!parseInt64(text, value)) return std::nullopt;
    return value;
}

// ---- Dates -----------------------------------------------------------------------------------------------

namespace {
constexpr std::int64_t kReferenceDayFromUnixEpoch = 11323;  // 2001-01-01 is day 11323 after 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool isLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

void appendDigits(std::string& out, std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

bool readDigits(std::string_view text, std::size_t pos, std::size_t count, unsigned& out) {
    out = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

// Seconds since the reference date of 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
const double kEarliestISODate = static_cast<double>((daysFromCivil(0, 1, 1) - kReferenceDayFromUnixEpoch) * 86400);
const double kLatestISODate =
    static_cast<double>((daysFromCivil(9999, 12, 31) - kReferenceDayFromUnixEpoch) * 86400 + 86399);
} // namespace

std::string iso8601Text(const Date& date) {
    const double t = date.timeIntervalSinceReferenceDate;
    if (!std::isfinite(t)) throw EncodingError({}, "Unable to encode a date that is not finite.");
    const double whole = std::floor(t);
    if (whole < kEarliestISODate || whole > kLatestISODate)
        throw EncodingError({}, "Unable to encode a date outside the years 0000 to 9999 as ISO 8601.");
    const auto seconds = static_cast<std::int64_t>(whole);
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        days -= 1;
    }
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days + kReferenceDayFromUnixEpoch, year, month, day);
    std::string out;
    out.reserve(20);
    appendDigits(out, year, 4);
    out += '-';
    appendDigits(out, month, 2);
    out += '-';
    appendDigits(out, day, 2);
    out += 'T';
    appendDigits(out, secondOfDay / 3600, 2);
    out += ':';
    appendDigits(out, secondOfDay / 60 % 60, 2);
    out += ':';
    appendDigits(out, secondOfDay % 60, 2);
    out += 'Z';
    return out;
}

std::optional<Date> parseISO8601(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    const std::int64_t days = daysFromCivil(year, month, day) - kReferenceDayFromUnixEpoch;
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return Date{static_cast<double>(seconds)};
}

Json encodeValue(const Date& value, const CodingOptions& options) {
    if (options.dates == DateCodingStrategy::iso8601) return Json(iso8601Text(value));
    return encodeValue(value.timeIntervalSinceReferenceDate, options);
}

void decodeValue(const Json& json, Date& out, const CodingOptions& options) {
    if (options.dates == DateCodingStrategy::iso8601) {
        std::string text;
        decodeValue(json, text, options);
        auto date = parseISO8601(text);
        if (!date) throwCorrupted("Expected date string to be ISO8601-formatted.");
        out = *date;
        return;
    }
    decodeValue(json, out.timeIntervalSinceReferenceDate, options);
}

// ---- Objects and payload enums ---------------------------------------------------------------------------

ObjectReader::ObjectReader(const Json& json, const CodingOptions& options) : json_(json), options_(options) {
    if (!json_.is_object()) throwTypeMismatch("Dictionary<String, Any>", json_);
}

const Json& ObjectReader::find(std::string_view key) const {
    auto it = json_.find(key);
    if (it == json_.end())
        throw DecodingError(Kind::keyNotFound, {}, "No value associated with key \"" + std::string(key) + "\".");
    return *it;
}

std::pair<std::size_t, const Json*> decodeEnumCase(const Json& json, std::span<const char* const> caseNames,
                                                   std::string_view typeName) {
    if (!json.is_object()) throwTypeMismatch("Dictionary<String, Any> for " + std::string(typeName), json);
    std::size_t found = caseNames.size();
    const Json* payload = nullptr;
    std::size_t matches = 0;
    for (std::size_t i = 0; i < caseNames.size(); ++i) {
        auto it = json.find(caseNames[i]);
        if (it == json.end()) continue;
        ++matches;
        found = i;
        payload = &*it;
    }
    if (matches != 1)
        throw DecodingError(Kind::typeMismatch, {}, "Invalid number of keys found, expected one.");
    if (!payload->is_object()) {
        try {
            throwTypeMismatch("Dictionary<String, Any>", *payload);
        } catch (const DecodingError& e) {
            throw e.prefixed(caseNames[found]);
        }
    }
    return {found, payload};
}

Json encodeEnumCase(std::string_view caseName, Json payload) {
    Json out = Json::object();
    out[std::string(caseName)] = std::move(payload);
    return out;
}

// ---- Field lists -----------------------------------------------------------------------------------------
// One list per type serves writing (ObjectWriter) and reading (ObjectReader), in declaration order.

namespace {
template <class S, class... Cases>
constexpr bool isCase = (std::is_same_v<std::remove_const_t<S>, Cases> || ...);

constexpr auto vec2Fields = [](auto& c, auto& v) {
    c.field("x", v.x);
    c.field("y", v.y);
};

constexpr auto bboxFields = [](auto& c, auto& b) {
    c.field("minX", b.minX);
    c.field("minY", b.minY);
    c.field("maxX", b.maxX);
    c.field("maxY", b.maxY);
};

constexpr auto apertureShapeFields = [](auto& c, auto& s) {
    using S = std::remove_reference_t<decltype(s)>;
    if constexpr (isCase<S, ApertureShape::Circle>) {
        c.field("diameter", s.diameter);
    } else if constexpr (isCase<S, ApertureShape::Rectangle, ApertureShape::Obround>) {
        c.field("width", s.width);
        c.field("height", s.height);
    } else if constexpr (isCase<S, ApertureShape::Polygon>) {
        c.field("diameter", s.diameter);
        c.field("vertices", s.vertices);
        c.field("rotationDeg", s.rotationDeg);
    } else {
        static_assert(isCase<S, ApertureShape::Macro>);
        c.field("name", s.name);
        c.field("boundingDiameter", s.boundingDiameter);
        c.optionalField("outline", s.outline);
    }
};

constexpr auto apertureFields = [](auto& c, auto& a) {
    c.field("code", a.code);
    c.field("shape", a.shape);
    c.optionalField("holeDiameter", a.holeDiameter);
};

constexpr auto kindFields = [](auto& c, auto& k) {
    using S = std::remove_reference_t<decltype(k)>;
    if constexpr (isCase<S, PCBObjectKind::Stroke>) {
        c.field("start", k.start);
        c.field("end", k.end);
    } else if constexpr (isCase<S, PCBObjectKind::ArcStroke>) {
        c.field("start", k.start);
        c.field("end", k.end);
        c.field("center", k.center);
        c.field("clockwise", k.clockwise);
    } else if constexpr (isCase<S, PCBObjectKind::Flash>) {
        c.field("at", k.at);
    } else if constexpr (isCase<S, PCBObjectKind::Region>) {
        c.field("contours", k.contours);
    } else if constexpr (isCase<S, PCBObjectKind::Drill>) {
        c.field("at", k.at);
        c.field("diameterMM", k.diameterMM);
        c.field("plated", k.plated);
    } else {
        static_assert(isCase<S, PCBObjectKind::Slot>);
        c.field("start", k.start);
        c.field("end", k.end);
        c.field("diameterMM", k.diameterMM);
        c.field("plated", k.plated);
    }
};

constexpr auto attributeFields = [](auto& c, auto& names) {
    c.optionalField("net", names.net);
    c.optionalField("component", names.component);
    c.optionalField("pin", names.pin);
    c.optionalField("apertureFunction", names.apertureFunction);
};

constexpr auto objectFields = [](auto& c, auto& o) {
    c.field("kind", o.kind);
    // The aperture code and the names are kept packed: written from their readers, read into their setters.
    constexpr bool writing = std::is_const_v<std::remove_reference_t<decltype(o)>>;
    if constexpr (writing) {
        c.optionalField("apertureCode", o.apertureCode());
    } else {
        std::optional<std::int64_t> code;
        c.optionalField("apertureCode", code);
        o.setApertureCode(code);
    }
    c.optionalField("apertureShape", o.apertureShape);
    c.field("polarity", o.polarity);
    if constexpr (writing) {
        static const ObjectAttributes none;
        attributeFields(c, o.attributes() ? *o.attributes() : none);
    } else {
        ObjectAttributes names;
        attributeFields(c, names);
        o.setAttributes(sharedAttributes(std::move(names)));
    }
    c.field("bbox", o.bbox);  // stored, never recomputed on reading
    c.field("index", o.index);
};

constexpr auto gerberFields = [](auto& c, auto& g) {
    c.field("format", g.format);
    c.field("units", g.units);
    c.field("objects", g.objects);
    c.field("apertures", g.apertures);
    c.optionalField("fileFunction", g.fileFunction);
    c.optionalField("filePolarity", g.filePolarity);
    c.optionalField("imagePolarity", g.imagePolarity);
    c.field("fileAttributes", g.fileAttributes);
    c.optionalField("projectID", g.projectID);
    c.optionalField("creationDate", g.creationDate);
    c.field("bbox", g.bbox);
};

constexpr auto toolFields = [](auto& c, auto& t) {
    c.field("number", t.number);
    c.field("diameterMM", t.diameterMM);
    c.field("plating", t.plating);
};

constexpr auto hitFields = [](auto& c, auto& h) {
    c.field("position", h.position);
    c.field("toolNumber", h.toolNumber);
    c.field("plating", h.plating);
};

constexpr auto statFields = [](auto& c, auto& s) {
    c.field("diameterMM", s.diameterMM);
    c.field("plated", s.plated);
    c.field("count", s.count);
};

constexpr auto drillFields = [](auto& c, auto& d) {
    c.field("tools", d.tools);
    c.field("hits", d.hits);
    c.field("slots", d.slots);
    c.field("units", d.units);
    c.field("bbox", d.bbox);
    c.field("fileName", d.fileName);
};

constexpr auto copperFields = [](auto& c, auto& s) {
    if constexpr (isCase<std::remove_reference_t<decltype(s)>, CopperLayerID::Inner>) c.field("_0", s.number);
};

constexpr auto layerTypeFields = [](auto& c, auto& t) {
    using S = std::remove_reference_t<decltype(t)>;
    if constexpr (isCase<S, LayerType::Copper, LayerType::SolderMask, LayerType::Silkscreen, LayerType::Paste>)
        c.field("_0", t.side);
};

constexpr auto packageFileFields = [](auto& c, auto& f) {
    c.field("fileName", f.fileName);
    c.field("relativePath", f.relativePath);
    c.field("format", f.format);
    c.field("layerType", f.layerType);
    c.field("confidence", f.confidence);
    c.optionalField("gerber", f.gerber);
    c.optionalField("drill", f.drill);
    c.field("dataHash", f.dataHash);
    // Written only where the importer found the edge, so packages without one keep their stored form.
    c.optionalField("boardEdgeBox", f.boardEdgeBox);
};

constexpr auto packageFields = [](auto& c, auto& p) {
    c.field("name", p.name);
    c.field("sourceFileName", p.sourceFileName);
    c.field("files", p.files);
    c.field("warnings", p.warnings);
    c.field("importedAt", p.importedAt);
};

constexpr auto presetFields = [](auto& c, auto& p) {
    c.field("name", p.name);
    c.field("minTraceMM", p.minTraceMM);
    c.field("minSpaceMM", p.minSpaceMM);
    c.field("minDrillMM", p.minDrillMM);
    c.field("minAnnularRingMM", p.minAnnularRingMM);
};

constexpr auto issueFields = [](auto& c, auto& i) {
    c.field("id", i.id);
    c.field("severity", i.severity);
    c.field("title", i.title);
    c.field("message", i.message);
    c.optionalField("fileName", i.fileName);
    c.optionalField("position", i.position);
};

constexpr auto reportFields = [](auto& c, auto& r) {
    c.field("issues", r.issues);  // stored order kept: only the constructor sorts
    c.optionalField("presetName", r.presetName);
    c.field("checkedAt", r.checkedAt);
};

constexpr auto changeFields = [](auto& c, auto& d) {
    c.field("kind", d.kind);
    c.field("objectType", d.objectType);
    c.field("position", d.position);
    c.field("bbox", d.bbox);
    c.field("description", d.description);
};

constexpr auto layerDiffFields = [](auto& c, auto& l) {
    c.field("layerKey", l.layerKey);
    c.field("fileNameA", l.fileNameA);
    c.field("fileNameB", l.fileNameB);
    c.field("added", l.added);
    c.field("removed", l.removed);
};

constexpr auto packageDiffFields = [](auto& c, auto& d) {
    c.field("layers", d.layers);
    c.field("unmatchedFilesA", d.unmatchedFilesA);
    c.field("unmatchedFilesB", d.unmatchedFilesB);
    c.field("nameA", d.nameA);
    c.field("nameB", d.nameB);
};

constexpr auto summaryFields = [](auto& c, auto& s) {
    c.field("widthMM", s.widthMM);
    c.field("heightMM", s.heightMM);
    c.field("copperLayerCount", s.copperLayerCount);
    c.field("padCount", s.padCount);
    c.field("drillCount", s.drillCount);
    c.optionalField("minTrackMM", s.minTrackMM);
    c.optionalField("minSpaceMM", s.minSpaceMM);
    c.field("minSpaceReliable", s.minSpaceReliable);
    c.optionalField("smallestDrillMM", s.smallestDrillMM);
    c.field("pthCount", s.pthCount);
    c.field("npthCount", s.npthCount);
};
} // namespace

// ---- Model values ----------------------------------------------------------------------------------------

Json encodeValue(const Vec2& value, const CodingOptions& options) { return encodeRecord(value, options, vec2Fields); }
void decodeValue(const Json& json, Vec2& out, const CodingOptions& options) { decodeRecord(json, out, options, vec2Fields); }

Json encodeValue(const BBox& value, const CodingOptions& options) { return encodeRecord(value, options, bboxFields); }
void decodeValue(const Json& json, BBox& out, const CodingOptions& options) { decodeRecord(json, out, options, bboxFields); }

Json encodeValue(const Aperture& value, const CodingOptions& options) { return encodeRecord(value, options, apertureFields); }
void decodeValue(const Json& json, Aperture& out, const CodingOptions& options) { decodeRecord(json, out, options, apertureFields); }

Json encodeValue(const PCBObject& value, const CodingOptions& options) { return encodeRecord(value, options, objectFields); }
void decodeValue(const Json& json, PCBObject& out, const CodingOptions& options) { decodeRecord(json, out, options, objectFields); }

Json encodeValue(const GerberDocument& value, const CodingOptions& options) { return encodeRecord(value, options, gerberFields); }
void decodeValue(const Json& json, GerberDocument& out, const CodingOptions& options) { decodeRecord(json, out, options, gerberFields); }

Json encodeValue(const DrillTool& value, const CodingOptions& options) { return encodeRecord(value, options, toolFields); }
void decodeValue(const Json& json, DrillTool& out, const CodingOptions& options) { decodeRecord(json, out, options, toolFields); }

Json encodeValue(const DrillHit& value, const CodingOptions& options) { return encodeRecord(value, options, hitFields); }
void decodeValue(const Json& json, DrillHit& out, const CodingOptions& options) { decodeRecord(json, out, options, hitFields); }

// "slot" is written only for slot rows, so hole rows keep the form they had before slots were counted.
Json encodeValue(const DrillStat& value, const CodingOptions& options) {
    ObjectWriter w(options);
    statFields(w, value);
    if (value.slot) w.put("slot", true);
    return w.take();
}
void decodeValue(const Json& json, DrillStat& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    statFields(r, out);
    std::optional<bool> slot;
    r.optional("slot", slot);
    out.slot = slot.value_or(false);
}

Json encodeValue(const DrillDocument& value, const CodingOptions& options) { return encodeRecord(value, options, drillFields); }
void decodeValue(const Json& json, DrillDocument& out, const CodingOptions& options) { decodeRecord(json, out, options, drillFields); }

Json encodeValue(const PackageFile& value, const CodingOptions& options) { return encodeRecord(value, options, packageFileFields); }
void decodeValue(const Json& json, PackageFile& out, const CodingOptions& options) { decodeRecord(json, out, options, packageFileFields); }

Json encodeValue(const PCBPackage& value, const CodingOptions& options) { return encodeRecord(value, options, packageFields); }
void decodeValue(const Json& json, PCBPackage& out, const CodingOptions& options) { decodeRecord(json, out, options, packageFields); }

Json encodeValue(const ManufacturingPreset& value, const CodingOptions& options) { return encodeRecord(value, options, presetFields); }
void decodeValue(const Json& json, ManufacturingPreset& out, const CodingOptions& options) { decodeRecord(json, out, options, presetFields); }

Json encodeValue(const CheckIssue& value, const CodingOptions& options) { return encodeRecord(value, options, issueFields); }
void decodeValue(const Json& json, CheckIssue& out, const CodingOptions& options) { decodeRecord(json, out, options, issueFields); }

Json encodeValue(const DFMReport& value, const CodingOptions& options) { return encodeRecord(value, options, reportFields); }
void decodeValue(const Json& json, DFMReport& out, const CodingOptions& options) { decodeRecord(json, out, options, reportFields); }

Json encodeValue(const DiffChange& value, const CodingOptions& options) { return encodeRecord(value, options, changeFields); }
void decodeValue(const Json& json, DiffChange& out, const CodingOptions& options) { decodeRecord(json, out, options, changeFields); }

Json encodeValue(const LayerDiffResult& value, const CodingOptions& options) { return encodeRecord(value, options, layerDiffFields); }
void decodeValue(const Json& json, LayerDiffResult& out, const CodingOptions& options) { decodeRecord(json, out, options, layerDiffFields); }

Json encodeValue(const PackageDiff& value, const CodingOptions& options) { return encodeRecord(value, options, packageDiffFields); }
void decodeValue(const Json& json, PackageDiff& out, const CodingOptions& options) { decodeRecord(json, out, options, packageDiffFields); }

Json encodeValue(const BoardSummary& value, const CodingOptions& options) { return encodeRecord(value, options, summaryFields); }
void decodeValue(const Json& json, BoardSummary& out, const CodingOptions& options) { decodeRecord(json, out, options, summaryFields); }

Json encodeValue(const ApertureShape& value, const CodingOptions& options) { return encodePayloadEnum(value, options, apertureShapeFields); }
void decodeValue(const Json& json, ApertureShape& out, const CodingOptions& options) {
    decodePayloadEnum(json, out, options, "ApertureShape", apertureShapeFields);
}

Json encodeValue(const PCBObjectKind& value, const CodingOptions& options) { return encodePayloadEnum(value, options, kindFields); }
void decodeValue(const Json& json, PCBObjectKind& out, const CodingOptions& options) {
    decodePayloadEnum(json, out, options, "PCBObjectKind", kindFields);
}

Json encodeValue(const CopperLayerID& value, const CodingOptions& options) { return encodePayloadEnum(value, options, copperFields); }
void decodeValue(const Json& json, CopperLayerID& out, const CodingOptions& options) {
    decodePayloadEnum(json, out, options, "CopperLayerID", copperFields);
}

Json encodeValue(const LayerType& value, const CodingOptions& options) { return encodePayloadEnum(value, options, layerTypeFields); }
void decodeValue(const Json& json, LayerType& out, const CodingOptions& options) {
    decodePayloadEnum(json, out, options, "LayerType", layerTypeFields);
}

// ---- Text ------------------------------------------------------------------------------------------------

std::string dumpJSON(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string dumpJSONPretty(const Json& json) { return json.dump(2, ' ', false, Json::error_handler_t::replace); }

Json parseJSON(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error&) {
        throwCorrupted("The given data was not valid JSON.");
    } catch (const Json::out_of_range&) {  // numbers beyond double range, "1e400"
        throwCorrupted("The given data was not valid JSON.");
    }
}

Json encodeValue(const UUID& value, const CodingOptions&) { return Json(value.uuidString()); }

void decodeValue(const Json& json, UUID& out, const CodingOptions&) {
    if (!json.is_string()) throwTypeMismatch("String", json);
    auto parsed = UUID::parse(json.get_ref<const std::string&>());
    if (!parsed) throw DecodingError(DecodingError::Kind::dataCorrupted, {}, "Attempted to decode UUID from invalid UUID string.");
    out = *parsed;
}

} // namespace corvane
