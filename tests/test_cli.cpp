// End-to-end tests: they run the built tool as a user would.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/version.hpp"
#include "support.hpp"

extern char** environ;

namespace weldrix {
namespace {

namespace fs = std::filesystem;
using test::run_result;
using test::run_weldrix;
using test::temp_dir;

using test::banner;
const std::string press_enter = "Press <Enter> to quit\n";

// Two comments, one line of each geometric type and two lines that are dropped, CR LF line ends.
const std::string sample =
    "0 Sample\r\n"
    "0 BFC CERTIFY CCW\r\n"
    "1 16 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\r\n"
    "2 24 0.0 0.0 0.0 1.0 0.0 0.0\r\n"
    "3 16 0 0 0 1 0 0 0 1 0\r\n"
    "4 16 0 0 0 1 0 0 1 1 0 0 1 0\r\n"
    "5 24 0 0 0 0 1 0 1 0 0 -1 0 0\r\n"
    "\r\n"
    "9 dropped\r\n";
const std::string sample_output =
    "0 Sample\r\n"
    "0 BFC CERTIFY CCW\r\n"
    "1 16 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\r\n"
    "2 24 0 0 0 1 0 0\r\n"
    "3 16 0 0 0 1 0 0 0 1 0\r\n"
    "4 16 0 0 0 1 0 0 1 1 0 0 1 0\r\n"
    "5 24 0 0 0 0 1 0 1 0 0 -1 0 0\r\n";
// The sample's line 9 is dropped, with a warning.
const std::string sample_dropped = "weldrix: warning: line 9 is not an LDraw line and is dropped\n";
const std::string sample_read_statistics =
    "7 lines in file\n1 Edge lines\n1 Conditional lines\n1 Triangles\n1 Quads\n1 Subfiles\n";
const std::string sample_write_statistics =
    "7 lines written in file\n1 Edge lines\n1 Conditional lines\n1 Triangles\n1 Quads\n1 Subfiles\n";

// Console text of a run without -s up to and including the "Reading input file" line.
std::string run_start(const std::string& in, const std::string& threshold = "0.005") {
    return banner + "Vertices unification threshold: " + threshold + "\n\nReading input file " + in + "\n";
}

// Console text from the unification phase up to the "Writing output file" line.
std::string run_middle(const std::string& out) {
    return "\nUnifying input file vertices\n\nWriting output file " + out + "\n";
}

std::string success_output(const std::string& in, const std::string& out) {
    return run_start(in) + sample_read_statistics + run_middle(out) + sample_write_statistics + press_enter;
}

std::string cant_create_output(const std::string& in, const std::string& out) {
    return run_start(in) + sample_read_statistics + run_middle(out) + out + " Can't create\n" + press_enter;
}

// The names of the entries of a folder, sorted.
std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Runs a shell command and gives its standard output and exit status.
struct shell_result {
    int exit_code;
    std::string output;
};
shell_result run_shell(const std::string& command) {
    // The tests know when the tool waits: not from the environment they are run in.
    FILE* pipe = ::popen(("unset WELDRIX_NO_WAIT; " + command).c_str(), "r");
    if (!pipe) return {-1, {}};
    std::string output;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

TEST(Cli, SuccessfulRunPrintsEveryPhaseExactly) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    const auto r = run_weldrix({"in.dat", "out.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success_output("in.dat", "out.dat"));
    EXPECT_EQ(r.errors, sample_dropped);
    EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.dat", "out.dat"}));  // no temporary left

    // The names are printed as given.
    const auto abs = run_weldrix({dir / "in.dat", dir / "./out2.dat"});
    EXPECT_EQ(abs.output, success_output(dir / "in.dat", dir / "./out2.dat"));
    EXPECT_EQ(test::read_file(dir / "out2.dat"), sample_output);
}

TEST(Cli, UsageErrors) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    test::write_file(dir / "3001.dat", sample);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"in.dat"},
        {"in.dat", "out.dat", "-s"},  // in.dat stands where options are looked for
        {"x", "in.dat", "out.dat"},
        {"-x", "in.dat", "out.dat"},
        {"-ua", "1", "in.dat", "out.dat"},
        {"-u", "in.dat", "out.dat"},
        {"-", "in.dat", "out.dat"},
        {"", "in.dat", "out.dat"},
        {"-s", "s", "in.dat", "out.dat"},
        {"-l", "", "in.dat", "out.dat"},  // an empty library folder
        {"-ut", "0.1", "-q", "in.dat", "out.dat"},
        // Slips that would clean 3001.dat in place with a threshold of 3001, or one not asked for.
        {"-ut", "3001.dat", "3001.dat"},
        {"-ut=0.01", "3001.dat", "3001.dat"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += "[" + a + "]";
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 1) << shown;
        EXPECT_EQ(r.output, test::usage_error_output()) << shown;
    }
    // Nothing was written.
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"3001.dat", "in.dat"}));
    EXPECT_EQ(test::read_file(dir / "3001.dat"), sample);
}

// A usage error also names, on standard error, the argument that caused it: "weldrix: error: "
// and, for a slip that would clean with a setting nobody asked for, exactly these words.
TEST(Cli, UsageErrorsNameTheArgument) {
    temp_dir dir;
    struct usage_case {
        std::vector<std::string> args;
        std::string why;
        bool whole = false;  // the whole message
    };
    const usage_case cases[] = {
        {{}, "no input and output file names"},
        {{"in.dat"}, "only one file name, \"in.dat\""},
        {{"x", "in.dat", "out.dat"}, "\"x\" stands where options are expected"},
        {{"-x", "in.dat", "out.dat"}, "\"-x\" is not an option"},
        {{"-ua", "1", "in.dat", "out.dat"}, "\"-ua\" is not an option"},
        {{"--verbose", "in.dat", "out.dat"}, "\"--verbose\" is not an option"},
        {{"-l", "", "in.dat", "out.dat"}, "empty folder name"},
        // A threshold that starts as a number but is not that number alone.
        {{"-ut", "3001.dat", "in.dat", "out.dat"}, "-ut: \"3001.dat\" is not a number", true},
        {{"-ut", "0,01", "in.dat", "out.dat"}, "-ut: \"0,01\" is not a number", true},
        {{"-us", "1e-2x", "in.dat", "out.dat"}, "-us: \"1e-2x\" is not a number", true},
        {{"-ut", "0x10", "in.dat", "out.dat"}, "-ut: \"0x10\" is not a number", true},
        {{"-ut", " 5mm", "in.dat", "out.dat"}, "-ut: \" 5mm\" is not a number", true},
        // A value glued to an option.
        {{"-ut0.01", "in.dat", "out.dat"}, "write the value as its own argument: -ut 0.01", true},
        {{"-ut=0.01", "in.dat", "out.dat"}, "write the value as its own argument: -ut 0.01", true},
        {{"-us=1", "in.dat", "out.dat"}, "write the value as its own argument: -us 1", true},
        {{"-l=C:\\LDraw", "in.dat", "out.dat"}, "write the value as its own argument: -l C:\\LDraw", true},
        {{"-lib=/l", "in.dat", "out.dat"}, "write the value as its own argument: -lib /l", true},
        {{"-s2", "in.dat", "out.dat"}, "write the value as its own argument: -s 2", true},
        // One of the tool's own options where a file name goes.
        {{"in.dat", "--minimal"}, "--minimal stands where a file name goes; options go before the names", true},
        {{"-c", "-s", "in.dat", "--strict"},
         "--strict stands where a file name goes; options go before the names",
         true},
        {{"-c", "in.dat", "--no-wait"}, "--no-wait stands where a file name goes; options go before the names", true},
        {{"-s", "in.dat", "-c"}, "-c stands where a file name goes; options go before the names", true},
        {{"-c", "-s"}, "-s stands where a file name goes; options go before the names", true},
        {{"-s", "out.dat"}, "-s stands where a file name goes; options go before the names", true},
        // The input name forgotten: -l takes the input's place.
        {{"-s", "-l", "lib", "in.dat"},
         "-l takes the next name as the library; give the input and output names after it",
         true},
    };
    for (const auto& [args, why, whole] : cases) {
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 1) << why;
        EXPECT_EQ(r.output, test::usage_error_output()) << why;
        if (whole) {
            EXPECT_EQ(r.errors, "weldrix: error: " + why + "\n");
        } else {
            EXPECT_EQ(r.errors.rfind("weldrix: error: ", 0), 0u) << r.errors;
            EXPECT_NE(r.errors.find(why), std::string::npos) << r.errors;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "--minimal"));
}

// Likely mistakes are named on standard error; standard output, the output file and the exit code
// are those of the same run without the warning.
TEST(Cli, WarningsForLikelyMistakesLeaveEverythingElseAlone) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    fs::create_directories(dir / "notlib/stuff");
    fs::create_directories(dir / "lib/PARTS");
    const auto warns = [&](const std::vector<std::string>& args, const std::vector<std::string>& expected,
                           const std::string& threshold = "0.005") {
        std::string shown;
        for (const auto& a : args) shown += "[" + a + "]";
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 0) << shown;
        std::string errors;
        for (const std::string& e : expected) errors += "weldrix: warning: " + e + "\n";
        errors += sample_dropped;
        EXPECT_EQ(r.errors, errors) << shown;
        if (args.size() > 2 && args[0] != "-s" && args[0] != "-snap") {
            EXPECT_EQ(r.output.substr(0, run_start("in.dat", threshold).size()), run_start("in.dat", threshold))
                << shown;
        }
    };
    // A value option whose value is the input file name.
    warns({"-ut", "in.dat", "out.dat"},
          {"-ut takes the input file name \"in.dat\" as its value (it is still read as the input)",
           "-ut \"in.dat\" is not a number: the threshold stays 0.005"});
    // Letters after a recognised option.
    warns({"-utx", "0.02", "in.dat", "out.dat"}, {"\"-utx\" is read as -ut: the characters \"x\" after it are ignored"},
          "0.02");
    // Thresholds that are not numbers, or of 1 and more; white space around a number is fine.
    warns({"-ut", "abc", "in.dat", "out.dat"}, {"-ut \"abc\" is not a number: the threshold stays 0.005"});
    warns({"-ut", " 0.01\t", "in.dat", "out.dat"}, {}, "0.01");
    warns({"-ut", "2", "in.dat", "out.dat"},
          {"-ut 2 is a threshold of 1 or more: distinct features of real parts lie 1 LDU apart or less"}, "2");
    warns({"-ut", "1e999", "in.dat", "out.dat"},
          {"-ut inf is a threshold of 1 or more: distinct features of real parts lie 1 LDU apart or less"}, "inf");
    // Options without effect, and a library folder that is not one.
    warns({"-l", "lib", "-us", "0.01", "in.dat", "out.dat"},
          {"-l has no effect without -s", "-us has no effect without -s"});
    warns({"-s", "-l", "notlib", "in.dat", "out.dat"},
          {"the library folder \"notlib\" holds neither p nor parts: is it the LDraw library's own folder?",
           "subfile not found: missing.dat (1 reference skipped)"});
    warns({"-s", "-l", "lib", "in.dat", "out.dat"}, {"subfile not found: missing.dat (1 reference skipped)"});
    EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output);
}

// --strict: a warning of the run withholds every output, one of a file that file's, with exit code
// 4; a file that cannot be read (2) goes first, a change found by -c (3) after. A batch writes
// the files without warnings and names the first warning of each file it withholds.
TEST(Cli, StrictWithholdsWhatAWarningConcerns) {
    temp_dir dir;
    const std::string clean = "2 24 0 0 0 1 0 0\n", missing = "1 16 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\n";
    test::write_file(dir / "clean.dat", clean);
    test::write_file(dir / "missing.dat.ldr", missing + "2 24 0 0 0 1 0 0\n2 24 0.001 0 0 1 1 0\n");
    test::write_file(dir / "in/a.dat", clean);
    test::write_file(dir / "in/b.dat", missing + "1 16 0 0 0 1 0 0 0 1 0 0 0 1 ..\\clean.dat\n");
    test::write_file(dir / "in/c.dat", "x\n" + clean);
    test::write_file(dir / "in/d.dat", "2 24 1,5 0 0 1 0 0\n");
    test::write_file(dir / "dropped.dat", "x\n" + clean);
    // Numbers not read as written; a reference to the file itself.
    test::write_file(dir / "numbers.dat", "2 24 1,5 0 0 2,5 0 0\n2 24 1 0 0\n3 16 0 0 0 x 1 1 0 0 1\n");
    test::write_file(dir / "cycle.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 cycle.dat\n" + clean);
    // The cleaning makes these two edge lines identical (a geometry fault).
    test::write_file(dir / "faulty.dat", "2 24 -8.40331 4.5 -3 -9 4.5 0\n2 24 -9 4.5 0 -8.403 4.5 -3\n");
    for (const std::string name : {"faults/a.dat", "faults/s/b.dat"})
        test::write_file(dir / name, "0 x\n2 24 -8.40331 4.5 -3 -9 4.5 0\n2 24 -9 4.5 0 -8.403 4.5 -3\n");
    fs::create_directories(dir / "notlib/stuff");
    const std::string old = "0 old output\n";
    const std::string not_found =
        "failed: b.dat: --strict: subfile not found: missing.dat (1 reference skipped)\n"
        "failed: c.dat: --strict: line 1 is not an LDraw line and is dropped\n"
        "failed: d.dat: --strict: line 1: \"1,5\" is read as 1\n";
    const std::string no_effect = "--strict: -l has no effect without -s\n";
    struct strict_case {
        std::vector<std::string> args;  // before the file names
        std::string in;
        int exit_code;
        std::string line;  // expected on standard output or error, when not empty
    };
    const strict_case cases[] = {
        {{"--strict"}, "clean.dat", 0, ""},
        {{"-s"}, "missing.dat.ldr", 0, ""},  // without --strict, a warning changes nothing
        {{"--strict", "-s"}, "missing.dat.ldr", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{"--strict", "-l", "notlib"}, "clean.dat", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{"--strict"}, "dropped.dat", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{},
         "numbers.dat",
         0,
         "weldrix: warning: numbers.dat: line 1: \"1,5\" is read as 1 and \"2,5\" as 2\n"
         "weldrix: warning: numbers.dat: line 2: 4 of the 7 numbers of a type 2 line are there; the missing ones are "
         "read as 0\n"
         "weldrix: warning: numbers.dat: line 3: \"x\" is not a number; the rest of the line is read as zeros\n"},
        {{"--strict"}, "numbers.dat", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{"-s"},
         "cycle.dat",
         0,
         "weldrix: warning: cycle.dat: line 1: circular subfile reference to cycle.dat skipped\n"},
        {{"--strict", "-s"}, "cycle.dat", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{"--strict", "-s", "-l", "notlib"}, "clean.dat", 4, ""},
        {{"--strict", "-s", "-c"}, "missing.dat.ldr", 4, "weldrix: error: --strict: a warning fails the check of"},
        {{"--strict", "-l", "notlib"}, "nothere.dat", 2, ""},
        {{},
         "faulty.dat",
         0,
         "weldrix: warning: faulty.dat line 2: the cleaning made this edge line identical to line 1 (--fix removes "
         "it)\n"},
        {{"--strict"}, "faulty.dat", 4, "weldrix: error: --strict: out.dat was not written\n"},
        {{"--strict", "--fix"}, "faulty.dat", 0, "1 lines written in file"},  // repaired: no warning
        {{"-c", "--fix"}, "faulty.dat", 3, "0 quads made triangles, 1 geometry fault repaired"},
        {{},
         "faults",
         0,  // a batch names each file by its path below the folder, then counts them all
         "weldrix: warning: a.dat line 3: the cleaning made this edge line identical to line 2 (--fix removes it)\n"
         "weldrix: warning: s/b.dat line 3: the cleaning made this edge line identical to line 2 (--fix removes "
         "it)\nweldrix: warning: geometry faults made: 2 in 2 files\n"},
        {{"--fix"}, "faults", 0, ""},
        {{"-s"},
         "in",
         0,  // a batch folds the names, and tells those never looked up
         "weldrix: warning: subfile name climbs out of its search folder, not looked up: ..\\clean.dat (1 "
         "reference skipped)\n"},
        {{"--strict", "-s"}, "in", 4, not_found},
        {{"--strict", "-s", "-c"}, "in", 4, not_found},
        {{"--strict", "-l", "notlib"},
         "in",
         4,
         "failed: a.dat: " + no_effect + "failed: b.dat: " + no_effect + "failed: c.dat: " + no_effect +
             "failed: d.dat: " + no_effect},
    };
    for (const auto& [options, in, exit_code, line] : cases) {
        std::string shown = in;
        for (const auto& a : options) shown += " " + a;
        const bool batch = in == "in" || in == "faults";
        const bool check = std::find(options.begin(), options.end(), "-c") != options.end();
        const std::string out = batch ? "out" : "out.dat";
        fs::remove_all(dir / out);
        if (!batch) test::write_file(dir / out, old);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--no-wait", in, out});
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, exit_code) << shown << "\n" << r.output << r.errors;
        EXPECT_NE((r.output + r.errors).find(line), std::string::npos) << shown << "\n" << r.output << r.errors;
        if (!batch) {
            EXPECT_EQ(test::read_file(dir / out) != old, exit_code == 0 && !check) << shown;  // written
        } else if (!check && in == "in") {
            // The file without a warning of its own is written unless the run has one.
            const bool strict = options[0] == "--strict";
            EXPECT_EQ(test::file_exists(dir / "out/a.dat"), !strict || options.size() == 2) << shown;
            EXPECT_EQ(test::file_exists(dir / "out/b.dat") || test::file_exists(dir / "out/c.dat") ||
                          test::file_exists(dir / "out/d.dat"),
                      !strict)
                << shown;
        }
    }
}

// --minimal: only the lines the cleaning changes are rewritten, each with its own line end; a file
// no line changes is left untouched in place (its time stamp stays) and copied byte for byte to
// another output, in a single run and in a batch. The console reads as usual.
TEST(Cli, MinimalRewritesOnlyTheLinesThatChange) {
    temp_dir dir;
    const std::string kept = "0 Kept as written\r\n\r\n2 24 0.0 0 0 1 0 0 trailing\n9 dropped\r\n0 ";
    // A CR alone ends a line like LF and CR LF.
    const std::string moved =
        "0 Moved\n2 24 0.0 0 0 1.0 0 0\r2 24 0 0 0 0 0 0\r\n4 16 0 0 0 1 0 0 1 0 0 0 0 1\r\n0 end";
    const std::string moved_minimal = "0 Moved\n2 24 0.0 0 0 1.0 0 0\r3 16 0 0 0 1 0 0 0 0 1\r\n0 end";
    const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    for (const std::string name : {"kept.dat", "in/kept.dat"}) {
        test::write_file(dir / name, kept);
        fs::last_write_time(dir / name, old_time);
    }
    test::write_file(dir / "moved.dat", moved);
    test::write_file(dir / "in/moved.dat", moved);

    // Copied to another output, with the console of a plain run.
    const auto plain = run_weldrix({"kept.dat", "copy.dat"}, "", dir.path());
    auto r = run_weldrix({"--minimal", "kept.dat", "copy.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, plain.output);
    EXPECT_EQ(test::read_file(dir / "copy.dat"), kept);
    // Left untouched in place.
    r = run_weldrix({"--minimal", "kept.dat", "./kept.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "kept.dat"), kept);
    EXPECT_EQ(fs::last_write_time(dir / "kept.dat"), old_time);
    // A changed line rewritten with its line end; a removed one gone.
    r = run_weldrix({"--minimal", "moved.dat", "moved.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "moved.dat"), moved_minimal);
    // A batch in place: the file nothing changes is not rewritten.
    r = run_weldrix({"--minimal", "--no-wait", "in", "in"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("changed: moved.dat (0 vertices moved, 1 line removed, 1 quad made a triangle)\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(test::read_file(dir / "in/kept.dat"), kept);
    EXPECT_EQ(fs::last_write_time(dir / "in/kept.dat"), old_time);
    EXPECT_EQ(test::read_file(dir / "in/moved.dat"), moved_minimal);
}

// --help, -h and --version answer at once (exit 0, no wait); --no-wait runs without the wait.
TEST(Cli, HelpVersionAndNoWait) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h"}, {"--help", "a", "b"}}) {
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 0);
        const std::string usage = test::usage_error_output();
        EXPECT_EQ(r.output.substr(0, usage.size() - press_enter.size()),
                  usage.substr(0, usage.size() - press_enter.size()));
        EXPECT_NE(r.output.find("man weldrix"), std::string::npos);
        EXPECT_EQ(r.output.find(press_enter), std::string::npos);
    }
    auto r = run_weldrix({"--version"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    // The version set once, in CMakeLists.txt.
    EXPECT_EQ(r.output, "weldrix " + std::string(weldrix_version) + "\n");

    // With --no-wait, or WELDRIX_NO_WAIT=1 in the environment, the run ends without reading
    // standard input, which here never ends, and without the line that asks for Enter.
    const std::string waiting = success_output("in.dat", "out.dat");
    const std::string no_wait = waiting.substr(0, waiting.size() - press_enter.size());
    for (const std::string how : {"--no-wait in.dat out.dat", "in.dat out.dat"}) {
        const std::string environment = how.starts_with("--") ? "" : "WELDRIX_NO_WAIT=1 ";
        fs::remove(dir / "wait.fifo");
        const auto never_ending = run_shell(
            "cd " + quoted(dir.path()) + " && mkfifo wait.fifo && { sleep 30 > wait.fifo 2>/dev/null & s=$!; } && " +
            environment + quoted(WELDRIX_BINARY) + " " + how + " < wait.fifo; c=$?; kill $s; exit $c");
        EXPECT_EQ(never_ending.exit_code, 0) << how;
        EXPECT_EQ(never_ending.output, no_wait) << how;
        EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output);
    }
}

TEST(Cli, FileErrorsExitWithTwo) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    fs::create_directory(dir / "folder");

    ::symlink("loop2", (dir / "loop1").c_str());  // a loop of links
    ::symlink("loop1", (dir / "loop2").c_str());

    run_result r;
    for (const std::string in : {"missing.dat", "missing/part.dat", ""}) {
        r = run_weldrix({in, "out.dat"}, "", dir.path());
        EXPECT_EQ(r.exit_code, 2) << in;
        EXPECT_EQ(r.output, run_start(in) + in + " not found\n" + press_enter) << in;
    }

    // A full device: nothing is said to be written.
    for (const std::string out : {"nowhere/out.dat", "folder", "folder/", "loop1", "", "/dev/full"}) {
        r = run_weldrix({"in.dat", out}, "", dir.path());
        EXPECT_EQ(r.exit_code, 2) << out;
        EXPECT_EQ(r.output, cant_create_output("in.dat", out)) << out;
    }
    // No output, and no temporary file left behind.
    EXPECT_FALSE(fs::exists(dir / "out.dat"));
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"folder", "in.dat", "loop1", "loop2"}));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

// -r: the report follows the run's lines (on standard output with "-", else as a file in the form
// its name asks for), and the wait for Enter stays last.
TEST(Cli, ReportFollowsTheRunsLines) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    const std::string before_wait = success_output("in.dat", "out.dat");
    const std::string run_lines = before_wait.substr(0, before_wait.size() - press_enter.size());

    auto r = run_weldrix({"-r", "-", "in.dat", "out.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output.substr(0, run_lines.size() + 1), run_lines + "\n");
    EXPECT_NE(r.output.find("\nweldrix change report\n\nin.dat -> out.dat\n", run_lines.size()), std::string::npos);
    EXPECT_TRUE(r.output.ends_with("\n  No line was changed.\n" + press_enter)) << r.output;
    EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.dat", "out.dat"}));

    for (const std::string name : {"r.html", "R.HTM", "r.json", "r.txt", "report"}) {
        r = run_weldrix({"-r", name, "in.dat", "out.dat"}, "", dir.path());
        EXPECT_EQ(r.exit_code, 0) << name;
        EXPECT_EQ(r.output, run_lines + "\nWriting report file " + name + "\n" + press_enter);
        const std::string report = test::read_file(dir / name);
        const char first = name == "r.json" ? '{' : name[2] == 'h' || name[2] == 'H' ? '<' : 'w';
        EXPECT_EQ(report.substr(0, 1), std::string(1, first)) << name;
    }
}

// A report that cannot be written ends the run with exit code 2 after the output was written;
// a report named like the input or the output never replaces it.
TEST(Cli, ReportFailuresLeaveTheOutputAndNeverReplaceTheInput) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    fs::create_directory(dir / "folder");
    const std::string before_wait = success_output("in.dat", "out.dat");
    const std::string run_lines = before_wait.substr(0, before_wait.size() - press_enter.size());
    for (const std::string name : {"nowhere/r.txt", "folder", "/dev/full"}) {
        fs::remove(dir / "out.dat");
        const auto r = run_weldrix({"-r", name, "in.dat", "out.dat"}, "", dir.path());
        EXPECT_EQ(r.exit_code, 2) << name;
        EXPECT_EQ(r.output, run_lines + "\nWriting report file " + name + "\n" + name +
                                " Can't create (the output file was written)\n" + press_enter);
        EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output) << name;
    }

    // The same name as the input or the output: a usage error, before anything is read.
    fs::remove(dir / "out.dat");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-r", "in.dat", "in.dat", "out.dat"},
                                                 {"-r", "out.dat", "in.dat", "out.dat"},
                                                 {"-r", "", "in.dat", "out.dat"}}) {
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 1) << args[1];
        EXPECT_EQ(r.output, test::usage_error_output());
        EXPECT_EQ(r.errors.rfind("weldrix: error: ", 0), 0u) << r.errors;
        EXPECT_FALSE(fs::exists(dir / "out.dat"));
    }
    // Another name for the same file: the output is written, the report is not.
    fs::create_symlink("in.dat", dir / "link.txt");
    for (const std::string name : {"./out.dat", "link.txt", "folder/../in.dat"}) {
        const auto r = run_weldrix({"-r", name, "in.dat", "out.dat"}, "", dir.path());
        EXPECT_EQ(r.exit_code, 2) << name;
        EXPECT_NE(r.output.find("\n" + name +
                                " Can't create: it is the input or output file (the output file was "
                                "written)\n" +
                                press_enter),
                  std::string::npos)
            << r.output;
        EXPECT_EQ(test::read_file(dir / "in.dat"), sample) << name;
        EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output) << name;
    }
}

TEST(Cli, ThresholdOptions) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    const auto threshold_line = [&](std::vector<std::string> args) {
        args.push_back("in.dat");
        args.push_back("out.dat");
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 0);
        const auto start = r.output.find("Vertices");
        return r.output.substr(start, r.output.find("\n\nReading") - start);
    };
    EXPECT_EQ(threshold_line({}), "Vertices unification threshold: 0.005");
    EXPECT_EQ(threshold_line({"-ut", "abc"}), "Vertices unification threshold: 0.005");
    EXPECT_EQ(threshold_line({"-ut", "1e-2"}), "Vertices unification threshold: 0.01");
    EXPECT_EQ(threshold_line({"-utx", "0.25"}), "Vertices unification threshold: 0.25");
    EXPECT_EQ(threshold_line({"-ut", "0.00001"}), "Vertices unification threshold: 1e-005");
    EXPECT_EQ(threshold_line({"-ut", "0.0001"}), "Vertices unification threshold: 0.0001");
    EXPECT_EQ(threshold_line({"-ut", "100000"}), "Vertices unification threshold: 100000");
    EXPECT_EQ(threshold_line({"-ut", "999999.5"}), "Vertices unification threshold: 1e+006");
    EXPECT_EQ(threshold_line({"-ut", "123456789"}), "Vertices unification threshold: 1.23457e+008");
    EXPECT_EQ(threshold_line({"-ut", "  2.5 "}), "Vertices unification threshold: 2.5");
    EXPECT_EQ(threshold_line({"-ut", "-1"}), "Vertices unification threshold: -1");
    EXPECT_EQ(threshold_line({"-ut", "1", "-ut", "2"}), "Vertices unification threshold: 2");
    EXPECT_EQ(threshold_line({"-ut", "1", "-ut", "nan"}), "Vertices unification threshold: 1");
    // -us is printed only with -s.
    EXPECT_EQ(threshold_line({"-us", "0.5"}), "Vertices unification threshold: 0.005");
    EXPECT_EQ(threshold_line({"-us", "0.5", "-s"}),
              "Vertices unification threshold: 0.005\nUnification on subfiles threshold: 0.5");
    EXPECT_EQ(threshold_line({"-snap", "-usage", ".75"}),
              "Vertices unification threshold: 0.005\nUnification on subfiles threshold: 0.75");
    // A value option directly before the input takes the input's name as its value.
    EXPECT_EQ(threshold_line({"-ut"}), "Vertices unification threshold: 0.005");
}

TEST(Cli, SearchListFromTheInputFolderAndLibraryOptions) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    test::write_file(dir / "sub/in.dat", sample);
    test::write_file(dir / "back\\slash.dat", sample);
    const auto search_list = [&](std::vector<std::string> args) {
        const auto r = run_weldrix(args, "", dir.path());
        EXPECT_EQ(r.exit_code, 0);
        const std::string head = "LDraw subfiles search locations:\n";
        const auto start = r.output.find(head);
        if (start == std::string::npos) return std::string("(none)");
        const auto from = start + head.size();
        return r.output.substr(from, r.output.find('\n', from) - from);
    };
    EXPECT_EQ(search_list({"-s", "in.dat", "out.dat"}), ".\\, .\\p\\, .\\s\\");
    EXPECT_EQ(search_list({"-s", "sub/in.dat", "out.dat"}), "sub/, sub/p\\, sub/s\\");
    EXPECT_EQ(search_list({"-s", "back\\slash.dat", "out.dat"}), "back\\, back\\p\\, back\\s\\");
    EXPECT_EQ(search_list({"-s", "-l", "D:\\LDraw", "in.dat", "out.dat"}),
              ".\\, .\\p\\, .\\s\\, D:\\LDraw\\p\\, D:\\LDraw\\parts\\, D:\\LDraw\\parts\\s\\, "
              "D:\\LDraw\\Unofficial\\p\\, D:\\LDraw\\Unofficial\\parts\\, D:\\LDraw\\Unofficial\\parts\\s\\");
    EXPECT_EQ(search_list({"-s", "-l", "D:\\LDraw\\", "in.dat", "out.dat"}),
              search_list({"-s", "-l", "D:\\LDraw", "in.dat", "out.dat"}));
    // -lib acts as -l; a value ending in "/" still gets a "\"; two -l add twelve entries in order.
    EXPECT_EQ(search_list({"-snap", "-lib", "a/", "-l", "b", "in.dat", "out.dat"}),
              ".\\, .\\p\\, .\\s\\, a/\\p\\, a/\\parts\\, a/\\parts\\s\\, a/\\Unofficial\\p\\, "
              "a/\\Unofficial\\parts\\, a/\\Unofficial\\parts\\s\\, b\\p\\, b\\parts\\, b\\parts\\s\\, "
              "b\\Unofficial\\p\\, b\\Unofficial\\parts\\, b\\Unofficial\\parts\\s\\");
    EXPECT_EQ(test::read_file(dir / "out.dat"), sample_output);
    // Without -s the list is not printed.
    EXPECT_EQ(search_list({"-l", "x", "in.dat", "out.dat"}), "(none)");
}

TEST(Cli, OutputMayReplaceTheInput) {
    temp_dir dir;
    test::write_file(dir / "part.dat", sample);
    ::chmod((dir / "part.dat").c_str(), 0640);
    const auto r = run_weldrix({"part.dat", "part.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success_output("part.dat", "part.dat"));
    EXPECT_EQ(test::read_file(dir / "part.dat"), sample_output);
    EXPECT_EQ(mode_of(dir / "part.dat"), 0640u);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"part.dat"});

    // CR alone ends a line: no line of a file with classic Mac OS line ends is lost.
    test::write_file(dir / "part.dat", "0 part\n2 24 0 0 0 1 0 0\r2 24 1 0 0 1 1 0\r3 16 0 0 0 1 0 0 1 1 0\r0 end\n");
    const auto mac = run_weldrix({"part.dat", "part.dat"}, "", dir.path());
    EXPECT_EQ(mac.exit_code, 0);
    EXPECT_NE(mac.output.find("5 lines in file\n2 Edge lines\n0 Conditional lines\n1 Triangles\n"), std::string::npos)
        << mac.output;
    EXPECT_EQ(test::read_file(dir / "part.dat"),
              "0 part\n2 24 0 0 0 1 0 0\n2 24 1 0 0 1 1 0\n3 16 0 0 0 1 0 0 1 1 0\n0 end\n");
}

TEST(Cli, SymlinkedOutputReplacesItsTarget) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    test::write_file(dir / "real/target.dat", "old\n");
    fs::create_symlink("real/target.dat", dir / "link.dat");
    fs::create_symlink("link.dat", dir / "link2.dat");  // a chain of links

    for (const std::string out : {"link.dat", "link2.dat"}) {
        test::write_file(dir / "real/target.dat", "old\n");
        const auto r = run_weldrix({"in.dat", out}, "", dir.path());
        EXPECT_EQ(r.exit_code, 0) << out;
        EXPECT_EQ(r.output, success_output("in.dat", out)) << out;
        EXPECT_TRUE(fs::is_symlink(dir / "link.dat"));
        EXPECT_TRUE(fs::is_symlink(dir / "link2.dat"));
        EXPECT_EQ(test::read_file(dir / "real/target.dat"), sample_output) << out;
        EXPECT_EQ(entries(dir / "real"), std::vector<std::string>{"target.dat"});
    }

    // A dangling link creates its target.
    fs::create_symlink("real/new.dat", dir / "dangling.dat");
    EXPECT_EQ(run_weldrix({"in.dat", "dangling.dat"}, "", dir.path()).exit_code, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.dat"));
    EXPECT_EQ(test::read_file(dir / "real/new.dat"), sample_output);

    // A link into a missing folder cannot be created, and stays as it was.
    fs::create_symlink("gone/x.dat", dir / "broken.dat");
    const auto r = run_weldrix({"in.dat", "broken.dat"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.output, cant_create_output("in.dat", "broken.dat"));
    EXPECT_TRUE(fs::is_symlink(dir / "broken.dat"));
}

TEST(Cli, OutputPermissions) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    for (const mode_t mode : {0600u, 0640u, 0755u, 0604u}) {
        test::write_file(dir / "kept.dat", "old\n");
        ::chmod((dir / "kept.dat").c_str(), mode);
        EXPECT_EQ(run_weldrix({"in.dat", "kept.dat"}, "", dir.path()).exit_code, 0);
        EXPECT_EQ(mode_of(dir / "kept.dat"), mode);
        EXPECT_EQ(test::read_file(dir / "kept.dat"), sample_output);
        fs::remove(dir / "kept.dat");
    }
    // A new file gets 0666 less the umask (the tool inherits the umask of this process).
    for (const mode_t mask : {022u, 027u, 0u}) {
        const mode_t old = ::umask(mask);
        const auto name = "new" + std::to_string(mask) + ".dat";
        EXPECT_EQ(run_weldrix({"in.dat", name}, "", dir.path()).exit_code, 0);
        ::umask(old);
        EXPECT_EQ(mode_of(dir / name), 0666u & ~mask);
    }
}

// A read-only output is protected as opening it for writing would protect it: it is not
// replaced, and the run ends with "Can't create". Root may write anyway, as it could open it.
TEST(Cli, ReadOnlyOutputIsNotReplaced) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    test::write_file(dir / "locked.dat", "official\n");
    ::chmod((dir / "locked.dat").c_str(), 0444);
    const auto r = run_weldrix({"in.dat", "locked.dat"}, "", dir.path());
    if (::geteuid() == 0) {
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(mode_of(dir / "locked.dat"), 0444u);
        EXPECT_EQ(test::read_file(dir / "locked.dat"), sample_output);
    } else {
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.output, cant_create_output("in.dat", "locked.dat"));
        EXPECT_EQ(test::read_file(dir / "locked.dat"), "official\n");
        EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.dat", "locked.dat"}));
    }
}

TEST(Cli, NonRegularOutputIsWrittenDirectly) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    auto r = run_weldrix({"in.dat", "/dev/null"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, success_output("in.dat", "/dev/null"));

    // /dev/stdout is a link to whatever standard output is, here a pipe: the file's bytes appear
    // in the console stream, between the "Writing" line and the statistics.
    r = run_weldrix({"in.dat", "/dev/stdout"}, "", dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, run_start("in.dat") + sample_read_statistics + run_middle("/dev/stdout") + sample_output +
                            sample_write_statistics + press_enter);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"in.dat"});
}

TEST(Cli, FailedWriteLeavesTheOldOutputAndNoTemporaryFile) {
    temp_dir dir;
    // Enough lines that the output exceeds the file size limit set below.
    std::string big;
    for (int i = 0; i < 200; ++i) big += "2 24 0 0 0 1 1 " + std::to_string(i) + "\n";
    test::write_file(dir / "in.dat", big);
    test::write_file(dir / "out.dat", "old output\n");

    // A file size limit of 512 bytes makes the write fail half way, as a full disk would. The
    // signal the limit raises (SIGXFSZ) must not kill the tool with its temporary file left behind.
    const auto r = run_shell("cd " + quoted(dir.path()) + " && ulimit -f 1 && exec " + quoted(WELDRIX_BINARY) +
                             " in.dat out.dat < /dev/null");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.output.find("\nWriting output file out.dat\nout.dat Can't create\nPress <Enter> to quit\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(test::read_file(dir / "out.dat"), "old output\n");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.dat", "out.dat"}));
}

TEST(Cli, FinalWaitReadsOneCharacterOrTheEndOfInput) {
    temp_dir dir;
    test::write_file(dir / "in.dat", sample);
    // At end of input, with a typed line, and with standard input closed: the run ends normally.
    for (const std::string typed : {"", "\n", "some text\nmore\n"}) {
        const auto r = run_weldrix({"in.dat", "out.dat"}, typed, dir.path());
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.output, success_output("in.dat", "out.dat"));
    }
    const auto closed =
        run_shell("cd " + quoted(dir.path()) + " && exec " + quoted(WELDRIX_BINARY) + " in.dat out.dat <&-");
    EXPECT_EQ(closed.exit_code, 0);
    EXPECT_EQ(closed.output, success_output("in.dat", "out.dat"));

    // The tool waits: with standard input open and empty it does not end after its last line,
    // and one character lets it end.
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    const std::string console = dir / "console.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, in[0]);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    std::vector<std::string> args = {WELDRIX_BINARY, dir / "in.dat", dir / "waited.dat"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, WELDRIX_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string shown;
    while (std::chrono::steady_clock::now() < deadline) {
        shown = test::file_exists(console) ? test::read_file(console) : "";
        if (shown.size() >= press_enter.size() && shown.ends_with(press_enter)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(shown.ends_with(press_enter)) << shown;
    EXPECT_EQ(test::read_file(dir / "waited.dat"), sample_output);  // written before the wait
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);  // still waiting

    ASSERT_EQ(::write(in[1], "x", 1), 1);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(in[1]);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Running the tool on its own output changes nothing: the output is a fixed point.
void expect_fixed_points(const std::vector<std::string>& options) {
    const std::string library = test::library_path();
    std::ifstream list(library + "/PARTS.txt");
    std::vector<std::string> parts;
    for (std::string name; std::getline(list, name);) {
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) parts.push_back(name);
    }
    ASSERT_EQ(parts.size(), 43u);

    temp_dir dir;
    for (const std::string& part : parts) {
        SCOPED_TRACE(part);
        fs::copy_file(library + "/parts/" + part, dir / part);
        auto args = options;
        args.insert(args.end(), {part, "first.dat"});
        const auto first = run_weldrix(args, "", dir.path());
        ASSERT_EQ(first.exit_code, 0) << first.output;
        args = options;
        args.insert(args.end(), {"first.dat", "second.dat"});
        const auto second = run_weldrix(args, "", dir.path());
        ASSERT_EQ(second.exit_code, 0) << second.output;

        const std::string once = test::read_file(dir / "first.dat");
        const std::string twice = test::read_file(dir / "second.dat");
        EXPECT_FALSE(once.empty());
        EXPECT_EQ(once, twice);
        // The statistics agree as well: reading the output finds what the first run wrote.
        const auto written = first.output.find(" lines written in file");
        const auto read = second.output.find(" lines in file");
        ASSERT_NE(written, std::string::npos);
        ASSERT_NE(read, std::string::npos);
        const auto block = [](const std::string& text, std::size_t at) {
            const auto start = text.rfind('\n', at) + 1;
            auto end = start;
            for (int i = 0; i < 6; ++i) end = text.find('\n', end) + 1;
            return text.substr(start, end - start);
        };
        std::string first_block = block(first.output, written);
        first_block.replace(first_block.find(" lines written in file"), 22, " lines in file");
        EXPECT_EQ(first_block, block(second.output, read));
        fs::remove(dir / part);
    }
}

TEST(Cli, RealPartsAreFixedPoints) { expect_fixed_points({}); }

TEST(Cli, RealPartsAreFixedPointsWithSubfiles) { expect_fixed_points({"-s", "-l", test::library_path()}); }

}  // namespace
}  // namespace weldrix
