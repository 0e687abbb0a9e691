#include "app/run.hpp"

#include <new>

#include "app/batch.hpp"
#include "app/clean_file.hpp"
#include "app/help.hpp"
#include "app/options.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/single_file_console.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

// A library folder holds p and parts; without either, the folder above or below it was probably
// meant. They are looked up as subfiles are (letter case does not matter), through the same
// cached folder listings.
bool looks_like_a_library(subfile_library& library, std::string folder) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return library.resolve(folder + "p") || library.resolve(folder + "parts");
}

void warn_of_library_folders(const run_options& options, search_paths& paths, console& warnings) {
    if (!options.clean.snap_on_subfiles) return;
    for (const std::string& folder : options.library_folders) {
        if (!looks_like_a_library(paths.library(), folder)) {
            warn(warnings, "the library folder \"" + folder +
                               "\" holds neither p nor parts: is it the LDraw library's own folder?");
        }
    }
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

// -r: the report of what the run changed (with -c, would change), after the output; the run ends
// with code unless the report cannot be written.
int report_and_finish(const run_options& options, const run_environment& env, const finisher& finish,
                      cleaned_file& result, int code) {
    if (!result.report) return finish(code);
    console& out = env.out;
    std::vector<file_report> report;
    report.push_back(std::move(*result.report));
    out.line();
    if (options.report == "-") {
        out.write(report_text(report));
        return finish(code);
    }
    out.line("Writing report file " + options.report);
    // Under another name for the input or the output (a link, "./"), it would replace that file.
    file_system& fs = env.files;
    const std::string report_path = real_path_or_name(fs, options.report);
    const bool names_a_run_file =
        report_path == real_path_or_name(fs, options.input) || report_path == real_path_or_name(fs, options.output);
    if (names_a_run_file || !write_report(fs, options.report, report)) {
        out.line(options.report + " Can't create" + (names_a_run_file ? ": it is the input or output file" : "") +
                 (options.check_only ? "" : " (the output file was written)"));
        return finish(exit_file_error);
    }
    return finish(code);
}

// One file: the pipeline, then the output replaced (or, with -c, what would change).
int run_single_file(const run_options& options, search_paths& paths, const run_environment& env,
                    const finisher& finish) {
    console& out = env.out;
    // An interrupted run ends at once: no wait, the output left as it was.
    const auto interrupted = [&] {
        out.line("Interrupted: " + options.output + " was not written");
        return exit_interrupted;
    };
    print_thresholds(out, options.clean);
    file_cleaning job{options.input, options.output, options.clean, &paths, !options.report.empty(), false};
    job.drawing = report_draws_page(options.report);
    if (options.check_only && !job.reporting) job.clean.record_changes = clean_options::changes::totals;
    single_file_console progress(env, options);
    cleaned_file result = clean_file(env.files, job, progress);
    switch (result.what) {
        case file_result::interrupted: return interrupted();
        case file_result::not_found: out.line(options.input + " not found"); return finish(exit_file_error);
        case file_result::not_text: out.line(options.input + " is not a text file"); return finish(exit_file_error);
        default: break;
    }
    for (const std::string& warning : result.warnings) warn(env.warnings, warning);
    if (options.check_only) {
        result.written.print(out, " lines written in file");
        if (result.what == file_result::changed) {
            out.line("The geometry would change: " + describe_changes(result.totals));
            return report_and_finish(options, env, finish, result, exit_would_change);
        }
        out.line(result.what == file_result::unchanged ? "Nothing would change" : "Only the layout would change");
        return report_and_finish(options, env, finish, result, exit_success);
    }
    if (!replace_file(env.files, options.output, result.text, durability::flush_each, env.interrupted)) {
        if (env.interrupted && env.interrupted->load()) return interrupted();
        out.line(options.output + " Can't create");
        return finish(exit_file_error);
    }
    result.written.print(out, " lines written in file");
    result.text = std::string();  // given back before the report is made
    return report_and_finish(options, env, finish, result, exit_success);
}

// The run sequence; wait tells, once the options are known, whether the run ends with the wait.
int run_sequence(const std::vector<std::string>& args, const run_environment& env, bool& wait) {
    console& out = env.out;
    const command_line command = parse_command_line(args);
    wait = command.options.wait_for_enter;
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
    const finisher finish(env, command.options.wait_for_enter);
    if (command.what == command_line::action::usage_error) {
        warn(env.warnings, "usage error: " + command.usage_error);
        print_usage(out);
        return finish(exit_usage);
    }
    const run_options& options = command.options;
    search_paths paths(env.files);
    for (const std::string& directory : search_directories(options)) paths.add_path(directory);
    warn_of_library_folders(options, paths, env.warnings);

    file_status input_status;
    if (repeat_interrupted([&] { return env.files.status(options.input, input_status); }) == 0 &&
        input_status.kind == file_kind::folder) {
        const int code = run_batch(options, env);
        return code == exit_interrupted ? code : finish(code);
    }
    return run_single_file(options, paths, env, finish);
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
