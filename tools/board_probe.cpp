// Prints what the core makes of a package, as the desktop program takes it: each file's role, object count
// and a hash of its parsed content, the package's warnings, the board summary (with the desktop's time
// budget) and the manufacturing checks' findings with no preset. Used by tools/output_snapshot.py to tell
// whether a change left every result as it was.
//
//     board_probe PACKAGE
#include <cstdio>
#include <string>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/DFMEngine.hpp"
#include "import/PackageImporter.hpp"
#include "model/Codable.hpp"

using namespace corvane;

namespace {

// FNV-1a, enough to tell two parses apart.
std::string hashText(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    char out[17];
    for (int i = 15; i >= 0; --i, h >>= 4) out[i] = "0123456789abcdef"[h & 15];
    out[16] = 0;
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: board_probe PACKAGE\n");
        return 2;
    }
    try {
        const PCBPackage package = PackageImporter().importAny(argv[1]);
        Json files = Json::array();
        for (const PackageFile& f : package.files) {
            files.push_back(Json{{"file", f.fileName},
                                 {"role", f.layerType.displayName()},
                                 {"objects", static_cast<std::int64_t>(f.objects().size())},
                                 {"content", hashText(encodeJSON(f))}});
        }
        BoardSummaryEngine summaryEngine;
        summaryEngine.timeBudget = 2.0;
        DFMReport report = DFMEngine().runChecks(package, std::nullopt);
        report.checkedAt = Date{};  // the time of the run is no result
        const Json out{{"files", files},
                       {"warnings", package.warnings},
                       {"summary", encodeValue(summaryEngine.summarize(package), CodingOptions{})},
                       {"checks", encodeValue(report, CodingOptions{})}};
        const std::string text = out.dump(1) + "\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "board_probe: %s\n", e.what());
        return 1;
    }
}
