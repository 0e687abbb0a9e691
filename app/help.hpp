// What the tool says of itself: the banner every run starts with, the usage lines (after a usage
// error), the help (--help) and the version line (--version). doc/weldrix.1 is the manual.
#pragma once

#include <string_view>

#include "io/console.hpp"

namespace weldrix {

// "weldrix X.Y.Z", the version of the build.
std::string_view version_line();

void print_banner(console& out);

// The usage lines printed after a usage error.
void print_usage(console& out);

// The usage lines and the rest of the help: what --help prints after the banner.
void print_help(console& out);

}  // namespace weldrix
