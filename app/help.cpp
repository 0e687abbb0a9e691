#include "app/help.hpp"

#include "app/version.hpp"

namespace weldrix {

std::string_view version_line() { return weldrix_version_line; }

void print_banner(console& out) {
    out.line();
    out.line("Ldraw Weldrix 1.0 - by Orvel");
    out.line("-------------------------------");
}

void print_usage(console& out) {
    out.line("Weldrix [options] InFile, Outfile");
    out.line("-ut <val>: Vertices unification threshold (default 0.005)");
    out.line("-s: Snap on subfiles");
    out.line("-us <val>: Unification on subfiles threshold (default 0.005)");
    out.line("-l \"path\": define ldraw search path");
}

void print_help(console& out) {
    print_usage(out);
    out.line("Weldrix [options] InFolder OutFolder: clean every LDraw file below a folder");
    out.line("-j <n>: threads for a folder; -c: check only, write nothing (the output name may be left out)");
    out.line("-r <file>: report of every change: a page (.html), JSON (.json), else text; - prints it");
    out.line("--no-wait: end without waiting for Enter (also WELDRIX_NO_WAIT=1); --version: the version");
    out.line("--strict: every warning is an error: the outputs it concerns are not written (exit 4)");
    out.line("--minimal: rewrite only the lines the cleaning changes; a file it does not change stays untouched");
    out.line("--fix: repair the geometry faults the cleaning made (identical lines, collinear, concave, warped)");
    out.line("Exit codes:");
    out.line("  0    done");
    out.line("  1    usage error: nothing was read or written");
    out.line("  2    a file could not be read or written");
    out.line("  3    -c: the geometry of a file would change");
    out.line("  4    --strict: a warning withheld an output");
    out.line("  130  interrupted");
    out.line("When several apply: 130, then 2, then 4, then 3.");
    out.line("The manual (man weldrix) gives every rule.");
}

}  // namespace weldrix
