// What the program needs of its host besides files: arguments as UTF-8 text and a process set up
// so that a failed write is reported rather than fatal. Implemented with the file system, one
// file per host (io/posix_host.cpp, io/windows_host.cpp).
#pragma once

#include <string>
#include <vector>

namespace weldrix {

// Sets up the process before a run: a closed pipe on standard output or a file size limit must
// not kill the run (the writes then fail and are reported), and the heap is tuned for tables
// that grow by doubling.
void prepare_process();

// The arguments after the program name, as UTF-8.
std::vector<std::string> program_arguments(int argc, char** argv);

// The value of an environment variable as UTF-8; empty when it is not set.
std::string environment_variable(const std::string& name);

// Tunes the process for a run that cleans many files one after the other (a batch).
void prepare_for_many_files();

// Hands the heap's free memory back to the system where the C library can (the GNU C library's
// malloc_trim): memory a large document freed while other threads' heaps held its neighbours.
void release_free_memory();

// Calls handler(signal number) when the user or the system asks the run to stop: SIGINT (Ctrl-C),
// SIGTERM and SIGHUP; on Windows the console's Ctrl-C, Ctrl-Break and close events. The handler
// runs asynchronously, in a signal handler or another thread: it may only store to a lock-free
// atomic. The caller owns that atomic; the library keeps no state of its own.
void on_interrupt(void (*handler)(int));

// Whether a thread runs to its end when it is started, before the thread that started it goes on:
// so on a host without threads of its own (WebAssembly in a browser or Node). Code that waits
// for another thread must then never wait.
bool threads_run_inline();

// Whether standard output is a terminal (a console window on Windows), where a progress line that
// updates in place makes sense.
bool standard_output_is_terminal();

}  // namespace weldrix
