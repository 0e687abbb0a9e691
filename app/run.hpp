// The run sequence of the tool: banner, options, read, expand (-s), unify, write, wait for Enter.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "io/console.hpp"
#include "io/file_system.hpp"

namespace weldrix {

// Exit codes.
inline constexpr int exit_success = 0;
inline constexpr int exit_usage = 1;
inline constexpr int exit_file_error = 2;    // a file could not be read or written
inline constexpr int exit_would_change = 3;  // "-c": the geometry of a file would change
inline constexpr int exit_strict = 4;        // "--strict": a warning withheld an output (2 goes first)
inline constexpr int exit_interrupted = 130;

// What a run works with besides its arguments.
struct run_environment {
    console& out;                          // standard output: progress lines and statistics
    console& warnings;                     // standard error: "weldrix: warning: ..." lines
    std::function<void()> wait_for_enter;  // reads one character from standard input in the tool
    file_system& files;
    // Set (by a signal handler) when the user asks the run to stop; none: never.
    const std::atomic<bool>* interrupted = nullptr;
    // Standard output is a terminal: a batch shows a progress line there.
    bool terminal = false;
    // The environment asks for no wait for Enter (WELDRIX_NO_WAIT=1), as "--no-wait" does.
    bool no_wait = false;
};

// How a run that is not interrupted ends: with wait, "Press <Enter> to quit" and the wait for
// Enter, then the exit code.
class finisher {
public:
    finisher(const run_environment& env, bool wait) : env_(env), wait_(wait) {}
    int operator()(int code) const;

private:
    const run_environment& env_;
    bool wait_;
};

// Runs the tool on the arguments after the program name. wait_for_enter is called once at the
// end of every run, after the line "Press <Enter> to quit", unless "--no-wait" or env.no_wait
// asked otherwise (then neither). A run that runs out of memory prints "Out
// of memory", and one whose host fails to read a file that is there prints "PATH can't be read";
// both then wait and return exit_file_error like any other failed run.
[[nodiscard]] int run(const std::vector<std::string>& args, const run_environment& env);

// The same, with warnings discarded.
[[nodiscard]] int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
                      file_system& fs = host_file_system());

}  // namespace weldrix
