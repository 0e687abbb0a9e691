#include "app/run.hpp"

#include <string_view>

#include "app/options.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "geometry/number_format.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

constexpr std::string_view version_line = "weldrix 1.0.0";

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

void warn(console& warnings, std::string_view text) {
    warnings.write("weldrix: warning: ");
    warnings.line(text);
}

// A library folder holds p and parts; without either, the folder above or below it was probably
// meant. Letter case is not looked at, as subfile names match without it.
bool looks_like_a_library(file_system& fs, const std::string& folder) {
    std::vector<folder_entry> entries;
    std::string host_folder = folder;
    if (!fs.names_ignore_case()) {
        for (char& c : host_folder) c = c == '\\' ? '/' : c;
    }
    if (fs.list_folder(host_folder, entries) != 0) return false;
    for (const folder_entry& entry : entries) {
        std::string name = entry.name;
        for (char& c : name) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (name == "p" || name == "parts") return true;
    }
    return false;
}

class finisher {
public:
    finisher(const run_environment& env, bool wait) : env_(env), wait_(wait) {}
    int operator()(int code) const {
        env_.out.line("Press <Enter> to quit");
        if (wait_) env_.wait_for_enter();
        return code;
    }

private:
    const run_environment& env_;
    bool wait_;
};

}  // namespace

int run(const std::vector<std::string>& args, const run_environment& env) {
    console& out = env.out;
    const command_line command = parse_command_line(args);
    if (command.what == command_line::action::version) {
        out.line(version_line);
        return exit_success;
    }
    print_banner(out);
    if (command.what == command_line::action::help) {
        print_usage(out);
        out.line("-r <file>: report of every change: a page (.html), JSON (.json), else text; - prints it");
        out.line("--no-wait: end without waiting for Enter; --version: the version");
        out.line("The manual (man weldrix) gives every rule.");
        return exit_success;
    }
    for (const std::string& warning : command.warnings) warn(env.warnings, warning);
    if (command.what == command_line::action::usage_error) {
        warn(env.warnings, "usage error: " + command.usage_error);
        print_usage(out);
        return finisher(env, command.options.wait_for_enter)(exit_usage);
    }
    const run_options& options = command.options;
    const finisher finish(env, options.wait_for_enter);
    file_system& fs = env.files;
    search_paths paths(fs);
    for (const std::string& directory : search_directories(options)) paths.add_path(directory);
    const clean_options& clean = options.clean;
    if (clean.snap_on_subfiles) {
        for (const std::string& folder : options.library_folders) {
            if (!looks_like_a_library(fs, folder)) {
                warn(env.warnings, "the library folder \"" + folder +
                                       "\" holds neither p nor parts: is it the LDraw library's own folder?");
            }
        }
    }

    out.line("Vertices unification threshold: " + format_threshold(clean.thresholds.vertex_threshold));
    if (clean.snap_on_subfiles) {
        out.line("Unification on subfiles threshold: " + format_threshold(clean.thresholds.subfile_threshold));
    }

    ldraw_file document(clean);
    out.line();
    out.line("Reading input file " + options.input);
    const bool reporting = !options.report.empty();
    line_counts read_counts, written_counts;
    const ldraw_file::read_result read = document.read(fs, options.input, out, &read_counts);
    if (read != ldraw_file::read_result::ok) {
        out.line(options.input + (read == ldraw_file::read_result::not_a_text ? " is not a text file" : " not found"));
        return finish(exit_file_error);
    }

    subfile_sample subfile_lines;  // the subfile geometry a report page draws
    if (clean.snap_on_subfiles) {
        out.line();
        out.line("LDraw subfiles search locations:");
        out.line(paths.as_text());
        out.write("\nExpanding input file subfiles\n");
        for (const missing_subfile& missing :
             document.expand_subfiles(paths, out, reporting ? subfile_lines.observer() : inline_observer{})) {
            warn(env.warnings, "subfile not found: " + missing.name + " (" + std::to_string(missing.references) +
                                   (missing.references == 1 ? " reference" : " references") + " skipped)");
        }
        out.line();
    }

    out.line();
    out.line("Unifying input file vertices");
    document.unify_vertices();
    out.line();

    out.line("Writing output file " + options.output);
    if (!document.write(fs, options.output, out, &written_counts)) {
        out.line(options.output + " Can't create");
        return finish(exit_file_error);
    }
    if (!reporting) return finish(exit_success);

    std::vector<file_report> report(1);
    file_report& file = report.front();
    file.input = options.input;
    file.output = options.output;
    file.thresholds = clean.thresholds;
    file.snap_on_subfiles = clean.snap_on_subfiles;
    file.read = read_counts;
    file.written = written_counts;
    file.drawing = make_drawing(document, document.changes, subfile_lines);
    file.changes = std::move(document.changes);
    out.line();
    if (options.report == "-") {
        out.write(report_text(report));
        return finish(exit_success);
    }
    out.line("Writing report file " + options.report);
    // Under another name for the input or the output (a link, "./"), the report would replace it.
    const std::string report_path = real_path_or_name(fs, options.report);
    const bool names_a_run_file =
        report_path == real_path_or_name(fs, options.input) || report_path == real_path_or_name(fs, options.output);
    if (names_a_run_file || !write_report(fs, options.report, report)) {
        out.line(options.report + " Can't create" + (names_a_run_file ? ": it is the input or output file" : "") +
                 " (the output file was written)");
        return finish(exit_file_error);
    }
    return finish(exit_success);
}

int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs) {
    string_console discarded;
    return run(args, run_environment{out, discarded, wait_for_enter, fs});
}

}  // namespace weldrix
