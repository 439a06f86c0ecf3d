#include "Annotation.hpp"

namespace corvane {

Json encodeValue(const Annotation& value, const CodingOptions& options) {
    ObjectWriter w(options);
    w.put("id", value.id.uuidString());
    w.put("kind", value.kind);
    w.put("p1", value.p1);
    w.putOptional("p2", value.p2);
    w.put("text", value.text);
    w.put("colorIndex", value.colorIndex);
    return w.take();
}

void decodeValue(const Json& json, Annotation& out, const CodingOptions& options) {
    ObjectReader r(json, options);
    const auto idText = r.required<std::string>("id");
    const auto id = UUID::parse(idText);
    if (!id)
        throw DecodingError(DecodingError::Kind::dataCorrupted, {"id"},
                            "Attempted to decode UUID from invalid UUID string.");
    out.id = *id;
    r.required("kind", out.kind);
    r.required("p1", out.p1);
    r.optional("p2", out.p2);
    r.required("text", out.text);
    r.required("colorIndex", out.colorIndex);
}

} // namespace corvane
