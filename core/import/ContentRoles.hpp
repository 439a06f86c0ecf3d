#pragma once
// Roles read from what a package's files draw, where their names say nothing: copper and solder mask by
// their pads on the drill holes, drill drawings by their symbols, and the board outline as the only closed
// contour around the copper.
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane {

// Gives a role to the Gerber files of `files` (in entry order) that no name rule placed (unknown, low
// confidence), turns drill-named Gerber drawings into documentation, and makes the only closed contour
// enclosing the copper the outline when no file is one. Every role so given has medium confidence and one
// warning naming the file and its role as inferred.
std::vector<std::string> inferRolesFromContent(std::vector<PackageFile>& files);

} // namespace corvane
