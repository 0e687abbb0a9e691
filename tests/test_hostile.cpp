// Hostile inputs, end to end: whatever a user feeds the tool, it ends with the documented console
// output and exit code, without crashing, hanging, exhausting memory or damaging an output file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/run.hpp"
#include "document/ldraw_file.hpp"
#include "interrupting_file_system.hpp"
#include "io/console.hpp"
#include "io/files.hpp"
#include "support.hpp"

namespace weldrix::test {
namespace {

const std::string default_threshold = "Vertices unification threshold: 0.005\n";
const std::string press_enter = "Press <Enter> to quit\n";

using counts = std::array<std::size_t, 6>;  // lines, edges, conditionals, triangles, quads, subfiles

std::string statistics(const counts& c, const std::string& what) {
    return std::to_string(c[0]) + what + "\n" + std::to_string(c[1]) + " Edge lines\n" + std::to_string(c[2]) +
           " Conditional lines\n" + std::to_string(c[3]) + " Triangles\n" + std::to_string(c[4]) + " Quads\n" +
           std::to_string(c[5]) + " Subfiles\n";
}

std::string reading(const std::string& in, const counts& read, const std::string& thresholds = default_threshold) {
    return banner + thresholds + "\nReading input file " + in + "\n" + statistics(read, " lines in file");
}

std::string unifying_and_writing(const std::string& out) {
    return "\nUnifying input file vertices\n\nWriting output file " + out + "\n";
}

// The console text of a successful run without "-s".
std::string success(const std::string& in, const std::string& out, const counts& read, const counts& written,
                    const std::string& thresholds = default_threshold) {
    return reading(in, read, thresholds) + unifying_and_writing(out) + statistics(written, " lines written in file") +
           press_enter;
}

// The search list of "-s -l lib" for an input in the current folder.
const std::string lib_search_list =
    "\nLDraw subfiles search locations:\n.\\, .\\p\\, .\\s\\, lib\\p\\, lib\\parts\\, lib\\parts\\s\\, "
    "lib\\Unofficial\\p\\, lib\\Unofficial\\parts\\, lib\\Unofficial\\parts\\s\\\n\nExpanding input file subfiles\n";

std::string inlined(std::size_t edges, std::size_t conditionals, std::size_t triangles, std::size_t quads) {
    return "\nInlined from subfiles:\n" + std::to_string(edges) + " Edge lines\n" + std::to_string(conditionals) +
           " Conditional lines\n" + std::to_string(triangles) + " Triangles\n" + std::to_string(quads) + " Quads\n\n";
}

const std::string snap_thresholds = default_threshold + "Unification on subfiles threshold: 0.005\n";

// The statistics, output bytes and console text the library itself gives for a file (no "-s").
struct expected_run {
    std::string output;
    std::string console;
};

expected_run in_process(std::string_view bytes, const std::string& in, const std::string& out) {
    ldraw_file document;
    const line_counts r = document.read_bytes(bytes);
    document.unify_vertices();
    line_counts w;
    expected_run result;
    result.output = document.text(w);
    result.console = success(in, out, {r.lines, r.edges, r.conditionals, r.triangles, r.quads, r.subfiles},
                             {w.lines, w.edges, w.conditionals, w.triangles, w.quads, w.subfiles});
    return result;
}

// Lowers the stack limit that child processes inherit, for the scope.
class child_stack_limit {
public:
    explicit child_stack_limit(rlim_t bytes) {
        ::getrlimit(RLIMIT_STACK, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = old_.rlim_max == RLIM_INFINITY || bytes < old_.rlim_max ? bytes : old_.rlim_max;
        ::setrlimit(RLIMIT_STACK, &lowered);
    }
    ~child_stack_limit() { ::setrlimit(RLIMIT_STACK, &old_); }
    child_stack_limit(const child_stack_limit&) = delete;
    child_stack_limit& operator=(const child_stack_limit&) = delete;

private:
    rlimit old_{};
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the tool through the shell with the given redirections (for closed standard streams);
// returns the exit code, or -1 when the shell could not run it.
int run_in_shell(const std::string& cwd, const std::string& args, const std::string& redirections,
                 const std::string& limits = "true") {
    const std::string command =
        "cd '" + cwd + "' && " + limits + " && timeout 60 '" WELDRIX_BINARY "' " + args + " " + redirections;
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every run prints empty lines through a default (null) string_view: caught by UBSan in the
// sanitizer build, where fwrite was handed the null pointer.
TEST(Hostile, ConsoleWritesOfNothing) {
    stdout_console out;
    out.write(std::string_view{});
    out.line();
    out.line(std::string_view{});
    SUCCEED();
}

TEST(Hostile, BinaryGarbage) {
    temp_dir dir;
    // Pseudo-random bytes: every value from 1 to 255 (CR included), with line feeds, type digits
    // and blanks mixed in so that many lines start like LDraw lines.
    std::string garbage;
    std::uint32_t state = 12345;
    for (int i = 0; i < 256 * 1024; ++i) {
        state = state * 1103515245u + 12345u;
        const auto byte = static_cast<char>(state >> 24 | 1);
        switch (state >> 8 & 7) {
            case 0: garbage += '\n'; break;
            case 1: garbage += static_cast<char>('0' + (state >> 16) % 6); break;
            case 2: garbage += ' '; break;
            default: garbage += byte; break;
        }
    }
    write_file(dir / "garbage.dat", garbage);
    const expected_run expected = in_process(garbage, "garbage.dat", "out.dat");
    const run_result r = run_weldrix({"garbage.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, expected.console);
    EXPECT_EQ(read_file(dir / "out.dat"), expected.output);
    // The lines that are no LDraw lines are told: the first ten by number, then a count (a CR
    // alone ends a line too); so are the lines whose numbers are not read as written.
    const std::string dropped =
        "weldrix: warning: lines 1, 2, 3, 4, 5, 6, 7, 10, 13, 15 and 23910 more are not LDraw lines and are dropped\n"
        "weldrix: warning: garbage.dat: line 9: 0 of the 13 numbers of a type 5 line are there; the missing ones are "
        "read as 0\n";
    const std::string more = "weldrix: warning: garbage.dat: 4016 more warnings not listed\n";
    EXPECT_EQ(r.errors.substr(0, dropped.size()), dropped);
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 12);
    ASSERT_GE(r.errors.size(), more.size());
    EXPECT_EQ(r.errors.substr(r.errors.size() - more.size()), more);
}

// A file that is not LDraw text (UTF-16 or UTF-32 by its byte-order mark, or any NUL byte: an
// image, a part saved as UTF-16) is refused, in place or not: nothing is written, the old output
// stays, exit code 2.
TEST(Hostile, FilesThatAreNotTextAreRefused) {
    using namespace std::string_literals;
    const std::string part = "2 16 0 0 0 1 1 1\n";
    const std::string refused[] = {
        "\xFF\xFE"s + "2\0 \0"s,  // UTF-16 little endian
        "\xFE\xFF"s +
            "\0"
            "2\0 "s,                   // UTF-16 big endian
        "\xFF\xFE\0\0"s + "2\0\0\0"s,  // UTF-32 little endian
        "\0\0\xFE\xFF"s +
            "\0\0\0"
            "2"s,                              // UTF-32 big endian
        part + "3 16 1 2 3 4 5 6\0 7 8 9\n"s,  // a NUL anywhere
        "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s,      // an image
    };
    for (const std::string& bytes : refused) {
        temp_dir dir;
        write_file(dir / "in.dat", bytes);
        write_file(dir / "out.dat", "old\n");
        for (const std::string out : {"out.dat", "in.dat"}) {
            const run_result r = run_weldrix({"in.dat", out}, {}, dir.path());
            EXPECT_EQ(r.exit_code, 2);
            EXPECT_EQ(r.output, banner + default_threshold +
                                    "\nReading input file in.dat\nin.dat is not a text file\n" +
                                    "Press <Enter> to quit\n");
        }
        EXPECT_EQ(read_file(dir / "out.dat"), "old\n");
        EXPECT_EQ(read_file(dir / "in.dat"), bytes);
    }
    // A UTF-8 byte-order mark is text.
    temp_dir dir;
    write_file(dir / "in.dat", "\xEF\xBB\xBF" + part);
    EXPECT_EQ(run_weldrix({"in.dat", "out.dat"}, {}, dir.path()).exit_code, 0);
}

TEST(Hostile, HundredMegabyteLineIsReadAsOneLine) {
    temp_dir dir;
    // A comment of 100 MB whose tail looks like a triangle: split into pieces, the tail would
    // become a triangle line of its own.
    std::string line = "0 ";
    line.append(100u << 20, 'x');
    line += " 3 16 1 0 0 0 1 0 0 0 1";
    { std::ofstream(dir / "long.dat", std::ios::binary) << line << "\r\n"; }
    line += "\r\n";
    const run_result r = run_weldrix({"long.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("long.dat", "out.dat", {1, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(read_file(dir / "out.dat") == line) << "the long line is not written back unchanged";
}

TEST(Hostile, TenMillionEmptyLines) {
    temp_dir dir;
    write_file(dir / "empty_lines.dat", std::string(10'000'000, '\n') + "2 16 0 0 0 1 1 1");
    write_file(dir / "crlf_lines.dat", "0 first\r\n" + std::string(10'000'000, '\n'));
    run_result r = run_weldrix({"empty_lines.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("empty_lines.dat", "out.dat", {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(read_file(dir / "out.dat"), "2 16 0 0 0 1 1 1\n");

    r = run_weldrix({"crlf_lines.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("crlf_lines.dat", "out.dat", {1, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(read_file(dir / "out.dat"), "0 first\r\n");

    // CR alone ends each of them; the one LF at the end is not looked for again at every line.
    write_file(dir / "cr_lines.dat", std::string(10'000'000, '\r') + "0 first\n0 last");
    r = run_weldrix({"cr_lines.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("cr_lines.dat", "out.dat", {2, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(read_file(dir / "out.dat"), "0 first\r0 last\r");
}

TEST(Hostile, ExtremeNumbersAndHowTheyAreWritten) {
    temp_dir dir;
    write_file(dir / "numbers.dat",
               "2 16 1e999 -1e999 1e-400 1 2 3\n"                    // overflow to +-infinity, underflow to 0
               "2 16 0x1p3 0 0 1 2 3\n"                              // no hexadecimal: the token reads as 0
               "2 16 1 nan 3 4 5 6\n"                                // nan is no number: it and the rest stay 0
               "2 16 -1e-400 4.9406564584124654e-324 1e308 1 1 1\n"  // -0, the smallest subnormal
               "2 16 inf 0 0 1 1 1\n"                                // all zero: collapsed and removed
               "2 16 1e999 0 0 1e999 0 0\n"                          // infinite ends never coincide
               "3 16 1.5mm 2 3 1e 5 6 .5 5. -.25e+1\n");             // longest decimal prefix of each token
    run_result r = run_weldrix({"numbers.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("numbers.dat", "out.dat", {7, 6, 0, 1, 0, 0}, {6, 5, 0, 1, 0, 0}));
    EXPECT_EQ(read_file(dir / "out.dat"),
              "2 16 inf -inf 0 1 2 3\n"
              "2 16 0 0 0 1 2 3\n"
              "2 16 1 0 0 0 0 0\n"
              "2 16 -0 4.940656e-324 1e+308 1 1 1\n"
              "2 16 inf 0 0 inf 0 0\n"
              "3 16 1.5 2 3 1 5 6 0.5 5 -2.5\n");

    // "inf" and "nan" are written but not read back: a second run reads them as failed numbers.
    r = run_weldrix({"out.dat", "again.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(read_file(dir / "again.dat"),
              "2 16 0 0 0 1 2 3\n2 16 1 0 0 0 0 0\n2 16 -0 4.940656e-324 1e+308 1 1 1\n"
              "3 16 1.5 2 3 1 5 6 0.5 5 -2.5\n");
}

TEST(Hostile, ColoursAndTypesBeyond32Bits) {
    temp_dir dir;
    write_file(dir / "colours.dat",
               "2 4294967296 0 0 0 1 1 1\n"             // clamps to INT32_MAX
               "2 -99999999999999999999 0 0 0 1 1 1\n"  // clamps to INT32_MIN
               "2 0x1F 0 0 0 1 1 1\n"                   // a direct colour, kept as written
               "2 abc 0 0 0 1 1 1\n"                    // unreadable: 16
               "1 99999999999 0 0 0 1 0 0 0 1 0 0 0 1 x.dat\n"
               "4294967298 16 0 0 0 1 1 1\n"     // type INT32_MAX: skipped
               "-4294967298 16 0 0 0 1 1 1\n");  // type INT32_MIN: skipped
    const run_result r = run_weldrix({"colours.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success("colours.dat", "out.dat", {5, 4, 0, 0, 0, 1}, {5, 4, 0, 0, 0, 1}));
    EXPECT_EQ(read_file(dir / "out.dat"),
              "2 2147483647 0 0 0 1 1 1\n2 -2147483648 0 0 0 1 1 1\n2 0x1F 0 0 0 1 1 1\n2 16 0 0 0 1 1 1\n"
              "1 2147483647 0 0 0 1 0 0 0 1 0 0 0 1 x.dat\n");
}

TEST(Hostile, ReferenceChainTenThousandFilesDeep) {
    // Each file holds an edge and references the next one. The expansion is a loop, not a
    // recursion: the tool runs with a 1 MB stack, which a recursion 10,000 levels deep would
    // overflow.
    temp_dir dir;
    constexpr int depth = 10'000;
    std::filesystem::create_directories(dir / "lib/parts");
    for (int k = 0; k < depth; ++k) {
        std::string text = "2 24 " + std::to_string(k) + " 0 0 " + std::to_string(k) + " 1 0\n";
        if (k + 1 < depth) text += "1 16 0 0 0 1 0 0 0 1 0 0 0 1 c" + std::to_string(k + 1) + ".dat\n";
        std::ofstream(dir / ("lib/parts/c" + std::to_string(k) + ".dat"), std::ios::binary) << text;
    }
    // The part's own edge ends 0.0001 from the inlined vertex (9999, 0, 0): it snaps onto it.
    write_file(dir / "chain.ldr", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 c0.dat\n2 24 9999.0001 0 0 0 -5 0\n");

    const auto start = std::chrono::steady_clock::now();
    run_result r;
    {
        const child_stack_limit limit(1 << 20);
        r = run_weldrix({"-s", "-l", "lib", "chain.ldr", "out.ldr"}, {}, dir.path());
    }
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, reading("chain.ldr", {2, 1, 0, 0, 0, 1}, snap_thresholds) + lib_search_list +
                            inlined(depth, 0, 0, 0) + unifying_and_writing("out.ldr") +
                            statistics({2, 1, 0, 0, 0, 1}, " lines written in file") + press_enter);
    EXPECT_EQ(read_file(dir / "out.ldr"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 c0.dat\n2 24 9999 0 0 0 -5 0\n");
    RecordProperty("seconds", std::to_string(seconds_since(start)));
}

TEST(Hostile, ReferenceCyclesAreSkippedWithOneMessagePerName) {
    temp_dir dir;
    write_file(dir / "lib/parts/self.dat", "2 24 0 0 0 1 0 0\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 self.dat\n");
    write_file(dir / "lib/parts/ping.dat", "2 24 0 0 0 2 0 0\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 pong.dat\n");
    write_file(dir / "lib/parts/pong.dat", "2 24 0 0 0 3 0 0\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 ping.dat\n");
    // Direct, indirect, twice the same and the part itself.
    const std::string part =
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 self.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 ping.dat\n"
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 self.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 part.ldr\n";
    write_file(dir / "part.ldr", part);
    const run_result r = run_weldrix({"-s", "-l", "lib", "part.ldr", "out.ldr"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, reading("part.ldr", {4, 0, 0, 0, 0, 4}, snap_thresholds) + lib_search_list +
                            "Circular subfile reference skipped: part.ldr\n"
                            "Circular subfile reference skipped: self.dat\n"
                            "Circular subfile reference skipped: ping.dat\n" +
                            inlined(4, 0, 0, 0) + unifying_and_writing("out.ldr") +
                            statistics({4, 0, 0, 0, 0, 4}, " lines written in file") + press_enter);
    EXPECT_EQ(read_file(dir / "out.ldr"), part);
}

TEST(Hostile, SubfileCandidatesThatAreNotFilesArePassedOver) {
    // A folder, a FIFO (opening it must not wait for a writer, reading it must not wait for
    // data) and an endless device where subfiles are expected: each is skipped like a missing
    // file, and the same name found as a regular file further down the search list is used.
    temp_dir dir;
    std::filesystem::create_directories(dir / "p/folder.dat");
    ASSERT_EQ(::mkfifo((dir / "p/fifo.dat").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "p/zero.dat").c_str()), 0);
    write_file(dir / "lib/parts/folder.dat", "2 24 0 0 0 1 0 0\n");
    const std::string part =
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 folder.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 fifo.dat\n"
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 zero.dat\n";
    write_file(dir / "part.ldr", part);
    const run_result r = run_weldrix({"-s", "-l", "lib", "part.ldr", "out.ldr"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, reading("part.ldr", {3, 0, 0, 0, 0, 3}, snap_thresholds) + lib_search_list +
                            inlined(1, 0, 0, 0) + unifying_and_writing("out.ldr") +
                            statistics({3, 0, 0, 0, 0, 3}, " lines written in file") + press_enter);
    EXPECT_EQ(read_file(dir / "out.ldr"), part);
}

TEST(Hostile, FanOutLibraryStopsAtTheInliningLimit) {
    // Eleven levels, each file an edge and ten references to the next: 11 * 10^10 lines in all.
    // The expansion stops after default_max_inlined_lines inlined lines: whole copies of 11 lines, and
    // the first lines (the edge among them) of the next one.
    static_assert(default_max_inlined_lines % 11 != 0);
    const auto edges = static_cast<int>(default_max_inlined_lines / 11 + 1);
    temp_dir dir;
    for (int level = 0; level <= 10; ++level) {
        std::string text = "2 24 0 0 0 1 1 1\n";
        for (int k = 0; level < 10 && k < 10; ++k) {
            text += "1 16 " + std::to_string(k) + " 0 0 1 0 0 0 1 0 0 0 1 f" + std::to_string(level + 1) + ".dat\n";
        }
        write_file(dir / ("lib/parts/f" + std::to_string(level) + ".dat"), text);
    }
    write_file(dir / "fan.ldr", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f0.dat\n");
    const run_result r = run_weldrix({"-s", "-l", "lib", "fan.ldr", "out.ldr"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, reading("fan.ldr", {1, 0, 0, 0, 0, 1}, snap_thresholds) + lib_search_list +
                            "Subfile expansion stopped: the limit of " + std::to_string(default_max_inlined_lines) +
                            " inlined lines is reached; the rest is not inlined\n" + inlined(edges, 0, 0, 0) +
                            unifying_and_writing("out.ldr") + statistics({1, 0, 0, 0, 0, 1}, " lines written in file") +
                            press_enter);
    EXPECT_EQ(read_file(dir / "out.ldr"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f0.dat\n");
}

TEST(Hostile, ThresholdsThatAreNotOrdinaryNumbers) {
    temp_dir dir;
    // Two edges whose first ends are 0.003 apart: merged at the default threshold.
    write_file(dir / "t.dat", "2 16 0 0 0 1 0 0\n2 16 0.003 0 0 2 0 0\n");
    const std::string merged = "2 16 0.0015 0 0 1 0 0\n2 16 0.0015 0 0 2 0 0\n";
    const std::string kept = "2 16 0 0 0 1 0 0\n2 16 0.003 0 0 2 0 0\n";
    struct threshold_case {
        const char* value;
        const char* printed;
        std::string output;
    };
    const threshold_case cases[] = {
        {"abc", "0.005", merged},                         // not a number: the default stays, no message
        {"nan", "0.005", merged},                         // not a decimal number either
        {"-1", "-1", kept},                               // accepted; nothing is closer than a negative distance
        {"0", "0", kept},         {"1e-400", "0", kept},  // underflows to 0
        {"1e999", "inf", ""},                             // everything merges into one point: both edges collapse
    };
    for (const auto& c : cases) {
        const run_result r = run_weldrix({"-ut", c.value, "t.dat", "out.dat"}, {}, dir.path());
        const std::string thresholds = std::string("Vertices unification threshold: ") + c.printed + "\n";
        const std::size_t written = c.output.empty() ? 0 : 2;
        EXPECT_EQ(r.exit_code, 0) << c.value;
        EXPECT_EQ(r.output, success("t.dat", "out.dat", {2, 2, 0, 0, 0, 0}, {written, written, 0, 0, 0, 0}, thresholds))
            << c.value;
        EXPECT_EQ(read_file(dir / "out.dat"), c.output) << c.value;
    }
    // The subfile threshold is read the same way.
    const run_result r = run_weldrix({"-s", "-us", "1e999", "-us", "abc", "t.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.output.find(default_threshold + "Unification on subfiles threshold: inf\n"), std::string::npos);
}

TEST(Hostile, InputWithoutReadPermission) {
    temp_dir dir;
    write_file(dir / "secret.dat", "2 16 0 0 0 1 1 1\n");
    ::chmod((dir / "secret.dat").c_str(), 0);
    if (::access((dir / "secret.dat").c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not stop this user";
    const run_result r = run_weldrix({"secret.dat", "out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.output,
              banner + default_threshold + "\nReading input file secret.dat\nsecret.dat not found\n" + press_enter);
}

std::string cannot_create(const std::string& in, const std::string& out, const counts& read) {
    return reading(in, read) + unifying_and_writing(out) + out + " Can't create\n" + press_enter;
}

TEST(Hostile, OutputInAReadOnlyFolder) {
    temp_dir dir;
    write_file(dir / "in.dat", "2 16 0 0 0 1 1 1\n");
    write_file(dir / "locked/out.dat", "old\n");
    ::chmod((dir / "locked").c_str(), 0555);
    if (::access((dir / "locked").c_str(), W_OK) == 0) GTEST_SKIP() << "permissions do not stop this user";
    const run_result r = run_weldrix({"in.dat", "locked/out.dat"}, {}, dir.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.output, cannot_create("in.dat", "locked/out.dat", {1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(read_file(dir / "locked/out.dat"), "old\n");
}

TEST(Hostile, AnInterruptedRunLeavesItsOutputAsItWas) {
    temp_dir dir;
    write_file(dir / "part.dat", "2 16 0 0 0 1 1 1\n");
    ASSERT_EQ(::mkfifo((dir / "in.dat").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "out.dat").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "r.fifo").c_str(), 0644), 0);
    write_file(dir / "batch/a.dat", "2 16 0 0 0 1 1 1\n");
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        const run_result in = run_weldrix({"--no-wait", "in.dat", "new.dat"}, {}, dir.path(), {signal_number, 300});
        EXPECT_EQ(in.exit_code, 130) << signal_number;
        EXPECT_TRUE(in.output.ends_with("Reading input file in.dat\nInterrupted: new.dat was not written\n"))
            << in.output;
        EXPECT_FALSE(file_exists(dir / "new.dat"));
        const run_result out = run_weldrix({"--no-wait", "part.dat", "out.dat"}, {}, dir.path(), {signal_number, 300});
        EXPECT_EQ(out.exit_code, 130) << signal_number;
        EXPECT_TRUE(out.output.ends_with("Writing output file out.dat\nInterrupted: out.dat was not written\n"))
            << out.output;
        // A FIFO as the report is waited for until the signal, after the output is written; it
        // used to be waited for for ever, and to end with 0 once a reader came.
        const run_result report =
            run_weldrix({"--no-wait", "-r", "r.fifo", "part.dat", "written.dat"}, {}, dir.path(), {signal_number, 300});
        EXPECT_EQ(report.exit_code, 130) << signal_number;
        EXPECT_TRUE(report.output.ends_with("Writing report file r.fifo\nInterrupted: r.fifo was not written\n"))
            << report.output;
        EXPECT_EQ(read_file(dir / "written.dat"), "2 16 0 0 0 1 1 1\n");
    }
    // A batch writes its report through the same door.
    const run_result batch =
        run_weldrix({"--no-wait", "-r", "r.fifo", "batch", "batch.out"}, {}, dir.path(), {SIGINT, 300});
    EXPECT_EQ(batch.exit_code, 130);
    EXPECT_TRUE(batch.output.ends_with("Writing report file r.fifo\nInterrupted: r.fifo was not written\n"))
        << batch.output;

    // Interrupted while the new bytes of a regular output are being written: the old file stays,
    // and no temporary file is left.
    temp_dir other;
    write_file(other / "in.dat", "2 16 0 0 0 1 1 1\n");
    write_file(other / "out.dat", "old\n");
    std::atomic<bool> flag{false};
    test::interrupting_file_system interrupting(host_file_system(), flag, 1);
    string_console out, warnings;
    bool waited = false;
    const int code =
        run({other / "in.dat", other / "out.dat"}, {out, warnings, [&] { waited = true; }, interrupting, &flag, false});
    EXPECT_EQ(code, exit_interrupted);
    EXPECT_FALSE(waited);
    EXPECT_TRUE(out.text.ends_with("Interrupted: " + (other / "out.dat") + " was not written\n")) << out.text;
    EXPECT_EQ(read_file(other / "out.dat"), "old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.path()), {}), 2);
}

// Control characters in file, folder and subfile names used to reach the console and the reports
// raw: a name could move the cursor, retitle the terminal or forge a "failed:" line. Every message
// shows each as \xHH; the JSON report keeps the exact name.
TEST(Hostile, ControlCharactersInNamesAreShownAsEscapes) {
    temp_dir dir;
    const std::string evil = "\x1b]0;t\x07\nfailed: x\r\x7f";  // retitles, rings, forges a line
    const std::string shown = "\\x1B]0;t\\x07\\x0Afailed: x\\x0D\\x7F";
    const std::string sub = "\x1b[2J\x01.dat";  // a line cannot hold "\n" or "\r"
    const std::string sub_shown = "\\x1B[2J\\x01.dat";
    const std::string folder = "in/" + evil, file = "a" + evil + ".dat";
    write_file(dir / (folder + "/" + file), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 " + sub +
                                                "\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 loop" + sub +
                                                "\n2 24 0 0 0 1 0 0\n2 24 0.002 0 0 1 1 0\n");
    write_file(dir / (folder + "/loop" + sub), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 loop" + sub + "\n");
    const std::string relative = shown + "/a" + shown + ".dat";
    const auto raw = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(),
                           [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7f; });
    };
    const std::pair<std::vector<std::string>, std::vector<std::string>> runs[] = {
        {{"-s", "-r", "report.txt", "in", "out"},
         {"changed: " + relative + " (2 vertices moved", "subfile not found: " + sub_shown + " (1 reference",
          "in/" + relative + " -> out/" + relative}},
        {{"-s", "in/" + evil + "/" + file, "out" + evil + ".dat"},
         {"Reading input file in/" + relative, "Circular subfile reference skipped: loop" + sub_shown,
          "Writing output file out" + shown + ".dat"}},
        {{"-c", "-r", "report.json", "in", "out"}, {"would change: " + relative}},
    };
    for (const auto& [args, said] : runs) {
        std::vector<std::string> with = {"--no-wait"};
        with.insert(with.end(), args.begin(), args.end());
        const run_result r = run_weldrix(with, {}, dir.path());
        EXPECT_FALSE(raw(r.output)) << r.output;
        EXPECT_FALSE(raw(r.errors)) << r.errors;
        const std::string text = r.output + r.errors + (args[2] == "report.txt" ? read_file(dir / "report.txt") : "");
        for (const std::string& part : said) EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
    EXPECT_FALSE(raw(read_file(dir / "report.txt")));
    const auto json = nlohmann::json::parse(read_file(dir / "report.json"));
    EXPECT_EQ(json["files"][0]["input"], "in/" + evil + "/" + file);
}

// A FIFO that nothing opens holds no call for ever: setting the stop flag ends the wait in any
// thread, without the signal that interrupts the one thread it reaches. A writer that comes late
// is still waited for, and a reader of regular files only passes a FIFO over at once.
TEST(Hostile, AFifoIsLeftOnceTheStopFlagIsSetInAnyThread) {
    temp_dir dir;
    const std::string fifo = dir / "fifo.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto stop_soon = [](std::atomic<bool>& stop) {
        return std::thread([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop = true;
        });
    };
    std::string bytes;
    for (const bool reading : {true, false}) {
        std::atomic<bool> stop{false};
        std::thread stopper = stop_soon(stop);
        EXPECT_FALSE(reading ? read_file(host_file_system(), fifo, bytes, &stop)
                             : replace_file(host_file_system(), fifo, "0 x\n", durability::flush_each, &stop));
        stopper.join();
    }
    EXPECT_EQ(read_whole_file(host_file_system(), fifo, bytes, nullptr, true), read_status::not_regular);
    ldraw_file document;
    string_console out;
    EXPECT_EQ(document.read(host_file_system(), fifo, out, nullptr, true), ldraw_file::read_result::not_regular);
    EXPECT_EQ(document.read(host_file_system(), dir.path(), out, nullptr, true), ldraw_file::read_result::not_regular);

    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::ofstream(fifo, std::ios::binary) << "2 16 0 0 0 1 1 1\n";
    });
    EXPECT_TRUE(read_file(host_file_system(), fifo, bytes));
    writer.join();
    EXPECT_EQ(bytes, "2 16 0 0 0 1 1 1\n");
}

TEST(Hostile, ClosedOrExhaustedStandardStreams) {
    temp_dir dir;
    write_file(dir / "in.dat", "2 16 0 0 0 1 1 1\n3 16 0 0 0 1 0 0 0 1 0\n");
    const std::string expected = "2 16 0 0 0 1 1 1\n3 16 0 0 0 1 0 0 0 1 0\n";

    // Standard input at its end (fed nothing, then closed) or holding more than one character:
    // the wait reads one character or the end, and the run ends.
    for (const std::string input : {"", "\n", "a lot of text\nand more\n"}) {
        const run_result r = run_weldrix({"in.dat", "out.dat"}, input, dir.path());
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.output, success("in.dat", "out.dat", {2, 1, 0, 1, 0, 0}, {2, 1, 0, 1, 0, 0}));
    }

    // Standard input closed, standard output closed, both, or output to a full device: the
    // console text is lost, the run is not.
    for (const std::string redirections : {"<&- > console.txt", ">&- < /dev/null", "<&- >&-", "> /dev/full"}) {
        std::filesystem::remove(dir / "out.dat");
        EXPECT_EQ(run_in_shell(dir.path(), "in.dat out.dat", redirections), 0) << redirections;
        EXPECT_EQ(read_file(dir / "out.dat"), expected) << redirections;
    }
    EXPECT_EQ(read_file(dir / "console.txt"), success("in.dat", "out.dat", {2, 1, 0, 1, 0, 0}, {2, 1, 0, 1, 0, 0}));
    // The report is the one text that must arrive whole: printed on a full or closed standard
    // output (-r -) it fails like a report file, exit 2 after the output is written; it used to end
    // with 0, or 3 for a check, the report cut off.
    for (const std::string args : {"-r - in.dat out.dat", "-r - -c in.dat", "-r - -c ."}) {
        for (const std::string redirections : {"< /dev/null > /dev/full", "< /dev/null >&-"}) {
            std::filesystem::remove(dir / "out.dat");
            EXPECT_EQ(run_in_shell(dir.path(), args, redirections), 2) << args << " " << redirections;
            EXPECT_EQ(file_exists(dir / "out.dat"), !args.starts_with("-r - -c")) << args << " " << redirections;
        }
    }
    // A usage error and a missing input end the same way with standard input closed.
    EXPECT_EQ(run_in_shell(dir.path(), "only_one_argument", "<&- >/dev/null"), 1);
    EXPECT_EQ(run_in_shell(dir.path(), "missing.dat out.dat", "<&- >/dev/null"), 2);
}

#if defined(__SANITIZE_ADDRESS__)
#define WELDRIX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WELDRIX_ADDRESS_SANITIZER 1
#endif
#endif

TEST(Hostile, MemoryExhaustionEndsWithAMessage) {
#ifdef WELDRIX_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    temp_dir dir;
    // A 100 MB line under a 150 MB address space limit: its bytes and its element do not fit at
    // once. (The writer reserves the output at the input's size, so a line that can be read can
    // be written.)
    { std::ofstream(dir / "big.dat", std::ios::binary) << "0 " << std::string(100u << 20, 'x') << "\n"; }
    EXPECT_EQ(run_in_shell(dir.path(), "big.dat out.dat", "< /dev/null > console.txt", "ulimit -v 150000"), 2);
    EXPECT_EQ(read_file(dir / "console.txt"),
              banner + default_threshold + "\nReading input file big.dat\nOut of memory\nPress <Enter> to quit\n");
    EXPECT_FALSE(file_exists(dir / "out.dat"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
}  // namespace weldrix::test
