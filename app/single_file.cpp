#include "app/single_file.hpp"

#include "app/file_job.hpp"
#include "app/output_placer.hpp"
#include "app/report_drawing.hpp"
#include "app/run_report.hpp"
#include "app/single_file_console.hpp"
#include "app/wording.hpp"

namespace weldrix {

int run_single_file(const run_options& options, const file_paths& files, search_paths& paths,
                    const run_environment& env, const finisher& finish, const std::string& run_warning) {
    console& out = env.out;
    // An interrupted run ends at once: no wait, the output left as it was.
    const auto interrupted = [&] {
        out.line("Interrupted: " + printable(options.output) + " was not written");
        return exit_interrupted;
    };
    print_thresholds(out, options.clean);
    file_job job{files, options.clean, &paths, !options.report.empty(), false, false, false, options.input};
    job.drawing = report_draws_page(options.report);
    // In place, the output is compared with the bytes read: a file that would not change is left as
    // it is. A check compares them too.
    job.in_place = !options.check_only && files.in_place(env.files);
    if ((options.check_only || job.in_place) && job.clean.record_changes == clean_options::changes::none)
        job.clean.record_changes = clean_options::changes::totals;
    job.clean.keep_source = options.check_only || job.in_place;
    std::unique_ptr<run_report> report = job.reporting ? std::make_unique<run_report>(env, options.report) : nullptr;

    single_file_console progress(env, options);
    job_outcome outcome = run_job(env.files, job, progress);
    switch (outcome.result) {
        case file_result::interrupted: return interrupted();
        case file_result::not_found: out.line(printable(options.input) + " not found"); return finish(exit_file_error);
        case file_result::not_text:
            out.line(printable(options.input) + " is not a text file");
            return finish(exit_file_error);
        default: break;
    }
    for (const std::string& warning : outcome.warnings) warn(env.warnings, warning);
    for (const std::string& warning : outcome.line_warnings) warn(env.warnings, warning);
    const decision_rules rules{options.strict, options.check_only, run_warning, env.interrupted};
    const job_decision decision = decide(job, rules, outcome);

    // -r: the report of what the run changed (with -c, would change), after the output; the run
    // ends with code unless the report cannot be written.
    const auto report_and_finish = [&](int code, bool written) {
        if (!report) return finish(code);
        outcome.report->output_written = written;
        switch (report->write_out(options.input, options.output, nullptr, written, std::move(outcome.report))) {
            case run_report::end::written: return finish(code);
            case run_report::end::failed: return finish(exit_file_error);
            case run_report::end::interrupted: return exit_interrupted;
        }
        return finish(exit_file_error);
    };
    switch (decision) {
        case job_decision::checked: break;
        case job_decision::withheld:
            if (options.check_only) break;  // told after what the check found
            error(env.warnings, "--strict: " + options.output + " was not written");
            return report_and_finish(exit_strict, false);
        case job_decision::stopped: return interrupted();
        case job_decision::untouched: break;
        case job_decision::to_write:
            switch (place_output_now(env.files, job, outcome, env.interrupted)) {
                case placement::placed: break;
                case placement::changed:
                    out.line(printable(options.input) + " changed while it was cleaned; not replaced");
                    return finish(exit_file_error);
                default:
                    if (env.interrupted && env.interrupted->load()) return interrupted();
                    out.line(printable(options.output) + " Can't create");
                    return finish(exit_file_error);
            }
            break;
    }
    outcome.written.print(out, " lines written in file");
    if (!options.check_only) {
        std::string().swap(outcome.text);  // given back before the report is made
        return report_and_finish(exit_success, true);
    }
    // A file whose geometry stays but whose lines are dropped loses them: not only its layout.
    const bool changed = outcome.result == file_result::changed || outcome.lines_dropped > 0;
    if (outcome.result == file_result::changed) {
        out.line("The geometry would change: " + describe_changes(outcome.totals));
    } else if (outcome.lines_dropped > 0) {
        out.line("Lines would be dropped: " + std::to_string(outcome.lines_dropped));
    } else {
        out.line(outcome.result == file_result::unchanged ? "Nothing would change" : "Only the layout would change");
    }
    const bool withheld = decision == job_decision::withheld;
    if (withheld) error(env.warnings, "--strict: a warning fails the check of " + options.input);
    return report_and_finish(withheld ? exit_strict : changed ? exit_would_change : exit_success, false);
}

}  // namespace weldrix
