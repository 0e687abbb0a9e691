// One file of a batch: cleaned by the pipeline (clean_file.hpp) and its output staged next to its
// place, to be put there at the end of the run. Called from the batch's worker threads at once.
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
    std::string failure;  // for host_failure: what could not be done
    change_totals totals;
    std::vector<missing_subfile> missing;
    std::vector<std::string> warnings;
    staged_file staged;                   // the output, written next to its place, put there at the end of the run
    std::unique_ptr<file_report> report;  // with -r: what the file's cleaning changed
    bool has_staged = false;
};

class batch_file_cleaner {
public:
    // drawing: with -r to a page, each file's drawing is made.
    batch_file_cleaner(const run_options& options, const run_environment& env, bool drawing);

    // Cleans the file at relative below the input folder and, unless -c or the run is
    // interrupted, stages its output. Nothing is thrown (it would end the process from a worker
    // thread): a subfile the host fails to read, or memory running out, fail the file
    // (file_result::host_failure).
    [[nodiscard]] file_outcome clean(const std::string& relative);

private:
    [[nodiscard]] file_outcome clean_and_stage(const std::string& relative);
    void make_output_folder(const std::string& output);
    bool interrupted() const { return env_.interrupted && env_.interrupted->load(); }

    const run_options& options_;
    const run_environment& env_;
    clean_options clean_;
    subfile_library library_;  // the subfiles of the whole run, shared by the threads
    const bool drawing_;
    std::mutex folders_mutex_;  // guards made_folders_ while the folders are made
    std::unordered_set<std::string> made_folders_;
};

}  // namespace weldrix
