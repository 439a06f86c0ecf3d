#include "Codable.hpp"

#include <cmath>
#include <limits>

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

// ---- Geometry --------------------------------------------------------------------------------------------

Json encodeValue(const Vec2& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("x", value.x);
    w.put("y", value.y);
    return w.take();
}

void decodeValue(const Json& json, Vec2& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("x", out.x);
    r.required("y", out.y);
}

Json encodeValue(const BBox& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("minX", value.minX);
    w.put("minY", value.minY);
    w.put("maxX", value.maxX);
    w.put("maxY", value.maxY);
    return w.take();
}

void decodeValue(const Json& json, BBox& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("minX", out.minX);
    r.required("minY", out.minY);
    r.required("maxX", out.maxX);
    r.required("maxY", out.maxY);
}

// ---- Apertures and primitives ----------------------------------------------------------------------------

namespace {
template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;
} // namespace

Json encodeValue(const ApertureShape& value, const CodingOptions& options) {
    return encodeEnumCase(value.caseName(), options, [&](ObjectWriter& w) {
    std::visit(Overloaded{
        [&](const ApertureShape::Circle& c) { w.put("diameter", c.diameter); },
        [&](const ApertureShape::Rectangle& r) { w.put("width", r.width); w.put("height", r.height); },
        [&](const ApertureShape::Obround& o) { w.put("width", o.width); w.put("height", o.height); },
        [&](const ApertureShape::Polygon& p) {
            w.put("diameter", p.diameter);
            w.put("vertices", p.vertices);
            w.put("rotationDeg", p.rotationDeg);
        },
        [&](const ApertureShape::Macro& m) {
            w.put("name", m.name);
            w.put("boundingDiameter", m.boundingDiameter);
            w.putOptional("outline", m.outline);
        },
    }, value.value);
    });
}

void decodeValue(const Json& json, ApertureShape& out, const CodingOptions& options) {
    const auto [index, payload] = decodeEnumCase(json, ApertureShape::caseNames, "ApertureShape");
    withPathComponent(ApertureShape::caseNames[index], [&, index = index, payload = payload] {
        ObjectReader r(*payload, options);
        switch (index) {
        case 0: out = {ApertureShape::Circle{r.required<double>("diameter")}}; break;
        case 1: {
            ApertureShape::Rectangle c;
            r.required("width", c.width);
            r.required("height", c.height);
            out = {c};
            break;
        }
        case 2: {
            ApertureShape::Obround c;
            r.required("width", c.width);
            r.required("height", c.height);
            out = {c};
            break;
        }
        case 3: {
            ApertureShape::Polygon c;
            r.required("diameter", c.diameter);
            r.required("vertices", c.vertices);
            r.required("rotationDeg", c.rotationDeg);
            out = {c};
            break;
        }
        default: {
            ApertureShape::Macro c;
            r.required("name", c.name);
            r.required("boundingDiameter", c.boundingDiameter);
            r.optional("outline", c.outline);
            out = {std::move(c)};
            break;
        }
        }
    });
}

Json encodeValue(const Aperture& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("code", value.code);
    w.put("shape", value.shape);
    w.putOptional("holeDiameter", value.holeDiameter);
    return w.take();
}

void decodeValue(const Json& json, Aperture& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("code", out.code);
    r.required("shape", out.shape);
    r.optional("holeDiameter", out.holeDiameter);
}

Json encodeValue(const PCBObjectKind& value, const CodingOptions& options) {
    return encodeEnumCase(value.caseName(), options, [&](ObjectWriter& w) {
    std::visit(Overloaded{
        [&](const PCBObjectKind::Stroke& s) { w.put("start", s.start); w.put("end", s.end); },
        [&](const PCBObjectKind::ArcStroke& a) {
            w.put("start", a.start);
            w.put("end", a.end);
            w.put("center", a.center);
            w.put("clockwise", a.clockwise);
        },
        [&](const PCBObjectKind::Flash& f) { w.put("at", f.at); },
        [&](const PCBObjectKind::Region& g) { w.put("contours", g.contours); },
        [&](const PCBObjectKind::Drill& d) {
            w.put("at", d.at);
            w.put("diameterMM", d.diameterMM);
            w.put("plated", d.plated);
        },
        [&](const PCBObjectKind::Slot& s) {
            w.put("start", s.start);
            w.put("end", s.end);
            w.put("diameterMM", s.diameterMM);
            w.put("plated", s.plated);
        },
    }, value.value);
    });
}

void decodeValue(const Json& json, PCBObjectKind& out, const CodingOptions& options) {
    const auto [index, payload] = decodeEnumCase(json, PCBObjectKind::caseNames, "PCBObjectKind");
    withPathComponent(PCBObjectKind::caseNames[index], [&, index = index, payload = payload] {
        ObjectReader r(*payload, options);
        switch (index) {
        case 0: {
            PCBObjectKind::Stroke c;
            r.required("start", c.start);
            r.required("end", c.end);
            out = {c};
            break;
        }
        case 1: {
            PCBObjectKind::ArcStroke c;
            r.required("start", c.start);
            r.required("end", c.end);
            r.required("center", c.center);
            r.required("clockwise", c.clockwise);
            out = {c};
            break;
        }
        case 2: out = {PCBObjectKind::Flash{r.required<Vec2>("at")}}; break;
        case 3: out = {PCBObjectKind::Region{r.required<std::vector<Contour>>("contours")}}; break;
        case 4: {
            PCBObjectKind::Drill c;
            r.required("at", c.at);
            r.required("diameterMM", c.diameterMM);
            r.required("plated", c.plated);
            out = {c};
            break;
        }
        default: {
            PCBObjectKind::Slot c;
            r.required("start", c.start);
            r.required("end", c.end);
            r.required("diameterMM", c.diameterMM);
            r.required("plated", c.plated);
            out = {c};
            break;
        }
        }
    });
}

Json encodeValue(const PCBObject& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("kind", value.kind);
    w.putOptional("apertureCode", value.apertureCode);
    w.putOptional("apertureShape", value.apertureShape);
    w.put("polarity", value.polarity);
    w.putOptional("net", value.net);
    w.putOptional("component", value.component);
    w.putOptional("pin", value.pin);
    w.putOptional("apertureFunction", value.apertureFunction);
    w.put("bbox", value.bbox);
    w.put("index", value.index);
    return w.take();
}

void decodeValue(const Json& json, PCBObject& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("kind", out.kind);
    r.optional("apertureCode", out.apertureCode);
    r.optional("apertureShape", out.apertureShape);
    r.required("polarity", out.polarity);
    r.optional("net", out.net);
    r.optional("component", out.component);
    r.optional("pin", out.pin);
    r.optional("apertureFunction", out.apertureFunction);
    r.required("bbox", out.bbox);
    r.required("index", out.index);
}

// ---- Layer documents -------------------------------------------------------------------------------------

Json encodeValue(const GerberDocument& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("format", value.format);
    w.put("units", value.units);
    w.put("objects", value.objects);
    w.put("apertures", value.apertures);
    w.putOptional("fileFunction", value.fileFunction);
    w.putOptional("filePolarity", value.filePolarity);
    w.put("fileAttributes", value.fileAttributes);
    w.putOptional("projectID", value.projectID);
    w.putOptional("creationDate", value.creationDate);
    w.put("bbox", value.bbox);
    return w.take();
}

void decodeValue(const Json& json, GerberDocument& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("format", out.format);
    r.required("units", out.units);
    r.required("objects", out.objects);
    r.required("apertures", out.apertures);
    r.optional("fileFunction", out.fileFunction);
    r.optional("filePolarity", out.filePolarity);
    r.required("fileAttributes", out.fileAttributes);
    r.optional("projectID", out.projectID);
    r.optional("creationDate", out.creationDate);
    r.required("bbox", out.bbox);
}

Json encodeValue(const DrillTool& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("number", value.number);
    w.put("diameterMM", value.diameterMM);
    w.put("plating", value.plating);
    return w.take();
}

void decodeValue(const Json& json, DrillTool& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("number", out.number);
    r.required("diameterMM", out.diameterMM);
    r.required("plating", out.plating);
}

Json encodeValue(const DrillHit& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("position", value.position);
    w.put("toolNumber", value.toolNumber);
    w.put("plating", value.plating);
    return w.take();
}

void decodeValue(const Json& json, DrillHit& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("position", out.position);
    r.required("toolNumber", out.toolNumber);
    r.required("plating", out.plating);
}

Json encodeValue(const DrillStat& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("diameterMM", value.diameterMM);
    w.put("plated", value.plated);
    w.put("count", value.count);
    return w.take();
}

void decodeValue(const Json& json, DrillStat& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("diameterMM", out.diameterMM);
    r.required("plated", out.plated);
    r.required("count", out.count);
}

Json encodeValue(const DrillDocument& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("tools", value.tools);
    w.put("hits", value.hits);
    w.put("slots", value.slots);
    w.put("units", value.units);
    w.put("bbox", value.bbox);
    w.put("fileName", value.fileName);
    return w.take();
}

void decodeValue(const Json& json, DrillDocument& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("tools", out.tools);
    r.required("hits", out.hits);
    r.required("slots", out.slots);
    r.required("units", out.units);
    r.required("bbox", out.bbox);
    r.required("fileName", out.fileName);
}

// ---- Layers and packages ---------------------------------------------------------------------------------

Json encodeValue(const CopperLayerID& value, const CodingOptions& options) {
    return encodeEnumCase(value.caseName(), options, [&](ObjectWriter& w) {
        if (auto inner = value.as<CopperLayerID::Inner>()) w.put("_0", inner->number);
    });
}

void decodeValue(const Json& json, CopperLayerID& out, const CodingOptions& options) {
    const auto [index, payload] = decodeEnumCase(json, CopperLayerID::caseNames, "CopperLayerID");
    switch (index) {
    case 0: out = CopperLayerID::top(); break;
    case 1:
        withPathComponent(CopperLayerID::caseNames[index], [&, payload = payload] {
            out = CopperLayerID::inner(ObjectReader(*payload, options).required<std::int64_t>("_0"));
        });
        break;
    default: out = CopperLayerID::bottom(); break;
    }
}

Json encodeValue(const LayerType& value, const CodingOptions& options) {
    return encodeEnumCase(value.caseName(), options, [&](ObjectWriter& w) {
        if (auto side = value.side()) w.put("_0", *side);
    });
}

void decodeValue(const Json& json, LayerType& out, const CodingOptions& options) {
    const auto [index, payload] = decodeEnumCase(json, LayerType::caseNames, "LayerType");
    if (index >= 4) {
        static const LayerType plain[] = {LayerType::outline(), LayerType::drill(), LayerType::unknown()};
        out = plain[index - 4];
        return;
    }
    withPathComponent(LayerType::caseNames[index], [&, index = index, payload = payload] {
        auto side = ObjectReader(*payload, options).required<CopperLayerID>("_0");
        switch (index) {
        case 0: out = LayerType::copper(side); break;
        case 1: out = LayerType::solderMask(side); break;
        case 2: out = LayerType::silkscreen(side); break;
        default: out = LayerType::paste(side); break;
        }
    });
}

Json encodeValue(const PackageFile& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("fileName", value.fileName);
    w.put("relativePath", value.relativePath);
    w.put("format", value.format);
    w.put("layerType", value.layerType);
    w.put("confidence", value.confidence);
    w.putOptional("gerber", value.gerber);
    w.putOptional("drill", value.drill);
    w.put("dataHash", value.dataHash);
    return w.take();
}

void decodeValue(const Json& json, PackageFile& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("fileName", out.fileName);
    r.required("relativePath", out.relativePath);
    r.required("format", out.format);
    r.required("layerType", out.layerType);
    r.required("confidence", out.confidence);
    r.optional("gerber", out.gerber);
    r.optional("drill", out.drill);
    r.required("dataHash", out.dataHash);
}

Json encodeValue(const PCBPackage& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("name", value.name);
    w.put("sourceFileName", value.sourceFileName);
    w.put("files", value.files);
    w.put("warnings", value.warnings);
    w.put("importedAt", value.importedAt);
    return w.take();
}

void decodeValue(const Json& json, PCBPackage& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("name", out.name);
    r.required("sourceFileName", out.sourceFileName);
    r.required("files", out.files);
    r.required("warnings", out.warnings);
    r.required("importedAt", out.importedAt);
}

// ---- Result records --------------------------------------------------------------------------------------

Json encodeValue(const ManufacturingPreset& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("name", value.name);
    w.put("minTraceMM", value.minTraceMM);
    w.put("minSpaceMM", value.minSpaceMM);
    w.put("minDrillMM", value.minDrillMM);
    w.put("minAnnularRingMM", value.minAnnularRingMM);
    return w.take();
}

void decodeValue(const Json& json, ManufacturingPreset& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("name", out.name);
    r.required("minTraceMM", out.minTraceMM);
    r.required("minSpaceMM", out.minSpaceMM);
    r.required("minDrillMM", out.minDrillMM);
    r.required("minAnnularRingMM", out.minAnnularRingMM);
}

Json encodeValue(const CheckIssue& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("id", value.id);
    w.put("severity", value.severity);
    w.put("title", value.title);
    w.put("message", value.message);
    w.putOptional("fileName", value.fileName);
    w.putOptional("position", value.position);
    return w.take();
}

void decodeValue(const Json& json, CheckIssue& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("id", out.id);
    r.required("severity", out.severity);
    r.required("title", out.title);
    r.required("message", out.message);
    r.optional("fileName", out.fileName);
    r.optional("position", out.position);
}

Json encodeValue(const DFMReport& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("issues", value.issues);
    w.putOptional("presetName", value.presetName);
    w.put("checkedAt", value.checkedAt);
    return w.take();
}

void decodeValue(const Json& json, DFMReport& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("issues", out.issues);
    r.optional("presetName", out.presetName);
    r.required("checkedAt", out.checkedAt);
}

Json encodeValue(const DiffChange& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("kind", value.kind);
    w.put("objectType", value.objectType);
    w.put("position", value.position);
    w.put("bbox", value.bbox);
    w.put("description", value.description);
    return w.take();
}

void decodeValue(const Json& json, DiffChange& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("kind", out.kind);
    r.required("objectType", out.objectType);
    r.required("position", out.position);
    r.required("bbox", out.bbox);
    r.required("description", out.description);
}

Json encodeValue(const LayerDiffResult& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("layerKey", value.layerKey);
    w.put("fileNameA", value.fileNameA);
    w.put("fileNameB", value.fileNameB);
    w.put("added", value.added);
    w.put("removed", value.removed);
    return w.take();
}

void decodeValue(const Json& json, LayerDiffResult& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("layerKey", out.layerKey);
    r.required("fileNameA", out.fileNameA);
    r.required("fileNameB", out.fileNameB);
    r.required("added", out.added);
    r.required("removed", out.removed);
}

Json encodeValue(const PackageDiff& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("layers", value.layers);
    w.put("unmatchedFilesA", value.unmatchedFilesA);
    w.put("unmatchedFilesB", value.unmatchedFilesB);
    w.put("nameA", value.nameA);
    w.put("nameB", value.nameB);
    return w.take();
}

void decodeValue(const Json& json, PackageDiff& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("layers", out.layers);
    r.required("unmatchedFilesA", out.unmatchedFilesA);
    r.required("unmatchedFilesB", out.unmatchedFilesB);
    r.required("nameA", out.nameA);
    r.required("nameB", out.nameB);
}

Json encodeValue(const BoardSummary& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("widthMM", value.widthMM);
    w.put("heightMM", value.heightMM);
    w.put("copperLayerCount", value.copperLayerCount);
    w.put("padCount", value.padCount);
    w.put("drillCount", value.drillCount);
    w.putOptional("minTrackMM", value.minTrackMM);
    w.putOptional("minSpaceMM", value.minSpaceMM);
    w.put("minSpaceReliable", value.minSpaceReliable);
    w.putOptional("smallestDrillMM", value.smallestDrillMM);
    w.put("pthCount", value.pthCount);
    w.put("npthCount", value.npthCount);
    return w.take();
}

void decodeValue(const Json& json, BoardSummary& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    r.required("widthMM", out.widthMM);
    r.required("heightMM", out.heightMM);
    r.required("copperLayerCount", out.copperLayerCount);
    r.required("padCount", out.padCount);
    r.required("drillCount", out.drillCount);
    r.optional("minTrackMM", out.minTrackMM);
    r.optional("minSpaceMM", out.minSpaceMM);
    r.required("minSpaceReliable", out.minSpaceReliable);
    r.optional("smallestDrillMM", out.smallestDrillMM);
    r.required("pthCount", out.pthCount);
    r.required("npthCount", out.npthCount);
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

} // namespace corvane
