// The run sequence of the tool: banner, options, read, expand (-s), unify, write, wait for Enter.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/console.hpp"
#include "io/file_system.hpp"

namespace weldrix {

// Exit codes.
inline constexpr int exit_success = 0;
inline constexpr int exit_usage = 1;
inline constexpr int exit_file_error = 2;

// Runs the tool on the arguments after the program name, printing to out and working on the files
// of fs. wait_for_enter is called once at the end of every run (it reads one character from
// standard input in the tool). A run that runs out of memory prints "Out of memory", waits and
// returns exit_file_error like any other failed run.
int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs = host_file_system());

}  // namespace weldrix
