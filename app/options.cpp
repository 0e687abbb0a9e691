#include "app/options.hpp"

#include <cmath>

#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Reads a threshold as "%lf" reads it, and warns when that is likely not what was meant. A value
// that starts as a number but holds more ("3001.dat", "0,01", "5mm") is refused, most often a
// file name taken for the value: read as far as it is a number, it would set a threshold nobody
// asked for. Returns why it is refused, or nothing.
std::string read_threshold(const std::string& option, const std::string& text, double& threshold,
                           std::vector<std::string>& warnings) {
    const char* const end = text.data() + text.size();
    const double_scan s = scan_double(text.data(), end);
    if (s.status != scan_status::number) {
        warnings.push_back(option + " " + quoted(text) + " is not a number: the threshold stays " +
                           format_threshold(threshold));
        return {};
    }
    if (skip_space(s.next, end) != end) return option + ": " + quoted(text) + " is not a number";
    threshold = s.value;
    if (!(std::fabs(threshold) < 1)) {
        warnings.push_back(option + " " + format_threshold(threshold) +
                           " is a threshold of 1 or more: distinct features of real parts lie 1 LDU apart or less");
    }
    return {};
}

// Letters after the deciding characters of "-l", "-s", "-us" and "-ut" are ignored ("-lib",
// "-snap"); anything else there is taken for a value glued to the option ("-ut0.01", "-ut=0.01",
// "-l=C:\LDraw"), which it would not read. Returns how to write it instead, or nothing.
std::string glued_value(const std::string& arg) {
    const bool threshold = arg[1] == 'u' && arg.size() >= 3 && (arg[2] == 's' || arg[2] == 't');
    if (arg[1] != 'l' && arg[1] != 's' && !threshold) return {};
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    std::size_t word = threshold ? 3 : 2;
    while (word < arg.size() && letter(arg[word])) ++word;
    if (word == arg.size()) return {};
    const std::size_t value = arg[word] == '=' ? word + 1 : word;
    return "write the value as its own argument: " + arg.substr(0, word) + " " + arg.substr(value);
}

// The long options that set a flag; false for any other argument.
bool read_flag(const std::string& arg, run_options& options) {
    if (arg == "--no-wait") {
        options.wait_for_enter = false;
    } else if (arg == "--strict") {
        options.strict = true;
    } else if (arg == "--minimal") {
        options.clean.minimal = true;
    } else {
        return false;
    }
    return true;
}

// Parses the arguments with the input at args[input_at] and the output last (input_at is the
// last argument for "-c IN"); options stand before the input. With whole_options, a value option
// may not take the input as its value: the arguments before the input must be options alone.
command_line parse_with_files(const std::vector<std::string>& args, std::size_t input_at, bool whole_options) {
    command_line result;
    const auto usage_error = [&](const std::string& why) {
        result.what = command_line::action::usage_error;
        result.usage_error = why;
        return result;
    };
    const auto slip = [&](const std::string& why) {
        result.usage_error_is_slip = true;
        return usage_error(why);
    };
    run_options& options = result.options;
    options.input = args[input_at];
    options.output = args.back();

    bool library_given = false, subfile_threshold_given = false, value_took_input = false;
    const std::size_t option_end = input_at;  // options stand before the input name
    for (std::size_t i = 0; i < option_end; ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            return usage_error(quoted(arg) +
                               " stands where options are expected (the last two arguments are the input "
                               "and output files)");
        }
        // A value option takes the next argument, which may be the input file name itself.
        const auto value = [&](const std::string& option) -> const std::string& {
            const std::string& v = args[++i];
            if (i == option_end) {
                value_took_input = true;
                result.warnings.push_back(option + " takes the input file name " + quoted(v) +
                                          " as its value (it is still read as the input)");
            }
            return v;
        };
        // Characters after a recognised option are ignored, which is rarely what was meant.
        const auto recognised = [&](std::size_t length) -> std::string {
            const std::string option = arg.substr(0, length);
            if (arg.size() > length) {
                result.warnings.push_back(quoted(arg) + " is read as " + option + ": the characters " +
                                          quoted(arg.substr(length)) + " after it are ignored");
            }
            return option;
        };
        if (arg == "--help" || (arg[1] == 'h')) {
            result.what = command_line::action::help;
            return result;
        }
        if (arg[1] == '-') {
            if (arg == "--version") return result.what = command_line::action::version, result;
            if (read_flag(arg, options)) continue;
            return usage_error(quoted(arg) + " is not an option");
        }
        if (const std::string why = glued_value(arg); !why.empty()) return slip(why);
        switch (arg[1]) {
            case 'l': {
                const std::string& folder = value(recognised(2));
                if (folder.empty()) return usage_error("\"-l\" is given an empty folder name");
                options.library_folders.push_back(folder);
                library_given = true;
                break;
            }
            case 'r': {
                const std::string& name = value(recognised(2));
                if (name.empty()) return usage_error("\"-r\" is given an empty file name");
                options.report = name;
                options.clean.record_changes = clean_options::changes::lines;
                break;
            }
            case 's':
                recognised(2);
                options.clean.snap_on_subfiles = true;
                break;
            case 'c':
                recognised(2);
                options.check_only = true;
                break;
            case 'j': {
                // "-j 4", and "-j4" as make and other tools take it.
                const bool attached = arg.size() > 2 && arg.find_first_not_of("0123456789", 2) == std::string::npos;
                const std::string& count = attached ? arg.substr(2) : value(recognised(2));
                const double_scan n = scan_double(count.data(), count.data() + count.size());
                if (n.status != scan_status::number ||
                    skip_space(n.next, count.data() + count.size()) != count.data() + count.size() ||
                    !(n.value >= 1 && n.value <= 1024) || n.value != static_cast<unsigned>(n.value)) {
                    return usage_error("-j " + quoted(count) +
                                       ": the number of threads is a whole number from 1 to 1024");
                }
                options.threads = static_cast<unsigned>(n.value);
                break;
            }
            case 'u': {
                unify_thresholds& t = options.clean.thresholds;
                const char which = arg.size() >= 3 ? arg[2] : '\0';
                double* threshold = which == 's' ? &t.subfile_threshold : which == 't' ? &t.vertex_threshold : nullptr;
                if (!threshold) return usage_error(quoted(arg) + " is not an option (\"-us\" or \"-ut\"?)");
                const std::string option = recognised(3);
                const std::string refused = read_threshold(option, value(option), *threshold, result.warnings);
                if (!refused.empty()) return slip(refused);
                subfile_threshold_given = subfile_threshold_given || which == 's';
                break;
            }
            default: return usage_error(quoted(arg) + " is not an option");
        }
    }
    if (whole_options && value_took_input) return usage_error("a value took the input file name");
    // The report is written after the output: under the input's or the output's name it would
    // replace one of them.
    if (!options.report.empty() && (options.report == options.input || options.report == options.output)) {
        return usage_error("the report file " + quoted(options.report) + " is the " +
                           (options.report == options.input ? "input" : "output") + " file");
    }
    if (!options.clean.snap_on_subfiles) {
        if (library_given) result.warnings.push_back("-l has no effect without -s");
        if (subfile_threshold_given) result.warnings.push_back("-us has no effect without -s");
    }
    result.what = command_line::action::run;
    return result;
}

}  // namespace

command_line parse_command_line(const std::vector<std::string>& args) {
    // Alone, these ask for the help or the version rather than a run.
    if (args.size() < 2) {
        command_line result;
        for (const std::string& arg : args) {
            if (arg == "--help" || arg == "-h") return result.what = command_line::action::help, result;
            if (arg == "--version") return result.what = command_line::action::version, result;
        }
        result.usage_error = args.empty()
                                 ? "no input and output file names"
                                 : "only one file name, " + quoted(args[0]) + ": an output file name is needed";
        return result;
    }
    // "-c IN": a check needs no output name. Read so only when the arguments before the last are
    // options and -c is one of them; any other command line keeps its meaning.
    command_line check = parse_with_files(args, args.size() - 1, true);
    if (check.what == command_line::action::run && check.options.check_only) return check;
    return parse_with_files(args, args.size() - 2, false);
}

std::string base_folder(const std::string& input) {
    const auto last = input.find_last_of("\\/");
    if (last == std::string::npos) return ".\\";
    return input.substr(0, last + 1);
}

std::vector<std::string> search_directories(const run_options& options) {
    const std::string base = base_folder(options.input);
    std::vector<std::string> directories = {base, base + "p\\", base + "s\\"};
    for (std::string folder : options.library_folders) {
        if (folder.back() != '\\') folder += '\\';
        for (const char* below :
             {"p\\", "parts\\", "parts\\s\\", "Unofficial\\p\\", "Unofficial\\parts\\", "Unofficial\\parts\\s\\"}) {
            directories.push_back(folder + below);
        }
    }
    return directories;
}

}  // namespace weldrix
