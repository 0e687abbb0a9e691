#include "app/batch_file.hpp"

#include <new>

#include "app/folder_walk.hpp"
#include "document/search_paths.hpp"

namespace weldrix {

batch_file_cleaner::batch_file_cleaner(const run_options& options, const run_environment& env, bool drawing,
                                       const std::string& run_warning)
    : options_(options),
      env_(env),
      clean_(options.clean),
      library_(env.files),
      drawing_(drawing),
      run_warning_(run_warning) {
    clean_.record_changes = options.report.empty() ? clean_options::changes::totals : clean_options::changes::lines;
    std::string out_real;
    if (!options.check_only && env.files.real_path(options.input, in_place_root_) == 0 &&
        (env.files.real_path(options.output, out_real) != 0 || out_real != in_place_root_)) {
        in_place_root_.clear();
    }
}

file_outcome batch_file_cleaner::clean(const std::string& relative) {
    file_outcome outcome;
    try {
        outcome = clean_and_stage(relative);
    } catch (const read_failure& failure) {
        // As in a single-file run, such a file fails rather than be cleaned against a library
        // that is missing files by chance; the other files go on.
        outcome.what = file_result::host_failure;
        try {
            outcome.failure = failure.path() + " can't be read";
        } catch (const std::bad_alloc&) {
            outcome.failure = "out of memory";
        }
    } catch (const std::bad_alloc&) {
        outcome.what = file_result::host_failure;
        outcome.failure = "out of memory";
    }
    return outcome;
}

file_outcome batch_file_cleaner::clean_and_stage(const std::string& relative) {
    file_outcome outcome;
    file_system& fs = env_.files;
    const bool reporting = !options_.report.empty();
    file_cleaning job{
        joined(options_.input, relative), joined(options_.output, relative), clean_, nullptr, reporting, drawing_};
    if (leads_out_of_place(job.input)) {
        outcome.what = file_result::passed_over;
        outcome.failure = "a link to a file outside " + options_.input;
        return outcome;
    }
    search_paths paths(library_);
    if (clean_.snap_on_subfiles) {
        run_options file_options = options_;
        file_options.input = job.input;
        for (const std::string& directory : search_directories(file_options)) paths.add_path(directory);
        job.paths = &paths;
    }
    clean_observer quiet;
    cleaned_file result = clean_file(fs, job, quiet);
    outcome.what = result.what;
    outcome.totals = result.totals;
    outcome.missing = std::move(result.missing);
    outcome.warnings = std::move(result.warnings);
    outcome.report = std::move(result.report);
    if (outcome.report) outcome.report->output_written = !options_.check_only;
    if (failed(outcome.what) || outcome.what == file_result::interrupted) return outcome;
    if (options_.strict) {
        const std::string first = first_warning(run_warning_, outcome.warnings, outcome.missing);
        if (!first.empty()) {
            outcome.what = file_result::withheld;
            outcome.failure = "--strict: " + first;
            return outcome;
        }
    }
    if (options_.check_only) return outcome;
    if (interrupted()) {
        outcome.what = file_result::interrupted;
        return outcome;
    }
    if (leave_untouched(fs, job, result)) return outcome;
    make_output_folder(job.output);
    // Written next to its place now, put there at the end of the run: so every file is cleaned
    // against the files as they were when the run started (an output may be another file's
    // subfile, in place), whatever order the threads take them in.
    outcome.has_staged =
        stage_file(fs, job.output, result.text, outcome.staged, durability::none_here, env_.interrupted);
    if (!outcome.has_staged) outcome.what = interrupted() ? file_result::interrupted : file_result::cannot_create;
    return outcome;
}

// In place, a link to a file outside the input folder would have the file it leads to replaced:
// a file the user did not give to the run.
bool batch_file_cleaner::leads_out_of_place(const std::string& input) {
    std::string real;
    return !in_place_root_.empty() && env_.files.real_path(input, real) == 0 &&
           !lies_below(env_.files, real, in_place_root_);
}

// Creates the folders of an output once per run. Another thread that needs the same folder waits
// until it is there: it would otherwise go on to write into a folder not made yet.
void batch_file_cleaner::make_output_folder(const std::string& output) {
    const std::string folder = output.substr(0, output.rfind('/') + 1);
    const std::lock_guard<std::mutex> lock(folders_mutex_);
    if (made_folders_.count(folder)) return;
    make_folders(env_.files, output);
    made_folders_.insert(folder);
}

}  // namespace weldrix
