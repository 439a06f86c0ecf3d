#pragma once
// A small S-expression tree, as used by KiCad board files.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Errors.hpp"

namespace corvane {

// Error of the KiCad board reader and of the S-expression reader beneath it.
class KiCadParseError : public CorvaneError {
public:
    enum class Case { malformed };

    static KiCadParseError malformed(std::string detail) { return KiCadParseError(Case::malformed, std::move(detail)); }

    Case errorCase() const { return case_; }
    const std::string& detail() const { return detail_; }

private:
    KiCadParseError(Case c, std::string detail)
        : CorvaneError("Malformed KiCad PCB file: " + detail), case_(c), detail_(std::move(detail)) {}
    Case case_;
    std::string detail_;
};

// One parenthesised list. Atoms that read as numbers go to `bareDoubles`, all other atoms
// (quoted ones always) to `strings`; nested lists to `children`. The relative order of atoms
// and nested lists is not kept.
class SExprNode {
public:
    explicit SExprNode(std::string name);
    // Tears the tree down without recursion, so a deeply nested tree cannot exhaust the stack.
    ~SExprNode();
    SExprNode(const SExprNode&) = delete;
    SExprNode& operator=(const SExprNode&) = delete;

    std::string name;
    std::vector<std::string> strings;
    std::vector<double> bareDoubles;
    // Derived attributes; the reader sets only "name" (see `parse`).
    std::map<std::string, std::string> attribs;
    std::vector<std::unique_ptr<SExprNode>> children;

    // Reads the first complete list of `text` and ignores whatever follows it. Throws
    // KiCadParseError when the text does not start with a list or ends inside a list or a
    // quoted string. Nesting depth is limited only by memory; more than `nodeLimit` lists fail.
    static std::unique_ptr<SExprNode> parse(std::string_view text, std::size_t nodeLimit = maxNodes);

    // Default cap on the lists of one parse: far beyond any real board (a 30 MB board holds
    // about 1.5 million), while bounding the memory a hostile file can claim to a few GB.
    static constexpr std::size_t maxNodes = std::size_t{1} << 24;

    std::vector<const SExprNode*> childrenNamed(std::string_view childName) const;
    const SExprNode* firstChild(std::string_view childName) const;
    // First string of the first child so named; a later child of that name is not consulted.
    std::optional<std::string> firstString(std::string_view childName) const;
    std::optional<std::string> firstString() const;
    std::optional<double> firstDouble() const;
    // The number at `index`, or 0 past the end (or for a negative index).
    double doubleAt(std::int64_t index) const;
};

} // namespace corvane
