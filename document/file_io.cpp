#include "document/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace weldrix {
namespace {

class descriptor {
public:
    explicit descriptor(int fd) : fd_(fd) {}
    ~descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links to the path that finally names a file (or nothing yet).
bool resolve_links(std::string& path) {
    for (int hops = 0; hops < 64; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return false;
        std::string target(buf.data(), static_cast<std::size_t>(n));
        if (target.empty()) return false;
        path = target[0] == '/' ? target : folder_of(path) + "/" + target;
    }
    return false;  // a loop of links
}

bool write_directly(const std::string& name, std::string_view bytes) {
    descriptor fd(::open(name.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    const bool written = write_all(fd.get(), bytes);
    return fd.close() && written;
}

mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Reads every byte of an open descriptor (which it does not close).
bool read_descriptor(int fd, std::string& bytes) {
    bytes.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
}

}  // namespace

bool read_file(const std::string& name, std::string& bytes) {
    if (name.empty()) return false;
    descriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    return read_descriptor(fd.get(), bytes);
}

int open_regular_file(const std::string& host_path) {
    if (host_path.empty()) return -1;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below anyway.
    const int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::string real_path(const std::string& host_path) {
    char* resolved = ::realpath(host_path.c_str(), nullptr);
    if (!resolved) return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool replace_file(const std::string& name, std::string_view bytes) {
    if (name.empty()) return false;
    struct stat st;
    // A device, FIFO or socket cannot be replaced; write to it directly. This is asked of the name
    // itself, so that the kernel follows links that only it can resolve: /dev/stdout leads to
    // /proc/self/fd/1, whose link text for a pipe ("pipe:[...]") names no path.
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return write_directly(name, bytes);
    }
    std::string target = name;
    if (!resolve_links(target)) return false;

    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return false;
    if (exists && !S_ISREG(st.st_mode)) return write_directly(target, bytes);
    // A file its owner made read-only is not replaced, just as opening it for writing would fail.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;

    std::string temporary = folder_of(target) + "/.weldrix-XXXXXX";
    const int raw_fd = ::mkstemp(temporary.data());
    if (raw_fd < 0) return false;
    descriptor fd(raw_fd);
    if (exists) {
        // Keep the owner and group where allowed; a plain user may not, which is no error. Done
        // before fchmod, as a change of owner may clear set-id bits.
        [[maybe_unused]] const int ignored = ::fchown(fd.get(), st.st_uid, st.st_gid);
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~current_umask());
    bool ok = ::fchmod(fd.get(), mode) == 0;
    ok = ok && write_all(fd.get(), bytes);
    ok = fd.close() && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace weldrix
