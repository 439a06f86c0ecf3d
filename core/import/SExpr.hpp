#pragma once
// A small S-expression tree, as used by KiCad board files.
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/SizeLimits.hpp"
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

class SExprTree;

// One parenthesised list. Atoms that read as numbers go to `bareDoubles`, all other atoms
// (quoted ones always, without their quotes) to `strings`; nested lists to `children`. The
// relative order of atoms and nested lists is not kept. Every view points into the owning
// SExprTree and lives as long as it does.
class SExprNode {
public:
    std::string_view name;
    std::span<const std::string_view> strings;
    std::span<const double> bareDoubles;
    std::span<const SExprNode* const> children;
    // The one derived attribute, "name": the last string of a nested list, unless that list's
    // only atom is that one string (a net list with number and name has one, a layer list naming
    // one layer has none). The root never has it.
    std::optional<std::string_view> nameAttribute;

    // Reads the first complete list of `text` (copied into the tree) and ignores whatever
    // follows it. Throws KiCadParseError when the text does not start with a list or ends inside
    // a list or a quoted string. Depth is limited only by memory; more than `nodeLimit` lists, or
    // more than `atomLimit` atoms, fail.
    static SExprTree parse(std::string_view text, std::size_t nodeLimit = maxNodes, std::size_t atomLimit = maxAtoms);

    // Default cap on the lists of one parse: beyond any real board (a 30 MB board holds about
    // 1.5 million), while bounding the memory a hostile file can claim to about 500 MB.
    static constexpr std::size_t maxNodes = kMaxListNodes;
    // Default cap on the atoms of one parse, for the same reason (a 30 MB board holds about 4 million).
    static constexpr std::size_t maxAtoms = kMaxListAtoms;
    // Strings, and numbers, one list keeps: far more than any list the board reader looks into holds. Past
    // them a list's atoms are read and dropped; its name attribute is still its last string.
    static constexpr std::size_t maxAtomsPerList = 4096;

    std::optional<std::string_view> attrib(std::string_view key) const {
        return key == "name" ? nameAttribute : std::nullopt;
    }
    std::vector<const SExprNode*> childrenNamed(std::string_view childName) const;
    const SExprNode* firstChild(std::string_view childName) const;
    // First string of the first child so named; a later child of that name is not consulted.
    std::optional<std::string_view> firstString(std::string_view childName) const;
    std::optional<std::string_view> firstString() const;
    std::optional<double> firstDouble() const;
    // The number at `index`, or 0 past the end (or for a negative index).
    double doubleAt(std::int64_t index) const;
};

// Owns a parsed tree: its nodes, atom arrays and text live in one arena, so building and freeing
// a tree of millions of lists costs a few large allocations and no recursion.
class SExprTree {
public:
    SExprTree(SExprTree&& other) noexcept : arena_(std::move(other.arena_)), root_(std::exchange(other.root_, nullptr)) {}
    SExprTree& operator=(SExprTree&& other) noexcept {
        arena_ = std::move(other.arena_);
        root_ = std::exchange(other.root_, nullptr);
        return *this;
    }

    const SExprNode& root() const { return *root_; }
    const SExprNode* operator->() const { return root_; }

private:
    friend class SExprNode;
    SExprTree() = default;
    std::unique_ptr<std::pmr::monotonic_buffer_resource> arena_;
    const SExprNode* root_ = nullptr;
};

} // namespace corvane
