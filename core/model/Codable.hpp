#pragma once
// JSON form of the board model values.
//
// Every value is written as exactly the JSON of its fields: a record is an object keyed by its field names,
// an absent optional is left out, a raw-value enum is its raw string, and a payload enum is an object with
// exactly one member named after the case, holding an object of the payload ("_0" for an unlabelled one).
// Reading is strict: wrong kinds, missing keys and unknown raw values fail with a DecodingError that names
// the coding path; unknown members are ignored. Writing fails on NaN or infinity instead of emitting null.
//
// Records of other components follow the same rules by giving `encodeValue`/`decodeValue` overloads in
// namespace corvane built from one field list, so that writing and reading cannot drift apart:
//
//     constexpr auto recordFields = [](auto& c, auto& r) {
//         c.field("name", r.name);
//         c.field("createdAt", r.createdAt);
//         c.optionalField("note", r.note);
//     };
//     Json encodeValue(const Record& r, const CodingOptions& o) { return encodeRecord(r, o, recordFields); }
//     void decodeValue(const Json& j, Record& r, const CodingOptions& o) { decodeRecord(j, r, o, recordFields); }
//
// and then `encodeJSONPretty(records, CodingOptions::iso8601())` / `decodeJSON<std::vector<Record>>(text,
// CodingOptions::iso8601())`. Object keys always come out sorted.
#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Errors.hpp"
#include "Model.hpp"
#include "UUID.hpp"

namespace corvane {

using Json = nlohmann::json;

enum class DateCodingStrategy {
    secondsSinceReferenceDate,  // a JSON number of seconds since 2001-01-01T00:00:00Z
    iso8601,                    // "YYYY-MM-DDTHH:MM:SSZ", UTC, whole seconds rounded down
};

struct CodingOptions {
    DateCodingStrategy dates = DateCodingStrategy::secondsSinceReferenceDate;
    static CodingOptions iso8601() { return CodingOptions{DateCodingStrategy::iso8601}; }
};

// One coding-path component per nesting level: a member key, or "Index N" for an array element.
using CodingPath = std::vector<std::string>;
std::string indexKey(std::size_t index);
// "files/Index 0/layerType" style text for messages and logs.
std::string codingPathText(const CodingPath& path);

class DecodingError : public CorvaneError {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };
    DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription);

    Kind kind() const { return kind_; }
    const CodingPath& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    // The same error one nesting level further out.
    DecodingError prefixed(std::string component) const;

private:
    Kind kind_;
    CodingPath codingPath_;
    std::string debugDescription_;
};

class EncodingError : public CorvaneError {
public:
    EncodingError(CodingPath codingPath, std::string debugDescription);

    const CodingPath& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    EncodingError prefixed(std::string component) const;

private:
    CodingPath codingPath_;
    std::string debugDescription_;
};

// ---- Scalars ---------------------------------------------------------------------------------------------

Json encodeValue(double value, const CodingOptions& options);  // throws EncodingError when not finite
Json encodeValue(std::int64_t value, const CodingOptions& options);
Json encodeValue(bool value, const CodingOptions& options);
Json encodeValue(const std::string& value, const CodingOptions& options);
Json encodeValue(const char*, const CodingOptions&) = delete;  // would silently become a bool
Json encodeValue(const Date& value, const CodingOptions& options);

void decodeValue(const Json& json, double& out, const CodingOptions& options);        // any JSON number
void decodeValue(const Json& json, std::int64_t& out, const CodingOptions& options);  // integral and in range
void decodeValue(const Json& json, bool& out, const CodingOptions& options);
void decodeValue(const Json& json, std::string& out, const CodingOptions& options);
void decodeValue(const Json& json, Date& out, const CodingOptions& options);

// A UUID is its upper-case 8-4-4-4-12 text; reading accepts either letter case.
Json encodeValue(const UUID& value, const CodingOptions& options);
void decodeValue(const Json& json, UUID& out, const CodingOptions& options);

// ISO 8601 text of a date ("2026-12-09T01:38:22Z"); throws EncodingError for non-finite dates and years
// outside 0000-9999. The parser accepts exactly that form.
std::string iso8601Text(const Date& date);
std::optional<Date> parseISO8601(std::string_view text);

// A map key as an integer: an optional sign and decimal digits only, within 64 bits.
std::optional<std::int64_t> parseIntKey(std::string_view text);

// ---- Raw-value enums (Units, Polarity, SourceFormat, Plating, DetectionConfidence, CheckSeverity) --------

template <class E>
concept RawValueEnum = requires(const E e, std::string_view raw) {
    { e.rawValue() } -> std::convertible_to<std::string_view>;
    { E::fromRawValue(raw) } -> std::same_as<std::optional<E>>;
    { E::typeName() } -> std::convertible_to<std::string_view>;
};

template <RawValueEnum E>
Json encodeValue(E value, const CodingOptions&) {
    return Json(std::string(value.rawValue()));
}

[[noreturn]] void throwTypeMismatch(std::string_view expectedType, const Json& found);
[[noreturn]] void throwInvalidRawValue(std::string_view typeName, std::string_view raw);

template <RawValueEnum E>
void decodeValue(const Json& json, E& out, const CodingOptions&) {
    if (!json.is_string()) throwTypeMismatch("String", json);
    const auto& raw = json.get_ref<const std::string&>();
    auto value = E::fromRawValue(raw);
    if (!value) throwInvalidRawValue(E::typeName(), raw);
    out = *value;
}

// ---- Model values ----------------------------------------------------------------------------------------

Json encodeValue(const Vec2& value, const CodingOptions& options);
Json encodeValue(const BBox& value, const CodingOptions& options);
Json encodeValue(const ApertureShape& value, const CodingOptions& options);
Json encodeValue(const Aperture& value, const CodingOptions& options);
Json encodeValue(const PCBObjectKind& value, const CodingOptions& options);
Json encodeValue(const PCBObject& value, const CodingOptions& options);
Json encodeValue(const GerberDocument& value, const CodingOptions& options);
Json encodeValue(const DrillTool& value, const CodingOptions& options);
Json encodeValue(const DrillHit& value, const CodingOptions& options);
Json encodeValue(const DrillStat& value, const CodingOptions& options);
Json encodeValue(const DrillDocument& value, const CodingOptions& options);
Json encodeValue(const CopperLayerID& value, const CodingOptions& options);
Json encodeValue(const LayerType& value, const CodingOptions& options);
Json encodeValue(const PackageFile& value, const CodingOptions& options);
Json encodeValue(const PCBPackage& value, const CodingOptions& options);
Json encodeValue(const ManufacturingPreset& value, const CodingOptions& options);
Json encodeValue(const CheckIssue& value, const CodingOptions& options);
Json encodeValue(const DFMReport& value, const CodingOptions& options);
Json encodeValue(const DiffChange& value, const CodingOptions& options);
Json encodeValue(const LayerDiffResult& value, const CodingOptions& options);
Json encodeValue(const PackageDiff& value, const CodingOptions& options);
Json encodeValue(const BoardSummary& value, const CodingOptions& options);

// A decoded value keeps what was stored: a PCBObject its "bbox", a DFMReport its issue order.
// On failure `out` may be partly assigned; decodeJSON and fromJSON never hand such a value out.
void decodeValue(const Json& json, Vec2& out, const CodingOptions& options);
void decodeValue(const Json& json, BBox& out, const CodingOptions& options);
void decodeValue(const Json& json, ApertureShape& out, const CodingOptions& options);
void decodeValue(const Json& json, Aperture& out, const CodingOptions& options);
void decodeValue(const Json& json, PCBObjectKind& out, const CodingOptions& options);
void decodeValue(const Json& json, PCBObject& out, const CodingOptions& options);
void decodeValue(const Json& json, GerberDocument& out, const CodingOptions& options);
void decodeValue(const Json& json, DrillTool& out, const CodingOptions& options);
void decodeValue(const Json& json, DrillHit& out, const CodingOptions& options);
void decodeValue(const Json& json, DrillStat& out, const CodingOptions& options);
void decodeValue(const Json& json, DrillDocument& out, const CodingOptions& options);
void decodeValue(const Json& json, CopperLayerID& out, const CodingOptions& options);
void decodeValue(const Json& json, LayerType& out, const CodingOptions& options);
void decodeValue(const Json& json, PackageFile& out, const CodingOptions& options);
void decodeValue(const Json& json, PCBPackage& out, const CodingOptions& options);
void decodeValue(const Json& json, ManufacturingPreset& out, const CodingOptions& options);
void decodeValue(const Json& json, CheckIssue& out, const CodingOptions& options);
void decodeValue(const Json& json, DFMReport& out, const CodingOptions& options);
void decodeValue(const Json& json, DiffChange& out, const CodingOptions& options);
void decodeValue(const Json& json, LayerDiffResult& out, const CodingOptions& options);
void decodeValue(const Json& json, PackageDiff& out, const CodingOptions& options);
void decodeValue(const Json& json, BoardSummary& out, const CodingOptions& options);

// ---- Containers ------------------------------------------------------------------------------------------

template <class T> Json encodeValue(const std::vector<T>& values, const CodingOptions& options);
template <class T> Json encodeValue(const std::map<std::int64_t, T>& values, const CodingOptions& options);
template <class T> Json encodeValue(const std::map<std::string, T>& values, const CodingOptions& options);
template <class T> void decodeValue(const Json& json, std::vector<T>& out, const CodingOptions& options);
template <class T> void decodeValue(const Json& json, std::map<std::int64_t, T>& out, const CodingOptions& options);
template <class T> void decodeValue(const Json& json, std::map<std::string, T>& out, const CodingOptions& options);

// Runs `body`, adding `component` in front of the coding path of any coding error it throws.
template <class F>
decltype(auto) withPathComponent(std::string_view component, F&& body) {
    try {
        return std::forward<F>(body)();
    } catch (const DecodingError& e) {
        throw e.prefixed(std::string(component));
    } catch (const EncodingError& e) {
        throw e.prefixed(std::string(component));
    }
}

// The same for array element `index`; the "Index N" text is only built when an error passes.
template <class F>
decltype(auto) withPathIndex(std::size_t index, F&& body) {
    try {
        return std::forward<F>(body)();
    } catch (const DecodingError& e) {
        throw e.prefixed(indexKey(index));
    } catch (const EncodingError& e) {
        throw e.prefixed(indexKey(index));
    }
}

template <class T>
Json encodeValue(const std::vector<T>& values, const CodingOptions& options) {
    Json out = Json::array();
    out.get_ref<Json::array_t&>().reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        out.push_back(withPathIndex(i, [&] { return encodeValue(values[i], options); }));
    return out;
}

template <class T>
Json encodeValue(const std::map<std::int64_t, T>& values, const CodingOptions& options) {
    Json out = Json::object();
    for (const auto& entry : values) {
        std::string text = std::to_string(entry.first);
        out[text] = withPathComponent(text, [&] { return encodeValue(entry.second, options); });
    }
    return out;
}

template <class T>
Json encodeValue(const std::map<std::string, T>& values, const CodingOptions& options) {
    Json out = Json::object();
    for (const auto& entry : values)
        out[entry.first] = withPathComponent(entry.first, [&] { return encodeValue(entry.second, options); });
    return out;
}

template <class T>
void decodeValue(const Json& json, std::vector<T>& out, const CodingOptions& options) {
    if (!json.is_array()) throwTypeMismatch("Array", json);
    std::vector<T> result;
    result.reserve(json.size());
    std::size_t i = 0;
    for (const auto& element : json) {
        T value{};
        withPathIndex(i, [&] { decodeValue(element, value, options); });
        result.push_back(std::move(value));
        ++i;
    }
    out = std::move(result);
}

[[noreturn]] void throwInvalidIntKey(std::string_view key);
[[noreturn]] void throwDuplicateIntKey(std::string_view key);

template <class T>
void decodeValue(const Json& json, std::map<std::int64_t, T>& out, const CodingOptions& options) {
    if (!json.is_object()) throwTypeMismatch("Dictionary", json);
    std::map<std::int64_t, T> result;
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        const Json& element = item.value();
        auto number = parseIntKey(key);
        if (!number) throwInvalidIntKey(key);
        T value{};
        withPathComponent(key, [&] { decodeValue(element, value, options); });
        // "7" and "07" name one key; keeping either would silently drop the other.
        if (!result.emplace(*number, std::move(value)).second) throwDuplicateIntKey(key);
    }
    out = std::move(result);
}

template <class T>
void decodeValue(const Json& json, std::map<std::string, T>& out, const CodingOptions& options) {
    if (!json.is_object()) throwTypeMismatch("Dictionary", json);
    std::map<std::string, T> result;
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        const Json& element = item.value();
        T value{};
        withPathComponent(key, [&] { decodeValue(element, value, options); });
        result.emplace(key, std::move(value));
    }
    out = std::move(result);
}

// ---- Building blocks for records and payload enums -------------------------------------------------------

// Builds one JSON object; every value goes through the encodeValue rules.
class ObjectWriter {
public:
    explicit ObjectWriter(const CodingOptions& options) : options_(options), object_(Json::object()) {}

    template <class T>
    void put(std::string_view key, const T& value) {
        object_[std::string(key)] = withPathComponent(key, [&] { return encodeValue(value, options_); });
    }
    // An absent value is left out: no member, not a null.
    template <class T>
    void putOptional(std::string_view key, const std::optional<T>& value) {
        if (value) put(key, *value);
    }
    template <class T>
    void putOptional(std::string_view key, const Shared<T>& value) {
        if (value) put(key, *value);
    }
    template <class T>
    void putOptional(std::string_view key, const CopyOnWrite<T>& value) {
        if (value) put(key, *value);
    }
    // The names shared with ObjectReader, for field lists that serve both directions.
    template <class T>
    void field(std::string_view key, const T& value) { put(key, value); }
    template <class T>
    void optionalField(std::string_view key, const std::optional<T>& value) { putOptional(key, value); }
    template <class T>
    void optionalField(std::string_view key, const Shared<T>& value) { putOptional(key, value); }
    template <class T>
    void optionalField(std::string_view key, const CopyOnWrite<T>& value) { putOptional(key, value); }

    Json take() { return std::move(object_); }

private:
    CodingOptions options_;  // a copy: callers may pass a temporary
    Json object_;
};

// Reads the members of one JSON object; unknown members are ignored.
class ObjectReader {
public:
    // Throws typeMismatch unless `json` is an object.
    ObjectReader(const Json& json, const CodingOptions& options);

    // Throws keyNotFound when the key is missing, valueNotFound when it holds null; either way the
    // coding path ends with the key.
    template <class T>
    void required(std::string_view key, T& out) const {
        withPathComponent(key, [&] { decodeValue(find(key), out, options_); });
    }
    // A missing key or a null gives absent; a value of the wrong kind still fails.
    template <class T>
    void optional(std::string_view key, std::optional<T>& out) const {
        auto it = json_.find(key);
        if (it == json_.end() || it->is_null()) {
            out.reset();
            return;
        }
        T value{};
        withPathComponent(key, [&] { decodeValue(*it, value, options_); });
        out = std::move(value);
    }
    template <class T>
    void optional(std::string_view key, Shared<T>& out) const {
        std::optional<T> value;
        optional(key, value);
        out = std::move(value);
    }
    template <class T>
    void optional(std::string_view key, CopyOnWrite<T>& out) const {
        std::optional<T> value;
        optional(key, value);
        out = std::move(value);
    }
    template <class T>
    T required(std::string_view key) const {
        T value{};
        required(key, value);
        return value;
    }

    template <class T>
    void field(std::string_view key, T& out) const { required(key, out); }
    template <class T>
    void optionalField(std::string_view key, std::optional<T>& out) const { optional(key, out); }
    template <class T>
    void optionalField(std::string_view key, Shared<T>& out) const { optional(key, out); }
    template <class T>
    void optionalField(std::string_view key, CopyOnWrite<T>& out) const { optional(key, out); }

private:
    const Json& find(std::string_view key) const;
    const Json& json_;
    CodingOptions options_;  // a copy: callers may pass a temporary
};

// Payload enums: the one member whose key names a case. Throws typeMismatch "Invalid number of keys found,
// expected one." unless exactly one member names a case, and a type mismatch (with the case key in the
// path) when that member's value is not an object. Returns the case's position and its payload object.
std::pair<std::size_t, const Json*> decodeEnumCase(const Json& json, std::span<const char* const> caseNames,
                                                   std::string_view typeName);
// The one-member object of a case: {caseName: payload}.
Json encodeEnumCase(std::string_view caseName, Json payload);
// The same, with the payload written by `fill(ObjectWriter&)`; a case without payload writes nothing.
template <class F>
Json encodeEnumCase(std::string_view caseName, const CodingOptions& options, F&& fill) {
    Json payload = withPathComponent(caseName, [&] {
        ObjectWriter w(options);
        fill(w);
        return w.take();
    });
    return encodeEnumCase(caseName, std::move(payload));
}

// A record from its field list `fields(coder, record)` (see the top of this file).
template <class T, class Fields>
Json encodeRecord(const T& value, const CodingOptions& options, Fields&& fields) {
    ObjectWriter w(options);
    fields(w, value);
    return w.take();
}

template <class T, class Fields>
void decodeRecord(const Json& json, T& out, const CodingOptions& options, Fields&& fields) {
    ObjectReader r(json, options);
    fields(r, out);
}

namespace detail {
template <class Variant, std::size_t... I>
Variant makeAlternative(std::size_t index, std::index_sequence<I...>) {
    using Maker = Variant (*)();
    // From a value-initialised case: g++ may judge a nested case struct not default-constructible.
    static constexpr Maker makers[] = {
        +[]() -> Variant { return Variant(std::in_place_index<I>, std::variant_alternative_t<I, Variant>{}); }...};
    return makers[index]();
}

// Field lists see the case structs, never the boxes some cases are kept in.
template <class C> const C& caseOf(const C& c) { return c; }
template <class C> const C& caseOf(const Boxed<C>& c) { return c.get(); }
template <class C> C& editableCaseOf(C& c) { return c; }
template <class C> C& editableCaseOf(Boxed<C>& c) { return c.edit(); }
} // namespace detail

// A payload enum (a struct holding `Storage value` with `caseNames`) from the field list of its case
// structs, `fields(coder, caseStruct)`; cases without payload list no fields.
template <class E, class Fields>
Json encodePayloadEnum(const E& value, const CodingOptions& options, Fields&& fields) {
    return encodeEnumCase(value.caseName(), options,
                          [&](ObjectWriter& w) {
        std::visit([&](const auto& c) { fields(w, detail::caseOf(c)); }, value.value);
    });
}

template <class E, class Fields>
void decodePayloadEnum(const Json& json, E& out, const CodingOptions& options, std::string_view typeName,
                       Fields&& fields) {
    using Storage = typename E::Storage;
    const auto [index, payload] = decodeEnumCase(json, E::caseNames, typeName);
    auto storage = detail::makeAlternative<Storage>(index, std::make_index_sequence<std::variant_size_v<Storage>>{});
    withPathComponent(E::caseNames[index], [&, payload = payload] {
        ObjectReader r(*payload, options);
        std::visit([&](auto& c) { fields(r, detail::editableCaseOf(c)); }, storage);
    });
    out.value = std::move(storage);
}

// ---- Entry points ----------------------------------------------------------------------------------------

template <class T>
Json toJSON(const T& value, const CodingOptions& options = {}) {
    return encodeValue(value, options);
}

// Never hands out a partly decoded value: either the whole value or a DecodingError.
template <class T>
T fromJSON(const Json& json, const CodingOptions& options = {}) {
    T value{};
    decodeValue(json, value, options);
    return value;
}

// Compact text; invalid UTF-8 inside strings is replaced rather than thrown on.
std::string dumpJSON(const Json& json);
// Two-space indented text with sorted keys.
std::string dumpJSONPretty(const Json& json);
// Parses text; throws dataCorrupted "The given data was not valid JSON." on malformed input.
Json parseJSON(std::string_view text);

template <class T>
std::string encodeJSON(const T& value, const CodingOptions& options = {}) {
    return dumpJSON(toJSON(value, options));
}

template <class T>
std::string encodeJSONPretty(const T& value, const CodingOptions& options = {}) {
    return dumpJSONPretty(toJSON(value, options));
}

template <class T>
T decodeJSON(std::string_view text, const CodingOptions& options = {}) {
    return fromJSON<T>(parseJSON(text), options);
}

} // namespace corvane
