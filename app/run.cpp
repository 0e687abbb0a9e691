#include "app/run.hpp"

#include <new>

#include "app/batch.hpp"
#include "app/clean_file.hpp"
#include "app/folder_walk.hpp"
#include "app/help.hpp"
#include "app/options.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/report_writer.hpp"
#include "app/single_file_console.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

class finisher {
public:
    finisher(const run_environment& env, bool wait) : env_(env), wait_(wait) {}
    int operator()(int code) const {
        if (!wait_) return code;
        env_.out.line("Press <Enter> to quit");
        env_.wait_for_enter();
        return code;
    }

private:
    const run_environment& env_;
    bool wait_;
};

// -r: the report of what the run changed (with -c, would change), after the output; the run ends
// with code unless the report cannot be written. written: the output was written.
int report_and_finish(const run_options& options, const run_environment& env, const finisher& finish,
                      cleaned_file& result, int code, bool written) {
    if (!result.report) return finish(code);
    console& out = env.out;
    file_report record = std::move(*result.report);
    result.report.reset();
    record.output_written = written;
    out.line();
    if (options.report == "-") {
        report_writer printed(out);
        printed.add(std::move(record));
        static_cast<void>(printed.finish());  // standard output: a failed write is the console's
        return finish(code);
    }
    out.line("Writing report file " + printable(options.report));
    // Under another name for the input or the output (a link, "./"), it would replace that file.
    file_system& fs = env.files;
    const bool names_a_run_file = report_names_a_run_file(fs, options.report, options.input, options.output);
    report_writer report(fs, options.report);
    if (!names_a_run_file) report.add(std::move(record));
    if (names_a_run_file || !report.finish()) {
        out.line(printable(options.report) + " Can't create" +
                 (names_a_run_file ? ": it is the input or output file" : "") +
                 (written ? " (the output file was written)" : ""));
        return finish(exit_file_error);
    }
    return finish(code);
}

// One file: the pipeline, then the output replaced (or, with -c, what would change). With
// --strict, a warning of the run (run_warning, the first) or of the file withholds the output:
// exit_strict, unless the report cannot be written (exit_file_error goes first).
int run_single_file(const run_options& options, search_paths& paths, const run_environment& env, const finisher& finish,
                    const std::string& run_warning) {
    console& out = env.out;
    // An interrupted run ends at once: no wait, the output left as it was.
    const auto interrupted = [&] {
        out.line("Interrupted: " + printable(options.output) + " was not written");
        return exit_interrupted;
    };
    print_thresholds(out, options.clean);
    file_cleaning job{options.input, options.output, options.clean, &paths, !options.report.empty(), false};
    job.drawing = report_draws_page(options.report);
    if (options.check_only && !job.reporting) job.clean.record_changes = clean_options::changes::totals;
    job.clean.keep_source = options.check_only;
    single_file_console progress(env, options);
    cleaned_file result = clean_file(env.files, job, progress);
    switch (result.what) {
        case file_result::interrupted: return interrupted();
        case file_result::not_found: out.line(printable(options.input) + " not found"); return finish(exit_file_error);
        case file_result::not_text:
            out.line(printable(options.input) + " is not a text file");
            return finish(exit_file_error);
        default: break;
    }
    for (const std::string& warning : result.warnings) warn(env.warnings, warning);
    const bool withheld = options.strict && !first_warning(run_warning, result.warnings, result.missing).empty();
    if (options.check_only) {
        result.written.print(out, " lines written in file");
        const bool changed = result.what == file_result::changed;
        if (changed) {
            out.line("The geometry would change: " + describe_changes(result.totals));
        } else {
            out.line(result.what == file_result::unchanged ? "Nothing would change" : "Only the layout would change");
        }
        if (withheld) error(env.warnings, "--strict: a warning fails the check of " + options.input);
        return report_and_finish(options, env, finish, result,
                                 withheld  ? exit_strict
                                 : changed ? exit_would_change
                                           : exit_success,
                                 false);
    }
    if (withheld) {
        error(env.warnings, "--strict: " + options.output + " was not written");
        return report_and_finish(options, env, finish, result, exit_strict, false);
    }
    if (!leave_untouched(env.files, job, result) &&
        !replace_file(env.files, options.output, result.text, durability::flush_each, env.interrupted)) {
        if (env.interrupted && env.interrupted->load()) return interrupted();
        out.line(printable(options.output) + " Can't create");
        return finish(exit_file_error);
    }
    result.written.print(out, " lines written in file");
    result.text = std::string();  // given back before the report is made
    return report_and_finish(options, env, finish, result, exit_success, true);
}

// The run sequence; wait tells, once the options are known, whether the run ends with the wait.
int run_sequence(const std::vector<std::string>& args, const run_environment& env, bool& wait) {
    console& out = env.out;
    const command_line command = parse_command_line(args);
    wait = command.options.wait_for_enter && !env.no_wait;
    if (command.what == command_line::action::version) {
        out.line(version_line());
        return exit_success;
    }
    print_banner(out);
    if (command.what == command_line::action::help) {
        print_help(out);
        return exit_success;
    }
    for (const std::string& warning : command.warnings) warn(env.warnings, warning);
    const finisher finish(env, wait);
    if (command.what == command_line::action::usage_error) {
        if (command.usage_error_is_slip) {
            error(env.warnings, command.usage_error);
        } else {
            warn(env.warnings, "usage error: " + command.usage_error);
        }
        print_usage(out);
        return finish(exit_usage);
    }
    const run_options& options = command.options;
    if (const std::string refused = batch_usage_error(options, env.files); !refused.empty()) {
        warn(env.warnings, "usage error: " + refused);
        print_usage(out);
        return finish(exit_usage);
    }
    search_paths paths(env.files);
    for (const std::string& directory : search_directories(options)) paths.add_path(directory);
    // The warnings of the whole run: with --strict, each withholds every output.
    std::vector<std::string> run_warnings = command.warnings;
    for (std::string& warning : library_folder_warnings(options, paths.library())) {
        warn(env.warnings, warning);
        run_warnings.push_back(std::move(warning));
    }
    const std::string run_warning = run_warnings.empty() ? std::string() : run_warnings.front();

    file_status input_status;
    if (repeat_interrupted([&] { return env.files.status(options.input, input_status); }) == 0 &&
        input_status.kind == file_kind::folder) {
        const int code = run_batch(options, env, run_warning);
        return code == exit_interrupted ? code : finish(code);
    }
    return run_single_file(options, paths, env, finish, run_warning);
}

}  // namespace

int run(const std::vector<std::string>& args, const run_environment& env) {
    bool wait = !env.no_wait;
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
        env.out.line(printable(failure.path()) + " can't be read");
        return finisher(env, wait)(exit_file_error);
    }
}

int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs) {
    string_console discarded;
    return run(args, run_environment{out, discarded, wait_for_enter, fs});
}

}  // namespace weldrix
