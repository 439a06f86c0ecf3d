#include "FileIO.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {
[[noreturn]] void throwRead(const std::filesystem::path& path, int err) {
    throw FileReadError("Could not read '" + lastPathComponent(path) + "': " + std::strerror(err));
}
} // namespace

Bytes readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwRead(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throwRead(path, err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        throwRead(path, EISDIR);
    }
    Bytes out;
    if (S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throwRead(path, err);
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return out;
}

std::string lastPathComponent(const std::filesystem::path& path) {
    auto p = path.lexically_normal();
    auto name = p.filename();
    if (name.empty()) name = p.parent_path().filename();
    return name.string();
}

std::string pathExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(name.substr(dot + 1));
}

std::string deletingPathExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, dot));
}

std::string_view archiveLastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace corvane
