// Whole runs of the tool, in process, for the fault-injection tests: a failure is injected into
// one call of a run (a system call in tests/test_faults.cpp, a memory allocation in
// tests/test_out_of_memory.cpp), and what the run leaves is checked against the run without one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/file_system.hpp"
#include "support.hpp"

namespace weldrix::test {

// One way to run the tool, on the files of a scenario_folder (all paths are absolute).
struct fault_scenario {
    std::string name;
    std::vector<std::string> args;
    std::string input;                 // the file the run reads first (a batch: the input folder)
    std::vector<std::string> outputs;  // the files the run may replace
    // A batch: the output folder, below which the outputs lie. Empty for a single-file run.
    std::string output_folder;
    // The file of the run's -r option (empty: none): the run may replace it too, after the outputs.
    std::string report;
    int exit_code = 0;  // of the run without a failure (a batch with a file that fails: 2)
};

// An output file as the run found or left it.
struct output_state {
    bool exists = false;
    std::string bytes;
    unsigned mode = 0;  // the permission bits
    bool operator==(const output_state&) const = default;
};

struct run_outcome {
    int exit_code = -1;
    std::string console;
    std::vector<output_state> outputs;     // parallel to replaced_files of the scenario
    std::vector<std::string> temporaries;  // ".weldrix-*" files left anywhere in the folder
    int leaked_descriptors = 0;            // file descriptors the run opened and left open
    std::string exception;                 // what escaped the run, if anything did
};

// The files a scenario's run may replace: its outputs, then its report.
std::vector<std::string> replaced_files(const fault_scenario& s);

// A folder holding a small LDraw library (nested references, a name that only matches without
// regard to letter case, a reference to a missing file) and the parts of the scenarios:
//  * plain: "IN OUT", OUT new;
//  * subfiles: "-s -l LIB -r REPORT.json IN OUT", OUT an existing file with its own permission
//    bits, REPORT.json new;
//  * in place: "-s -l LIB IN IN";
//  * batch: "-j 1 -s -l LIB -r REPORT.html INDIR OUTDIR" (the page spools its drawings into a
//    second temporary file, and replaces an existing REPORT.html): a part with subfiles, one whose vertices merge, one
//    only reformatted in a subfolder, and one that is not text (it fails in every run), into an
//    output folder where two outputs exist beforehand (and the failing file's as well).
class scenario_folder {
public:
    scenario_folder();
    const std::vector<fault_scenario>& scenarios() const { return scenarios_; }
    const fault_scenario& scenario(const std::string& name) const;
    // The files of replaced_files before the scenario's run.
    std::vector<output_state> initial_outputs(const fault_scenario& s) const;
    // Puts the scenario's outputs back to their initial state, runs the tool on fs and collects
    // what the run gave and left. around, when given, is handed the run to make (to arm something
    // for exactly its duration).
    run_outcome run(const fault_scenario& s, file_system& fs,
                    const std::function<void(const std::function<void()>&)>& around = {});

private:
    temp_dir dir_;
    std::vector<fault_scenario> scenarios_;
};

// What a run with an injected failure must give, measured against runs without one.
struct expectation {
    const run_outcome* reference = nullptr;  // the run without any failure
    // For a failure that may change a successful result (a subfile found missing or not permitted):
    // the run in which that call fails every time, which the run must match. Null otherwise.
    const run_outcome* alternative = nullptr;
    bool unchanged = false;       // the failure must change nothing (an interrupted call, a short write)
    bool after_rename = false;    // an output was already renamed into place when the failure came
    bool report_renamed = false;  // so was the report
    // The failure came where a batch flushes a group of staged outputs before their renames: each of
    // them may fail, not only one more file.
    bool group_flush = false;
    std::string failed_path;  // the path of the failed call: a subfile or folder that "can't be read"
};

// Everything wrong with got: empty when it is a correct end of the run. A batch is checked by its own
// rules (see check_batch in fault_scenarios.cpp). Checked always: nothing escaped the run; no temporary file (a
// report's spool is one too) and no open file descriptor is left; each output and the report hold their old bytes or
// the complete new ones, with their old permission bits; exit code 0 means they hold the new bytes and the console
// says so; any other exit code is 2 with a failure message at the end of the console text (the input "not found", an
// output "Can't create", the report "Can't create (the output file was written)", the failed path "can't be read",
// "Out of memory"), after a beginning the run without a failure printed too, and each file untouched unless the
// failure came after its rename.
std::vector<std::string> check_outcome(const fault_scenario& s, const std::vector<output_state>& before,
                                       const expectation& expected, const run_outcome& got);

}  // namespace weldrix::test
