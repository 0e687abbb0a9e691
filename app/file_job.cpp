#include "app/file_job.hpp"

#include <cassert>

#include "app/report_drawing.hpp"
#include "app/wording.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"

namespace weldrix {

const std::string& file_paths::resolve(file_system& fs, const std::string& name, resolved& cache) {
    if (!cache.known) {
        cache.path = real_path_of(fs, name);
        cache.known = true;
    }
    return cache.path;
}

const std::string& file_paths::input_real(file_system& fs) const { return resolve(fs, input_, input_real_); }
const std::string& file_paths::output_real(file_system& fs) const { return resolve(fs, output_, output_real_); }

const std::string& file_paths::input_real_or_name(file_system& fs) const {
    const std::string& real = input_real(fs);
    return real.empty() ? input_ : real;
}

const std::string& file_paths::output_real_or_name(file_system& fs) const {
    const std::string& real = output_real(fs);
    return real.empty() ? output_ : real;
}

bool failed(file_result result) {
    return result == file_result::not_found || result == file_result::not_text ||
           result == file_result::cannot_create || result == file_result::host_failure ||
           result == file_result::withheld;
}

bool cleaned(file_result result) {
    return result == file_result::unchanged || result == file_result::reformatted || result == file_result::changed ||
           result == file_result::unclassified;
}

namespace {

// The output's bytes and what became of the file, once the document is unified.
void make_text(const ldraw_file& document, const clean_options& clean, job_outcome& outcome) {
    if (clean.minimal) {
        ldraw_file::minimal_output minimal = document.minimal_text(outcome.written);
        outcome.text = std::move(minimal.bytes);
        outcome.same_as_input = !minimal.changed;
    } else {
        outcome.text = document.text(outcome.written);
    }
    outcome.totals = document.changes.totals;
    if (!clean.minimal) outcome.lines_dropped = document.dropped.count;
    // The bytes read are kept only when changes are recorded.
    if (clean.record_changes == clean_options::changes::none) {
        outcome.result = file_result::unclassified;
    } else {
        // In place, a file whose output is its input byte for byte is left as it is.
        if (!clean.minimal && clean.keep_source) outcome.same_as_input = outcome.text == document.source();
        outcome.result = outcome.totals.any()                ? file_result::changed
                         : outcome.text != document.source() ? file_result::reformatted
                                                             : file_result::unchanged;
    }
}

// With --strict, the first warning that withholds the file's output, or nothing. A warning that
// names a line names the file first, which the line of a withheld file already does.
std::string first_warning(const std::string& run_warning, const file_job& job, const job_outcome& outcome) {
    if (!run_warning.empty()) return run_warning;
    if (!outcome.warnings.empty()) return outcome.warnings.front();
    if (!outcome.line_warnings.empty()) {
        const std::string& first = outcome.line_warnings.front();
        const bool named = first.size() > job.name.size() && first.starts_with(job.name) &&
                           (first[job.name.size()] == ' ' || first[job.name.size()] == ':');
        if (!named) return first;
        return first.substr(job.name.size() + (first[job.name.size()] == ':' ? 2 : 1));
    }
    if (!outcome.missing.empty()) return describe_missing(outcome.missing.front());
    return {};
}

}  // namespace

job_outcome run_job(file_system& fs, const file_job& job, job_observer& observer) {
    assert(!job.clean.snap_on_subfiles || job.search);
    assert(!job.reporting || job.clean.record_changes == clean_options::changes::lines);
    job_outcome outcome;
    const std::atomic<bool>* const stop = observer.stop();
    const auto stopped = [&] { return stop && stop->load(); };
    const auto ended = [&](file_result result) {
        outcome.result = result;
        return std::move(outcome);
    };
    const std::string& input = job.paths.input();

    ldraw_file document(job.clean);
    if (job.clean.snap_on_subfiles && job.paths.input_real_known())
        document.know_real_name(job.paths.input_real_or_name(fs));
    observer.reading(input);
    const ldraw_file::read_result read =
        document.read(fs, input, observer.statistics(), stop, job.regular_only, &outcome.as_read);
    if (read != ldraw_file::read_result::ok) {
        if (stopped()) return ended(file_result::interrupted);
        if (read == ldraw_file::read_result::not_regular) {
            outcome.failure = "not a regular file";
            return ended(file_result::passed_over);
        }
        return ended(read == ldraw_file::read_result::not_a_text ? file_result::not_text : file_result::not_found);
    }
    if (stopped()) return ended(file_result::interrupted);
    if (job.lend_lines && job.search && job.paths.input_real_known() && !job.paths.input_real(fs).empty())
        job.search->library().lend(job.paths.input_real(fs), document.elements, document.line_numbers());
    if (std::string dropped = describe_dropped(document.dropped); !dropped.empty()) {
        outcome.warnings.push_back(std::move(dropped));
    }

    // A page draws a sample of the subfiles' geometry.
    subfile_sample subfile_lines(job.drawing ? subfile_drawing_lines : 2);
    if (job.clean.snap_on_subfiles) {
        observer.expanding(*job.search);
        outcome.missing = document.expand_subfiles(*job.search, observer.statistics(),
                                                   job.drawing ? subfile_lines.observer() : inline_observer{}, stop);
        observer.expanded(outcome.missing);
    }
    if (stopped()) return ended(file_result::interrupted);
    for (std::string& warning : describe_line_warnings(document, job.clean.max_inlined_lines))
        outcome.line_warnings.push_back(job.name + ": " + warning);

    observer.unifying();
    document.unify_vertices();
    observer.unified();
    if (stopped()) return ended(file_result::interrupted);
    for (std::string& warning : geometry_warnings(document.geometry_faults, job.name))
        outcome.line_warnings.push_back(std::move(warning));

    observer.writing();
    make_text(document, job.clean, outcome);
    // The bytes read served the output and its classification only. They are given back before the
    // report's record and drawing are made, which are held with the output until it is placed.
    if (job.keep_input) {
        outcome.input = document.take_source();
    } else {
        document.release_source();
    }
    if (job.reporting) {
        outcome.report = std::make_unique<file_report>(record_file(
            document, input, job.paths.output(), job.clean, outcome.written, job.drawing ? &subfile_lines : nullptr));
        std::vector<std::string>& warnings = outcome.report->warnings;
        warnings = outcome.warnings;
        warnings.insert(warnings.end(), outcome.line_warnings.begin(), outcome.line_warnings.end());
        for (const missing_subfile& m : outcome.missing) warnings.push_back(describe_missing(m));
    }
    return outcome;
}

job_decision decide(const file_job& job, const decision_rules& rules, job_outcome& outcome) {
    assert(cleaned(outcome.result));
    if (rules.strict) {
        if (const std::string first = first_warning(rules.run_warning, job, outcome); !first.empty()) {
            outcome.failure = "--strict: " + first;
            return job_decision::withheld;
        }
    }
    if (rules.check_only) return job_decision::checked;
    if (rules.stop && rules.stop->load()) return job_decision::stopped;
    // A file whose output would be its own bytes is not written when it is its own output: cleaning
    // it in place leaves it untouched (its time stamp, its links), and a backup or sync tool sees
    // no change. Written to another output, it is a copy byte for byte.
    if (job.in_place && outcome.same_as_input) return job_decision::untouched;
    return job_decision::to_write;
}

}  // namespace weldrix
