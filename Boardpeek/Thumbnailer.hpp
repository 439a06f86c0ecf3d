#pragma once
// The desktop's thumbnailer: the board of a package, drawn without the window system, since a file browser
// starts it for every board it shows.
#include <filesystem>
#include <span>
#include <string>

namespace corvane {

// Renders only the board of a package into a PNG of at most size × size pixels, for the desktop's
// thumbnail cache. Returns false (and leaves no file) when the package cannot be imported or drawn.
bool writeThumbnail(const std::filesystem::path& input, const std::filesystem::path& output, int size,
                    std::string& error);

// The thumbnailer's command line, INPUT OUTPUT SIZE (SIZE 256 when it is no positive number, at most
// 4096). Returns the exit code: 0 when the PNG was written; 1, with "<name>: <reason>" on standard error,
// when the board cannot be drawn or written; 2, with `usage`, for any other number of arguments.
int runThumbnailer(std::span<char* const> args, const std::string& name, const std::string& usage);

} // namespace corvane
