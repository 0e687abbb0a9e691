// weldrix: welds the vertices of an LDraw part and removes what that makes degenerate.
#include <cstdio>
#include <new>

#include "app/run.hpp"
#include "io/process.hpp"

int main(int argc, char** argv) {
    weldrix::prepare_process();
    weldrix::stdout_console out;
    weldrix::stdout_console warnings(stderr);
    const auto wait_for_enter = [] { std::getchar(); };
    try {
        return weldrix::run(weldrix::program_arguments(argc, argv),
                            {out, warnings, wait_for_enter, weldrix::host_file_system()});
    } catch (const std::bad_alloc&) {
        // Like every other way out, this one ends with the wait for Enter.
        out.line("Out of memory");
        out.line("Press <Enter> to quit");
        wait_for_enter();
        return weldrix::exit_file_error;
    }
}
