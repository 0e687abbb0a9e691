// The host layer of POSIX systems (Linux and the like): the file system, where each call is one
// system call or the short sequence file_system.hpp names, and the process set-up.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "io/file_system.hpp"
#include "io/process.hpp"

namespace weldrix {
namespace {

file_kind kind_of(mode_t mode) {
    if (S_ISREG(mode)) return file_kind::regular;
    if (S_ISDIR(mode)) return file_kind::folder;
    if (S_ISLNK(mode)) return file_kind::link;
    return file_kind::other;
}

file_status status_of(const struct stat& st) {
    file_status status;
    status.kind = kind_of(st.st_mode);
    status.size = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    status.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.file_id = static_cast<std::uint64_t>(st.st_ino);
    status.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return status;
}

// A handle is the descriptor, with waits_bit set for one that is left non-blocking (a FIFO, a
// device): only those wait for readiness in short spells (see transfer). Knowing it from the
// handle spares asking the descriptor's flags at every read and write. Descriptors stay far below
// the bit (RLIMIT_NOFILE allows at most 2^20 on Linux).
constexpr file_system::handle waits_bit = file_system::handle{1} << 30;

int fd_of(file_system::handle h) { return static_cast<int>(h & ~waits_bit); }
bool waits(file_system::handle h) { return (h & waits_bit) != 0; }

// The status open_read took of the file it opened last on this thread, given once to the
// handle_status that follows (a descriptor number is reused after a close, so close forgets it).
struct opened_file {
    file_system::handle h = file_system::no_handle;
    struct stat st {};
};
thread_local opened_file opened;

// How long a call waits at most for a FIFO, a pipe or a device before it reports EINTR, so that
// its caller can see whether the run is to stop: an interrupt reaches one thread of a batch only,
// and the others must not wait for ever.
constexpr int wait_spell_ms = 200;

// Whether a handle can be read or written (events) now: always for a regular file; else after a
// wait of one spell at most. A FIFO that no writer has opened yet is not ready (Linux reports no
// hang-up before a first writer), so its reader waits for one, as a blocking open would; once a
// writer has come and gone, the hang-up makes it ready for the read that finds its end.
bool wait_until_ready(file_system::handle h, short events) {
    if (!waits(h)) return true;
    pollfd p{fd_of(h), events, 0};
    return ::poll(&p, 1, wait_spell_ms) > 0;
}

// One read or write (call) once the descriptor is ready for events. A descriptor that is not
// ready, or would block, counts as interrupted: the caller's loop checks its stop flag and tries
// again.
template <class Call>
int transfer(file_system::handle h, short events, std::size_t& done, Call call) {
    done = 0;
    if (!wait_until_ready(h, events)) return EINTR;
    const ssize_t n = call();
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? EINTR : errno;
    done = static_cast<std::size_t>(n);
    return 0;
}

// The end of a temporary file's name: six letters and digits, from a random stem drawn once per
// process and a count, so that names rarely meet (an O_EXCL create settles the rest).
std::string temporary_suffix() {
    static const std::uint64_t stem = [] {
        std::random_device random;
        return (std::uint64_t{random()} << 32 | random()) ^ static_cast<std::uint64_t>(::getpid());
    }();
    static std::atomic<std::uint64_t> count{0};
    std::uint64_t v = stem + count.fetch_add(1) * 0x9E3779B97F4A7C15u;
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = letters[v % 62];
        v /= 62;
    }
    return suffix;
}

struct freer {
    void operator()(char* p) const { std::free(p); }
};
struct folder_closer {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// flock on the folder itself: nothing is created in it, and the lock goes with the descriptor,
// which the system closes when the process ends, however it ends.
class posix_folder_lock final : public file_system::folder_lock {
public:
    ~posix_folder_lock() override {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
};

class posix_file_system final : public file_system {
public:
    bool names_ignore_case() const override { return false; }

    int status(const std::string& path, file_status& st) override {
        st = {};
        struct stat s;
        if (::stat(path.c_str(), &s) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
        st = status_of(s);
        return 0;
    }

    bool may_write(const std::string& path) override {
        return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
    }

    int read_link(const std::string& path, std::string& target) override {
        std::string buffer(256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
            if (n < 0) return errno;
            if (static_cast<std::size_t>(n) < buffer.size()) {
                target.assign(buffer.data(), static_cast<std::size_t>(n));
                return 0;
            }
            if (buffer.size() >= (std::size_t{1} << 20)) return ENAMETOOLONG;
            buffer.resize(buffer.size() * 2);
        }
    }

    // The buffers and descriptors below are owned, so that memory running out while the result is
    // copied (std::bad_alloc) leaks neither.
    int real_path(const std::string& path, std::string& canonical) override {
        const std::unique_ptr<char, freer> resolved(::realpath(path.c_str(), nullptr));
        if (!resolved) return errno;
        canonical = resolved.get();
        return 0;
    }

    int list_folder(const std::string& folder, std::vector<folder_entry>& entries) override {
        entries.clear();
        const std::unique_ptr<DIR, folder_closer> owner(::opendir(folder.c_str()));
        DIR* const dir = owner.get();
        if (!dir) return errno;
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            folder_entry e{entry->d_name, file_kind::other};
            switch (entry->d_type) {
                case DT_REG: e.kind = file_kind::regular; break;
                case DT_DIR: e.kind = file_kind::folder; break;
                case DT_LNK: e.kind = file_kind::link; break;
                case DT_UNKNOWN: {
                    // Some file systems do not say; ask the entry itself.
                    struct stat st;
                    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                        e.kind = kind_of(st.st_mode);
                    break;
                }
                default: break;
            }
            entries.push_back(std::move(e));
            errno = 0;
        }
        return errno;
    }

    int make_folder(const std::string& path) override { return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

    int rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }

    int remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

    // No open blocks: O_NONBLOCK keeps a FIFO without a writer from holding the open (and a
    // device from waiting for a carrier). A regular file (or a folder) is then read as usual; any
    // other file keeps O_NONBLOCK, and read waits for it in short spells (see wait_until_ready).
    int open_read(const std::string& path, bool regular_only, handle& h) override {
        h = no_handle;
        if (path.empty()) return ENOENT;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return errno;
        struct stat st;
        int error = ::fstat(fd, &st) != 0 ? errno : 0;
        if (error == 0 && regular_only && !S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        if (error != 0) {
            ::close(fd);
            return error;
        }
        // O_NONBLOCK changes nothing for a regular file or a folder: only other files wait.
        h = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? fd : fd | waits_bit;
        opened = {h, st};
        return 0;
    }

    // A FIFO that no process reads cannot be opened for writing without blocking (ENXIO with
    // O_NONBLOCK): the call waits a short spell and reports EINTR, so that its caller asks again
    // or, once the run is to stop, gives up. Writes keep O_NONBLOCK (see write).
    int open_write(const std::string& path, handle& h) override {
        h = no_handle;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            struct stat st;
            if (error != ENXIO || ::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return error;
            ::poll(nullptr, 0, wait_spell_ms);
            return EINTR;
        }
        h = fd | waits_bit;
        return 0;
    }

    // Made with the mode a new file gets (0666 less the umask), so that an output that replaces
    // nothing needs no change of its permissions afterwards. The name is a per-process random
    // stem and a count; a name that is taken is passed over, as mkstemp does.
    int create_temporary(const std::string& folder, std::string& path, handle& h) override {
        h = no_handle;
        for (int tries = 0; tries < 100; ++tries) {
            path = folder + "/.weldrix-" + temporary_suffix();
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                h = fd;
                return 0;
            }
            if (errno != EEXIST) return errno;
        }
        return EEXIST;
    }

    int copy_permissions(handle h, const std::string& like) override {
        if (like.empty()) return 0;  // created with the mode of a new file
        struct stat st;
        if (::stat(like.c_str(), &st) != 0) return errno;
        // Keep the owner and group where allowed; a plain user may not, which is no error.
        // Done before fchmod, as a change of owner may clear set-id bits.
        [[maybe_unused]] const int ignored = ::fchown(fd_of(h), st.st_uid, st.st_gid);
        return ::fchmod(fd_of(h), st.st_mode & 07777) == 0 ? 0 : errno;
    }

    int handle_status(handle h, file_status& st) override {
        // A reader asks for the status of the file it has just opened: open_read's is the same.
        if (opened.h == h) {
            st = status_of(opened.st);
            opened.h = no_handle;
            return 0;
        }
        struct stat s;
        if (::fstat(fd_of(h), &s) != 0) return errno;
        st = status_of(s);
        return 0;
    }

    int read(handle h, char* buffer, std::size_t size, std::size_t& got) override {
        return transfer(h, POLLIN, got, [&] { return ::read(fd_of(h), buffer, size); });
    }

    int write(handle h, const char* bytes, std::size_t size, std::size_t& written) override {
        return transfer(h, POLLOUT, written, [&] { return ::write(fd_of(h), bytes, size); });
    }

    // Linux releases the descriptor even when close reports an error (EINTR included), so it is
    // never closed twice.
    int close(handle h) override {
        if (opened.h == h) opened.h = no_handle;
        return ::close(fd_of(h)) == 0 ? 0 : errno;
    }

    // fsync rather than fdatasync. The file to flush is new, so fdatasync has to write its size and
    // its blocks, which is nearly all the work; fsync adds the permission bits and the owner copied
    // from the file it replaces, which must survive together with the bytes.
    int sync(handle h) override { return ::fsync(fd_of(h)) == 0 ? 0 : errno; }

    int sync_folder(const std::string& folder) override {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return errno;
        int error = ::fsync(fd) == 0 ? 0 : errno;
        // A file system that cannot flush a folder says EINVAL: its entries are then as safe as it
        // makes them, which is no failure of the caller's.
        if (error == EINVAL) error = 0;
        ::close(fd);
        return error;
    }

    int lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) override {
        lock.reset();
        auto held = std::make_unique<posix_folder_lock>();  // first: owns the descriptor from its open on
        held->fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (held->fd < 0) return errno;
        if (::flock(held->fd, LOCK_EX | LOCK_NB) != 0) return errno == EAGAIN ? EWOULDBLOCK : errno;
        lock = std::move(held);
        return 0;
    }

    int sync_file_system(const std::string& path) override {
        // O_NONBLOCK: a FIFO named by path must not block the open.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return errno;
#if defined(__linux__)
        // syncfs reports the write errors met since the descriptor was opened from Linux 5.8 on;
        // older kernels always say 0.
        const int error = ::syncfs(fd) == 0 ? 0 : errno;
#else
        ::sync();  // every file system: more than asked, never less
        const int error = 0;
#endif
        ::close(fd);
        return error;
    }

private:
    // Read when host_file_system is first called, before the threads of a batch start (main's
    // first call, or a test's).
};

}  // namespace

file_system& host_file_system() {
    static posix_file_system host;
    return host;
}

void prepare_process() {
    // A closed pipe on standard output must not kill the run before the output file is written.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor may a file size limit: the write then fails with an error the output writer handles
    // (temporary file removed, old output kept, "Can't create") instead of killing the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    // The tables of a run grow by doubling. Served from the heap rather than from fresh mappings,
    // a grown table reuses the blocks its smaller copies left, instead of having the kernel zero
    // new pages for every doubling. Blocks beyond 32 MiB are still mapped, so that huge tables
    // give their memory back when they grow. (A tuning of the GNU C library's allocator; other
    // allocators keep their own policy.)
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::string environment_variable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

void on_interrupt(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read of standard input (the wait for Enter) returns at once.
    action.sa_flags = 0;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

void prepare_for_many_files() {
    // Freed memory is kept rather than given back at once: a batch cleans file after file on
    // several threads, and the tables each file frees would otherwise be returned to the kernel
    // and faulted in again, zeroed, by the next file. A single file keeps the default, which
    // keeps its peak memory low.
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

void release_free_memory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

bool standard_output_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

// The WebAssembly build is the POSIX host under Emscripten, whose threads (web/single_thread.cpp)
// run to their end when started.
bool threads_run_inline() {
#if defined(__EMSCRIPTEN__)
    return true;
#else
    return false;
#endif
}

}  // namespace weldrix
