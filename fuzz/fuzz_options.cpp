// Fuzz target: the command line and the whole run on arbitrary argument lists.
//
// The input is split into arguments at NUL bytes (at most 12, each cut to 64 bytes) and run as
// "weldrix ARGS" on an in-memory file system holding a small part, a multi-part document, a file
// that is not text, a read-only file, a folder of parts and a small library below /lib. Each
// argument list runs twice, each time on a fresh copy of those files: with the warnings collected
// and with them discarded. Checked:
//  * nothing escapes the run, and its exit code is one the tool defines (0, 1, 2, 3 or 4), 4
//    only with --strict;
//  * the warnings never change standard output: both runs print the same bytes (apart from a
//    batch's elapsed time), leave the same files and end with the same exit code; standard output
//    never holds "weldrix: warning:" (unless an argument does), and every warning line starts
//    with it or with "weldrix: error:";
//  * a usage error (exit code 1) makes no call of the file system at all, so nothing is read or
//    written;
//  * --help and --version end with 0 and never wait for Enter; every other run ends with the
//    wait exactly once and prints "Press <Enter> to quit" last, unless --no-wait was given (then
//    neither);
//  * no temporary file is left.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/folder_walk.hpp"
#include "app/options.hpp"
#include "app/run.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_files.hpp"
#include "io/console.hpp"

using namespace weldrix;
using weldrix::fuzz::counting_file_system;
using weldrix::fuzz::file_tree;

namespace {

constexpr std::size_t max_arguments = 12;
constexpr std::size_t max_argument_length = 64;

const file_tree& files() {
    static const file_tree tree = [] {
        file_tree t;
        // Vertices 0.002 apart, a local subpart, a library primitive and a missing subfile.
        t.add("/work/part.dat",
              "0 A part\n0 BFC CERTIFY CCW\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 s\\sub.dat\n"
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 stud.dat\n1 4 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\n"
              "2 24 0.002 0 0 6.001 0 0\n3 16 0 0 0 6 0 0.002 0 0 6\n4 16 0 0 0 1 0 0 1.002 0 1 0 0 1\n"
              "5 24 0 0 0 0 -4 0 1 0 0 -1 0 0\n2 24 0 0 0 0 0 0\n");
        t.add("/work/s/sub.dat", "0 A subpart\n2 24 0 0 0 6 0 0\n3 16 0 0 0 1 0 0 0 0 1\n");
        t.add("/work/model.mpd",
              "0 FILE main.ldr\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 other.ldr\n2 24 0 0 0 1.001 0 0\n0 NOFILE\n"
              "0 FILE other.ldr\n2 24 0.003 0 0 1 0 0\n2 24 1 0 0 1 0 0\n0 !DATA tex.png\n0 !: AAAA\n");
        t.add("/work/bad.dat", std::string("\xFF\xFE"
                                           "2\0 4",
                                           6));
        t.add("/work/readonly.dat", "0 read-only\n", false);
        t.add("/work/in/a.dat", "2 24 0 0 0 1 0 0\n2 24 0.002 0 0 1 1 0\n");
        t.add("/work/in/b/c.LDR", "0 clean\n2 24 0 0 0 1 0 0\n");
        t.add("/work/in/.hidden/h.dat", "2 24 0 0 0 1 0 0\n2 24 0.001 0 0 1 1 0\n");
        t.add("/work/in/notes.txt", "2 24 0 0 0 1 0 0\n");
        t.add_folder("/work/empty");
        t.add("/lib/p/stud.dat", "0 Stud\n2 24 6 0 0 0 0 6\n2 24 0 0 6 -6 0 0\n3 16 6 0 0 0 0 6 -6 0 0\n");
        t.add("/lib/parts/brick.dat", "0 Brick\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 stud.dat\n4 16 0 0 0 1 0 0 1 0 1 0 0 1\n");
        t.add("/lib/parts/s/sub.dat", "2 24 0 0 0 1 0 0\n");
        return t;
    }();
    return tree;
}

struct run_result {
    int code = -1;
    std::string out;
    std::string warnings;
    int waits = 0;
    std::size_t calls = 0;
    bool temporaries_left = false;
};

run_result run_once(const std::vector<std::string>& args, bool collect_warnings, memory_file_system& fs) {
    files().fill(fs);
    counting_file_system counted(fs);
    run_result result;
    string_console out, warnings;
    const auto wait = [&] { ++result.waits; };
    if (collect_warnings)
        result.code = run(args, run_environment{out, warnings, wait, counted});
    else
        result.code = run(args, out, wait, counted);
    result.out = std::move(out.text);
    result.warnings = std::move(warnings.text);
    result.calls = counted.calls();
    // A file or folder the arguments name may be called so too.
    for (const auto& [path, entry] : fs.entries()) {
        bool named = entry.folder;
        for (const std::string& arg : args) named |= memory_file_system::canonical(arg) == path;
        result.temporaries_left |= !named && weldrix::fuzz::is_temporary(path);
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    for (std::size_t start = 0; start <= input.size() && args.size() < max_arguments;) {
        auto stop = input.find('\0', start);
        if (stop == std::string_view::npos) stop = input.size();
        args.emplace_back(input.substr(start, std::min(stop - start, max_argument_length)));
        start = stop + 1;
    }
    if (input.empty()) args.clear();

    memory_file_system with_fs, without_fs;
    const run_result with = run_once(args, true, with_fs);
    const run_result without = run_once(args, false, without_fs);

    FUZZ_CHECK(with.code == exit_success || with.code == exit_usage || with.code == exit_file_error ||
                   with.code == exit_would_change || with.code == exit_strict,
               input);
    // Warnings go to their own stream and change nothing else.
    FUZZ_CHECK(with.code == without.code, input);
    FUZZ_CHECK(weldrix::fuzz::without_elapsed_time(with.out) == weldrix::fuzz::without_elapsed_time(without.out),
               input);
    FUZZ_CHECK(weldrix::fuzz::same_files(with_fs, without_fs), input);
    // (Standard output names the files given, which might hold the words themselves.)
    bool words_given = false;
    for (const std::string& arg : args) words_given |= arg.find("warning") != std::string::npos;
    FUZZ_CHECK(words_given || with.out.find("weldrix: warning:") == std::string::npos, input);
    FUZZ_CHECK(with.waits == without.waits, input);
    FUZZ_CHECK(with.warnings.empty() || with.warnings.back() == '\n', with.warnings);
    // Every warning line starts with the prefix, unless a warning quotes an argument that holds a
    // line feed.
    bool line_feed_given = false;
    for (const std::string& arg : args) line_feed_given |= arg.find('\n') != std::string::npos;
    constexpr std::string_view prefix = "weldrix: warning: ", error_prefix = "weldrix: error: ";
    for (std::size_t at = 0; at < with.warnings.size() && !line_feed_given; at = with.warnings.find('\n', at) + 1) {
        FUZZ_CHECK(with.warnings.compare(at, prefix.size(), prefix) == 0 ||
                       with.warnings.compare(at, error_prefix.size(), error_prefix) == 0,
                   with.warnings);
    }
    FUZZ_CHECK(!with.temporaries_left, input);

    const command_line command = parse_command_line(args);
    using action = command_line::action;
    memory_file_system fresh;
    files().fill(fresh);
    if (command.requested == action::run &&
        !batch_usage_error(command.options, fresh, file_paths(command.options.input, command.options.output)).empty()) {
        // An input folder inside the output folder: a usage error once the files are looked at.
        FUZZ_CHECK(with.code == exit_usage, input);
        FUZZ_CHECK(with.warnings.find("weldrix: error: ") != std::string::npos, with.warnings);
    } else if (command.requested == action::usage_error) {
        FUZZ_CHECK(with.code == exit_usage, input);
        FUZZ_CHECK(with.calls == 0 && without.calls == 0, input);
        FUZZ_CHECK(with.warnings.find("weldrix: error: ") != std::string::npos, with.warnings);
    } else {
        // A command line that parses can still be refused: a batch whose input folder lies inside
        // its output folder (nothing was written, so the file system still shows why).
        FUZZ_CHECK(
            with.code != exit_usage ||
                !batch_usage_error(command.options, with_fs, file_paths(command.options.input, command.options.output))
                     .empty(),
            input);
    }
    if (command.requested == action::help || command.requested == action::version) {
        FUZZ_CHECK(with.code == exit_success && with.waits == 0 && with.calls == 0, input);
        FUZZ_CHECK(with.warnings.empty(), with.warnings);
        return 0;
    }
    FUZZ_CHECK(with.waits == (command.options.wait_for_enter ? 1 : 0), input);
    FUZZ_CHECK(with.code != exit_strict || command.options.strict, input);
    FUZZ_CHECK(with.out.ends_with("Press <Enter> to quit\n") == command.options.wait_for_enter, with.out);
    return 0;
}
