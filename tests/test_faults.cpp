// Fault injection through the host layer: every system call a whole run makes is failed in turn,
// with each error that call can really give, and what the run leaves is checked (see
// check_outcome in fault_scenarios.hpp).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <tuple>

#include "fault_scenarios.hpp"
#include "faulty_file_system.hpp"

namespace weldrix::test {
namespace {

// Whether a failure may change a successful result: a subfile candidate (not the input, not an
// output) that is missing, or that this process may not read, is passed over like a missing file.
bool may_change_result(const fault_scenario& s, const call_record& call, int error) {
    if (error != ENOENT && error != EACCES && error != EPERM) return false;
    if (call.call != fs_call::status && call.call != fs_call::list_folder && call.call != fs_call::open_read &&
        call.call != fs_call::real_path)
        return false;
    if (call.path == s.input) return false;
    for (const std::string& file : replaced_files(s)) {
        if (call.path == file) return false;
    }
    // A temporary file of the run's own (a report's spool, read back) is no subfile either.
    return call.path.find("/.weldrix-") == std::string::npos;
}

// Whether one of files was renamed into place before call n (the rename's path is its target).
bool renamed_before(const std::vector<std::string>& files, const std::vector<call_record>& trace, std::uint64_t n) {
    for (std::uint64_t i = 0; i + 1 < n && i < trace.size(); ++i) {
        if (trace[i].call != fs_call::rename) continue;
        for (const std::string& file : files) {
            if (trace[i].path == file) return true;
        }
    }
    return false;
}

// Fails call N of the scenario's run, for N = 1, 2, ... until the run makes no call N, with every
// error that call can give, and checks each run. Prints the number of fault points. A call is
// aimed at as the Kth of its kind on its path, which finds it again when the report's thread and
// the worker interleave their calls otherwise than in the run without a failure.
void fail_every_call(const std::string& name) {
    scenario_folder folder;
    const fault_scenario& s = folder.scenario(name);
    const std::vector<output_state> before = folder.initial_outputs(s);

    faulty_file_system counting(host_file_system());
    const run_outcome reference = folder.run(s, counting);
    ASSERT_EQ(reference.exit_code, s.exit_code) << reference.console;
    ASSERT_TRUE(reference.temporaries.empty());
    const std::vector<call_record> calls = counting.trace();

    std::map<std::tuple<fs_call, std::string, int>, run_outcome> alternatives;
    std::map<std::tuple<fs_call, std::string>, std::uint64_t> made;  // calls so far, per kind and path
    std::size_t points = 0;
    std::vector<std::string> violations;
    for (std::uint64_t n = 1; n <= calls.size(); ++n) {
        const call_record& call = calls[n - 1];
        const std::uint64_t nth = ++made[{call.call, faulty_file_system::same_temporaries(call.path)}];
        for (const int error : injectable_errors(call.call)) {
            ++points;
            faulty_file_system fs(host_file_system());
            fs.fail_nth(call.call, call.path, nth, error);
            const run_outcome got = folder.run(s, fs);
            expectation expected;
            expected.reference = &reference;
            expected.unchanged = error == EINTR || error == short_write;
            expected.after_rename = renamed_before(s.outputs, fs.trace(), fs.fired_at());
            expected.report_renamed = !s.report.empty() && renamed_before({s.report}, fs.trace(), fs.fired_at());
            expected.failed_path = call.path;
            expected.group_flush = call.call == fs_call::sync_file_system;
            if (may_change_result(s, call, error)) {
                const auto key = std::make_tuple(call.call, call.path, error);
                auto alternative = alternatives.find(key);
                if (alternative == alternatives.end()) {
                    faulty_file_system always(host_file_system());
                    always.fail_always(call.call, call.path, error);
                    alternative = alternatives.emplace(key, folder.run(s, always)).first;
                }
                expected.alternative = &alternative->second;
            }
            std::vector<std::string> problems;
            if (!fs.fired())
                problems.push_back("the run made no such call");
            else
                problems = check_outcome(s, before, expected, got);
            for (const std::string& problem : problems) {
                violations.push_back("call " + std::to_string(n) + " (" + name_of(call.call) + " " + call.path +
                                     ") failing with " + error_name(error) + ": " + problem);
            }
        }
    }
    faulty_file_system beyond(host_file_system());
    beyond.fail_call(calls.size() + 1, EIO);
    folder.run(s, beyond);
    EXPECT_FALSE(beyond.fired()) << "the run makes more calls when repeated";

    std::printf("[ faults   ] %s: %zu calls, %zu fault points, %zu violations\n", name.c_str(), calls.size(), points,
                violations.size());
    ::testing::Test::RecordProperty("fault_points", static_cast<int>(points));
    for (std::size_t i = 0; i < violations.size() && i < 20; ++i) ADD_FAILURE() << violations[i];
    EXPECT_EQ(violations.size(), 0u);
}

TEST(Faults, EveryFailedSystemCallOfAPlainRun) { fail_every_call("plain"); }
TEST(Faults, EveryFailedSystemCallOfARunWithSubfiles) { fail_every_call("subfiles"); }
TEST(Faults, EveryFailedSystemCallOfAnInPlaceRun) { fail_every_call("in place"); }
TEST(Faults, EveryFailedSystemCallOfABatch) { fail_every_call("batch"); }
TEST(Faults, EveryFailedSystemCallOfABatchInPlace) { fail_every_call("batch in place"); }

}  // namespace
}  // namespace weldrix::test
