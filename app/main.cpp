// weldrix: welds the vertices of an LDraw part and removes what that makes degenerate.
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <new>

#include "app/run.hpp"

int main(int argc, char** argv) {
    // A closed pipe on standard output must not kill the run before the output file is written.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor may a file size limit: the write then fails with an error the output writer handles
    // (temporary file removed, old output kept, "Can't create") instead of killing the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    // The tables of a run grow by doubling. Served from the heap rather than from fresh mappings,
    // a grown table reuses the blocks its smaller copies left, instead of having the kernel zero
    // new pages for every doubling: a third fewer page faults on a large part with -s. Blocks
    // beyond 32 MiB are still mapped, so that huge tables give their memory back when they grow.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    weldrix::stdout_console out;
    const auto wait_for_enter = [] { std::getchar(); };
    try {
        return weldrix::run(std::vector<std::string>(argv + 1, argv + argc), out, wait_for_enter);
    } catch (const std::bad_alloc&) {
        // Like every other way out, this one ends with the wait for Enter.
        out.line("Out of memory");
        out.line("Press <Enter> to quit");
        wait_for_enter();
        return weldrix::exit_file_error;
    }
}
