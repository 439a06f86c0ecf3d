#include "FileIO.hpp"

#include "model/Format.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {
[[noreturn]] void throwRead(const std::filesystem::path& path, int err, const char* reason = nullptr) {
    throw FileReadError("Could not read '" + lastPathComponent(path) + "': " + (reason ? reason : std::strerror(err)),
                        err);
}

// Closes the descriptor on every way out.
struct FileDescriptor {
    int fd = -1;
    FileDescriptor() = default;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// A regular file open for reading.
class RegularFile {
public:
    // Opens `path` (a pipe without waiting for a writer) and refuses anything but a regular file.
    explicit RegularFile(const std::filesystem::path& path) : path_(path) {
        file_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file_.fd < 0) throwRead(path, errno);
        struct stat st {};
        if (::fstat(file_.fd, &st) != 0) throwRead(path, errno);
        if (S_ISDIR(st.st_mode)) throwRead(path, EISDIR);
        // A device or pipe has no size to check: /dev/zero never ends.
        if (!S_ISREG(st.st_mode)) throwRead(path, EINVAL, "Not a regular file");
        declaredSize_ = static_cast<std::uint64_t>(st.st_size);
    }

    std::uint64_t declaredSize() const { return declaredSize_; }
    // Up to `n` bytes into `buf`; 0 at the end of the file.
    std::size_t read(std::uint8_t* buf, std::size_t n) {
        for (;;) {
            const ssize_t got = ::read(file_.fd, buf, n);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throwRead(path_, errno);
        }
    }

    // Up to `n` bytes from `offset` into `buf`, leaving the file's position alone; 0 past its end.
    std::size_t readAt(std::uint8_t* buf, std::size_t n, std::uint64_t offset) const {
        for (;;) {
            const ssize_t got = ::pread(file_.fd, buf, n, static_cast<off_t>(offset));
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throwRead(path_, errno);
        }
    }

private:
    const std::filesystem::path& path_;
    FileDescriptor file_;
    std::uint64_t declaredSize_ = 0;
};

// Opens `path` as RegularFile does, refuses a file of more than `maxBytes`, tells `sized` its declared
// size, then hands every block read to `consume`. The file may grow while it is read, so the ceiling
// holds for the bytes read too.
template <class Sized, class Consume>
void readBlocks(const std::filesystem::path& path, std::uint64_t maxBytes, Sized&& sized, Consume&& consume) {
    RegularFile file(path);
    if (file.declaredSize() > maxBytes) throwRead(path, EFBIG);
    sized(static_cast<std::size_t>(file.declaredSize()));
    std::uint8_t buf[1 << 16];
    std::uint64_t total = 0;
    while (const std::size_t n = file.read(buf, sizeof buf)) {
        total += n;
        if (total > maxBytes) throwRead(path, EFBIG);
        consume(std::span<const std::uint8_t>(buf, n));
    }
}
} // namespace

Bytes readWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    Bytes out;
    readBlocks(path, maxBytes, [&out](std::size_t size) { out.reserve(size); },
               [&out](std::span<const std::uint8_t> block) { out.insert(out.end(), block.begin(), block.end()); });
    return out;
}

// Blocks of a file read on demand: small enough that the few bytes asked for alone (an entry's local header)
// read little more, while a range of many is read in one call.
constexpr std::uint64_t kDemandBlockBytes = std::uint64_t{16} << 10;

struct FileOnDemand::State {
    enum Block : std::uint8_t { unread, reading, read };

    explicit State(const std::filesystem::path& p) : path(p), file(path) {}

    const std::filesystem::path path; // before `file`, which refers to it
    RegularFile file;
    std::size_t size = 0;
    std::unique_ptr<std::uint8_t[]> data;
    std::unique_ptr<std::atomic<std::uint8_t>[]> blocks;
    std::atomic<bool> cameShort{false};

    // Reads blocks [first, last) that this thread has claimed; zeros past an end that came too soon.
    void readBlocks(std::uint64_t first, std::uint64_t last) {
        const std::uint64_t from = first * kDemandBlockBytes,
                            to = std::min<std::uint64_t>(size, last * kDemandBlockBytes);
        for (std::uint64_t at = from; at < to;) {
            const std::size_t n = file.readAt(data.get() + at, static_cast<std::size_t>(to - at), at);
            if (n == 0) {
                std::fill(data.get() + at, data.get() + to, std::uint8_t{0});
                cameShort = true;
                break;
            }
            at += n;
        }
    }

    void mark(std::uint64_t first, std::uint64_t last, Block to) {
        for (std::uint64_t b = first; b < last; ++b) {
            blocks[b].store(to, std::memory_order_release);
            blocks[b].notify_all();
        }
    }
};

FileOnDemand::FileOnDemand(const std::filesystem::path& path, std::uint64_t maxBytes)
    : state_(std::make_unique<State>(path)) {
    if (state_->file.declaredSize() > maxBytes) throwRead(path, EFBIG);
    state_->size = static_cast<std::size_t>(state_->file.declaredSize());
    state_->data.reset(new std::uint8_t[state_->size]);
    const std::uint64_t blocks = (state_->size + kDemandBlockBytes - 1) / kDemandBlockBytes;
    state_->blocks.reset(new std::atomic<std::uint8_t>[blocks]);
    for (std::uint64_t b = 0; b < blocks; ++b) state_->blocks[b].store(State::unread, std::memory_order_relaxed);
}

FileOnDemand::~FileOnDemand() = default;

std::span<const std::uint8_t> FileOnDemand::bytes() const { return {state_->data.get(), state_->size}; }

void FileOnDemand::need(std::uint64_t offset, std::uint64_t length) const {
    State& s = *state_;
    if (offset >= s.size || length == 0) return;
    const std::uint64_t end = length > s.size - offset ? s.size : offset + length;
    const std::uint64_t firstBlock = offset / kDemandBlockBytes,
                        endBlock = (end + kDemandBlockBytes - 1) / kDemandBlockBytes;
    // Claim every unread block and read each run of claimed ones in one call; then wait for the blocks
    // other threads claimed first.
    for (std::uint64_t b = firstBlock; b < endBlock;) {
        std::uint64_t run = b;
        for (std::uint8_t expected = State::unread;
             run < endBlock &&
             s.blocks[run].compare_exchange_strong(expected, State::reading, std::memory_order_acquire);
             expected = State::unread)
            ++run;
        if (run == b) {
            ++b;
            continue;
        }
        try {
            s.readBlocks(b, run);
        } catch (...) {
            // Left for whoever asks next, who reads them again and meets the same error, or none.
            s.mark(b, run, State::unread);
            throw;
        }
        s.mark(b, run, State::read);
        b = run;
    }
    for (std::uint64_t b = firstBlock; b < endBlock; ++b) {
        for (std::uint8_t now = s.blocks[b].load(std::memory_order_acquire); now != State::read;
             now = s.blocks[b].load(std::memory_order_acquire)) {
            if (now == State::reading) {
                s.blocks[b].wait(State::reading, std::memory_order_acquire);
            } else {
                // The thread that claimed it failed: read it here.
                need(b * kDemandBlockBytes, kDemandBlockBytes);
            }
        }
    }
}

bool FileOnDemand::changed() const {
    if (state_->cameShort) return true;
    std::uint8_t past = 0;
    return state_->file.readAt(&past, 1, state_->size) != 0;
}

void readFileInBlocks(const std::filesystem::path& path, const std::function<void(std::span<const std::uint8_t>)>& consume,
                      std::uint64_t maxBytes) {
    readBlocks(path, maxBytes, [](std::size_t) {}, consume);
}

Bytes readFileHead(const std::filesystem::path& path, std::size_t maxBytes) {
    RegularFile file(path);
    Bytes head(maxBytes);
    std::size_t filled = 0;
    while (filled < maxBytes) {
        const std::size_t n = file.read(head.data() + filled, maxBytes - filled);
        if (n == 0) break;
        filled += n;
    }
    head.resize(filled);
    return head;
}

namespace {
constexpr std::string_view kTempMark = ".tmp-";

[[noreturn]] void throwWrite(const std::filesystem::path& path, int err) {
    throw FileWriteError("Could not write '" + path.string() + "': " + std::strerror(err));
}

std::string randomSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t v = (static_cast<std::uint64_t>(::getpid()) << 32) ^ counter.fetch_add(1) ^
                            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return hex16(v);
}
} // namespace

void atomicWriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, unsigned mode,
                     Durability durability) {
    const bool flush = durability == Durability::flushed;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const std::filesystem::path tmp =
        folder / ("." + path.filename().string() + std::string(kTempMark) + randomSuffix());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throwWrite(path, errno);
    auto fail = [&](int err) {
        ::unlink(tmp.c_str());
        throwWrite(path, err);
    };
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail(err);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0 || (flush && ::fsync(fd) != 0)) {
        const int err = errno;
        ::close(fd);
        fail(err);
    }
    if (::close(fd) != 0) fail(errno);
    if (::rename(tmp.c_str(), path.c_str()) != 0) fail(errno);
    if (!flush) return;
    const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
}

void removeStaleTemporaryFiles(const std::filesystem::path& folder, std::filesystem::file_time_type olderThan) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= 1 || name[0] != '.' || name.find(kTempMark) == std::string::npos) continue;
        std::error_code tec;
        const auto written = std::filesystem::last_write_time(it->path(), tec);
        if (tec || written >= olderThan) continue;
        std::error_code rec;
        std::filesystem::remove(it->path(), rec);
    }
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

} // namespace corvane
