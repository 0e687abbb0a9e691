#include "fault_scenarios.hpp"

#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <new>
#include <regex>
#include <set>
#include <stdexcept>

#include "app/run.hpp"
#include "io/console.hpp"

namespace weldrix::test {
namespace {

// A part whose vertices miss those of its subfiles and of each other by less than the thresholds,
// so that every subfile found changes the output: the edge snaps onto prim.dat, the triangle onto
// edge.dat (inside sub.dat), the quad onto the copy of prim.dat that edge.dat places at x = 5.
const std::string part =
    "0 A part\n"
    "1 16 0 0 0 1 0 0 0 1 0 0 0 1 s\\sub.dat\n"
    "1 16 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\n"
    "2 24 0.002 0 0 10.001 0 0\n"
    "3 16 0 20.003 0 0.002 20 10 1 21 1\n"
    "4 16 5.002 0 0 15.003 0 0.001 15 0 10 5 0.001 10.002\n"
    "2 24 30 0 0 30.001 0 0.002\n"
    "2 24 40 0 0 41 0 0\n"
    "2 24 40.001 0.001 0 41 0 0.001\n";

void write_with_mode(const std::string& path, std::string_view bytes, unsigned mode) {
    write_file(path, bytes);
    ::chmod(path.c_str(), mode);
}

output_state state_of(const std::string& path) {
    output_state state;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return state;
    state.exists = true;
    state.bytes = read_file(path);
    state.mode = st.st_mode & 07777;
    return state;
}

const output_state absent{};
const output_state old_output{true, "old output\n", 0640};
const output_state in_place_input{true, part, 0604};
const output_state old_batch_output{true, "old batch output\n", 0600};
const output_state old_failing_output{true, "old output of a file that is not text\n", 0644};
const output_state old_report{true, "old report\n", 0640};

// The files of the batch scenario below INDIR, and the two that are not LDraw text or names.
const std::string merging = "0 Vertices merge\n2 24 0 0 0 1 0 0\n2 24 0.002 0 0 1 1 0\n";
const std::string reformatted = "0 Only reformatted\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 PRIM.DAT\n2 24 0.0 0 0 10.000 0 0\n";
const output_state merging_in_place{true, merging, 0600};
const output_state outside_link_target{true, merging + "2 24 0 0 0 0 0 0\n", 0644};
const std::string not_text(
    "\xFF\xFE"
    "2\0 4\0",
    6);
const output_state failing_in_place{true, not_text, 0644};

std::string describe(const output_state& o) {
    if (!o.exists) return "no file";
    return std::to_string(o.bytes.size()) + " bytes, mode " + std::to_string(o.mode);
}

// The number of open file descriptors of this process (0 where /proc does not tell).
int open_descriptors() {
    std::error_code ec;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

scenario_folder::scenario_folder() {
    const std::string lib = dir_ / "lib";
    write_file(lib + "/p/prim.dat", "0 A primitive\n2 24 0 0 0 10 0 0\n3 16 0 0 0 10 0 0 0 0 10\n");
    // PRIM.DAT is found as p/prim.dat only by matching without regard to letter case.
    write_file(lib + "/parts/s/sub.dat",
               "0 A subpart\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 PRIM.DAT\n1 16 0 20 0 1 0 0 0 1 0 0 0 1 s\\edge.dat\n");
    write_file(lib + "/parts/s/edge.dat", "2 24 0 0 0 0 0 10\n1 16 5 0 0 1 0 0 0 1 0 0 0 1 PRIM.DAT\n");
    write_file(dir_ / "part.dat", part);

    scenarios_.push_back({"plain",
                          {dir_ / "part.dat", dir_ / "plain.dat"},
                          dir_ / "part.dat",
                          {dir_ / "plain.dat"},
                          {},
                          {},
                          exit_success});
    scenarios_.push_back({"subfiles",
                          {"-s", "-l", lib, "-r", dir_ / "report.json", dir_ / "part.dat", dir_ / "out/subfiles.dat"},
                          dir_ / "part.dat",
                          {dir_ / "out/subfiles.dat"},
                          {},
                          dir_ / "report.json",
                          exit_success});
    scenarios_.push_back({"in place",
                          {"-s", "-l", lib, dir_ / "in/place.dat", dir_ / "in/place.dat"},
                          dir_ / "in/place.dat",
                          {dir_ / "in/place.dat"},
                          {},
                          {},
                          exit_success});

    const std::string in = dir_ / "batch/in";
    const std::string out = dir_ / "batch/out";
    write_file(in + "/a.dat", part);
    write_file(in + "/b.dat", merging);
    write_file(in + "/c/d.ldr", reformatted);
    write_file(in + "/bad.dat", not_text);
    write_file(in + "/notes.txt", merging);
    // A link to a part outside the input folder, which is followed.
    write_file(dir_ / "batch/elsewhere.dat", outside_link_target.bytes);
    std::filesystem::create_symlink(dir_ / "batch/elsewhere.dat", in + "/link.dat");
    const std::string report = dir_ / "batch/report.html";
    fault_scenario batch{"batch",
                         {"-j", "1", "-s", "-l", lib, "-r", report, in, out},
                         in,
                         {out + "/a.dat", out + "/b.dat", out + "/c/d.ldr", out + "/bad.dat", out + "/link.dat"},
                         out,
                         report,
                         exit_file_error};
    scenarios_.push_back(std::move(batch));

    // In place, with a link to a part outside the folder, which is passed over: its target must
    // never be replaced, whatever call fails. The file that is not text fails in every run.
    const std::string place = dir_ / "place";
    std::filesystem::create_directories(place);
    std::filesystem::create_symlink(dir_ / "batch/elsewhere.dat", place + "/link.dat");
    scenarios_.push_back({"batch in place",
                          {"-j", "1", "-s", "-l", lib, place, place},
                          place,
                          {place + "/a.dat", place + "/b.dat", place + "/bad.dat", dir_ / "batch/elsewhere.dat"},
                          place,
                          {},
                          exit_file_error});
}

std::vector<std::string> replaced_files(const fault_scenario& s) {
    std::vector<std::string> files = s.outputs;
    if (!s.report.empty()) files.push_back(s.report);
    return files;
}

std::vector<output_state> scenario_folder::initial_outputs(const fault_scenario& s) const {
    if (s.name == "plain") return {absent};
    if (s.name == "subfiles") return {old_output, absent};
    if (s.name == "batch") return {old_batch_output, absent, old_batch_output, old_failing_output, absent, old_report};
    if (s.name == "batch in place") return {in_place_input, merging_in_place, failing_in_place, outside_link_target};
    return {in_place_input};
}

const fault_scenario& scenario_folder::scenario(const std::string& name) const {
    for (const fault_scenario& s : scenarios_) {
        if (s.name == name) return s;
    }
    throw std::invalid_argument("no scenario " + name);
}

run_outcome scenario_folder::run(const fault_scenario& s, file_system& fs,
                                 const std::function<void(const std::function<void()>&)>& around) {
    const std::vector<output_state> initial = initial_outputs(s);
    const std::vector<std::string> files = replaced_files(s);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::filesystem::remove(files[i]);
        if (initial[i].exists) write_with_mode(files[i], initial[i].bytes, initial[i].mode);
    }
    run_outcome outcome;
    string_console out;
    const auto wait_for_enter = [] {};
    const int descriptors = open_descriptors();
    const std::function<void()> one_run = [&] {
        try {
            outcome.exit_code = weldrix::run(s.args, out, wait_for_enter, fs);
        } catch (const std::exception& e) {
            outcome.exception = e.what();
        } catch (...) {
            outcome.exception = "an exception of unknown type";
        }
    };
    if (around)
        around(one_run);
    else
        one_run();
    outcome.leaked_descriptors = open_descriptors() - descriptors;
    // A batch's elapsed time, the one figure that differs from run to run, is left out.
    outcome.console = std::regex_replace(out.text, std::regex("Elapsed time: [0-9.]+ s\n"), "Elapsed time\n");
    for (const std::string& file : files) outcome.outputs.push_back(state_of(file));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
        if (starts_with(entry.path().filename().string(), ".weldrix-")) outcome.temporaries.push_back(entry.path());
    }
    for (const std::string& temporary : outcome.temporaries) std::filesystem::remove(temporary);
    return outcome;
}

namespace {

// The files and folders a batch's console reports as failed ("failed: REL: why"), by relative
// path; "." is the input folder.
std::set<std::string> failed_files(const std::string& console) {
    std::set<std::string> failed;
    static const std::regex line("(^|\n)failed: ([^:\n]+):");
    for (auto it = std::sregex_iterator(console.begin(), console.end(), line); it != std::sregex_iterator(); ++it)
        failed.insert((*it)[2]);
    return failed;
}

// The rules for a batch, which goes on with the other files when one fails:
//  * every output holds its old bytes or its complete new ones (the old ones, for the file that
//    fails in every run);
//  * the exit code is 2 (a file of the scenario always fails), never 0;
//  * a run that reaches its summary reports as failed (itself, or a folder above it) every file
//    whose output did not get its new bytes, and no file whose output did; beyond what the run
//    without a failure reports, one file or folder at most fails;
//  * a run that ends early ends with a failure message and the wait, its outputs old (or, after
//    the renames, new);
//  * the report, written after the summary, holds its old bytes or its complete new ones (when
//    other files failed than in the run without a failure, a complete report of the files read:
//    the same beginning and end and permission bits): the new ones unless the console says it "Can't create" it (then
//    the old ones, unless its rename was done) or the run ran out of memory.
void check_batch(const fault_scenario& s, const std::vector<output_state>& before, const expectation& expected,
                 const run_outcome& got, std::vector<std::string>& problems) {
    const run_outcome& reference = *expected.reference;
    const std::string summary = "exit code " + std::to_string(got.exit_code) + ", console:\n" + got.console;
    if (got.exit_code != exit_file_error) problems.push_back("the exit code is not 2: " + summary);

    const std::set<std::string> failed = failed_files(got.console);
    const std::set<std::string> failed_anyway = failed_files(reference.console);
    // Whether a file is reported as failed, itself or through a folder above it.
    const auto reported = [&](const std::string& relative) {
        for (const std::string& f : failed) {
            if (f == relative || f == "." || relative.starts_with(f + "/")) return true;
        }
        return false;
    };
    const bool reached_summary = got.console.find("\nSummary:\n") != std::string::npos;
    for (std::size_t i = 0; i < s.outputs.size(); ++i) {
        const output_state& now = got.outputs[i];
        const bool old = now == before[i];
        const bool fresh = now == reference.outputs[i];
        const std::string relative = s.outputs[i].substr(s.output_folder.size() + 1);
        if (!old && !fresh) {
            problems.push_back(s.outputs[i] + " holds neither its old content (" + describe(before[i]) +
                               ") nor the new one (" + describe(reference.outputs[i]) + "): " + describe(now));
            continue;
        }
        if (!reached_summary) continue;
        if (!fresh && !reported(relative))
            problems.push_back(s.outputs[i] + " was not written, but the console does not say so: " + summary);
        if (reported(relative) && !old)
            problems.push_back(relative + " is reported as failed, but its output was replaced: " + summary);
    }
    if (!s.report.empty()) {
        const output_state& now = got.outputs.back();
        const bool old = now == before.back();
        const output_state& model = reference.outputs.back();
        const std::size_t head = model.bytes.find("\"files\":["), tail = model.bytes.rfind("]}");
        const bool fresh = now == model || (failed != failed_anyway && now.exists && now.mode == model.mode &&
                                            head != std::string::npos && tail != std::string::npos &&
                                            now.bytes.starts_with(model.bytes.substr(0, head)) &&
                                            now.bytes.ends_with(model.bytes.substr(tail)));
        const bool refused = got.console.find("\n" + s.report + " Can't create\n") != std::string::npos;
        if (!old && !fresh) {
            problems.push_back(s.report + " holds neither its old content (" + describe(before.back()) +
                               ") nor the new one (" + describe(reference.outputs.back()) + "): " + describe(now));
        } else if (refused && !old && !expected.report_renamed) {
            problems.push_back(s.report + " is reported as not created, but was replaced: " + summary);
        } else if (reached_summary && !refused && !fresh &&
                   !got.console.ends_with("Out of memory\nPress <Enter> to quit\n")) {
            problems.push_back(s.report + " was not written, but the console does not say so: " + summary);
        }
    }
    for (const std::string& relative : failed_anyway) {
        if (reached_summary && !reported(relative))
            problems.push_back(relative + " fails in every run, but is not reported as failed: " + summary);
    }
    std::size_t more = 0;
    for (const std::string& relative : failed) more += failed_anyway.count(relative) ? 0 : 1;
    if (more > 1 && !expected.group_flush)
        problems.push_back(std::to_string(more) + " more files fail than in the run without a failure: " + summary);

    const std::string press_enter = "Press <Enter> to quit\n";
    if (!got.console.ends_with(press_enter)) {
        problems.push_back("the console does not end with the wait: " + summary);
        return;
    }
    if (reached_summary) return;
    const std::string before_wait = got.console.substr(0, got.console.size() - press_enter.size());
    const std::size_t start = before_wait.size() < 2 ? 0 : before_wait.rfind('\n', before_wait.size() - 2) + 1;
    const std::string message = before_wait.empty() ? "" : before_wait.substr(start, before_wait.size() - 1 - start);
    // Out of memory may also end a line that was being printed.
    const bool known = before_wait.ends_with("Out of memory\n") || message == s.input + " not found" ||
                       message == s.output_folder + " Can't create" ||
                       message == s.output_folder + " is in use by another weldrix run" ||
                       (!expected.failed_path.empty() && message == expected.failed_path + " can't be read");
    if (!known) problems.push_back("unknown failure message \"" + message + "\": " + summary);
}

}  // namespace

std::vector<std::string> check_outcome(const fault_scenario& s, const std::vector<output_state>& before,
                                       const expectation& expected, const run_outcome& got) {
    std::vector<std::string> problems;
    if (!got.exception.empty()) problems.push_back("an exception escaped the run: " + got.exception);
    for (const std::string& temporary : got.temporaries) problems.push_back("temporary file left: " + temporary);
    if (got.leaked_descriptors != 0) {
        problems.push_back(std::to_string(got.leaked_descriptors) + " file descriptors left open");
    }
    const run_outcome& reference = *expected.reference;
    const std::string summary = "exit code " + std::to_string(got.exit_code) + ", console:\n" + got.console;

    const auto same = [](const run_outcome& a, const run_outcome& b) {
        return a.exit_code == b.exit_code && a.console == b.console && a.outputs == b.outputs;
    };
    if (expected.unchanged || expected.alternative) {
        const run_outcome& model = expected.unchanged ? reference : *expected.alternative;
        if (model.exit_code != s.exit_code) problems.push_back("the run it must match failed:\n" + model.console);
        // A batch lists the folders of its input and then looks for subfiles in them: one failed
        // listing of a folder may be the walk's (the run where it always fails) or the subfile
        // search's, which passes over it (often as the run without a failure).
        const bool batch_as_reference = !s.output_folder.empty() && expected.alternative && same(got, reference);
        if (!same(got, model) && !batch_as_reference) {
            problems.push_back(std::string(expected.unchanged ? "the run differs from the one without a failure"
                                                              : "the run differs from the one where the call "
                                                                "fails every time") +
                               ": " + summary);
        }
        return problems;
    }
    if (!s.output_folder.empty()) {
        check_batch(s, before, expected, got, problems);
        return problems;
    }

    const std::vector<std::string> files = replaced_files(s);
    bool outputs_written = true;  // the report's failure message says whether they were
    for (std::size_t i = 0; i < files.size(); ++i) {
        const output_state& now = got.outputs[i];
        const bool old = now == before[i];
        const bool fresh = now == reference.outputs[i];
        const bool renamed = i < s.outputs.size() ? expected.after_rename : expected.report_renamed;
        if (i < s.outputs.size() && !fresh) outputs_written = false;
        if (!old && !fresh) {
            problems.push_back(files[i] + " holds neither its old content (" + describe(before[i]) +
                               ") nor the new one (" + describe(reference.outputs[i]) + "): " + describe(now));
        } else if (got.exit_code == 0 && !fresh) {
            problems.push_back("exit code 0, but " + files[i] + " does not hold the new content");
        } else if (got.exit_code != 0 && !old && !renamed) {
            problems.push_back(files[i] + " replaced by a run that failed before renaming it: " + summary);
        }
    }
    if (got.exit_code == 0) {
        if (got.console != reference.console) problems.push_back("console text differs: " + summary);
        return problems;
    }
    if (got.exit_code != exit_file_error) problems.push_back("unexpected " + summary);
    const std::string press_enter = "Press <Enter> to quit\n";
    const std::string& text = got.console;
    if (text.size() < press_enter.size() ||
        text.compare(text.size() - press_enter.size(), std::string::npos, press_enter) != 0) {
        problems.push_back("the console does not end with the wait: " + summary);
        return problems;
    }
    const std::string before_wait = text.substr(0, text.size() - press_enter.size());
    // The message is the last line. Out of memory may also end a line that was being printed.
    const std::string out_of_memory = "Out of memory\n";
    std::string printed;
    if (before_wait.size() >= out_of_memory.size() &&
        before_wait.compare(before_wait.size() - out_of_memory.size(), std::string::npos, out_of_memory) == 0) {
        printed = before_wait.substr(0, before_wait.size() - out_of_memory.size());
    } else {
        const std::size_t end = before_wait.empty() ? 0 : before_wait.size() - 1;
        const std::size_t start = end == 0 ? 0 : before_wait.rfind('\n', end - 1) + 1;
        const std::string message = before_wait.substr(start, end - start);
        bool known = message == s.input + " not found" ||
                     (!expected.failed_path.empty() && message == expected.failed_path + " can't be read");
        for (const std::string& output : s.outputs) known = known || message == output + " Can't create";
        if (!s.report.empty()) {
            known = known ||
                    message == s.report + " Can't create" + (outputs_written ? " (the output file was written)" : "");
        }
        if (!known) problems.push_back("unknown failure message \"" + message + "\": " + summary);
        printed = before_wait.substr(0, start);
    }
    if (!starts_with(reference.console, printed)) {
        problems.push_back("the console text before the failure message differs from the run without one: " + summary);
    }
    return problems;
}

}  // namespace weldrix::test
