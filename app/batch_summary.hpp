// The lines a batch starts with (its settings, what it cleans) and the summary it ends with: how
// many files were read, changed, only reformatted, left unchanged or failed, what the cleaning
// changed in all, and the subfiles not found.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "document/change_record.hpp"
#include "document/subfile_expansion.hpp"
#include "io/console.hpp"

namespace weldrix {

// The thresholds and, with -s, where each file's subfiles are sought, then an empty line.
void print_batch_settings(console& out, const run_options& options);

// What the run does: "Checking N files of IN (nothing is written)", "Cleaning N files of IN in
// place" or "Cleaning N files of IN into OUT".
void print_batch_start(console& out, const run_options& options, std::size_t files, bool in_place);

class batch_summary {
public:
    // Starts with failures already counted (the folders and links that could not be read).
    explicit batch_summary(std::size_t failures) : failures_(failures) {}

    // Counts a file (part: its name in the batch), in input order. A file not cleaned (pending,
    // interrupted, passed over) is not counted, and what a failed one would have changed was not
    // written.
    void add(file_result result, const change_totals& totals, const std::vector<missing_subfile>& missing,
             const std::string& part);

    // Subfiles not found, by name in the order first met, over all files in input order; each
    // with the file of the batch whose cleaning first met it (parallel: missing_parts).
    const std::vector<missing_subfile>& missing() const { return missing_; }
    const std::vector<std::string>& missing_parts() const { return missing_parts_; }
    std::size_t changed() const { return changed_; }
    std::size_t failures() const { return failures_; }  // withheld ones included
    std::size_t withheld() const { return withheld_; }

    // "geometry faults made: N in M files", the faults warned about (a warning of standard error,
    // so that standard output reads as before); empty when there are none.
    std::string geometry_line() const;

    // The summary lines, with "would" for a check (-c).
    void print(console& out, bool check) const;

private:
    void add_missing(const std::vector<missing_subfile>& missing, const std::string& part);

    std::size_t geometry_warned_ = 0, geometry_files_ = 0;
    std::size_t read_ = 0, changed_ = 0, reformatted_ = 0, unchanged_ = 0, failures_, withheld_ = 0;
    change_totals totals_;
    std::vector<missing_subfile> missing_;
    std::vector<std::string> missing_parts_;
    std::unordered_map<std::string, std::size_t> missing_at_;
};

}  // namespace weldrix
