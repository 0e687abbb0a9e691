#include "app/run.hpp"

#include <new>
#include <string_view>

#include "app/batch.hpp"
#include "app/options.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/report_writer.hpp"
#include "app/wording.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
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

// A library folder holds p and parts; without either, the folder above or below it was probably
// meant. They are looked up as subfiles are (letter case does not matter), through the same
// cached folder listings.
bool looks_like_a_library(subfile_library& library, std::string folder) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return library.resolve(folder + "p") || library.resolve(folder + "parts");
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

// The run sequence; wait tells, once the options are known, whether the run ends with the wait.
int run_sequence(const std::vector<std::string>& args, const run_environment& env, bool& wait) {
    console& out = env.out;
    const command_line command = parse_command_line(args);
    wait = command.options.wait_for_enter;
    if (command.what == command_line::action::version) {
        out.line(version_line);
        return exit_success;
    }
    print_banner(out);
    if (command.what == command_line::action::help) {
        print_usage(out);
        out.line("Weldrix [options] InFolder OutFolder: clean every LDraw file below a folder");
        out.line("-j <n>: threads for a folder; -c: check only, write nothing (exit 3 if geometry would change)");
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
            if (!looks_like_a_library(paths.library(), folder)) {
                warn(env.warnings, "the library folder \"" + folder +
                                       "\" holds neither p nor parts: is it the LDraw library's own folder?");
            }
        }
    }

    const auto stopped = [&] { return env.interrupted && env.interrupted->load(); };
    // An interrupted run ends at once: no wait, the output left as it was.
    const auto interrupted = [&] {
        out.line("Interrupted: " + options.output + " was not written");
        return exit_interrupted;
    };

    file_status input_status;
    if (fs.status(options.input, input_status) == 0 && input_status.kind == file_kind::folder) {
        const int code = run_batch(options, env);
        return code == exit_interrupted ? code : finish(code);
    }

    print_thresholds(out, clean);

    const bool reporting = !options.report.empty();
    clean_options file_clean = clean;
    if (options.check_only && !reporting) file_clean.record_changes = clean_options::changes::totals;
    file_clean.keep_source = options.check_only;
    ldraw_file document(file_clean);
    out.line();
    out.line("Reading input file " + options.input);
    const ldraw_file::read_result read = document.read(fs, options.input, out, env.interrupted);
    if (read != ldraw_file::read_result::ok) {
        if (stopped()) return interrupted();
        out.line(options.input + (read == ldraw_file::read_result::not_a_text ? " is not a text file" : " not found"));
        return finish(exit_file_error);
    }
    if (stopped()) return interrupted();

    subfile_sample subfile_lines;  // the subfile geometry a report page draws
    if (clean.snap_on_subfiles) {
        out.line();
        out.line("LDraw subfiles search locations:");
        out.line(paths.as_text());
        out.write("\nExpanding input file subfiles\n");
        for (const missing_subfile& missing :
             document.expand_subfiles(paths, out, reporting ? subfile_lines.observer() : inline_observer{})) {
            warn(env.warnings, describe_missing(missing));
        }
        out.line();
    }

    if (stopped()) return interrupted();
    out.line();
    out.line("Unifying input file vertices");
    document.unify_vertices();
    out.line();
    if (stopped()) return interrupted();

    // -r: the report of what the run changed (with -c, would change), after the output; the run
    // ends with code unless the report cannot be written.
    const auto report_and_finish = [&](const line_counts& written, int code) {
        if (!reporting) return finish(code);
        file_report record = record_file(document, options.input, options.output, clean, written, &subfile_lines);
        record.output_written = !options.check_only;
        out.line();
        if (options.report == "-") {
            report_writer printed(out);
            printed.add(std::move(record));
            printed.finish();
            return finish(code);
        }
        out.line("Writing report file " + options.report);
        // Under another name for the input or the output (a link, "./"), it would replace that file.
        const bool names_a_run_file = report_names_a_run_file(fs, options.report, options.input, options.output);
        report_writer report(fs, options.report);
        if (!names_a_run_file) report.add(std::move(record));
        if (names_a_run_file || !report.finish()) {
            out.line(options.report + " Can't create" + (names_a_run_file ? ": it is the input or output file" : "") +
                     (options.check_only ? "" : " (the output file was written)"));
            return finish(exit_file_error);
        }
        return finish(code);
    };

    if (options.check_only) {
        // What would be written, and whether its geometry differs from the input's.
        out.line("Checking output file " + options.output + " (it is not written)");
        line_counts written;
        const std::string text = document.text(written);
        written.print(out, " lines written in file");
        const change_totals& totals = document.changes.totals;
        if (totals.any()) {
            out.line("The geometry would change: " + describe_changes(totals));
            return report_and_finish(written, exit_would_change);
        }
        out.line(text == document.source() ? "Nothing would change" : "Only the layout would change");
        return report_and_finish(written, exit_success);
    }
    out.line("Writing output file " + options.output);
    line_counts written;
    if (!document.write(fs, options.output, out, env.interrupted, &written)) {
        if (stopped()) return interrupted();
        out.line(options.output + " Can't create");
        return finish(exit_file_error);
    }
    return report_and_finish(written, exit_success);
}

}  // namespace

int run(const std::vector<std::string>& args, const run_environment& env) {
    bool wait = true;
    try {
        return run_sequence(args, env, wait);
    } catch (const std::bad_alloc&) {
        // Memory can run out at any step. Like every other way out, this one ends with the wait
        // for Enter.
        env.out.line("Out of memory");
        return finisher(env, wait)(exit_file_error);
    } catch (const read_failure& failure) {
        // A subfile (or a folder searched for one) is there, but the host failed to read it: going
        // on without it would weld the part against a library that is missing files by chance.
        env.out.line(failure.path() + " can't be read");
        return finisher(env, wait)(exit_file_error);
    }
}

int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs) {
    string_console discarded;
    return run(args, run_environment{out, discarded, wait_for_enter, fs});
}

}  // namespace weldrix
