#pragma once
// The heap of the preview and the thumbnailer, which read one board, draw it and end. Nearly all the memory
// they touch is touched for the first time, and on a large board the page faults of that first touch cost as
// much as the parse itself, more still on a virtual machine, where each fault may be a trip to its host.
#include <filesystem>

namespace corvane {

// Where the board (about ten times its file) and the pictures made of it (`pictureBytes`) take some megabytes:
// one heap for every thread, reserved at once and backed by huge pages, which cost a fault per 2 MiB instead
// of per 4 KiB; memory freed is kept for the next allocation rather than handed back to the system, which
// would clear it again. Less is left alone: a huge page costs more to clear than a few hundred kilobytes do
// page by page. A folder counts as the files in it. Call before any thread is started. False when the heap
// was left as it is (also under sanitizers).
bool prepareHeapForBoard(const std::filesystem::path& input, std::uint64_t pictureBytes);

} // namespace corvane
