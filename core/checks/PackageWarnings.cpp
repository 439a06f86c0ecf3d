#include "PackageWarnings.hpp"

#include "import/PackageImporter.hpp"

#include <algorithm>
#include <set>
#include <utility>

namespace corvane {

std::string PackageWarning::filesText() const {
    std::string text = files.size() == 1 ? "File: " : "Files: ";
    for (std::size_t i = 0; i < files.size(); ++i) text += (i ? ", " : "") + files[i];
    return text;
}

namespace {

constexpr std::size_t kMaxExtensionLength = 8;

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// A name that reads as a file's: no blanks, and an extension of letters and digits with a letter among them, so
// that "0.5" or "v1.2" is not taken for one.
bool looksLikeFileName(std::string_view s) {
    if (s.empty() || s.find(' ') != std::string_view::npos) return false;
    const auto dot = s.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 >= s.size()) return false;
    const std::string_view ext = s.substr(dot + 1);
    if (ext.size() > kMaxExtensionLength) return false;
    bool letter = false;
    for (char c : ext) {
        if (isAsciiLetter(c)) letter = true;
        else if (!isAsciiDigit(c) && c != '_') return false;
    }
    return letter;
}

// What may stand right before or after a name inside a sentence.
bool isBoundary(char c) {
    return c == ' ' || c == '\'' || c == '"' || c == '(' || c == ')' || c == ',' || c == ':' || c == ';' || c == '.' ||
           c == '\n';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.remove_suffix(1);
    return s;
}

using Found = std::vector<std::pair<std::size_t, std::string>>;  // position in the text, name

// The package's own files, wherever the text names them as a whole word.
void findPackageFiles(std::string_view text, const std::vector<std::string>& names, Found& found) {
    for (const auto& name : names) {
        if (name.empty()) continue;
        for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            if ((at == 0 || isBoundary(text[at - 1])) && (end == text.size() || isBoundary(text[end]))) {
                found.emplace_back(at, name);
                break;
            }
        }
    }
}

// Names in single quotes: "Drill file 'x.drl' does not line up", "'y.zip' is not a ZIP archive."
void findQuotedNames(std::string_view text, Found& found) {
    for (std::size_t open = text.find('\''); open != std::string_view::npos;) {
        const std::size_t close = text.find('\'', open + 1);
        if (close == std::string_view::npos) break;
        const std::string_view inner = text.substr(open + 1, close - open - 1);
        if (looksLikeFileName(inner)) found.emplace_back(open + 1, std::string(inner));
        open = text.find('\'', close + 1);
    }
}

// A list after a colon: "Not read: a.pdf, b.txt and 3 more", "Skipped unrecognized file: c.xyz".
void findListedNames(std::string_view text, Found& found) {
    for (std::size_t colon = text.find(": "); colon != std::string_view::npos; colon = text.find(": ", colon + 2)) {
        std::size_t at = colon + 2;
        while (at < text.size()) {
            const std::size_t comma = std::min(text.find(", ", at), text.size());
            std::string_view item = text.substr(at, comma - at);
            if (const auto more = item.find(" and "); more != std::string_view::npos) item = item.substr(0, more);
            const std::string_view name = trimmed(item);
            if (looksLikeFileName(name)) found.emplace_back(static_cast<std::size_t>(name.data() - text.data()), std::string(name));
            at = comma + 2;
        }
    }
}

} // namespace

std::vector<std::string> filesNamedIn(std::string_view text, const std::vector<std::string>& packageFiles) {
    Found found;
    findPackageFiles(text, packageFiles, found);
    findQuotedNames(text, found);
    findListedNames(text, found);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> files;
    std::set<std::string> seen;
    for (auto& [at, name] : found)
        if (seen.insert(name).second) files.push_back(std::move(name));
    return files;
}

std::vector<PackageWarning> packageWarnings(const PCBPackage& package, const std::optional<DFMReport>& checks) {
    std::vector<std::string> names;
    names.reserve(package.files.size());
    for (const auto& f : package.files) names.push_back(f.fileName);
    std::set<std::string, std::less<>> seen;
    // The checks name every file that could not be classified; the importer's doubt about the role of
    // such a file is the same cause, and is said once.
    std::set<std::string> unrecognised;
    if (checks)
        for (const auto& issue : checks->issues)
            if (issue.id == "unexpectedLayer" && issue.fileName) unrecognised.insert(*issue.fileName);
    for (const auto& f : package.files)
        if (f.layerType.isUnknown() && unrecognised.count(f.fileName))
            seen.insert(PackageImporter::doubtfulRoleWarning(f));
    std::vector<PackageWarning> out;
    for (const auto& text : package.warnings) {
        if (!seen.insert(text).second) continue;
        out.push_back(PackageWarning{text, filesNamedIn(text, names)});
    }
    return out;
}

} // namespace corvane
