// Any text read as the workspace manifest decodes or fails with an error, never a crash; and what
// decodes is written and read back to the same manifest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "store/RevisionStore.hpp"

using Projects = std::vector<corvane::ProjectEntry>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto options = corvane::CodingOptions::iso8601();
    Projects projects;
    try {
        projects = corvane::decodeJSON<Projects>(text, options);
    } catch (const std::exception&) {
        return 0;
    }
    // Dates are written in whole seconds, so the first writing may round; from then on it is fixed.
    const std::string once = corvane::encodeJSONPretty(projects, options);
    const std::string twice = corvane::encodeJSONPretty(corvane::decodeJSON<Projects>(once, options), options);
    if (once != twice) std::abort();
    return 0;
}
