// One file of a batch: its job (file_job.hpp) made and run, the decision acted on, its output held
// for the placer, failures as outcomes, its console line. Called from the batch's worker threads
// at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/file_job.hpp"
#include "app/held_output.hpp"
#include "app/options.hpp"
#include "app/run.hpp"
#include "document/subfile_library.hpp"
#include "io/real_paths.hpp"

namespace weldrix {

// Where the output of a batch's file stands.
enum class output_state : std::uint8_t {
    none,        // nothing to put in place: a check, a failure, a file left untouched
    at_once,     // to be put in place as soon as it is cleaned
    at_the_end,  // held to the end of the run: a file of the run may read it as a subfile
    placing,     // being put in place: the file's line waits for the result
    placed,      // in place; the rename is flushed at the end, with flush_folder
};

// What a file of the batch came to, kept until the end of the run.
struct batch_entry {
    job_outcome outcome;  // its text is the output while it waits to be put in place at once
    held_output held;     // the output while it waits for the end of the run (output_state::at_the_end)
    file_paths paths;
    bool in_place = false;  // the output is the input
    output_state state = output_state::none;
    std::string flush_folder;  // placed: the folder whose rename is flushed at the end
};

// The console line of a file that changed, failed or was passed over (relative: its name as
// printed); empty for any other file.
std::string console_line(const batch_entry& entry, const std::string& relative, const run_options& options);

class batch_jobs {
public:
    // drawing: with -r to a page, each file's drawing is made. run_warning: the first warning of
    // the run, which with --strict withholds every file. folders: the input and output folders,
    // both with a real path when the output folder exists.
    batch_jobs(const run_options& options, const run_environment& env, bool drawing, const std::string& run_warning,
               const file_paths& folders);

    // Runs the job of the file at relative below the input folder and, unless -c or the run is
    // interrupted, holds its output, to be put in place at once, or at the end of the run when a
    // file of the run may read it (as a subfile: in place, or below a library folder, with -s), so
    // that every file is cleaned against the files as they were when the run started, whatever
    // order the threads take them in. Held in memory until then (as what it changed of its input,
    // held_output.hpp) rather than as a temporary file next to its place, a killed run leaves no
    // more temporary files than its threads stage at a time. Nothing
    // is thrown (it would end the process from a worker thread): a subfile the host fails to read,
    // or memory running out, fail the file (file_result::host_failure).
    [[nodiscard]] batch_entry run(const std::string& relative);

private:
    [[nodiscard]] batch_entry run_and_hold(const std::string& relative);
    [[nodiscard]] bool leads_out_of_place(const file_paths& paths);
    [[nodiscard]] bool unplaceable(const file_paths& paths);
    [[nodiscard]] bool readable_by_run(const file_paths& paths);
    // The real place of a folder of outputs (real_place), worked out once per folder.
    std::string output_folder_place(const std::string& folder);
    void make_output_folder(const std::string& output);

    const run_options& options_;
    const run_environment& env_;
    clean_options clean_;
    subfile_library library_;  // the subfiles of the whole run, shared by the threads
    real_paths input_places_;  // the canonical paths of the inputs, where -s or in place needs them
    const bool drawing_;
    const decision_rules rules_;
    std::string in_place_root_;  // in place: the input folder's real path, else empty
    // With -s: the real paths of the input folder and the library folders, below which the run
    // looks for subfiles.
    std::vector<std::string> search_roots_;
    std::mutex folders_mutex_;  // guards made_folders_ while the folders are made, and folder_places_
    std::unordered_set<std::string> made_folders_;
    std::unordered_map<std::string, std::string> folder_places_;
};

}  // namespace weldrix
