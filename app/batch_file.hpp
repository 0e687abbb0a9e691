// One file of a batch: cleaned by the pipeline (clean_file.hpp) and its output put in place, at once
// or at the end of the run. Called from the batch's worker threads at once.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/clean_file.hpp"
#include "app/options.hpp"
#include "app/report.hpp"
#include "app/run.hpp"
#include "document/subfile_library.hpp"
#include "io/files.hpp"

namespace weldrix {

// What a file of the batch came to, kept until the end of the run.
struct file_outcome {
    file_result what = file_result::pending;
    std::string failure;  // for host_failure: what could not be done; for withheld and passed_over: why
    change_totals totals;
    std::vector<missing_subfile> missing;
    std::vector<std::string> warnings;
    std::string placed_in;                // the folder of the output put in place, whose rename is flushed at the end
    std::string held;                     // with has_held: the output, not in place yet
    std::unique_ptr<file_report> report;  // with -r: what the file's cleaning changed
    bool has_held = false;
    bool at_once = false;  // with has_held: put in place as soon as it is cleaned, else at the end of the run
    bool placing = false;  // being put in place: its line waits for the result
};

// The console line of a file that changed, failed or was passed over (relative: its name as
// printed); empty for any other file.
std::string console_line(const file_outcome& outcome, const std::string& relative, const run_options& options);

class batch_file_cleaner {
public:
    // drawing: with -r to a page, each file's drawing is made. run_warning: the first warning of
    // the run, which with --strict withholds every file.
    batch_file_cleaner(const run_options& options, const run_environment& env, bool drawing,
                       const std::string& run_warning);

    // Cleans the file at relative below the input folder and, unless -c or the run is
    // interrupted, hands back its output, to be put in place at once, or at the end of the run
    // when a file of the run may read it (as a subfile: in place, or below a library folder, with
    // -s), so that every file is cleaned against the files as they were when the run started,
    // whatever order the threads take them in. Held in memory until then rather than as a
    // temporary file next to its place, a killed run leaves no more temporary files than it has
    // threads. Nothing is thrown (it would end the process from a worker
    // thread): a subfile the host fails to read, or memory running out, fail the file
    // (file_result::host_failure).
    [[nodiscard]] file_outcome clean(const std::string& relative);

private:
    [[nodiscard]] file_outcome clean_and_hold(const std::string& relative);
    [[nodiscard]] bool leads_out_of_place(const std::string& input);
    [[nodiscard]] bool readable_by_run(const std::string& output);
    void make_output_folder(const std::string& output);
    bool interrupted() const { return env_.interrupted && env_.interrupted->load(); }

    const run_options& options_;
    const run_environment& env_;
    clean_options clean_;
    subfile_library library_;  // the subfiles of the whole run, shared by the threads
    const bool drawing_;
    const std::string run_warning_;
    std::string in_place_root_;  // in place: the input folder's real path, else empty
    // With -s: the real paths of the input folder and the library folders, below which the run
    // looks for subfiles.
    std::vector<std::string> search_roots_;
    std::mutex folders_mutex_;  // guards made_folders_ while the folders are made
    std::unordered_set<std::string> made_folders_;
};

}  // namespace weldrix
