// The command line: "weldrix [options] InFile OutFile".
//
// The last two arguments are the input and the output. Options are looked for only in front of
// them and are recognised by their first characters: "-l" (any argument starting so, -lib
// included), "-r", "-s", "-us", "-ut", "-c", "-j"; anything else there is a usage error. A value
// option takes the next argument as its value, even when that is the input file name. Besides
// these, "--help" (or "-h"), "--version", "--no-wait", "--strict" and "--minimal" are recognised in
// front of the file names, and "--help", "-h" and "--version" also when they are the only argument.
//
// One exception: "-c IN", a check with no output name. When every argument but the last reads as
// options, with no value taking the last, and "-c" is among them, the last argument is the input
// and the output is the input (nothing is written in a check).
//
// Slips that would clean with settings nobody asked for are usage errors: a threshold value that
// starts as a number but holds more ("-ut 3001.dat"), and anything but letters glued to "-l",
// "-s", "-us" or "-ut" ("-ut0.01", "-l=C:\LDraw").
#pragma once

#include <string>
#include <vector>

#include "document/clean_options.hpp"

namespace weldrix {

class subfile_library;

struct run_options {
    std::string input;
    std::string output;
    std::vector<std::string> library_folders;  // "-l" values, in order
    clean_options clean;                       // "-s", "-ut", "-us"; "-r" records every change
    std::string report;                        // "-r" value: the report file, "-" for standard output
    bool wait_for_enter = true;                // "--no-wait" clears it
    bool check_only = false;                   // "-c": nothing is written
    unsigned threads = 0;                      // "-j N" for a folder; 0: one per hardware thread
    bool strict = false;                       // "--strict": a warning withholds the outputs it concerns
};

struct command_line {
    enum class action { run, usage_error, help, version };
    action requested = action::usage_error;
    run_options options;                // meaningful for action::run
    std::string usage_error;            // what is wrong, naming the argument, for action::usage_error
    std::vector<std::string> warnings;  // likely mistakes in a command line that is still run
};

// Parses the arguments after the program name. A threshold value that does not start with a
// number leaves the threshold unchanged (with a warning); an empty "-l" value is a usage error.
command_line parse_command_line(const std::vector<std::string>& args);

// The search list entries, in order: the input's folder and its p\ and s\ folders, then six
// folders below each library folder.
std::vector<std::string> search_directories(const run_options& options);

// With -s, a warning for each library folder that holds neither p nor parts (looked up as
// subfiles are, without regard to letter case): the folder above or below it was probably meant.
std::vector<std::string> library_folder_warnings(const run_options& options, subfile_library& library);

// The folder of the input file: its name up to and including the last "\" or "/", or ".\".
std::string base_folder(const std::string& input);

}  // namespace weldrix
