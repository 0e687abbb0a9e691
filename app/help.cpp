#include "app/help.hpp"

namespace weldrix {

std::string_view version_line() { return "weldrix 1.0.0"; }

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
    out.line("-j <n>: threads for a folder; -c: check only, write nothing (exit 3 if geometry would change)");
    out.line("-r <file>: report of every change: a page (.html), JSON (.json), else text; - prints it");
    out.line("--no-wait: end without waiting for Enter; --version: the version");
    out.line("The manual (man weldrix) gives every rule.");
}

}  // namespace weldrix
