// The built weldrix.exe on Windows: console line ends, the wait for Enter, Unicode arguments,
// drive-relative names, read-only outputs and cycles through differently spelled names.
// (e2e.sh compares its files and console text with the Linux build's for every bundled part.)
// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "windows_support.hpp"

namespace weldrix::test {
namespace {

// Every line of the console text ends in CR LF, and no CR stands alone.
bool crlf_lines_only(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    }
    return !text.empty();
}

bool no_temporary_files(const std::string& folder) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(utf16(folder + "\\.weldrix-*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    FindClose(find);
    return false;
}

// The text with every line end as the Windows console writes it.
std::string with_crlf(std::string_view text) {
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

TEST(WindowsTool, ConsoleLinesEndInCrLfAndTheRunWaitsForEnter) {
    // A single argument (a file dropped on the program): the usage text, then the wait.
    raw_run run = run_weldrix_raw({"dropped.dat"}, "\r\n", {}, true);
    EXPECT_TRUE(run.still_waiting);
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(crlf_lines_only(run.result.output)) << run.result.output;
    EXPECT_EQ(run.result.output.rfind(with_crlf(banner), 0), 0u) << run.result.output;
    EXPECT_NE(run.result.output.find("\r\nWeldrix [options] InFile, Outfile\r\n"), std::string::npos);
    EXPECT_TRUE(crlf_lines_only(run.result.errors)) << run.result.errors;  // the warning on standard error

    // A run that writes a file: the console in CR LF, the file in the input's own line ends.
    temp_dir dir;
    write_file(dir / "in.dat", "2 24 0 0 0 1 1 1\n2 24 0.001 0 0 1 1 1\n");
    run = run_weldrix_raw({"in.dat", "out.dat"}, "\n", dir.path(), true);
    EXPECT_TRUE(run.still_waiting);
    EXPECT_EQ(run.result.exit_code, 0) << run.result.output;
    EXPECT_TRUE(crlf_lines_only(run.result.output)) << run.result.output;
    EXPECT_EQ(read_file(dir / "out.dat"), "2 24 0.0005 0 0 1 1 1\n2 24 0.0005 0 0 1 1 1\n");

    // Standard input at its end ends the wait at once.
    EXPECT_EQ(run_weldrix({"dropped.dat"}).exit_code, 1);
}

TEST(WindowsTool, UnicodeNamesWithSpacesAsArguments) {
    temp_dir dir;
    const std::string folder = "d\xC3\xA9j\xC3\xA0 \xE6\xBC\xA2\xE5\xAD\x97";  // "déjà 漢字"
    const std::string input = folder + "\\p\xC3\xA4rt \xF0\x9F\x98\x80.dat";   // "pärt 😀.dat"
    const std::string output = folder + "\\cl\xC3\xA9\x61n \xD0\xB6.dat";      // "cléan ж.dat"
    write_file(dir / input, "1 16 0 0 0 1 0 0 0 1 0 0 0 1 \xC3\xBC.dat\r\n2 24 0.003 0 0 1 1 1\r\n");
    write_file(dir / (folder + "\\\xC3\xBC.dat"), "2 24 0 0 0 5 5 5\r\n");  // "ü.dat", a subfile
    const run_result run = run_weldrix({"-s", input, output}, {}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(read_file(dir / output), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 \xC3\xBC.dat\r\n2 24 0 0 0 1 1 1\r\n");
    // Names print as the same UTF-8 bytes, whatever the code pages of the system.
    EXPECT_NE(run.output.find("\nReading input file " + input + "\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\nWriting output file " + output + "\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Inlined from subfiles:\n1 Edge lines\n"), std::string::npos) << run.output;
}

TEST(WindowsTool, DriveRelativeAndAbsoluteNames) {
    temp_dir dir;
    write_file(dir / "in.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 0.004 0 0 9 9 9\n");
    write_file(dir / "sub.dat", "2 24 0 0 0 5 5 5\n");
    // "C:in.dat" is in the current folder of drive C:, which is the tool's current folder.
    const std::string drive = dir.path().substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    run_result run = run_weldrix({"-s", drive + "in.dat", drive + "out.dat"}, {}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(read_file(dir / "out.dat"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 0 0 0 9 9 9\n");
    EXPECT_TRUE(no_temporary_files(dir.path()));

    // Absolute names with either separator, run from another folder.
    run = run_weldrix({"-s", dir / "in.dat", dir.path() + "/out2.dat"});
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(read_file(dir / "out2.dat"), read_file(dir / "out.dat"));
    EXPECT_TRUE(no_temporary_files(dir.path()));
}

TEST(WindowsTool, ReadOnlyOutputIsRefusedAndKept) {
    temp_dir dir;
    write_file(dir / "in.dat", "2 24 0 0 0 1 1 1\n");
    write_file(dir / "locked.dat", "old\n");
    ASSERT_TRUE(SetFileAttributesW(utf16(dir / "locked.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    const run_result run = run_weldrix({"in.dat", "locked.dat"}, {}, dir.path());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find("\nlocked.dat Can't create\nPress <Enter> to quit\n"), std::string::npos) << run.output;
    EXPECT_EQ(read_file(dir / "locked.dat"), "old\n");
    EXPECT_TRUE(no_temporary_files(dir.path()));
}

TEST(WindowsTool, CyclesAreFoundWhateverTheSpellingOfTheNames) {
    temp_dir dir;
    // main -> B.DAT -> .\C.dat -> b.dat (a cycle), and main -> MAIN.DAT (the input itself).
    write_file(dir / "main.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 B.DAT\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 MAIN.DAT\n");
    write_file(dir / "b.dat", "2 24 0 0 0 1 1 1\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 .\\C.dat\n");
    write_file(dir / "c.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 b.dat\n");
    const run_result run = run_weldrix({"-s", "main.dat", "out.dat"}, {}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("Circular subfile reference skipped: b.dat\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Circular subfile reference skipped: MAIN.DAT\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Inlined from subfiles:\n1 Edge lines\n"), std::string::npos) << run.output;
}

TEST(WindowsTool, MissingInputAndUnwritableOutputExitWithTwo) {
    temp_dir dir;
    run_result run = run_weldrix({"missing.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find("\nmissing.dat not found\nPress <Enter> to quit\n"), std::string::npos) << run.output;
    write_file(dir / "in.dat", "2 24 0 0 0 1 1 1\n");
    run = run_weldrix({"in.dat", "no\\such\\folder\\out.dat"}, {}, dir.path());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find("\nno\\such\\folder\\out.dat Can't create\n"), std::string::npos) << run.output;
    // The NUL device takes the output like /dev/null.
    run = run_weldrix({"in.dat", "NUL"}, {}, dir.path());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_TRUE(no_temporary_files(dir.path()));
}

}  // namespace
}  // namespace weldrix::test
