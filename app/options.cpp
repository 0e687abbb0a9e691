#include "app/options.hpp"

#include <cmath>
#include <string_view>

#include "document/subfile_library.hpp"
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
std::string glued_value(const std::string& arg, std::string_view option) {
    if (option != "-l" && option != "-s" && option != "-us" && option != "-ut") return {};
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    std::size_t word = option.size();
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
    } else if (arg == "--fix") {
        options.clean.fix = true;
    } else {
        return false;
    }
    return true;
}

// What scanning the options found so far.
struct option_scan {
    command_line& result;
    std::size_t input_at;  // where the input name stands: the options stand before it
    bool library_given = false;
    bool subfile_threshold_given = false;
    bool value_took_input = false;
    std::string took_input;  // the option whose value is the input name
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
         scan.subfile_threshold_given = true;
         return read_threshold(option, value, scan.result.options.clean.thresholds.subfile_threshold,
                               scan.result.warnings);
     }},
    {"-ut", option_rule::value_kind::next,
     [](option_scan& scan, const std::string& option, const std::string& value) -> std::string {
         return read_threshold(option, value, scan.result.options.clean.thresholds.vertex_threshold,
                               scan.result.warnings);
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
    if (std::string glued = glued_value(arg, rule->name); !glued.empty()) return glued;
    // Characters after a recognised option are ignored, which is rarely what was meant.
    const std::string option = arg.substr(0, length);
    if (arg.size() > length) {
        warnings.push_back(quoted(arg) + " is read as " + option + ": the characters " + quoted(arg.substr(length)) +
                           " after it are ignored");
    }
    if (rule->value == option_rule::value_kind::none) return rule->handle(scan, option, {});
    const std::string& value = args[++i];
    if (i == scan.input_at) {
        scan.value_took_input = true;
        scan.took_input = option;
        if (option != "-l")  // a usage error (parse_with_files)
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
        result.requested = command_line::action::usage_error;
        result.usage_error = "the report file " + quoted(options.report) + " is the " +
                             (options.report == options.input ? "input" : "output") + " file";
        return;
    }
    if (!options.clean.snap_on_subfiles) {
        if (scan.library_given) result.warnings.push_back("-l has no effect without -s");
        if (scan.subfile_threshold_given) result.warnings.push_back("-us has no effect without -s");
    }
    result.requested = command_line::action::run;
}

}  // namespace

namespace {

// Parses the arguments with the input at args[input_at] and the output last (input_at is the
// last argument for "-c IN"); options stand before the input. With whole_options, a value option
// may not take the input as its value: the arguments before the input must be options alone.
command_line parse_with_files(const std::vector<std::string>& args, std::size_t input_at, bool whole_options) {
    command_line result;
    const auto usage_error = [&](const std::string& why) {
        result.requested = command_line::action::usage_error;
        result.usage_error = why;
        return result;
    };
    result.options.input = args[input_at];
    result.options.output = args.back();
    option_scan scan{result, input_at, false, false, false, {}};
    for (std::size_t i = 0; i < input_at; ++i) {  // options stand before the input name
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            return usage_error(quoted(arg) +
                               " stands where options are expected (the last two arguments are the input "
                               "and output files)");
        }
        if (arg == "--help" || arg[1] == 'h') return result.requested = command_line::action::help, result;
        if (arg == "--version") return result.requested = command_line::action::version, result;
        if (read_flag(arg, result.options)) continue;
        const std::string error = arg[1] == '-' ? quoted(arg) + " is not an option" : scan_option(scan, args, i);
        if (!error.empty()) return usage_error(error);
    }
    if (whole_options && scan.value_took_input) return usage_error("a value took the input file name");
    // "-s -l ~/ldraw part.dat", the input name forgotten, would clean the whole library into a new
    // folder named like the part.
    if (scan.took_input == "-l") {
        return usage_error("-l takes the next name as the library; give the input and output names after it");
    }
    check_command(scan);
    return result;
}

// The tool's own options that take no value: one of them where a file name goes is a slip
// ("weldrix part.dat --minimal" would write a file named --minimal).
bool is_own_flag(const std::string& arg) {
    for (const char* flag : {"--strict", "--minimal", "--fix", "--no-wait", "--help", "--version", "-s", "-c"}) {
        if (arg == flag) return true;
    }
    return false;
}

// A usage error for the first of names that is one of the tool's flags, or nothing.
std::string flag_for_a_name(std::initializer_list<const std::string*> names) {
    for (const std::string* name : names) {
        if (is_own_flag(*name)) return *name + " stands where a file name goes; options go before the names";
    }
    return {};
}

// The result, or the usage error why when there is one (help and version are still given).
command_line refused_name(command_line result, const std::string& why) {
    if (why.empty() || result.requested == command_line::action::help ||
        result.requested == command_line::action::version)
        return result;
    command_line refused;
    refused.usage_error = why;
    return refused;
}

}  // namespace

command_line parse_command_line(const std::vector<std::string>& args) {
    // Alone, these ask for the help or the version rather than a run.
    if (args.size() < 2) {
        command_line result;
        for (const std::string& arg : args) {
            if (arg == "--help" || arg == "-h") return result.requested = command_line::action::help, result;
            if (arg == "--version") return result.requested = command_line::action::version, result;
        }
        result.usage_error = args.empty()
                                 ? "no input and output file names"
                                 : "only one file name, " + quoted(args[0]) + ": an output file name is needed";
        return result;
    }
    // "-c IN": a check needs no output name. Read so only when the arguments before the last are
    // options and -c is one of them; any other command line keeps its meaning.
    command_line check = parse_with_files(args, args.size() - 1, true);
    if (check.requested == command_line::action::run && check.options.check_only)
        return refused_name(std::move(check), flag_for_a_name({&args.back()}));
    return refused_name(parse_with_files(args, args.size() - 2, false),
                        flag_for_a_name({&args[args.size() - 2], &args.back()}));
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

std::vector<std::string> library_folder_warnings(const run_options& options, subfile_library& library) {
    std::vector<std::string> warnings;
    if (!options.clean.snap_on_subfiles) return warnings;
    for (std::string folder : options.library_folders) {
        const std::string given = folder;
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
        if (library.resolve(folder + "p") || library.resolve(folder + "parts")) continue;
        warnings.push_back("the library folder \"" + given +
                           "\" holds neither p nor parts: is it the LDraw library's own folder?");
    }
    return warnings;
}

}  // namespace weldrix
