// weldrix: welds the vertices of an LDraw part and removes what that makes degenerate.
#include <atomic>
#include <cstdio>
#include <new>

#include "app/run.hpp"
#include "io/process.hpp"

namespace {

// Set when the user or the system asks the run to stop; the run then finishes or abandons what is
// in flight, removes its temporary files and ends with exit code 130.
std::atomic<bool> interrupted{false};

void on_signal(int) { interrupted.store(true); }

}  // namespace

int main(int argc, char** argv) {
    weldrix::prepare_process();
    static_assert(std::atomic<bool>::is_always_lock_free);
    weldrix::on_interrupt(on_signal);
    weldrix::stdout_console out;
    weldrix::stdout_console warnings(stderr);
    const auto wait_for_enter = [] { std::getchar(); };
    try {
        return weldrix::run(weldrix::program_arguments(argc, argv),
                            {out, warnings, wait_for_enter, weldrix::host_file_system(), &interrupted,
                             weldrix::standard_output_is_terminal()});
    } catch (const std::bad_alloc&) {
        // Like every other way out, this one ends with the wait for Enter.
        out.line("Out of memory");
        out.line("Press <Enter> to quit");
        wait_for_enter();
        return weldrix::exit_file_error;
    }
}
