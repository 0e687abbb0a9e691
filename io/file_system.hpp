// The operating system's file services, behind one interface.
//
// Everything the tool does with files goes through a file_system: reading the input and the
// subfiles, listing folders to match subfile names, and replacing the output safely. The calls
// are the host's primitives, one each, so that
//   * a host is one implementation file (io/posix_host.cpp, io/windows_host.cpp);
//   * tests can stand in for the host: an in-memory file system (io/memory_file_system.hpp) drives
//     the algorithms without touching the disk, and a wrapper can fail any chosen call;
//   * the portable logic built on top (io/files.hpp, io/host_paths.hpp) is written once.
//
// Every call returns 0 on success or an error number, the errno values of <cerrno> (ENOENT,
// EACCES, ENOSPC, EIO, EINTR, ...) on every host. A call may fail with EINTR; every caller repeats
// it through repeat_interrupted (io/files.hpp), close excepted, and the hosts never repeat it
// themselves (CONTRIBUTING.md, "Interrupted calls"). A call that waits for another process
// (opening a FIFO, reading or writing one, a pipe or a device) gives EINTR after a short spell
// rather than wait for ever, so that its caller can see whether the run is to stop: an interrupt
// reaches one thread only. Paths are UTF-8 text in the host's own form.
// Every result is to be looked at ([[nodiscard]]); one ignored on purpose goes to a
// [[maybe_unused]] variable or a cast to void, with a comment saying why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace weldrix {

enum class file_kind : std::uint8_t {
    missing,  // nothing of that name
    regular,  // a regular file
    folder,   // a directory
    link,     // a symbolic link (only folder listings report links; status follows them)
    other,    // a device, FIFO, socket, ...
};

struct file_status {
    file_kind kind = file_kind::missing;
    std::uint64_t size = 0;         // bytes, for a regular file
    std::uint32_t permissions = 0;  // the permission bits (07777), where the host has them
    // The file system that holds it: equal for two paths on the same one, different otherwise; 0
    // where the host cannot tell.
    std::uint64_t device = 0;
    // The file's number on its file system (the inode, the Windows file index) and the time of its
    // last change of content, in the host's own units: together with device and size they tell
    // whether a path still names the file, as it was, that was read (same_version in files.hpp).
    // 0 where the host cannot tell.
    std::uint64_t file_id = 0;
    std::int64_t modified = 0;
};

struct folder_entry {
    std::string name;
    file_kind kind = file_kind::other;  // as the folder sees it: a link is reported as a link
};

class file_system {
public:
    using handle = std::intptr_t;
    static constexpr handle no_handle = -1;

    virtual ~file_system() = default;

    // Whether the host matches file names without regard to letter case and takes "\" as a
    // separator, so that a subfile name can be handed to it as written.
    [[nodiscard]] virtual bool names_ignore_case() const = 0;

    // Paths.
    // The status of what path names, links followed. A missing path is success with kind missing.
    [[nodiscard]] virtual int status(const std::string& path, file_status& st) = 0;
    // Whether this process may open the existing path for writing.
    [[nodiscard]] virtual bool may_write(const std::string& path) = 0;
    // The text of the symbolic link path; EINVAL when path is not a link.
    [[nodiscard]] virtual int read_link(const std::string& path, std::string& target) = 0;
    // The canonical absolute path of an existing path.
    [[nodiscard]] virtual int real_path(const std::string& path, std::string& canonical) = 0;
    // The entries of a folder, "." and ".." included where the host lists them, in no order.
    [[nodiscard]] virtual int list_folder(const std::string& folder, std::vector<folder_entry>& entries) = 0;
    [[nodiscard]] virtual int make_folder(const std::string& path) = 0;
    // Renames from over to, replacing to atomically when it exists.
    [[nodiscard]] virtual int rename(const std::string& from, const std::string& to) = 0;
    [[nodiscard]] virtual int remove(const std::string& path) = 0;

    // Open files.
    // Opens path for reading. With regular_only, anything but a regular file fails (ENOENT for a
    // missing file, EISDIR or ENODEV otherwise) without blocking, as a FIFO would on open.
    [[nodiscard]] virtual int open_read(const std::string& path, bool regular_only, handle& h) = 0;
    // Opens an existing file for writing in place (a device or FIFO given as the output).
    [[nodiscard]] virtual int open_write(const std::string& path, handle& h) = 0;
    // Creates a new file with a unique name in folder, open for writing; path receives its name.
    [[nodiscard]] virtual int create_temporary(const std::string& folder, std::string& path, handle& h) = 0;
    // Gives the open file the permission bits (and, where allowed, the owner) of like. A new file
    // without a like gets the host's default for new files.
    [[nodiscard]] virtual int copy_permissions(handle h, const std::string& like) = 0;
    [[nodiscard]] virtual int handle_status(handle h, file_status& st) = 0;
    // Reads at most size bytes; got is 0 at the end of the file.
    [[nodiscard]] virtual int read(handle h, char* buffer, std::size_t size, std::size_t& got) = 0;
    // Writes at most size bytes; written may be less than size (a short write).
    [[nodiscard]] virtual int write(handle h, const char* bytes, std::size_t size, std::size_t& written) = 0;
    // Releases the handle. The handle is released whatever the result: an error (EIO, EINTR) is
    // reported but the call is never to be repeated.
    [[nodiscard]] virtual int close(handle h) = 0;

    // Durability. Written bytes, a new name or a rename first live in the host's memory; these
    // calls return once the storage holds them, so that they survive a crash of the host or a power
    // cut. They are slow (each waits for the storage), and an error means the storage may not
    // hold what was written.
    // The bytes and the attributes (size, permission bits, owner) of the open file.
    [[nodiscard]] virtual int sync(handle h) = 0;
    // The entries of a folder: a file created in it, or renamed into or out of it.
    [[nodiscard]] virtual int sync_folder(const std::string& folder) = 0;
    // Everything written so far to the file system that holds path (a file or a folder): what a
    // caller that replaced many files calls once instead of syncing each of them.
    [[nodiscard]] virtual int sync_file_system(const std::string& path) = 0;

    // Advisory locks, so that two runs do not write into one folder at once.
    // A lock held on a folder: released when it is destroyed, and by the host when the process
    // ends, however it ends. It must not outlive the file_system that gave it.
    class folder_lock {
    public:
        folder_lock() = default;
        folder_lock(const folder_lock&) = delete;
        folder_lock& operator=(const folder_lock&) = delete;
        virtual ~folder_lock() = default;
    };
    // Takes the lock of an existing folder, without waiting. EWOULDBLOCK when it is held (by
    // another process, or by another lock of this one); any other error says that this host cannot
    // lock that folder (missing, no permission, a network file system without locks). The lock is
    // advisory: it keeps out other callers of lock_folder, nothing else.
    [[nodiscard]] virtual int lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) = 0;
};

// The file system of the host the tool runs on.
file_system& host_file_system();

}  // namespace weldrix
