#include "fault_scenarios.hpp"

#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <new>
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

    scenarios_.push_back({"plain", {dir_ / "part.dat", dir_ / "plain.dat"}, dir_ / "part.dat", {dir_ / "plain.dat"}});
    scenarios_.push_back({"subfiles",
                          {"-s", "-l", lib, dir_ / "part.dat", dir_ / "out/subfiles.dat"},
                          dir_ / "part.dat",
                          {dir_ / "out/subfiles.dat"}});
    scenarios_.push_back({"in place",
                          {"-s", "-l", lib, dir_ / "in/place.dat", dir_ / "in/place.dat"},
                          dir_ / "in/place.dat",
                          {dir_ / "in/place.dat"}});
    // Batch: once the tool takes "[options] INDIR OUTDIR", a scenario cleaning a few parts of an
    // input folder (one with subfiles, one that cannot be read) into an output folder goes here,
    // with all its output files in `outputs` and their initial states in initial_outputs. The
    // checks take several outputs already; what the exit code must say when some files were
    // written and others not is for check_outcome to learn from the batch mode's definition.
}

std::vector<output_state> scenario_folder::initial_outputs(const fault_scenario& s) const {
    if (s.name == "plain") return {absent};
    if (s.name == "subfiles") return {old_output};
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
    for (std::size_t i = 0; i < s.outputs.size(); ++i) {
        std::filesystem::remove(s.outputs[i]);
        if (initial[i].exists) write_with_mode(s.outputs[i], initial[i].bytes, initial[i].mode);
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
    outcome.console = std::move(out.text);
    for (const std::string& output : s.outputs) outcome.outputs.push_back(state_of(output));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
        if (starts_with(entry.path().filename().string(), ".weldrix-")) outcome.temporaries.push_back(entry.path());
    }
    for (const std::string& temporary : outcome.temporaries) std::filesystem::remove(temporary);
    return outcome;
}

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

    if (expected.unchanged || expected.alternative) {
        const run_outcome& model = expected.unchanged ? reference : *expected.alternative;
        if (model.exit_code != 0) problems.push_back("the run it must match failed:\n" + model.console);
        if (got.exit_code != model.exit_code || got.console != model.console || got.outputs != model.outputs) {
            problems.push_back(std::string(expected.unchanged ? "the run differs from the one without a failure"
                                                              : "the run differs from the one where the call "
                                                                "fails every time") +
                               ": " + summary);
        }
        return problems;
    }

    for (std::size_t i = 0; i < s.outputs.size(); ++i) {
        const output_state& now = got.outputs[i];
        const bool old = now == before[i];
        const bool fresh = now == reference.outputs[i];
        if (!old && !fresh) {
            problems.push_back(s.outputs[i] + " holds neither its old content (" + describe(before[i]) +
                               ") nor the new one (" + describe(reference.outputs[i]) + "): " + describe(now));
        } else if (got.exit_code == 0 && !fresh) {
            problems.push_back("exit code 0, but " + s.outputs[i] + " does not hold the new content");
        } else if (got.exit_code != 0 && !old && !expected.after_rename) {
            problems.push_back(s.outputs[i] + " replaced by a run that failed before renaming it: " + summary);
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
        if (!known) problems.push_back("unknown failure message \"" + message + "\": " + summary);
        printed = before_wait.substr(0, start);
    }
    if (!starts_with(reference.console, printed)) {
        problems.push_back("the console text before the failure message differs from the run without one: " + summary);
    }
    return problems;
}

}  // namespace weldrix::test
