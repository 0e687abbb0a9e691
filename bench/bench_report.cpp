// Memory of a change report ("-r"): the built tool runs as a child process, with and without a
// report, and each run reports the child's peak resident memory (wait4's ru_maxrss).
//
//   BM_report_single/<form>   a 300,000-line jittered sheet of quads in which nearly every line
//                             changes (the worst case for a report's size); form 0 is the run
//                             without a report, 1 to 4 report to x.txt, x.json, x.html and "-"
//   BM_report_batch/<files>/<form>   a folder of that many 5,000-line sheets, "-j 2", forms as
//                             above (0 to 3)
//
// Counters: peak_MB of the run, plain_MB of the same run without a report, and ratio (their
// quotient). Targets: ratio at most 1.5 for every form, and a batch's peak with a report about
// the same for any number of files.
//
// Run a Release build, e.g. `build/bench/bench_report`. WELDRIX_BENCH_BINARY, when set, names
// the tool to run instead of the one built with the benchmark (an older build, for a before and
// after from one run).
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "generated_parts.hpp"

namespace {

namespace fs = std::filesystem;

using weldrix::bench::jittered_sheet;
using weldrix::bench::scratch;
using weldrix::bench::write_text;

// A fresh folder, removed at the end of the program.
scratch& folder() {
    static scratch s;
    return s;
}

// Makes files in a child process. A child's peak memory as wait4 reports it is at least the
// parent's at the time of the spawn (Linux keeps the high-water mark of the memory an exec
// replaces), so this process must stay small: the parts are made elsewhere.
template <class Make>
void in_child(Make&& make) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        try {
            make();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("cannot make the parts");
}

// Runs the tool with args (standard input from /dev/null, standard output to a file) and gives
// its peak resident memory in MB.
double peak_mb(const std::vector<std::string>& tool_args) {
    const char* binary = std::getenv("WELDRIX_BENCH_BINARY");
    std::vector<std::string> args = {binary && *binary ? binary : WELDRIX_BINARY, "--no-wait"};
    args.insert(args.end(), tool_args.begin(), tool_args.end());
    const weldrix::bench::child_exit run = weldrix::bench::run_child(std::move(args), folder() / "console.txt");
    // Exit 0, or 3 for a check; anything else is a failed run.
    if (!WIFEXITED(run.status) || (WEXITSTATUS(run.status) != 0 && WEXITSTATUS(run.status) != 3))
        throw std::runtime_error("the tool failed");
    return weldrix::bench::peak_resident_mb(run.usage);
}

const char* const report_names[] = {"", "x.txt", "x.json", "x.html", "-"};

// The peak of a run with the report of form (0: none), measured once per run and form.
void measure(benchmark::State& state, const std::vector<std::string>& run, int form) {
    static std::map<std::vector<std::string>, double> plain;
    if (!plain.count(run)) plain[run] = peak_mb(run);
    std::vector<std::string> args;
    if (form > 0) {
        args = {"-r", form == 4 ? "-" : (folder() / report_names[form]).string()};
    }
    args.insert(args.end(), run.begin(), run.end());
    double peak = 0;
    for (auto _ : state) peak = form == 0 ? plain[run] : peak_mb(args);
    state.counters["peak_MB"] = peak;
    state.counters["plain_MB"] = plain[run];
    state.counters["ratio"] = peak / plain[run];
    state.SetLabel(form == 0 ? "no report" : report_names[form]);
}

void BM_report_single(benchmark::State& state) {
    const fs::path input = folder() / "sheet.dat";
    if (!fs::exists(input)) in_child([&] { write_text(input, jittered_sheet(300'000, 1)); });
    measure(state, {input.string(), (folder() / "out.dat").string()}, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_report_single)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_report_batch(benchmark::State& state) {
    const auto files = static_cast<std::size_t>(state.range(0));
    const fs::path input = folder() / std::string("batch").append(std::to_string(files));
    if (!fs::exists(input)) {
        in_child([&] {
            for (std::size_t k = 0; k < files; ++k) {
                write_text(input / std::string("f").append(std::to_string(k)).append(".dat"), jittered_sheet(5'000, k));
            }
        });
    }
    const std::string output = (folder() / std::string("out").append(std::to_string(files))).string();
    measure(state, {"-j", "2", input.string(), output}, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_report_batch)
    ->ArgsProduct({{8, 32, 128}, {0, 1, 2, 3}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
