// boardpeek-thumbnailer INPUT OUTPUT SIZE: the desktop's thumbnailer (Boardpeek/boardpeek.thumbnailer). It
// links no Qt, so that a file browser showing a folder of boards does not load a window system per board.
#include <cstddef>
#include <span>

#include "CpuDeadline.hpp"
#include "Thumbnailer.hpp"

int main(int argc, char** argv) {
    corvane::capDataMemory();
    return corvane::runThumbnailer(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)),
                                   "boardpeek-thumbnailer", "usage: boardpeek-thumbnailer INPUT OUTPUT SIZE");
}
