#pragma once
// Roles read from what a package's files draw, where their names say nothing: copper and solder mask by
// their pads on the drill holes, drawings (of the holes, of the assembly, of the fabrication) as
// documentation, and the board outline as the only closed contour around the copper.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane {

// When the content rules must give up, so that an import of any file ends: files not examined by then keep
// the roles their names gave.
struct RoleDeadline {
    using Clock = std::chrono::steady_clock;
    Clock::time_point at = Clock::time_point::max();
    // The clock read, several threads at once; tests pass one of their own.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };

    // A deadline `seconds` from now (none for a budget that is not a number).
    static RoleDeadline after(double seconds);
    bool passed() const { return now() > at; }
};

// Gives a role to the Gerber files of `files` (in entry order) that no name rule placed (unknown, low
// confidence); turns drawings into documentation (no role): files that say they are one, drill-named
// Gerber drawings, and files whose pads on the holes carry no copper's tracks or whose drawing reaches far
// beyond the board; makes the only closed contour enclosing the copper the outline when no file is one, and
// finds the board's edge within outline files that hold a drawing around it (PackageFile::boardEdgeBox), or
// finds them no outline at all. Every role so given has medium confidence and one warning naming the file
// and its role as inferred. Deterministic whatever the threads' timing, unless the deadline passes.
std::vector<std::string> inferRolesFromContent(std::vector<PackageFile>& files, const RoleDeadline& deadline = {});

} // namespace corvane
