// The host layer's portable logic (io/files, io/host_paths) on the in-memory file system, and the
// in-memory file system standing in for a disk in a whole run.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <new>
#include <system_error>

#include "app/run.hpp"
#include "faulty_file_system.hpp"
#include "io/files.hpp"
#include "io/host_paths.hpp"
#include "io/memory_file_system.hpp"
#include "io/real_paths.hpp"
#include "support.hpp"

namespace weldrix {
namespace {

TEST(Files, ReadAndSafeReplacementOnAnyFileSystem) {
    memory_file_system fs;
    fs.add_file("/lib/a.dat", "0 a\n");
    std::string bytes;
    EXPECT_TRUE(read_file(fs, "/lib/a.dat", bytes));
    EXPECT_EQ(bytes, "0 a\n");
    EXPECT_FALSE(read_file(fs, "/lib", bytes));  // a folder
    EXPECT_FALSE(read_file(fs, "/lib/missing.dat", bytes));
    EXPECT_TRUE(read_regular_file(fs, "/lib/a.dat", bytes));
    EXPECT_EQ(bytes, "0 a\n");

    EXPECT_TRUE(replace_file(fs, "/lib/a.dat", "0 b\n"));
    EXPECT_EQ(*fs.find("/lib/a.dat"), "0 b\n");
    EXPECT_TRUE(replace_file(fs, "/lib/new.dat", "0 c\n"));
    EXPECT_EQ(*fs.find("/lib/new.dat"), "0 c\n");
    EXPECT_FALSE(replace_file(fs, "/lib", "x"));                   // a folder is never replaced
    EXPECT_FALSE(replace_file(fs, "/no/such/folder/x.dat", "x"));  // nowhere to put the temporary file
    fs.add_file("/lib/locked.dat", "old\n", false);
    EXPECT_FALSE(replace_file(fs, "/lib/locked.dat", "new\n"));  // read-only: refused
    EXPECT_EQ(*fs.find("/lib/locked.dat"), "old\n");
    // No temporary file is left behind by any of them.
    for (const auto& [name, entry] : fs.entries()) EXPECT_EQ(name.find(".weldrix-"), std::string::npos) << name;
}

// The calls of a replacement from the creation of the temporary file on, with their paths.
std::vector<std::string> replacement_calls(const std::vector<test::call_record>& trace) {
    std::vector<std::string> calls;
    for (const test::call_record& record : trace) {
        if (!calls.empty() || record.call == test::fs_call::create_temporary)
            calls.push_back(std::string(test::name_of(record.call)) + " " + record.path);
    }
    return calls;
}

TEST(Files, ReplacementFlushesTheDataBeforeTheRenameAndTheFolderAfterIt) {
    memory_file_system memory;
    memory.add_file("/lib/a.dat", "0 a\n");
    test::faulty_file_system fs(memory);
    EXPECT_TRUE(replace_file(fs, "/lib/a.dat", "0 b\n"));
    EXPECT_EQ(replacement_calls(fs.trace()),
              (std::vector<std::string>{"create_temporary /lib", "copy_permissions /lib/.weldrix-0",
                                        "write /lib/.weldrix-0", "sync /lib/.weldrix-0", "close /lib/.weldrix-0",
                                        "rename /lib/a.dat", "sync_folder /lib"}));

    // A caller that flushes otherwise gets neither flush, and the same file.
    test::faulty_file_system unflushed(memory);
    EXPECT_TRUE(replace_file(unflushed, "/lib/a.dat", "0 c\n", durability::none_here));
    EXPECT_EQ(replacement_calls(unflushed.trace()),
              (std::vector<std::string>{"create_temporary /lib", "copy_permissions /lib/.weldrix-1",
                                        "write /lib/.weldrix-1", "close /lib/.weldrix-1", "rename /lib/a.dat"}));
    EXPECT_EQ(*memory.find("/lib/a.dat"), "0 c\n");
}

TEST(Files, AFailedFlushIsAFailedReplacement) {
    memory_file_system memory;
    memory.add_file("/lib/a.dat", "old\n");
    // The data cannot be flushed: the old file stays and the temporary file goes.
    test::faulty_file_system fs(memory);
    fs.fail_always(test::fs_call::sync, "/lib/.weldrix-0", EIO);
    EXPECT_FALSE(replace_file(fs, "/lib/a.dat", "new\n"));
    EXPECT_EQ(*memory.find("/lib/a.dat"), "old\n");
    EXPECT_EQ(memory.find("/lib/.weldrix-0"), nullptr);
    // The folder cannot be flushed after the rename: the new bytes are in place, but not known to
    // be safe, which is reported.
    test::faulty_file_system folder_fails(memory);
    folder_fails.fail_always(test::fs_call::sync_folder, "/lib", EIO);
    EXPECT_FALSE(replace_file(folder_fails, "/lib/a.dat", "new\n"));
    EXPECT_EQ(*memory.find("/lib/a.dat"), "new\n");
    EXPECT_EQ(memory.entries().size(), 3u);  // "/", "/lib" and the file
}

TEST(Files, MemoryRunningOutDuringAReplacementLeavesNoTemporaryFile) {
    for (const test::fs_call call : {test::fs_call::copy_permissions, test::fs_call::write, test::fs_call::sync,
                                     test::fs_call::close, test::fs_call::rename}) {
        memory_file_system memory;
        memory.add_file("/lib/a.dat", "old\n");
        test::faulty_file_system fs(memory);
        fs.fail_always(call, call == test::fs_call::rename ? "/lib/a.dat" : "/lib/.weldrix-0", test::out_of_memory);
        EXPECT_THROW(static_cast<void>(replace_file(fs, "/lib/a.dat", "new\n")), std::bad_alloc) << test::name_of(call);
        EXPECT_EQ(*memory.find("/lib/a.dat"), "old\n");
        EXPECT_EQ(memory.entries().size(), 3u) << test::name_of(call);  // "/", "/lib" and the file
    }
}

// Taken for a missing file, a target whose status cannot be read would lose its protection and
// its permission bits.
TEST(Files, ATargetWhoseStatusCannotBeReadIsNotReplaced) {
    memory_file_system memory;
    memory.add_file("/lib/locked.dat", "old\n", false);
    for (const int error : {EIO, EACCES}) {
        test::faulty_file_system fs(memory);
        fs.fail_always(test::fs_call::status, "/lib/locked.dat", error);
        EXPECT_FALSE(replace_file(fs, "/lib/locked.dat", "new\n"));
        EXPECT_EQ(*memory.find("/lib/locked.dat"), "old\n");
    }
}

TEST(Files, HostFlushesAFileAFolderAndAFileSystem) {
    test::temp_dir dir;
    file_system& host = host_file_system();
    std::string path;
    file_system::handle h;
    ASSERT_EQ(host.create_temporary(dir.path(), path, h), 0);
    std::size_t written = 0;
    EXPECT_EQ(host.write(h, "0 a\n", 4, written), 0);
    EXPECT_EQ(host.sync(h), 0);
    EXPECT_EQ(host.close(h), 0);
    EXPECT_EQ(host.sync_folder(dir.path()), 0);
    EXPECT_EQ(host.sync_folder(dir / "missing"), ENOENT);
    EXPECT_EQ(host.sync_folder(path), ENOTDIR);
    EXPECT_EQ(host.sync_file_system(dir.path()), 0);
    EXPECT_EQ(host.sync_file_system(path), 0);
}

// The canonical paths worked out through the folders' are the host's, whatever the path leads
// through: links to files and to folders, names of dots, missing files, relative paths.
TEST(Files, RealPathsThroughTheFoldersAreTheHosts) {
    namespace fs = std::filesystem;
    test::temp_dir dir;
    fs::create_directories(dir.path() + "/real/sub");
    test::write_file(dir / "real/a.dat", "0 a\n");
    test::write_file(dir / "real/sub/b.dat", "0 b\n");
    std::error_code no_links;  // Wine makes none; there the host is asked whole anyway (case ignored)
    fs::create_symlink(dir.path() + "/real/a.dat", dir.path() + "/real/link.dat", no_links);
    if (no_links) GTEST_SKIP() << "the host makes no links: " << no_links.message();
    fs::create_directory_symlink(dir.path() + "/real/sub", dir.path() + "/real/linked");
    fs::create_symlink(dir.path() + "/real/gone.dat", dir.path() + "/real/dangling.dat");
    file_system& host = host_file_system();
    real_paths paths(host);
    for (const std::string name : {"real/a.dat", "real/sub/b.dat", "real/link.dat", "real/linked/b.dat",
                                   "real/linked/../a.dat", "real/dangling.dat", "real/missing.dat", "real/sub/.",
                                   "real/sub/..", "real/a.dat/", "missing/a.dat", "real//a.dat", "real/./a.dat"}) {
        for (int twice = 0; twice < 2; ++twice) {  // the second time from the folder known
            const std::string path = dir.path() + "/" + name;
            std::string expected;
            if (host.real_path(path, expected) != 0) expected.clear();
            EXPECT_EQ(paths.of(path), expected) << name;
        }
    }
}

// A folder's lock keeps out a second lock until it is released, on the host and in memory; what
// holds it leaves nothing behind in the folder.
TEST(Files, AFolderLockKeepsOutASecondLockUntilReleased) {
    test::temp_dir dir;
    memory_file_system memory;
    memory.add_folder("/out");
    for (const auto& [fs, folder] : {std::pair<file_system*, std::string>{&host_file_system(), dir.path()},
                                     std::pair<file_system*, std::string>{&memory, "/out"}}) {
        std::unique_ptr<file_system::folder_lock> first, second;
        ASSERT_EQ(fs->lock_folder(folder, first), 0) << folder;
        ASSERT_TRUE(first);
        EXPECT_EQ(fs->lock_folder(folder, second), EWOULDBLOCK) << folder;
        EXPECT_FALSE(second);
        first.reset();
        EXPECT_EQ(fs->lock_folder(folder, second), 0) << folder;
        EXPECT_NE(fs->lock_folder(folder + "/missing", first), 0) << folder;
        EXPECT_FALSE(first);
    }
    std::vector<folder_entry> entries;
    ASSERT_EQ(host_file_system().list_folder(dir.path(), entries), 0);
    EXPECT_EQ(entries.size(), 2u);  // "." and ".."
}

// A batch flushes each file system its outputs are on once, told apart by the status's device.
TEST(Files, StatusTellsWhichFileSystemHoldsAPath) {
    test::temp_dir dir;
    test::write_file(dir / "s/a.dat", "0 a\n");
    file_system& host = host_file_system();
    file_status folder, file;
    ASSERT_EQ(host.status(dir.path(), folder), 0);
    ASSERT_EQ(host.status(dir / "s/a.dat", file), 0);
    EXPECT_NE(folder.device, 0u);
    EXPECT_EQ(file.device, folder.device);
    memory_file_system memory;
    memory.add_file("/lib/a.dat", "0 a\n");
    ASSERT_EQ(memory.status("/lib", folder), 0);
    ASSERT_EQ(memory.status("/lib/a.dat", file), 0);
    EXPECT_NE(folder.device, 0u);
    EXPECT_EQ(file.device, folder.device);
}

// A host that only records the folder replace_file asks for a temporary file in, and follows the
// links it is given. With ignore_case it takes "\\" as a separator, as Windows does.
class temporary_folder_recorder final : public file_system {
public:
    explicit temporary_folder_recorder(bool ignore_case) : ignore_case_(ignore_case) {}
    std::map<std::string, std::string> links;
    std::string folder;

    bool names_ignore_case() const override { return ignore_case_; }
    int status(const std::string&, file_status& st) override {
        st = {};
        return 0;
    }
    bool may_write(const std::string&) override { return true; }
    int read_link(const std::string& path, std::string& target) override {
        const auto link = links.find(path);
        if (link == links.end()) return EINVAL;
        target = link->second;
        return 0;
    }
    int real_path(const std::string&, std::string&) override { return ENOSYS; }
    int list_folder(const std::string&, std::vector<folder_entry>&) override { return ENOSYS; }
    int make_folder(const std::string&) override { return ENOSYS; }
    int rename(const std::string&, const std::string&) override { return ENOSYS; }
    int remove(const std::string&) override { return ENOSYS; }
    int open_read(const std::string&, bool, handle&) override { return ENOSYS; }
    int open_write(const std::string&, handle&) override { return ENOSYS; }
    int create_temporary(const std::string& in, std::string&, handle&) override {
        folder = in;
        return EACCES;
    }
    int copy_permissions(handle, const std::string&) override { return ENOSYS; }
    int handle_status(handle, file_status&) override { return ENOSYS; }
    int read(handle, char*, std::size_t, std::size_t&) override { return ENOSYS; }
    int write(handle, const char*, std::size_t, std::size_t&) override { return ENOSYS; }
    int close(handle) override { return ENOSYS; }
    int sync(handle) override { return ENOSYS; }
    int sync_folder(const std::string&) override { return ENOSYS; }
    int sync_file_system(const std::string&) override { return ENOSYS; }
    int lock_folder(const std::string&, std::unique_ptr<folder_lock>&) override { return ENOSYS; }

private:
    bool ignore_case_;
};

// The temporary file goes into the output's own folder, whatever the form of its path, so that the
// rename over the output stays within one folder and one volume.
TEST(Files, TemporaryFileGoesIntoTheOutputsFolderInEveryPathForm) {
    const auto folder_for = [](bool windows, const std::string& output,
                               const std::map<std::string, std::string>& links = {}) {
        temporary_folder_recorder fs(windows);
        fs.links = links;
        EXPECT_FALSE(replace_file(fs, output, "x"));
        return fs.folder;
    };
    EXPECT_EQ(folder_for(false, "out.dat"), ".");
    EXPECT_EQ(folder_for(false, "/out.dat"), "/");
    EXPECT_EQ(folder_for(false, "parts/s/out.dat"), "parts/s");
    EXPECT_EQ(folder_for(false, "parts\\out.dat"), ".");  // a backslash is part of a POSIX name
    EXPECT_EQ(folder_for(false, "C:out.dat"), ".");
    EXPECT_EQ(folder_for(false, "/a/link.dat", {{"/a/link.dat", "../b/t.dat"}}), "/a/../b");
    EXPECT_EQ(folder_for(false, "/a/link.dat", {{"/a/link.dat", "/c/t.dat"}}), "/c");

    EXPECT_EQ(folder_for(true, "out.dat"), ".");
    EXPECT_EQ(folder_for(true, "C:\\parts\\s\\out.dat"), "C:\\parts\\s");
    EXPECT_EQ(folder_for(true, "C:/parts/out.dat"), "C:/parts");
    EXPECT_EQ(folder_for(true, "parts/s\\out.dat"), "parts/s");
    EXPECT_EQ(folder_for(true, "C:\\out.dat"), "C:\\");
    EXPECT_EQ(folder_for(true, "\\out.dat"), "\\");
    EXPECT_EQ(folder_for(true, "C:out.dat"), "C:");  // the current folder of drive C:
    EXPECT_EQ(folder_for(true, "\\\\server\\share\\parts\\out.dat"), "\\\\server\\share\\parts");
    // Links: a relative target is taken from the link's folder, an absolute one as it is.
    EXPECT_EQ(folder_for(true, "C:\\a\\link.dat", {{"C:\\a\\link.dat", "..\\b\\t.dat"}}), "C:\\a\\..\\b");
    EXPECT_EQ(folder_for(true, "C:\\a\\link.dat", {{"C:\\a\\link.dat", "D:\\b\\t.dat"}}), "D:\\b");
    EXPECT_EQ(folder_for(true, "C:\\link.dat", {{"C:\\link.dat", "\\\\srv\\s\\t.dat"}}), "\\\\srv\\s");
    EXPECT_EQ(folder_for(true, "C:link.dat", {{"C:link.dat", "sub\\t.dat"}}), "C:sub");
}

TEST(HostPaths, BackslashesAndLetterCaseOnACaseSensitiveHost) {
    memory_file_system fs;
    fs.add_file("/ldraw/parts/s/3001s01.dat", "");
    fs.add_file("/ldraw/P/Stud.dat", "");
    host_path_resolver resolver(fs);
    EXPECT_EQ(resolver.resolve("/ldraw/parts\\s\\3001S01.DAT"), "/ldraw/parts/s/3001s01.dat");
    EXPECT_EQ(resolver.resolve("/LDRAW/p\\stud.dat"), "/ldraw/P/Stud.dat");
    EXPECT_EQ(resolver.resolve("/ldraw/parts/s/missing.dat"), std::nullopt);
    EXPECT_EQ(resolver.resolve(""), std::nullopt);

    // An interrupted listing is repeated.
    test::faulty_file_system interrupted(fs);
    interrupted.fail_call(2, EINTR);  // after the status of the path as written, the listing of "/"
    host_path_resolver again(interrupted);
    EXPECT_EQ(again.resolve("/LDRAW/p\\stud.dat"), "/ldraw/P/Stud.dat");
    EXPECT_TRUE(interrupted.fired());
}

TEST(Files, AWholeRunOnAnInMemoryFileSystem) {
    memory_file_system fs;
    fs.add_file("/work/p/edge.dat", "2 24 0 0 0 10 0 0\n");
    fs.add_file("/work/part.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 EDGE.DAT\n2 24 0.002 0 0 10 0 0.004\n");
    string_console out;
    const int code = run(
        {"-s", "/work/part.dat", "/work/out.dat"}, out, [] {}, fs);
    EXPECT_EQ(code, exit_success) << out.text;
    ASSERT_NE(fs.find("/work/out.dat"), nullptr) << out.text;
    EXPECT_EQ(*fs.find("/work/out.dat"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 EDGE.DAT\n2 24 0 0 0 10 0 0\n");
    EXPECT_NE(out.text.find("1 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n"), std::string::npos)
        << out.text;
}

// A subfile that is missing or may not be read is passed over; one the host fails to read ends the
// run before anything is written, as going on would weld against a library short of it by chance.
TEST(Files, ASubfileTheHostFailsToReadEndsTheRun) {
    memory_file_system memory;
    memory.add_file("/work/p/edge.dat", "2 24 0 0 0 10 0 0\n");
    memory.add_file("/work/part.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 EDGE.DAT\n2 24 0.002 0 0 10 0 0.004\n");
    std::string bytes;
    for (const int error : {ENOENT, EACCES, EIO, EMFILE}) {
        test::faulty_file_system fs(memory);
        fs.fail_always(test::fs_call::open_read, "/work/p/edge.dat", error);
        if (means_absent(error)) {
            EXPECT_FALSE(read_regular_file(fs, "/work/p/edge.dat", bytes));
        } else {
            EXPECT_THROW(static_cast<void>(read_regular_file(fs, "/work/p/edge.dat", bytes)), read_failure);
        }
        string_console out;
        const int code = run(
            {"-s", "/work/part.dat", "/work/out.dat"}, out, [] {}, fs);
        const std::string* written = memory.find("/work/out.dat");
        if (means_absent(error)) {
            EXPECT_EQ(code, exit_success);
            ASSERT_NE(written, nullptr);
            EXPECT_EQ(*written, "1 16 0 0 0 1 0 0 0 1 0 0 0 1 EDGE.DAT\n2 24 0.002 0 0 10 0 0.004\n");
        } else {
            EXPECT_EQ(code, exit_file_error);
            EXPECT_EQ(written, nullptr);
            EXPECT_TRUE(
                out.text.ends_with("\nExpanding input file subfiles\n/work/p/edge.dat can't be read\n"
                                   "Press <Enter> to quit\n"))
                << out.text;
        }
        static_cast<void>(memory.remove("/work/out.dat"));  // missing when the run failed
    }
    // The same for a folder the host fails to list while looking for a subfile.
    test::faulty_file_system fs(memory);
    fs.fail_always(test::fs_call::list_folder, "/work/p", EIO);
    string_console out;
    EXPECT_EQ(run(
                  {"-s", "/work/part.dat", "/work/out.dat"}, out, [] {}, fs),
              exit_file_error);
    EXPECT_TRUE(out.text.ends_with("/work/p can't be read\nPress <Enter> to quit\n")) << out.text;
}

}  // namespace
}  // namespace weldrix
