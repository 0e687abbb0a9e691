// The Windows host layer (io/windows_host.cpp) on the real file system: Unicode names through every
// call, the path forms of Windows, identity, read-only files, devices, error numbers.
// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "io/file_system.hpp"
#include "io/files.hpp"
#include "windows_support.hpp"

namespace weldrix {
namespace {

using test::temp_dir;

file_system& host() { return host_file_system(); }

std::vector<std::string> sorted_names(const std::vector<folder_entry>& entries) {
    std::vector<std::string> names;
    for (const folder_entry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

file_kind kind_in(const std::vector<folder_entry>& entries, const std::string& name) {
    for (const folder_entry& entry : entries) {
        if (entry.name == name) return entry.kind;
    }
    return file_kind::missing;
}

bool no_temporary_files(const std::string& folder) {
    std::vector<folder_entry> entries;
    if (host().list_folder(folder, entries) != 0) return false;
    return std::none_of(entries.begin(), entries.end(),
                        [](const folder_entry& e) { return e.name.rfind(".weldrix-", 0) == 0; });
}

// Names from several scripts, a character beyond the 16-bit range (a surrogate pair in UTF-16)
// and spaces: each call must take and give them as UTF-8.
const std::string unicode_folder = "d\xC3\xA9j\xC3\xA0 \xE6\xBC\xA2\xE5\xAD\x97";  // "déjà 漢字"
const std::string unicode_file = "p\xC3\xA4rt \xF0\x9F\x98\x80 \xD0\xB6.dat";      // "pärt 😀 ж.dat"

TEST(WindowsHost, UnicodeNamesThroughEveryCall) {
    temp_dir dir;
    const std::string folder = dir / unicode_folder;
    const std::string file = folder + "\\" + unicode_file;
    ASSERT_EQ(host().make_folder(folder), 0);
    EXPECT_EQ(host().make_folder(folder), EEXIST);

    // Written through a temporary file and a rename, read back byte for byte.
    ASSERT_TRUE(replace_file(host(), file, "0 caf\xC3\xA9\r\n2 24 0 0 0 1 1 1\n"));
    std::string bytes;
    ASSERT_TRUE(read_file(host(), file, bytes));
    EXPECT_EQ(bytes, "0 caf\xC3\xA9\r\n2 24 0 0 0 1 1 1\n");
    ASSERT_TRUE(read_regular_file(host(), file, bytes));
    EXPECT_EQ(bytes, "0 caf\xC3\xA9\r\n2 24 0 0 0 1 1 1\n");
    // The name is the one the system holds: another program sees it in UTF-16.
    EXPECT_NE(GetFileAttributesW(test::utf16(file).c_str()), INVALID_FILE_ATTRIBUTES);

    file_status st;
    ASSERT_EQ(host().status(file, st), 0);
    EXPECT_EQ(st.kind, file_kind::regular);
    EXPECT_EQ(st.size, 26u);
    const std::uint64_t device = st.device;  // the volume's
    ASSERT_EQ(host().status(folder, st), 0);
    EXPECT_EQ(st.kind, file_kind::folder);
    EXPECT_EQ(st.device, device);
    ASSERT_EQ(host().status(folder + "\\missing.dat", st), 0);
    EXPECT_EQ(st.kind, file_kind::missing);
    ASSERT_EQ(host().status(folder + "\\missing\\below.dat", st), 0);
    EXPECT_EQ(st.kind, file_kind::missing);

    ASSERT_EQ(host().make_folder(folder + "\\s"), 0);
    std::vector<folder_entry> entries;
    ASSERT_EQ(host().list_folder(folder, entries), 0);
    EXPECT_EQ(sorted_names(entries), (std::vector<std::string>{".", "..", unicode_file, "s"}));
    EXPECT_EQ(kind_in(entries, unicode_file), file_kind::regular);
    EXPECT_EQ(kind_in(entries, "s"), file_kind::folder);

    std::string canonical;
    ASSERT_EQ(host().real_path(file, canonical), 0);
    EXPECT_EQ(canonical.substr(canonical.size() - unicode_file.size()), unicode_file);

    // A rename replaces an existing file; remove takes it away.
    const std::string other = folder + "\\s\\" + unicode_file;
    ASSERT_TRUE(replace_file(host(), other, "other\n"));
    ASSERT_EQ(host().rename(other, file), 0);
    ASSERT_TRUE(read_file(host(), file, bytes));
    EXPECT_EQ(bytes, "other\n");
    EXPECT_EQ(host().remove(file), 0);
    EXPECT_FALSE(test::file_exists(file));
    EXPECT_TRUE(no_temporary_files(folder));
}

TEST(WindowsHost, EverySpellingOfAPathNamesOneFileWithOneIdentity) {
    temp_dir dir;
    test::write_file(dir / "Lib\\Parts\\S\\Part.dat", "0 x\n");
    test::write_file(dir / "Lib\\Parts\\S\\Other.dat", "0 y\n");
    std::string identity;
    ASSERT_EQ(host().real_path(dir / "Lib\\Parts\\S\\Part.dat", identity), 0);
    // Absolute, with the drive, without a "\\?\" prefix.
    ASSERT_GE(identity.size(), 3u);
    EXPECT_EQ(identity.substr(1, 2), ":\\") << identity;

    std::string long_form = dir.path();
    long_form.insert(0, "\\\\?\\");
    std::string lower = dir / "lib\\parts\\s\\part.dat";
    std::string upper = dir / "LIB\\PARTS\\S\\PART.DAT";
    std::string slashes = dir / "Lib/Parts/S/Part.dat";
    std::string dots = dir / "Lib\\Parts\\.\\S\\..\\S\\Part.dat";
    for (const std::string& spelling : {lower, upper, slashes, dots, long_form + "\\Lib\\Parts\\S\\Part.dat"}) {
        std::string canonical;
        ASSERT_EQ(host().real_path(spelling, canonical), 0) << spelling;
        EXPECT_EQ(canonical, identity) << spelling;
        std::string bytes;
        EXPECT_TRUE(read_regular_file(host(), spelling, bytes)) << spelling;
        EXPECT_EQ(bytes, "0 x\n");
    }
    std::string other;
    ASSERT_EQ(host().real_path(dir / "Lib\\Parts\\S\\Other.dat", other), 0);
    EXPECT_NE(other, identity);
    std::string missing;
    EXPECT_EQ(host().real_path(dir / "Lib\\missing.dat", missing), ENOENT);

    // A hard link is a second name, as on every host: identity is the path, links resolved.
    ASSERT_TRUE(CreateHardLinkW(test::utf16(dir / "hard.dat").c_str(),
                                test::utf16(dir / "Lib\\Parts\\S\\Part.dat").c_str(), nullptr));
    std::string hard;
    ASSERT_EQ(host().real_path(dir / "hard.dat", hard), 0);
    EXPECT_NE(hard, identity);

    // A name relative to the current folder, and to the current folder of its drive ("C:x").
    wchar_t saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(test::utf16(dir / "Lib\\Parts").c_str()));
    std::string relative, drive_relative;
    const int relative_error = host().real_path("s\\part.dat", relative);
    const int drive_error = host().real_path(identity.substr(0, 2) + "S\\PART.DAT", drive_relative);
    SetCurrentDirectoryW(saved);
    ASSERT_EQ(relative_error, 0);
    EXPECT_EQ(relative, identity);
    ASSERT_EQ(drive_error, 0);
    EXPECT_EQ(drive_relative, identity);
}

TEST(WindowsHost, PathsLongerThanTheClassicLimit) {
    temp_dir dir;
    std::string folder = dir.path();
    while (folder.size() < 300) {
        folder += "\\a-folder-name-of-forty-characters-long-x";
        ASSERT_EQ(host().make_folder(folder), 0) << folder.size();
    }
    const std::string file = folder + "\\part.dat";
    ASSERT_TRUE(replace_file(host(), file, "2 24 0 0 0 1 1 1\n"));
    std::string bytes;
    ASSERT_TRUE(read_regular_file(host(), file, bytes));
    EXPECT_EQ(bytes, "2 24 0 0 0 1 1 1\n");
    file_status st;
    ASSERT_EQ(host().status(file, st), 0);
    EXPECT_EQ(st.kind, file_kind::regular);
    std::vector<folder_entry> entries;
    ASSERT_EQ(host().list_folder(folder, entries), 0);
    EXPECT_EQ(kind_in(entries, "part.dat"), file_kind::regular);
    std::string canonical;
    ASSERT_EQ(host().real_path(file, canonical), 0);
    EXPECT_EQ(canonical.rfind("\\\\?\\", 0), std::string::npos) << canonical;
    EXPECT_GT(canonical.size(), 300u);
    // The same file by a relative name that is long too.
    wchar_t saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(test::utf16(dir.path()).c_str()));
    std::string relative;
    const int error = host().real_path(file.substr(dir.path().size() + 1), relative);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(relative, canonical);
    EXPECT_TRUE(no_temporary_files(folder));
}

TEST(WindowsHost, ReadOnlyFilesAreNeverReplaced) {
    temp_dir dir;
    const std::string locked = dir / "locked.dat";
    test::write_file(locked, "old\n");
    EXPECT_TRUE(host().may_write(locked));
    ASSERT_TRUE(SetFileAttributesW(test::utf16(locked).c_str(), FILE_ATTRIBUTE_READONLY));
    // Under Wine a rename would replace it, and root could open it for writing: the attribute
    // itself is what counts.
    EXPECT_FALSE(host().may_write(locked));
    EXPECT_FALSE(replace_file(host(), locked, "new\n"));
    EXPECT_EQ(test::read_file(locked), "old\n");
    EXPECT_NE(GetFileAttributesW(test::utf16(locked).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    file_status st;
    ASSERT_EQ(host().status(locked, st), 0);
    EXPECT_EQ(st.permissions, 0444u);
    EXPECT_TRUE(no_temporary_files(dir.path()));
}

TEST(WindowsHost, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
    temp_dir dir;
    test::write_file(dir / "out.dat", "old\n");
    // A folder where the output should be, a missing folder, an empty name, a name Windows
    // refuses: each fails and leaves everything as it was.
    ASSERT_EQ(host().make_folder(dir / "folder"), 0);
    for (const std::string& name :
         {dir / "folder", dir / "missing\\out.dat", std::string(), dir / "a\"b.dat", dir / "out.dat\\below.dat"}) {
        EXPECT_FALSE(replace_file(host(), name, "new\n")) << name;
    }
    EXPECT_EQ(test::read_file(dir / "out.dat"), "old\n");
    EXPECT_TRUE(no_temporary_files(dir.path()));
    EXPECT_TRUE(no_temporary_files(dir / "folder"));
}

TEST(WindowsHost, HiddenAndSystemAttributesOfAReplacedFileAreKept) {
    temp_dir dir;
    const std::string file = dir / "hidden.dat";
    test::write_file(file, "old\n");
    const DWORD wanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(test::utf16(file).c_str(), wanted));
    if ((GetFileAttributesW(test::utf16(file).c_str()) & wanted) != wanted) {
        GTEST_SKIP() << "this file system does not keep the hidden and system attributes";
    }
    ASSERT_TRUE(replace_file(host(), file, "new\n"));
    EXPECT_EQ(test::read_file(file), "new\n");
    EXPECT_EQ(GetFileAttributesW(test::utf16(file).c_str()) & wanted, wanted);
    // A new file gets none of them.
    ASSERT_TRUE(replace_file(host(), dir / "new.dat", "new\n"));
    EXPECT_EQ(GetFileAttributesW(test::utf16(dir / "new.dat").c_str()) & wanted, 0u);
}

TEST(WindowsHost, DevicesAreNeitherSubfilesNorReplaced) {
    file_status st;
    ASSERT_EQ(host().status("NUL", st), 0);
    EXPECT_EQ(st.kind, file_kind::other);
    file_system::handle h;
    EXPECT_EQ(host().open_read("NUL", true, h), ENODEV);
    EXPECT_EQ(h, file_system::no_handle);
    // Reserved device names inside a library: passed over without being opened, where the system
    // takes them for devices, and simply missing where it does not.
    temp_dir dir;
    for (const std::string& name : {std::string("NUL"), std::string("CON"), std::string("con.dat"), dir / "aux.dat",
                                    dir / "com1.dat", dir / "prn"}) {
        std::string bytes;
        EXPECT_FALSE(read_regular_file(host(), name, bytes)) << name;
        const int error = host().open_read(name, true, h);
        EXPECT_TRUE(error == ENODEV || error == ENOENT) << name << ": " << error;
    }
    // The NUL device as output is written directly, like /dev/null.
    EXPECT_TRUE(replace_file(host(), "NUL", "2 24 0 0 0 1 1 1\n"));
    EXPECT_TRUE(no_temporary_files("."));

    // A folder where a subfile is expected is passed over as a folder.
    EXPECT_EQ(host().open_read(dir.path(), true, h), EISDIR);
}

TEST(WindowsHost, ErrorNumbersAreTheErrnoValues) {
    temp_dir dir;
    file_system::handle h;
    EXPECT_EQ(host().open_read(dir / "missing.dat", false, h), ENOENT);
    EXPECT_EQ(host().open_read(dir / "missing\\x.dat", true, h), ENOENT);
    EXPECT_EQ(host().open_read("", true, h), ENOENT);
    EXPECT_EQ(host().open_write(dir / "missing.dat", h), ENOENT);
    std::string path;
    EXPECT_EQ(host().create_temporary(dir / "missing", path, h), ENOENT);
    EXPECT_EQ(host().rename(dir / "missing.dat", dir / "other.dat"), ENOENT);
    EXPECT_EQ(host().remove(dir / "missing.dat"), ENOENT);
    std::vector<folder_entry> entries;
    EXPECT_EQ(host().list_folder(dir / "missing", entries), ENOENT);
    std::string target;
    EXPECT_EQ(host().read_link(dir / "missing.dat", target), ENOENT);
    test::write_file(dir / "plain.dat", "x");
    EXPECT_EQ(host().read_link(dir / "plain.dat", target), EINVAL);  // not a link
    // A name that is not UTF-8 names no file (a subfile is then missing, as on Linux, rather than
    // unreadable), and one with a NUL in it would name another file.
    EXPECT_EQ(host().open_read(dir / "bad\xFF.dat", true, h), ENOENT);
    EXPECT_EQ(host().open_read(dir / std::string("plain.dat\0x", 11), true, h), ENOENT);
}

// A batch writes its outputs unflushed and then flushes them all with one sync_file_system, which
// on Windows flushes each temporary file this host closed unflushed, under its present name.
TEST(WindowsHost, OneFlushForManyFilesFollowsRenamesAndPassesOverRemovedFiles) {
    temp_dir dir;
    const auto write_temporary = [&](const std::string& bytes) {
        std::string path;
        file_system::handle h;
        EXPECT_EQ(host().create_temporary(dir.path(), path, h), 0);
        std::size_t written = 0;
        EXPECT_EQ(host().write(h, bytes.data(), bytes.size(), written), 0);
        EXPECT_EQ(host().close(h), 0);
        return path;
    };
    const std::string renamed = write_temporary("0 a\n");
    const std::string removed = write_temporary("0 b\n");
    ASSERT_EQ(host().rename(renamed, dir / "a.dat"), 0);
    ASSERT_EQ(host().remove(removed), 0);
    // a.dat is flushed under its new name; the removed file is no error. Errors are those of
    // other hosts.
    EXPECT_EQ(host().sync_file_system(dir.path()), 0);
    EXPECT_EQ(host().sync_file_system(dir / "missing"), ENOENT);
    EXPECT_EQ(host().sync_folder(dir.path()), 0);
    EXPECT_EQ(host().sync_folder(dir / "a.dat"), ENOTDIR);
    EXPECT_EQ(host().sync_folder(dir / "missing"), ENOENT);
    EXPECT_EQ(test::read_file(dir / "a.dat"), "0 a\n");
}

TEST(WindowsHost, OpenFilesReadWriteAndFlush) {
    temp_dir dir;
    std::string path;
    file_system::handle h;
    ASSERT_EQ(host().create_temporary(dir.path(), path, h), 0);
    EXPECT_EQ(path.rfind(dir.path() + "\\.weldrix-", 0), 0u) << path;
    EXPECT_EQ(path.size(), dir.path().size() + 16);
    std::size_t written = 0;
    ASSERT_EQ(host().write(h, "abc\n", 4, written), 0);
    EXPECT_EQ(written, 4u);
    file_status st;
    ASSERT_EQ(host().handle_status(h, st), 0);
    EXPECT_EQ(st.kind, file_kind::regular);
    EXPECT_EQ(st.size, 4u);
    EXPECT_EQ(host().close(h), 0);

    // A second temporary file in the same folder gets another name.
    std::string second;
    ASSERT_EQ(host().create_temporary(dir.path(), second, h), 0);
    EXPECT_NE(second, path);
    EXPECT_EQ(host().close(h), 0);

    ASSERT_EQ(host().open_read(path, true, h), 0);
    char buffer[16];
    std::size_t got = 0;
    ASSERT_EQ(host().read(h, buffer, sizeof buffer, got), 0);
    EXPECT_EQ(std::string(buffer, got), "abc\n");
    ASSERT_EQ(host().read(h, buffer, sizeof buffer, got), 0);
    EXPECT_EQ(got, 0u);  // the end
    EXPECT_EQ(host().close(h), 0);
}

}  // namespace
}  // namespace weldrix
