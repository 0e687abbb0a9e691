#include "app/options.hpp"

#include <cmath>
#include <string_view>

#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Reads a threshold as "%lf" reads it, and warns when that is likely not what was meant.
void read_threshold(const std::string& option, const std::string& text, double& threshold,
                    std::vector<std::string>& warnings) {
    const char* const end = text.data() + text.size();
    const double_scan s = scan_double(text.data(), end);
    if (s.status != scan_status::number) {
        warnings.push_back(option + " " + quoted(text) + " is not a number: the threshold stays " +
                           format_threshold(threshold));
        return;
    }
    threshold = s.value;
    if (skip_space(s.next, end) != end) {
        warnings.push_back(option + " " + quoted(text) + " is read as " + format_threshold(threshold) +
                           ": only its start is a number");
    }
    if (!(std::fabs(threshold) < 1)) {
        warnings.push_back(option + " " + format_threshold(threshold) +
                           " is a threshold of 1 or more: distinct features of real parts lie 1 LDU apart or less");
    }
}

// What scanning the options found so far.
struct option_scan {
    command_line& result;
    bool library_given = false;
    bool subfile_threshold_given = false;
};

// Acts on an option (its name as recognised, and its value when it takes one); returns a usage
// error, or nothing.
using option_handler = std::string (*)(option_scan& scan, const std::string& option, const std::string& value);

// The options that stand before the file names, each recognised by its first characters: any
// argument that starts with name is that option, and the characters after name are ignored
// (with a warning).
struct option_rule {
    std::string_view name;
    enum class value_kind {
        none,
        next,                    // the next argument, which may be the input file name itself
        next_or_attached_digits  // "-j 4", and "-j4" as make and other tools take it
    };
    value_kind value;
    option_handler handle;
};

constexpr option_rule option_rules[] = {
    {"-l", option_rule::value_kind::next,
     [](option_scan& scan, const std::string&, const std::string& folder) -> std::string {
         if (folder.empty()) return "\"-l\" is given an empty folder name";
         scan.result.options.library_folders.push_back(folder);
         scan.library_given = true;
         return {};
     }},
    {"-r", option_rule::value_kind::next,
     [](option_scan& scan, const std::string&, const std::string& name) -> std::string {
         if (name.empty()) return "\"-r\" is given an empty file name";
         scan.result.options.report = name;
         scan.result.options.clean.record_changes = clean_options::changes::lines;
         return {};
     }},
    {"-s", option_rule::value_kind::none,
     [](option_scan& scan, const std::string&, const std::string&) -> std::string {
         scan.result.options.clean.snap_on_subfiles = true;
         return {};
     }},
    {"-c", option_rule::value_kind::none,
     [](option_scan& scan, const std::string&, const std::string&) -> std::string {
         scan.result.options.check_only = true;
         return {};
     }},
    {"-j", option_rule::value_kind::next_or_attached_digits,
     [](option_scan& scan, const std::string&, const std::string& count) -> std::string {
         const char* const end = count.data() + count.size();
         const double_scan n = scan_double(count.data(), end);
         if (n.status != scan_status::number || skip_space(n.next, end) != end || !(n.value >= 1 && n.value <= 1024) ||
             n.value != static_cast<unsigned>(n.value)) {
             return "-j " + quoted(count) + ": the number of threads is a whole number from 1 to 1024";
         }
         scan.result.options.threads = static_cast<unsigned>(n.value);
         return {};
     }},
    {"-us", option_rule::value_kind::next,
     [](option_scan& scan, const std::string& option, const std::string& value) -> std::string {
         read_threshold(option, value, scan.result.options.clean.thresholds.subfile_threshold, scan.result.warnings);
         scan.subfile_threshold_given = true;
         return {};
     }},
    {"-ut", option_rule::value_kind::next,
     [](option_scan& scan, const std::string& option, const std::string& value) -> std::string {
         read_threshold(option, value, scan.result.options.clean.thresholds.vertex_threshold, scan.result.warnings);
         return {};
     }},
};

const option_rule* rule_of(const std::string& arg) {
    for (const option_rule& rule : option_rules) {
        if (arg.starts_with(rule.name)) return &rule;
    }
    return nullptr;
}

// Scans the option at args[i] (which starts with "-" and is not "--help", "-h" or a "--" option),
// moving i past its value. Returns a usage error, or nothing.
std::string scan_option(option_scan& scan, const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    const option_rule* rule = rule_of(arg);
    if (!rule) return quoted(arg) + " is not an option" + (arg[1] == 'u' ? " (\"-us\" or \"-ut\"?)" : "");
    std::vector<std::string>& warnings = scan.result.warnings;
    const std::size_t length = rule->name.size();
    if (rule->value == option_rule::value_kind::next_or_attached_digits && arg.size() > length &&
        arg.find_first_not_of("0123456789", length) == std::string::npos) {
        return rule->handle(scan, std::string(rule->name), arg.substr(length));
    }
    // Characters after a recognised option are ignored, which is rarely what was meant.
    const std::string option = arg.substr(0, length);
    if (arg.size() > length) {
        warnings.push_back(quoted(arg) + " is read as " + option + ": the characters " + quoted(arg.substr(length)) +
                           " after it are ignored");
    }
    if (rule->value == option_rule::value_kind::none) return rule->handle(scan, option, {});
    const std::string& value = args[++i];
    if (i == args.size() - 2) {
        warnings.push_back(option + " takes the input file name " + quoted(value) +
                           " as its value (it is still read as the input)");
    }
    return rule->handle(scan, option, value);
}

// The checks of the whole command line once its options are read.
void check_command(option_scan& scan) {
    command_line& result = scan.result;
    const run_options& options = result.options;
    // The report is written after the output: under the input's or the output's name it would
    // replace one of them.
    if (!options.report.empty() && (options.report == options.input || options.report == options.output)) {
        result.what = command_line::action::usage_error;
        result.usage_error = "the report file " + quoted(options.report) + " is the " +
                             (options.report == options.input ? "input" : "output") + " file";
        return;
    }
    if (!options.clean.snap_on_subfiles) {
        if (scan.library_given) result.warnings.push_back("-l has no effect without -s");
        if (scan.subfile_threshold_given) result.warnings.push_back("-us has no effect without -s");
    }
    result.what = command_line::action::run;
}

}  // namespace

command_line parse_command_line(const std::vector<std::string>& args) {
    command_line result;
    const auto usage_error = [&](const std::string& why) {
        result.what = command_line::action::usage_error;
        result.usage_error = why;
        return result;
    };
    // Alone, these ask for the help or the version rather than a run.
    if (args.size() < 2) {
        for (const std::string& arg : args) {
            if (arg == "--help" || arg == "-h") return result.what = command_line::action::help, result;
            if (arg == "--version") return result.what = command_line::action::version, result;
        }
        return usage_error(args.empty() ? "no input and output file names"
                                        : "only one file name, " + quoted(args[0]) + ": an output file name is needed");
    }
    result.options.input = args[args.size() - 2];
    result.options.output = args[args.size() - 1];
    option_scan scan{result};
    for (std::size_t i = 0; i < args.size() - 2; ++i) {  // options stand before the input name
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            return usage_error(quoted(arg) +
                               " stands where options are expected (the last two arguments are the input "
                               "and output files)");
        }
        if (arg == "--help" || arg[1] == 'h') return result.what = command_line::action::help, result;
        if (arg == "--version") return result.what = command_line::action::version, result;
        if (arg == "--no-wait") {
            result.options.wait_for_enter = false;
            continue;
        }
        const std::string error = arg[1] == '-' ? quoted(arg) + " is not an option" : scan_option(scan, args, i);
        if (!error.empty()) return usage_error(error);
    }
    check_command(scan);
    return result;
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
