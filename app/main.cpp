// weldrix: welds the vertices of an LDraw part and removes what that makes degenerate.
#include <cstdio>

#include "app/run.hpp"
#include "io/process.hpp"

int main(int argc, char** argv) {
    weldrix::prepare_process();
    weldrix::stdout_console out;
    return weldrix::run(weldrix::program_arguments(argc, argv), out, [] { std::getchar(); });
}
