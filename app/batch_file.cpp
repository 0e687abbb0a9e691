#include "app/batch_file.hpp"

#include <new>

#include "app/folder_walk.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/console.hpp"

namespace weldrix {
namespace {

// Shows nothing; a read that waits, and the expansion, give up when the run is interrupted.
class stoppable final : public clean_observer {
public:
    explicit stoppable(const std::atomic<bool>* stop) : stop_(stop) {}
    const std::atomic<bool>* stop() const override { return stop_; }

private:
    const std::atomic<bool>* stop_;
};

}  // namespace

std::string console_line(const file_outcome& outcome, const std::string& relative, const run_options& options) {
    const std::string why = printable(outcome.failure);
    switch (outcome.what) {
        case file_result::changed:
            return (options.check_only ? "would change: " : "changed: ") + relative + " (" +
                   describe_changes(outcome.totals) + ")";
        case file_result::not_found: return "failed: " + relative + ": can't be read";
        case file_result::not_text: return "failed: " + relative + ": is not a text file";
        case file_result::host_failure:
        case file_result::withheld: return "failed: " + relative + ": " + why;
        case file_result::passed_over: return "passed over: " + relative + ": " + why;
        case file_result::cannot_create:
            return "failed: " + relative + ": " + joined(printable(options.output), relative) + " Can't create";
        default: return {};
    }
}

batch_file_cleaner::batch_file_cleaner(const run_options& options, const run_environment& env, bool drawing,
                                       const std::string& run_warning)
    : options_(options),
      env_(env),
      clean_(options.clean),
      library_(env.files),
      drawing_(drawing),
      run_warning_(run_warning) {
    clean_.record_changes = options.report.empty() ? clean_options::changes::totals : clean_options::changes::lines;
    if (clean_.snap_on_subfiles) {
        std::vector<std::string> roots = options.library_folders;
        roots.push_back(options.input);
        for (const std::string& root : roots) {
            std::string real;
            if (env.files.real_path(root, real) == 0) search_roots_.push_back(real);
        }
    }
    std::string out_real;
    if (!options.check_only && env.files.real_path(options.input, in_place_root_) == 0 &&
        (env.files.real_path(options.output, out_real) != 0 || out_real != in_place_root_)) {
        in_place_root_.clear();
    }
}

file_outcome batch_file_cleaner::clean(const std::string& relative) {
    file_outcome outcome;
    try {
        outcome = clean_and_hold(relative);
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

file_outcome batch_file_cleaner::clean_and_hold(const std::string& relative) {
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
    job.regular_only = true;
    stoppable quiet(env_.interrupted);
    cleaned_file result = clean_file(fs, job, quiet);
    outcome.what = result.what;
    outcome.totals = result.totals;
    outcome.missing = std::move(result.missing);
    outcome.warnings = std::move(result.warnings);
    outcome.report = std::move(result.report);
    if (outcome.report) outcome.report->output_written = !options_.check_only;
    if (outcome.what == file_result::passed_over) {
        outcome.failure = "not a regular file";
        return outcome;
    }
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
    outcome.at_once = !readable_by_run(job.output);
    outcome.held = std::move(result.text);
    outcome.has_held = true;
    return outcome;
}

// In place, a link to a file outside the input folder would have the file it leads to replaced:
// a file the user did not give to the run.
bool batch_file_cleaner::leads_out_of_place(const std::string& input) {
    std::string real;
    return !in_place_root_.empty() && env_.files.real_path(input, real) == 0 &&
           !lies_below(env_.files, real, in_place_root_);
}

// Whether a file of the run may read the output as a subfile: with -s, when it lies in or below a
// folder subfiles are looked up in (links followed, so an output that leads into one counts). One
// whose place cannot be told is held too.
bool batch_file_cleaner::readable_by_run(const std::string& output) {
    if (search_roots_.empty()) return false;
    file_system& fs = env_.files;
    std::string place, target;
    if (fs.real_path(output, place) != 0) {
        // A link that leads nowhere yet creates the file it names, wherever that is.
        if (fs.read_link(output, target) == 0) return true;
        const std::size_t slash = output.find_last_of(fs.names_ignore_case() ? "/\\" : "/");
        if (fs.real_path(output.substr(0, slash), place) != 0) return true;
        place = joined(place, output.substr(slash + 1));
    }
    for (const std::string& root : search_roots_) {
        if (place == root || lies_below(fs, place, root)) return true;
    }
    return false;
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
