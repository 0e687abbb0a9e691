// The command line: "weldrix [options] InFile OutFile".
//
// The last two arguments are always the input and the output. Options are looked for only in
// front of them and are recognised by their first characters: "-l" (any argument starting so,
// -lib included), "-s", "-us", "-ut"; anything else there is a usage error. A value option takes
// the next argument as its value, even when that is the input file name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document/clean_options.hpp"

namespace weldrix {

struct run_options {
    std::string input;
    std::string output;
    std::vector<std::string> library_folders;  // "-l" values, in order
    clean_options clean;                       // "-s", "-ut", "-us"
};

// Parses the arguments after the program name; nothing on a usage error. A threshold value that
// does not start with a number leaves the threshold unchanged; an empty "-l" value is a usage
// error.
std::optional<run_options> parse_options(const std::vector<std::string>& args);

// The search list entries, in order: the input's folder and its p\ and s\ folders, then six
// folders below each library folder.
std::vector<std::string> search_directories(const run_options& options);

// The folder of the input file: its name up to and including the last "\" or "/", or ".\".
std::string base_folder(const std::string& input);

}  // namespace weldrix
