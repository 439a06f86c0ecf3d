#pragma once
#include <filesystem>
#include <string>

namespace corvane {

// Renders only the board of a package into a PNG of at most size × size pixels, for the desktop's
// thumbnail cache. Returns false (and leaves no file) when the package cannot be imported or drawn.
bool writeThumbnail(const std::filesystem::path& input, const std::filesystem::path& output, int size,
                    std::string& error);

} // namespace corvane
