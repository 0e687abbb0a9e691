// The one path of a file, the same for a single-file run and for every file of a batch.
//
// A job is one file to clean (its paths, the options). Running it reads the file, inlines its
// subfiles (-s), unifies, builds the output text, classifies the result and, with -r, makes the
// report's record: its outcome. One function then decides what becomes of the outcome (withheld,
// checked, left untouched, to be written); where the text goes is the caller's one step after that
// (output_placer.hpp): a single-file run puts it in place at once, a batch as the run goes on or
// at its end. Because both call these functions, a batch writes what single-file runs write by
// construction.
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

// The paths of a file: as given, and their real (canonical) paths, each worked out once, when it is
// first asked for (a batch asks for them only where it needs them: a real path costs the host a
// call per folder of the path).
class file_paths {
public:
    file_paths() = default;
    file_paths(std::string input, std::string output) : input_(std::move(input)), output_(std::move(output)) {}

    const std::string& input() const { return input_; }
    const std::string& output() const { return output_; }
    // The canonical path, or empty when the host cannot give one (the file is missing).
    const std::string& input_real(file_system& fs) const;
    // Whether input_real was worked out already, or given by know_input_real (a batch works the
    // real paths of its inputs out through their folders', see real_paths.hpp).
    bool input_real_known() const { return input_real_.known; }
    void know_input_real(std::string real) { input_real_ = {true, std::move(real)}; }
    const std::string& output_real(file_system& fs) const;
    // The canonical path, or the name as given when there is none.
    const std::string& input_real_or_name(file_system& fs) const;
    const std::string& output_real_or_name(file_system& fs) const;
    // The output is the input, by real path (a file cleaned in place, under any spelling or link).
    bool in_place(file_system& fs) const { return input_real_or_name(fs) == output_real_or_name(fs); }

private:
    struct resolved {
        bool known = false;
        std::string path;  // empty: none
    };
    static const std::string& resolve(file_system& fs, const std::string& name, resolved& cache);

    std::string input_, output_;
    mutable resolved input_real_, output_real_;
};

// What became of one file. Running a job gives the first seven and passed_over; putting the output
// in place adds the failures of doing so and, with --strict, withheld; a batch the files it has not
// cleaned yet.
enum class file_result : std::uint8_t {
    unchanged,      // the output is the input, byte for byte
    reformatted,    // only the layout differs (spacing, number forms); the geometry is the same
    changed,        // the geometry differs: vertices moved, lines removed, quads made triangles
    unclassified,   // cleaned, but the options record no changes (a plain run): not classified
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

// Whether the file was cleaned: its outcome holds an output text.
bool cleaned(file_result result);

// One file to clean, and how.
struct file_job {
    file_paths paths;  // the output is named in the report's record
    clean_options clean;
    const search_paths* search = nullptr;  // with clean.snap_on_subfiles: where subfiles are looked up
    bool reporting = false;                // make the report's record
    bool drawing = false;                  // and with it the drawing of a report page
    // Anything but a regular file is passed over unread (file_result::passed_over): a batch's file,
    // which the walk saw as a regular file, may have been replaced by a FIFO or a device since.
    bool regular_only = false;
    // The output is the input (by real path): it is not rewritten when its bytes would not change,
    // and not replaced when the input changed while it was cleaned.
    bool in_place = false;
    // How the warnings that name a line name the file: the input as given, or a batch's file by its
    // path below the input folder.
    std::string name;
    // The bytes read are handed over in the outcome (job_outcome::input) once the output is made,
    // when they are kept (clean.keep_source with a record of the changes), instead of given back.
    bool keep_input = false;
    // With clean.snap_on_subfiles and the input's real path known: the lines as read are lent to
    // the library of job.search (subfile_library::lend), for the files of the run that reference
    // this one.
    bool lend_lines = false;
};

// The steps of a job as they happen, for a console that shows them. The default shows nothing and
// never stops.
class job_observer {
public:
    virtual ~job_observer() = default;
    // Where reading and inlining print their statistics.
    virtual console& statistics() { return quiet_; }
    // Set when the run is asked to stop: a read that waits gives up, and the job ends with
    // file_result::interrupted between its steps. None: the job runs to its end.
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

// The outcome of a job. Only result, failure and, for a file that was read, warnings are
// meaningful unless cleaned(result).
struct job_outcome {
    file_result result = file_result::pending;
    std::string failure;  // for host_failure: what could not be done; for withheld and passed_over: why
    std::string text;     // the output bytes
    std::string input;    // with file_job::keep_input: the bytes read
    file_status as_read;  // the input's status when it was opened
    // text is the input's bytes (known with --minimal, or when the bytes read are kept).
    bool same_as_input = false;
    line_counts written;  // their statistics
    // The lines of the input that are not in the output although they hold more than white space
    // (the reader dropped them; --minimal keeps their bytes, so 0 with it).
    std::size_t lines_dropped = 0;
    change_totals totals;
    std::vector<missing_subfile> missing;  // subfiles not found, by name in the order first met
    // Warnings about this file met while cleaning it (the lines the reader dropped), each a
    // sentence without the "weldrix: warning: " prefix. Subfiles not found are in missing.
    std::vector<std::string> warnings;
    // Warnings that name a line (describe_line_warnings): numbers not read as written, circular
    // references skipped, the inlining limit reached. Printed after the file's name.
    std::vector<std::string> line_warnings;
    std::unique_ptr<file_report> report;  // with job.reporting: what the cleaning changed
};

// Runs a job. Throws read_failure when the host fails to read a file that is there, and
// std::bad_alloc when memory runs out. Needs job.search with clean.snap_on_subfiles, and changes
// recorded line by line (clean.record_changes) with reporting.
[[nodiscard]] job_outcome run_job(file_system& fs, const file_job& job, job_observer& observer);

// What becomes of a cleaned file's output, decided once its job has run.
enum class job_decision : std::uint8_t {
    withheld,   // --strict: a warning withholds it (the first is the outcome's failure, "--strict: ...")
    checked,    // -c: nothing is written; the result says what would change
    stopped,    // the run was asked to stop before the output was put in place
    untouched,  // the output is the input and would not change (byte for byte): left as it is
    to_write,   // the output is to be put in place
};

// The rules a decision follows: the run's options and its own first warning, which with --strict
// withholds every output.
struct decision_rules {
    bool strict = false;
    bool check_only = false;
    std::string run_warning;  // empty: none
    const std::atomic<bool>* stop = nullptr;
};

// Decides what becomes of the output of a cleaned file (cleaned(outcome.result)); for withheld,
// the outcome's failure says why. A warning of the run withholds first, then the file's own (its
// warnings, its line warnings, then its subfiles not found).
[[nodiscard]] job_decision decide(const file_job& job, const decision_rules& rules, job_outcome& outcome);

}  // namespace weldrix
