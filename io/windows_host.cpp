// The host layer of Windows: the file system on the wide (UTF-16) API, and the process set-up.
//
// Paths are UTF-8 inside the tool and UTF-16 at this boundary; every file operation goes through
// the wide API, so any Unicode name works whatever the console's or the system's code page. Both
// "\" and "/" separate, drive letters ("C:\", "C:file.dat") and UNC paths ("\\server\share\...")
// are the system's own; paths of 248 characters and more are handed over in the "\\?\" form, so
// they work without the system's long-path setting. Files are always opened in binary mode.
//
// Choices, each for the reason given where it is made:
//  * rename is MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH): one rename of the
//    file system, so the output is the old file or the new one, never something between;
//  * real_path is the final path of an open handle (GetFinalPathNameByHandleW): the file's one
//    name with links, short 8.3 names and letter case resolved, its identity for cycles;
//  * an output read-only by attribute is refused by may_write, as opening it for writing would be.
//  * a read that waits for another process (a pipe given as the input) is ended by an interrupt
//    through CancelSynchronousIo on the main thread (see interrupt); the worker threads of a batch
//    open their files with regular_only, and a regular file never waits for another process.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "io/file_system.hpp"
#include "io/process.hpp"

namespace weldrix {
namespace {

// The errno value of a Windows error code.
int error_number(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS: return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NOT_READY: return ENOENT;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_CANT_ACCESS_FILE: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA: return EPIPE;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED: return ENOSYS;
        case ERROR_NO_UNICODE_TRANSLATION: return EILSEQ;
        // A call cancelled by an interrupt (CancelSynchronousIo, see on_interrupt): like a POSIX call
        // a signal interrupts, and repeated as one by the callers.
        case ERROR_OPERATION_ABORTED: return EINTR;
        default: return EIO;
    }
}

int last_error() { return error_number(GetLastError()); }

bool starts_with(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool widen(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX) return false;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) == n;
}

// UTF-16 to UTF-8 (an unpaired surrogate, which no valid name holds, becomes U+FFFD).
std::string narrow(std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

// From this length on, a path is handed to the system in its "\\?\" form: without it the system
// refuses paths of MAX_PATH (260) characters and more, folders from 248 on, unless long paths are
// enabled for the machine and the program.
constexpr std::size_t long_path_length = MAX_PATH - 12;

// The absolute form of a path, as the system cleans it up (separators, "." and "..", the
// current folder); it has no length limit.
int full_path_of(const std::wstring& path, std::wstring& full) {
    full.assign(path.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return last_error();
        if (n < full.size()) {
            full.resize(n);
            return 0;
        }
        full.assign(n, L'\0');
    }
}

// The UTF-16 path the wide API is given for a UTF-8 path, or an error number.
int host_path(const std::string& path, std::wstring& wide) {
    // A NUL would end the name early and name another file.
    if (path.find('\0') != std::string::npos) return ENOENT;
    // No file has a name that is not UTF-8 here: Windows names are Unicode.
    if (!widen(path, wide)) return ENOENT;
    if (wide.size() < long_path_length || starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\")) return 0;
    // The "\\?\" form is taken literally: the system's own clean-up is done first.
    std::wstring full;
    if (const int error = full_path_of(wide, full)) return error;
    if (starts_with(full, L"\\\\?\\") || starts_with(full, L"\\\\.\\")) {
        wide = full;
    } else if (starts_with(full, L"\\\\")) {
        wide = L"\\\\?\\UNC\\" + full.substr(2);
    } else {
        wide = L"\\\\?\\" + full;
    }
    return 0;
}

// The system's name of a path, for paths it gives back: "\\?\C:\x" is "C:\x", "\\?\UNC\s\x" is
// "\\s\x"; a volume without a drive letter keeps its "\\?\Volume{...}" form.
std::wstring without_long_prefix(std::wstring path) {
    if (starts_with(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (starts_with(path, L"\\\\?\\") && path.size() >= 6 && path[5] == L':') return path.substr(4);
    return path;
}

// Closes a handle at the end of a scope with the function that closes its kind: every handle this
// host opens is held by one from its creation until it is closed or handed to the caller (release),
// so that no error or exception on the way leaks it.
template <BOOL(WINAPI* close_handle)(HANDLE)>
class basic_scoped_handle {
public:
    explicit basic_scoped_handle(HANDLE h) : h_(h) {}
    ~basic_scoped_handle() {
        if (valid()) close_handle(h_);
    }
    basic_scoped_handle(const basic_scoped_handle&) = delete;
    basic_scoped_handle& operator=(const basic_scoped_handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    // Closes now; false when that fails (GetLastError says why). The handle is released either way.
    bool close() { return close_handle(release()) != 0; }

private:
    HANDLE h_;
};
using scoped_handle = basic_scoped_handle<CloseHandle>;     // files, folders, threads
using scoped_find_handle = basic_scoped_handle<FindClose>;  // a folder listing

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file or folder (links followed), sharing it with everyone.
HANDLE open_existing(const std::wstring& path, DWORD access, DWORD flags = 0) {
    return CreateFileW(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                       nullptr);
}

file_status status_from(DWORD attributes, std::uint64_t size) {
    file_status st;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        st.kind = file_kind::folder;
        st.permissions = 0777;
    } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
        st.kind = file_kind::other;
    } else {
        st.kind = file_kind::regular;
        st.size = size;
        st.permissions = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    }
    return st;
}

int status_of(HANDLE h, file_status& st) {
    st = {};
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return last_error();
        st.kind = file_kind::other;  // a console, the NUL device, a pipe, a serial port, ...
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return last_error();
    st = status_from(info.dwFileAttributes, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    st.device = info.dwVolumeSerialNumber;  // one number per volume
    st.file_id = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    st.modified = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                            info.ftLastWriteTime.dwLowDateTime);  // 100 ns steps
    return 0;
}

// Whether the system takes the path for a device ("CON", "NUL", "COM1", and on older Windows
// also "con.dat", "C:\lib\aux.dat"): its full form is then "\\.\CON".
bool names_a_device(const std::wstring& path) {
    if (starts_with(path, L"\\\\")) return false;
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH && starts_with(full, L"\\\\.\\");
}

// The kind of a folder entry as the folder sees it: symbolic links and junctions are links.
file_kind kind_of_entry(const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK || entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
        return file_kind::link;
    }
    return status_from(entry.dwFileAttributes, 0).kind;
}

// Whether a folder path needs a separator before a name is added ("C:" and "C:\" do not).
bool needs_separator(std::wstring_view folder) {
    if (folder.empty()) return false;
    const wchar_t last = folder.back();
    return last != L'\\' && last != L'/' && !(folder.size() == 2 && last == L':');
}

// 64 well-mixed bits from a counter (splitmix64), for temporary names.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15u;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}

HANDLE as_windows(file_system::handle h) { return reinterpret_cast<HANDLE>(h); }

// The largest transfer asked of ReadFile or WriteFile at once (they take a 32-bit size).
constexpr std::size_t max_transfer = std::size_t{1} << 30;

// Reparse data of a symbolic link, as FSCTL_GET_REPARSE_POINT returns it.
struct symlink_reparse_data {
    ULONG tag;
    USHORT data_length;
    USHORT reserved;
    USHORT substitute_offset;
    USHORT substitute_length;
    USHORT print_offset;
    USHORT print_length;
    ULONG flags;
    // The names follow, in UTF-16.
};

// The lock of a folder is a byte-range lock (LockFileEx) on a hidden file ".weldrix.lock" in it:
// Windows locks no range of a folder's own handle, and an exclusive sharing mode on the folder
// would also keep out the renames into it. The file is opened delete-on-close, so it goes with the
// last handle, which the system closes when the process ends, however it ends; a batch passes
// over hidden names, so it is never taken for a part.
class windows_folder_lock final : public file_system::folder_lock {
public:
    explicit windows_folder_lock(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share_all, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr)) {}
    ~windows_folder_lock() override {
        OVERLAPPED at{};
        if (locked_) UnlockFileEx(file_.get(), 0, 1, 0, &at);  // at once, rather than when the system gets to it
    }
    // 0, EWOULDBLOCK when another handle holds the lock, or the error of opening the file.
    int take() {
        if (!file_.valid()) return last_error();
        OVERLAPPED at{};
        if (!LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            const DWORD error = GetLastError();
            return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : error_number(error);
        }
        locked_ = true;
        return 0;
    }

private:
    scoped_handle file_;
    bool locked_ = false;
};

class windows_file_system final : public file_system {
public:
    bool names_ignore_case() const override { return true; }

    int status(const std::string& path, file_status& st) override {
        st = {};
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error == ENOENT ? 0 : error;
        const scoped_handle h(open_existing(wide, FILE_READ_ATTRIBUTES));
        if (h.valid()) return status_of(h.get(), st);
        const int error = last_error();
        if (error == ENOENT || error == ENOTDIR) return 0;
        // A file that cannot be opened (in use by the system, like pagefile.sys) still shows its
        // attributes in its folder.
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return error;
        st = status_from(data.dwFileAttributes, (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
        return 0;
    }

    bool may_write(const std::string& path) override {
        std::wstring wide;
        if (host_path(path, wide) != 0) return false;
        // The read-only attribute is checked first. Windows refuses to open such a file for writing,
        // but a rename can replace it under Wine, where the attribute is the Unix mode, which root
        // passes.
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return false;
        // Then what the file's access control list allows (without FILE_FLAG_BACKUP_SEMANTICS, which
        // with the restore privilege enabled would pass over the list). Opening for writing changes
        // nothing; a file another program holds open without sharing still counts as writable here,
        // and its replacement then fails (and is reported) at the rename.
        const scoped_handle h(CreateFileW(wide.c_str(), FILE_WRITE_DATA, share_all, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        return h.valid() || GetLastError() == ERROR_SHARING_VIOLATION;
    }

    int read_link(const std::string& path, std::string& target) override {
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return EINVAL;
        const scoped_handle h(open_existing(wide, 0, FILE_FLAG_OPEN_REPARSE_POINT));
        if (!h.valid()) return last_error();
        // DWORD-aligned storage for the reparse data.
        std::vector<DWORD> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(DWORD));
        DWORD got = 0;
        if (!DeviceIoControl(h.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                             static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &got, nullptr)) {
            return last_error();
        }
        symlink_reparse_data data;
        if (got < sizeof data) return EINVAL;
        std::memcpy(&data, buffer.data(), sizeof data);
        // Junctions and the reparse points of cloud files and the like are not links to follow.
        if (data.tag != IO_REPARSE_TAG_SYMLINK) return EINVAL;
        const char* names = reinterpret_cast<const char*>(buffer.data()) + sizeof data;
        const std::size_t names_size = got - sizeof data;
        const auto name_at = [&](USHORT offset, USHORT length, std::wstring& name) {
            if (std::size_t{offset} + length > names_size || length % 2 != 0) return false;
            name.resize(length / 2);
            std::memcpy(name.data(), names + offset, length);
            return true;
        };
        // The print name is the target as written ("..\real\x.dat", "C:\real\x.dat"); the
        // substitute name ("\??\C:\real\x.dat") serves when there is none.
        std::wstring name;
        if (!name_at(data.print_offset, data.print_length, name)) return EINVAL;
        if (name.empty()) {
            if (!name_at(data.substitute_offset, data.substitute_length, name)) return EINVAL;
            if (starts_with(name, L"\\??\\UNC\\")) {
                name = L"\\\\" + name.substr(8);
            } else if (starts_with(name, L"\\??\\")) {
                name = name.substr(4);
            }
        }
        target = narrow(name);
        return target.empty() ? EINVAL : 0;
    }

    int real_path(const std::string& path, std::string& canonical) override {
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        const scoped_handle h(open_existing(wide, FILE_READ_ATTRIBUTES));
        if (!h.valid()) return last_error();
        std::wstring final_path;
        int error = final_path_of(h.get(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, final_path);
        // A volume without a drive letter, or a file system that cannot normalise names.
        if (error != 0) error = final_path_of(h.get(), FILE_NAME_NORMALIZED | VOLUME_NAME_GUID, final_path);
        if (error != 0) error = final_path_of(h.get(), FILE_NAME_OPENED | VOLUME_NAME_DOS, final_path);
        // Wine gives no final path of 260 characters or more: the full path, without links and
        // letter case resolved, is the identity there.
        if (error != 0) error = full_path_of(wide, final_path);
        if (error != 0) return error;
        canonical = narrow(without_long_prefix(final_path));
        return canonical.empty() ? EIO : 0;
    }

    int list_folder(const std::string& folder, std::vector<folder_entry>& entries) override {
        entries.clear();
        std::wstring wide;
        if (const int error = host_path(folder.empty() ? std::string(".") : folder, wide)) return error;
        std::wstring pattern = wide;
        if (needs_separator(pattern)) pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW entry;
        const scoped_find_handle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                                       nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!find.valid()) {
            const DWORD error = GetLastError();
            // The root folder of an empty drive has no entries at all, not even "." and "..".
            const DWORD attributes = GetFileAttributesW(wide.c_str());
            if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return 0;
            }
            return error_number(error);
        }
        do {
            entries.push_back({narrow(entry.cFileName), kind_of_entry(entry)});
        } while (FindNextFileW(find.get(), &entry));
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES ? 0 : error_number(error);
    }

    int make_folder(const std::string& path) override {
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : last_error();
    }

    int rename(const std::string& from, const std::string& to) override {
        std::wstring wide_from, wide_to;
        if (const int error = host_path(from, wide_from)) return error;
        if (const int error = host_path(to, wide_to)) return error;
        // One rename of the file system (atomic on NTFS), where ReplaceFileW is a sequence of steps
        // that can fail half-way and, without a backup name, then leave no file of either name.
        // WRITE_THROUGH returns only once the move is on the disk.
        if (!MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return last_error();
        }
        // Bytes not flushed yet now live under the new name.
        const std::lock_guard<std::mutex> lock(unflushed_mutex_);
        std::replace(unflushed_.begin(), unflushed_.end(), wide_from, wide_to);
        return 0;
    }

    int remove(const std::string& path) override {
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        return DeleteFileW(wide.c_str()) ? 0 : last_error();
    }

    int open_read(const std::string& path, bool regular_only, handle& h) override {
        h = no_handle;
        if (path.empty()) return ENOENT;
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        // A device is refused before it is opened: opening one can already have effects (a serial
        // port), and reading the console ("con.dat" on older Windows) would wait for the user.
        if (regular_only && names_a_device(wide)) return ENODEV;
        scoped_handle file(open_existing(wide, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN));
        if (!file.valid()) return last_error();
        if (regular_only) {
            file_status st;
            int error = status_of(file.get(), st);
            if (error == 0 && st.kind != file_kind::regular) error = st.kind == file_kind::folder ? EISDIR : ENODEV;
            if (error != 0) return error;
        }
        h = reinterpret_cast<handle>(file.release());
        return 0;
    }

    int open_write(const std::string& path, handle& h) override {
        h = no_handle;
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        scoped_handle file(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return last_error();
        h = reinterpret_cast<handle>(file.release());
        return 0;
    }

    int create_temporary(const std::string& folder, std::string& path, handle& h) override {
        h = no_handle;
        std::wstring wide_folder;
        if (!widen(folder, wide_folder)) return ENOENT;
        static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const std::uint64_t seed =
            static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 32);
        for (std::uint64_t attempt = 0; attempt < 100; ++attempt) {
            std::uint64_t bits = mix(seed + attempt);
            std::string name = ".weldrix-";
            for (int i = 0; i < 6; ++i, bits /= 62) name += letters[bits % 62];
            path = folder + (needs_separator(wide_folder) ? "\\" : "") + name;
            std::wstring wide;
            if (const int error = host_path(path, wide)) return error;
            // CREATE_NEW: a name that exists, whoever made it, is never taken over.
            scoped_handle file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file.valid()) {
                {
                    const std::lock_guard<std::mutex> lock(unflushed_mutex_);
                    open_temporaries_[file.get()] = wide;  // may run out of memory: the handle is still held
                }
                h = reinterpret_cast<handle>(file.release());
                return 0;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error_number(error);
        }
        return EEXIST;
    }

    int copy_permissions(handle h, const std::string& like) override {
        // A new file takes the access control list its folder passes on, as every new file does.
        // A replaced file keeps the attributes that say how to treat it; read-only is not among
        // them, as a read-only file is never replaced. Its own access control list, where it has
        // one apart from its folder's, is not copied.
        if (like.empty()) return 0;
        std::wstring wide;
        if (const int error = host_path(like, wide)) return error;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
        const DWORD kept =
            attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        if (kept == 0) return 0;
        FILE_BASIC_INFO info{};  // times of 0 stay as they are
        info.FileAttributes = kept | FILE_ATTRIBUTE_ARCHIVE;
        return SetFileInformationByHandle(as_windows(h), FileBasicInfo, &info, sizeof info) ? 0 : last_error();
    }

    int handle_status(handle h, file_status& st) override { return status_of(as_windows(h), st); }

    int read(handle h, char* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        DWORD n = 0;
        if (!ReadFile(as_windows(h), buffer, static_cast<DWORD>(size < max_transfer ? size : max_transfer), &n,
                      nullptr)) {
            const DWORD error = GetLastError();
            // A pipe whose writer has closed it is at its end.
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
            return error_number(error);
        }
        got = n;
        return 0;
    }

    int write(handle h, const char* bytes, std::size_t size, std::size_t& written) override {
        written = 0;
        DWORD n = 0;
        if (!WriteFile(as_windows(h), bytes, static_cast<DWORD>(size < max_transfer ? size : max_transfer), &n,
                       nullptr)) {
            return last_error();
        }
        written = n;
        return 0;
    }

    int close(handle h) override {
        {
            // A temporary file closed without a flush is flushed by sync_file_system.
            const std::lock_guard<std::mutex> lock(unflushed_mutex_);
            const auto open = open_temporaries_.find(as_windows(h));
            if (open != open_temporaries_.end()) {
                unflushed_.push_back(std::move(open->second));
                open_temporaries_.erase(open);
            }
        }
        return scoped_handle(as_windows(h)).close() ? 0 : last_error();
    }

    // Durability.
    // The file's bytes and attributes, through the system's cache to the disk. Only files on a
    // disk are flushed: flushing a pipe would wait for its reader.
    int sync(handle h) override {
        if (GetFileType(as_windows(h)) != FILE_TYPE_DISK) return 0;
        if (!FlushFileBuffers(as_windows(h))) return last_error();
        const std::lock_guard<std::mutex> lock(unflushed_mutex_);
        open_temporaries_.erase(as_windows(h));
        return 0;
    }

    // The rename is written through (MOVEFILE_WRITE_THROUGH) and a new entry is in the file
    // system's journal, which the file's own flush commits: nothing is left to flush. The folder
    // is only checked, so that the errors are those of other hosts.
    int sync_folder(const std::string& folder) override {
        std::wstring wide;
        if (const int error = host_path(folder, wide)) return error;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
    }

    // Windows flushes a whole volume only for an administrator (FlushFileBuffers on "\\.\C:"),
    // so this flushes every temporary file this host wrote and closed unflushed, under the name it
    // now has: one flush per file, as many as a caller that flushes each would make, and more than
    // the files of path's volume, never fewer. A file removed since is passed over.
    // Threads that flush at once take turns, and a failed flush fails every flush after it: a
    // thread whose files another thread took into its flush must not rename them before they are
    // on the disk, nor take that flush's failure for a success.
    int sync_file_system(const std::string& path) override {
        std::wstring wide;
        if (const int error = host_path(path, wide)) return error;
        if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return last_error();
        const std::lock_guard<std::mutex> turn(flushing_mutex_);
        std::vector<std::wstring> files;
        {
            const std::lock_guard<std::mutex> lock(unflushed_mutex_);
            files.swap(unflushed_);
        }
        int first_error = 0;
        for (const std::wstring& file : files) {
            const scoped_handle h(CreateFileW(file.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
            int error = 0;
            if (!h.valid()) {
                error = last_error();
                if (error == ENOENT) error = 0;  // removed: nothing to keep
            } else if (!FlushFileBuffers(h.get())) {
                error = last_error();
            }
            if (error != 0 && first_error == 0) first_error = error;
        }
        if (flush_error_ == 0) flush_error_ = first_error;
        return flush_error_;
    }

    int lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) override {
        lock.reset();
        std::wstring wide_folder, wide;
        if (!widen(folder, wide_folder)) return ENOENT;
        if (const int error = host_path(folder + (needs_separator(wide_folder) ? "\\" : "") + ".weldrix.lock", wide))
            return error;
        for (int attempt = 0;; ++attempt) {
            auto held = std::make_unique<windows_folder_lock>(wide);
            const int error = held->take();
            // The lock file of a run that has just ended cannot be opened until it is deleted.
            if (error == EACCES && attempt < 50) {
                Sleep(10);
                continue;
            }
            if (error == 0) lock = std::move(held);
            return error;
        }
    }

private:
    std::mutex flushing_mutex_;  // held by the sync_file_system under way
    int flush_error_ = 0;        // the first flush that failed (with flushing_mutex_)
    // Temporary files not flushed yet: open ones by handle, closed ones by name.
    std::mutex unflushed_mutex_;
    std::map<HANDLE, std::wstring> open_temporaries_;
    std::vector<std::wstring> unflushed_;

    static int final_path_of(HANDLE h, DWORD flags, std::wstring& path) {
        path.assign(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), flags);
            if (n == 0) return last_error();
            if (n < path.size()) {
                path.resize(n);
                return 0;
            }
            path.assign(n, L'\0');  // n counts the terminating NUL when the buffer was too small
        }
    }
};

// The console's output code page as the program found it, restored at exit.
UINT& original_output_code_page() {
    static UINT code_page = 0;
    return code_page;
}

void restore_output_code_page() {
    if (original_output_code_page() != 0) SetConsoleOutputCP(original_output_code_page());
}

// The handler on_interrupt was given; the console calls ctrl_handler on a thread of its own.
std::atomic<void (*)(int)>& interrupt_handler() {
    static std::atomic<void (*)(int)> handler{nullptr};
    return handler;
}

// The thread that set the handler (the main thread), whose blocking read an interrupt cancels.
std::atomic<HANDLE>& interrupted_thread() {
    static std::atomic<HANDLE> thread{nullptr};
    return thread;
}

// Calls the handler, then ends a read the interrupted thread is waiting in (the wait for Enter on a
// pipe), as a signal does on POSIX hosts; a console read ends by itself. A file operation cancelled
// so fails with EINTR, which its callers repeat. (Wine cancels no read of a pipe.)
void interrupt(void (*handler)(int), int signal_number) {
    handler(signal_number);
    if (const HANDLE thread = interrupted_thread().load()) CancelSynchronousIo(thread);
}

BOOL WINAPI ctrl_handler(DWORD event) {
    void (*const handler)(int) = interrupt_handler().load();
    if (!handler) return FALSE;
    switch (event) {
        case CTRL_C_EVENT: interrupt(handler, SIGINT); return TRUE;
        case CTRL_BREAK_EVENT: interrupt(handler, SIGBREAK); return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            interrupt(handler, SIGTERM);
            // The system ends the process as soon as this returns (and after 5 seconds at the
            // latest); waiting here gives the run the time to remove its temporary file and end
            // by itself, which ends this thread too.
            Sleep(INFINITE);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

file_system& host_file_system() {
    static windows_file_system host;
    return host;
}

void prepare_process() {
    // No message box for a drive without a medium or a missing file: the call fails and the run
    // reports it, as on any other host.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Standard output and error stay in text mode, so the console text has the system's CR LF line
    // ends. Names are printed as UTF-8: a console is switched to that code page for the run (and
    // back at exit); a pipe or a file gets the bytes as they are.
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
        GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
        const UINT code_page = GetConsoleOutputCP();
        if (code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            original_output_code_page() = code_page;
            std::atexit(restore_output_code_page);
        }
    }
}

// The Windows heap keeps freed blocks for the next file without being told.
void prepare_for_many_files() {}

void release_free_memory() {}

std::vector<std::string> program_arguments(int argc, char** argv) {
    // The command line as the system holds it, in UTF-16: argv has been through the ANSI code page,
    // which cannot hold every name.
    struct local_freer {
        void operator()(LPWSTR* p) const { LocalFree(p); }
    };
    int count = 0;
    const std::unique_ptr<LPWSTR, local_freer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(narrow(wide.get()[i]));
    return args;
}

std::string environment_variable(const std::string& name) {
    // The wide environment, as for the arguments: the ANSI one cannot hold every value.
    std::wstring wide_name;
    if (!widen(name, wide_name)) return {};
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};  // not set, or set to nothing
        if (n < value.size()) return narrow(std::wstring_view(value.data(), n));
        value.assign(n, L'\0');  // n is the size needed, its terminating NUL included
    }
}

void on_interrupt(void (*handler)(int)) {
    interrupt_handler().store(handler);
    HANDLE thread = nullptr;
    if (!interrupted_thread().load() && DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                                        &thread, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        interrupted_thread().store(thread);
    }
    SetConsoleCtrlHandler(ctrl_handler, TRUE);
}

bool threads_run_inline() { return false; }

bool standard_output_is_terminal() {
    // A console, not just any character device: the NUL device is one too.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace weldrix
