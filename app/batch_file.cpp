#include "app/batch_file.hpp"

#include <cerrno>
#include <new>

#include "app/folder_walk.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/console.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

// Shows nothing; a read that waits, and the expansion, give up when the run is interrupted.
class stoppable final : public job_observer {
public:
    explicit stoppable(const std::atomic<bool>* stop) : stop_(stop) {}
    const std::atomic<bool>* stop() const override { return stop_; }

private:
    const std::atomic<bool>* stop_;
};

}  // namespace

std::string console_line(const batch_entry& entry, const std::string& relative, const run_options& options) {
    const job_outcome& outcome = entry.outcome;
    const std::string why = printable(outcome.failure);
    switch (outcome.result) {
        case file_result::changed:
            return (options.check_only ? "would change: " : "changed: ") + relative + " (" +
                   (outcome.totals.any() ? describe_changes(outcome.totals)
                                         : counted(outcome.lines_dropped, "line dropped", "lines dropped")) +
                   ")";
        case file_result::not_found: return "failed: " + relative + ": can't be read";
        case file_result::not_text: return "failed: " + relative + ": is not a text file";
        case file_result::host_failure:
        case file_result::withheld: return "failed: " + relative + ": " + why;
        case file_result::passed_over: return "passed over: " + relative + ": " + why;
        case file_result::cannot_create:
            return "failed: " + relative + ": " +
                   (outcome.failure.empty() ? printable(entry.paths.output()) + " Can't create" : why);
        default: return {};
    }
}

batch_jobs::batch_jobs(const run_options& options, const run_environment& env, bool drawing,
                       const std::string& run_warning, const file_paths& folders)
    : options_(options),
      env_(env),
      clean_(options.clean),
      library_(env.files, subfile_library::default_memory_budget, drawing),
      input_places_(env.files),
      drawing_(drawing),
      rules_{options.strict, options.check_only, run_warning, env.interrupted} {
    file_system& fs = env.files;
    clean_.record_changes = options.report.empty() ? clean_options::changes::totals : clean_options::changes::lines;
    if (clean_.snap_on_subfiles) {
        for (const std::string& library : options.library_folders) {
            const file_paths folder(library, {});
            if (!folder.input_real(fs).empty()) search_roots_.push_back(folder.input_real(fs));
        }
        search_roots_.push_back(folders.input_real(fs));
    }
    if (!options.check_only && folders.input_real(fs) == folders.output_real(fs))
        in_place_root_ = folders.input_real(fs);
}

batch_entry batch_jobs::run(const std::string& relative) {
    batch_entry entry;
    try {
        entry = run_and_hold(relative);
    } catch (const read_failure& failure) {
        // As in a single-file run, such a file fails rather than be cleaned against a library
        // that is missing files by chance; the other files go on.
        entry.outcome.result = file_result::host_failure;
        try {
            entry.outcome.failure = failure.path() + " can't be read";
        } catch (const std::bad_alloc&) {
            entry.outcome.failure = "out of memory";
        }
    } catch (const std::bad_alloc&) {
        entry.outcome.result = file_result::host_failure;
        entry.outcome.failure = "out of memory";
    }
    return entry;
}

batch_entry batch_jobs::run_and_hold(const std::string& relative) {
    file_system& fs = env_.files;
    file_job job{file_paths(joined(options_.input, relative), joined(options_.output, relative)),
                 clean_,
                 nullptr,
                 !options_.report.empty(),
                 drawing_,
                 true,
                 !in_place_root_.empty(),
                 relative,
                 !search_roots_.empty()};
    if (clean_.snap_on_subfiles || !in_place_root_.empty())
        job.paths.know_input_real(input_places_.of(job.paths.input()));
    // A file in a folder below the input folder (a library's s/ subparts, its 48/ primitives) is
    // there to be referenced by the files above it, and the batch cleans it before them
    // (batch_order): its lines as read spare the library a reading of its own. The files of the
    // input folder itself are lent nothing: most are referenced by no other file.
    job.lend_lines = clean_.snap_on_subfiles && relative.find('/') != std::string::npos;
    batch_entry entry;
    entry.paths = job.paths;
    entry.in_place = job.in_place;
    job_outcome& outcome = entry.outcome;
    if (unplaceable(job.paths)) {
        outcome.result = file_result::not_found;
        return entry;
    }
    if (leads_out_of_place(job.paths)) {
        outcome.result = file_result::passed_over;
        outcome.failure = "a link to a file outside " + options_.input;
        return entry;
    }
    search_paths paths(library_);
    if (clean_.snap_on_subfiles) {
        run_options file_options = options_;
        file_options.input = job.paths.input();
        for (const std::string& directory : search_directories(file_options)) paths.add_path(directory);
        job.search = &paths;
    }
    stoppable quiet(env_.interrupted);
    outcome = run_job(fs, job, quiet);
    if (outcome.report) outcome.report->output_written = !options_.check_only;
    if (!cleaned(outcome.result)) return entry;
    switch (decide(job, rules_, outcome)) {
        case job_decision::withheld: outcome.result = file_result::withheld; break;
        case job_decision::stopped: outcome.result = file_result::interrupted; break;
        case job_decision::checked:
            // Lines lost are a change a check tells, though the geometry is the same.
            if (outcome.result == file_result::reformatted && outcome.lines_dropped > 0)
                outcome.result = file_result::changed;
            break;
        case job_decision::untouched: break;
        case job_decision::to_write:
            make_output_folder(job.paths.output());
            if (readable_by_run(job.paths)) {
                entry.state = output_state::at_the_end;
                entry.held = held_output(outcome.text, outcome.input);
                std::string().swap(outcome.text);
            } else {
                entry.state = output_state::at_once;
            }
            std::string().swap(outcome.input);
            return entry;
    }
    std::string().swap(outcome.text);  // nothing is put in place
    std::string().swap(outcome.input);
    return entry;
}

// In place, a link to a file outside the input folder would have the file it leads to replaced:
// a file the user did not give to the run.
bool batch_jobs::leads_out_of_place(const file_paths& paths) {
    if (in_place_root_.empty()) return false;
    const std::string& real = paths.input_real(env_.files);
    return !real.empty() && !lies_below(env_.files, real, in_place_root_);
}

// In place, a file whose real path the host cannot give could lead anywhere.
bool batch_jobs::unplaceable(const file_paths& paths) {
    return !in_place_root_.empty() && paths.input_real(env_.files).empty();
}

// Whether a file of the run may read the output as a subfile: with -s, when it lies in or below a
// folder subfiles are looked up in (links followed, so an output that leads into one counts). One
// whose place cannot be told is held too.
bool batch_jobs::readable_by_run(const file_paths& paths) {
    if (search_roots_.empty()) return false;
    file_system& fs = env_.files;
    const std::string& output = paths.output();
    const std::size_t slash = output.find_last_of(fs.names_ignore_case() ? "/\\" : "/");
    std::string target;
    const int link = repeat_interrupted([&] { return fs.read_link(output, target); });
    std::string place;
    if ((link == EINVAL || link == ENOENT) && slash != std::string::npos && !fs.names_ignore_case()) {
        // Not a link (or not there yet): its place is its folder's real place and its name. The
        // folders of a run's outputs are few, so each is worked out once (a real path costs the
        // host a call per component).
        const std::string folder = output_folder_place(output.substr(0, slash));
        if (folder.empty()) return true;
        place = joined(folder, output.substr(slash + 1));
    } else {
        place = paths.output_real(fs);
        if (place.empty()) {
            // A link that leads nowhere yet creates the file it names, wherever that is.
            if (link == 0) return true;
            const std::string folder = real_place(fs, output.substr(0, slash));
            if (folder.empty()) return true;
            place = joined(folder, output.substr(slash + 1));
        }
    }
    for (const std::string& root : search_roots_) {
        if (place == root || lies_below(fs, place, root)) return true;
    }
    return false;
}

std::string batch_jobs::output_folder_place(const std::string& folder) {
    {
        const std::lock_guard<std::mutex> lock(folders_mutex_);
        const auto found = folder_places_.find(folder);
        if (found != folder_places_.end()) return found->second;
    }
    std::string place = real_place(env_.files, folder);
    const std::lock_guard<std::mutex> lock(folders_mutex_);
    return folder_places_.try_emplace(folder, std::move(place)).first->second;
}

// Creates the folders of an output once per run. Another thread that needs the same folder waits
// until it is there: it would otherwise go on to write into a folder not made yet.
void batch_jobs::make_output_folder(const std::string& output) {
    const std::string folder = output.substr(0, output.rfind('/') + 1);
    const std::lock_guard<std::mutex> lock(folders_mutex_);
    if (made_folders_.count(folder)) return;
    make_folders(env_.files, output);
    made_folders_.insert(folder);
}

}  // namespace weldrix
