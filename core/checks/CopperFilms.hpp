#pragma once
// Copper films: copper layers whose drawing is not their copper.
//
// A negative image (%IPNEG, or the X2 file polarity Negative) draws where the copper is not. Old
// plane layers are often such films even when drawn positive: the plane's antipads, thermal reliefs
// and split lines as dark objects on the holes, and no tracks. Measured as copper, a film turns
// every antipad into a pad and every split line into a track. Its copper would be the plane's
// extent less what the file draws, and the file does not give that extent: the checks and the
// summary leave films out and say so.
#include <cstddef>
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane::films {

// What shows a copper file to be a film.
enum class FilmEvidence {
    imagePolarity,  // %IPNEG
    filePolarity,   // the X2 file polarity Negative
    drawnClearances // antipads and thermal reliefs on the holes, no tracks
};

struct CopperFilm {
    std::size_t file = 0; // index into the package's files
    FilmEvidence evidence = FilmEvidence::imagePolarity;
};

// The package's copper files that are films, in file order.
std::vector<CopperFilm> copperFilms(const PCBPackage& package);

// Per file of the package: whether it holds copper as drawn, a copper layer with a Gerber
// document that is no film.
std::vector<bool> drawnCopperFiles(const PCBPackage& package, const std::vector<CopperFilm>& films);

// The warning row that names a film and what was left out for it.
CheckIssue filmWarning(const PCBPackage& package, const CopperFilm& film);

} // namespace corvane::films
