// weldrix: welds the vertices of an LDraw part and removes what that makes degenerate.
#include <atomic>
#include <cstdio>

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
    return weldrix::run(
        weldrix::program_arguments(argc, argv),
        {out, warnings, [] { std::getchar(); }, weldrix::host_file_system(), &interrupted,
         weldrix::standard_output_is_terminal(), weldrix::environment_variable("WELDRIX_NO_WAIT") == "1"});
}
