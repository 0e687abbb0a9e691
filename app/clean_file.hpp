// The work of one file, the same for a single-file run and for every file of a batch: read it,
// inline its subfiles (-s), unify, build the output text, classify the result and, with -r, make
// the report's record. Where the text goes is the caller's business: a single-file run replaces
// the output at once, a batch puts it in place as the run goes on or at its end. Because both
// call this one function, a batch writes what single-file runs write by construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/report.hpp"
#include "document/change_record.hpp"
#include "document/clean_options.hpp"
#include "document/line_counts.hpp"
#include "document/subfile_expansion.hpp"
#include "io/console.hpp"
#include "io/file_system.hpp"

namespace weldrix {

class search_paths;

// What became of one file. The pipeline gives the first seven and passed_over; a caller that puts
// the output in place adds the failures of doing so and, with --strict, withheld, and a batch the
// files it has not cleaned yet.
enum class file_result : std::uint8_t {
    unchanged,      // the output is the input, byte for byte
    reformatted,    // only the layout differs (spacing, number forms); the geometry is the same
    changed,        // the geometry differs: vertices moved, lines removed, quads made triangles
    cleaned,        // cleaned but not classified: the options record no changes (a plain run)
    not_found,      // the input cannot be opened or read
    not_text,       // the input is not LDraw text
    interrupted,    // the run was asked to stop
    cannot_create,  // the output could not be written
    withheld,       // --strict: a warning about the file or the run withheld its output
    host_failure,   // the host failed to read a file that is there, or memory ran out
    pending,        // a batch's file not cleaned yet
    passed_over,    // a batch's file not cleaned on purpose (not counted, not failed)
};

// A file that fails: counted as failed, and what it would have changed was not written.
bool failed(file_result result);

// What to clean and how.
struct file_cleaning {
    std::string input;
    std::string output;  // named in the report's record
    clean_options clean;
    const search_paths* paths = nullptr;  // with clean.snap_on_subfiles: where subfiles are looked up
    bool reporting = false;               // make the report's record
    bool drawing = false;                 // and with it the drawing of a report page
    // Anything but a regular file is passed over unread (file_result::passed_over): a batch's file,
    // which the walk saw as a regular file, may have been replaced by a FIFO or a device since.
    bool regular_only = false;
};

// The steps of the pipeline as they happen, for a console that shows them. The default shows
// nothing and never stops.
class clean_observer {
public:
    virtual ~clean_observer() = default;
    // Where reading and inlining print their statistics.
    virtual console& statistics() { return quiet_; }
    // Set when the run is asked to stop: a read that waits gives up, and the pipeline ends with
    // file_result::interrupted between its steps. None: the pipeline runs to its end.
    virtual const std::atomic<bool>* stop() const { return nullptr; }
    virtual void reading(const std::string& /*input*/) {}
    virtual void expanding(const search_paths& /*paths*/) {}
    virtual void expanded(const std::vector<missing_subfile>& /*missing*/) {}
    virtual void unifying() {}
    virtual void unified() {}
    // The output text is about to be built.
    virtual void writing() {}

private:
    null_console quiet_;
};

// The result of the pipeline. Only what and, for a file that was read, warnings, are meaningful
// unless what is unchanged, reformatted, changed or cleaned.
struct cleaned_file {
    file_result what = file_result::pending;
    std::string text;  // the output bytes
    // With --minimal, no line changed: text is the input's bytes.
    bool same_as_input = false;
    line_counts written;  // their statistics
    change_totals totals;
    std::vector<missing_subfile> missing;  // subfiles not found, by name in the order first met
    // Warnings about this file met while cleaning it (the lines the reader dropped), each a
    // sentence without the "weldrix: warning: " prefix. Subfiles not found are in missing.
    std::vector<std::string> warnings;
    std::unique_ptr<file_report> report;  // with job.reporting: what the cleaning changed
};

// With --strict a warning withholds the outputs it concerns: the run's own (run_warning, when not
// empty) every output, a file's own (its warnings, then its subfiles not found) that file's. The
// first of those for a file, or nothing.
std::string first_warning(const std::string& run_warning, const std::vector<std::string>& warnings,
                          const std::vector<missing_subfile>& missing);

// With --minimal, a file no line changes is not written when it is its own output (the same file
// by real path): cleaning it in place leaves it untouched, time stamp included. Written to
// another output, it is a copy byte for byte.
bool leave_untouched(file_system& fs, const file_cleaning& job, const cleaned_file& result);

// Runs the pipeline on one file. Throws read_failure when the host fails to read a file that is
// there, and std::bad_alloc when memory runs out. Needs job.paths with clean.snap_on_subfiles, and
// changes recorded line by line (clean.record_changes) with reporting.
[[nodiscard]] cleaned_file clean_file(file_system& fs, const file_cleaning& job, clean_observer& observer);

}  // namespace weldrix
