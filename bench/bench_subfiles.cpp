// Subfile inlining ("-s") end to end: the built tool runs as a child process on parts of the
// bundled library and on generated parts; each run reports its wall time (the benchmark's time),
// the child's processor time (user + system, counter cpu_ms: on a shared machine the wall time
// includes waiting for a core) and its peak resident memory (wait4's ru_maxrss, counter peak_MB).
//
//   largest part     the library part that inlines the most lines, and the largest part file
//   every part       each part of the library's parts folder; the slowest and the hungriest
//   100k references  a part referencing one generated 50-line, stud-like file 100,000 times at
//                    100,000 places, and one referencing the library's stud.dat 100,000 times
//   explosion        ten files each referencing the next ten times (references only), and a
//                    fan-out whose every copy also carries 40 quads at places of its own
//   chain            a multi-part document of 20,000 and 100,000 sections, each referencing the
//                    next: every section is a unit expanded on its own, and every reference is
//                    checked against the chain of sections above it
//   geometry check   in process, the parts of a library cleaned as a -s batch cleans them
//                    (read, inline, unify, text), without and with the geometry check, in
//                    alternated rounds: the medians of each and their ratio, side by side.
//                    WELDRIX_BENCH_LIBRARY names the library (default the bundled one; every
//                    file of its parts/ folder, subparts included), WELDRIX_BENCH_EVERY=N takes
//                    every Nth of those files only:
//                      WELDRIX_BENCH_LIBRARY=LIB WELDRIX_BENCH_EVERY=4 bench_subfiles
//                          --benchmark_filter=GeometryCheck
//
// WELDRIX_BENCH_BINARY, when set, names the tool to run instead of the one built with the
// benchmarks, so that two builds are compared in one batch.
//
// Targets on a 2-core machine: every part under 50 ms and 64 MB, 100,000 references under 5 s, a
// chain of 20,000 sections under 1 s and one of 100,000 under 5 s.
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "bench_support.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "document/subfile_library.hpp"
#include "io/console.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path library = fs::path(WELDRIX_TEST_DATA) / "ldraw";

using weldrix::bench::scratch;
using weldrix::bench::write_text;

// "f<k>.dat"
std::string file(int k) { return std::string("f").append(std::to_string(k)).append(".dat"); }

struct child_run {
    double seconds = 0;
    double cpu_ms = 0;
    double peak_mb = 0;
    int status = -1;
    std::string output;
};

// Runs "weldrix -s [-l library] in out" with standard input from /dev/null; standard output goes
// to a file that is read back.
child_run run_tool(const fs::path& input, bool with_library) {
    const fs::path out_file = input.parent_path() / "out.dat";
    const fs::path console_file = input.parent_path() / "console.txt";
    const char* binary = std::getenv("WELDRIX_BENCH_BINARY");
    std::vector<std::string> args = {binary && *binary ? binary : WELDRIX_BINARY, "-s"};
    if (with_library) {
        args.push_back("-l");
        args.push_back(library.string());
    }
    args.push_back(input.string());
    args.push_back(out_file.string());
    const weldrix::bench::child_exit done = weldrix::bench::run_child(std::move(args), console_file);
    child_run run;
    run.seconds = done.seconds;
    run.peak_mb = weldrix::bench::peak_resident_mb(done.usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    run.cpu_ms = ms(done.usage.ru_utime) + ms(done.usage.ru_stime);
    run.status = done.status;
    std::ifstream in(console_file, std::ios::binary);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

void check(benchmark::State& state, const child_run& run) {
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) state.SkipWithError("the tool failed");
}

// Runs the tool on input once per iteration, each run's wall time the iteration's time; check_run,
// when given, looks at each run after the exit status. Sets the counters peak_MB (the largest peak
// of any run) and cpu_ms (the mean processor time of a run).
void time_runs(benchmark::State& state, const fs::path& input, bool with_library,
               const std::function<void(const child_run&)>& check_run = {}) {
    double peak = 0, cpu = 0;
    for (auto _ : state) {
        const child_run run = run_tool(input, with_library);
        check(state, run);
        if (check_run) check_run(run);
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peak_mb);
        cpu += run.cpu_ms / static_cast<double>(state.max_iterations);
    }
    state.counters["peak_MB"] = peak;
    state.counters["cpu_ms"] = cpu;
}

// Number of lines inlined for a part (every line the limit counts), in process.
double inlined_lines(const fs::path& part, bool with_library) {
    weldrix::run_options options;
    options.input = part.string();
    if (with_library) options.library_folders.push_back(library.string());
    weldrix::search_paths paths(weldrix::host_file_system());
    for (const std::string& d : weldrix::search_directories(options)) paths.add_path(d);
    weldrix::ldraw_file document;
    weldrix::string_console out;
    if (document.read(weldrix::host_file_system(), options.input, out) != weldrix::ldraw_file::read_result::ok)
        return -1;
    double n = 0;
    document.expand_subfiles(paths, out, [&](const weldrix::ldraw_line&) { ++n; });
    return n;
}

std::vector<fs::path> library_parts() {
    std::vector<fs::path> parts;
    for (const auto& e : fs::directory_iterator(library / "parts")) {
        if (e.is_regular_file() && e.path().extension() == ".dat") parts.push_back(e.path());
    }
    std::sort(parts.begin(), parts.end());
    return parts;
}

// Runs one part from a scratch copy, the way a user would.
void part_benchmark(benchmark::State& state, const std::string& name) {
    scratch dir;
    fs::copy_file(library / "parts" / name, dir / name);
    time_runs(state, dir / name, true);
    state.counters["inlined_lines"] = inlined_lines(dir / name, true);
}

void BM_MostInliningPart(benchmark::State& state) { part_benchmark(state, "22678.dat"); }
BENCHMARK(BM_MostInliningPart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_LargestPartFile(benchmark::State& state) { part_benchmark(state, "10048.dat"); }
BENCHMARK(BM_LargestPartFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// Every part once per iteration; the time is that of the slowest part in the iteration. The
// counters give the largest mean processor time and the largest peak memory of any part, the
// label names those parts.
void BM_EveryPart(benchmark::State& state) {
    const std::vector<fs::path> parts = library_parts();
    scratch dir;
    std::vector<double> cpu(parts.size(), 0.0), peak(parts.size(), 0.0);
    for (auto _ : state) {
        double worst = 0;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const fs::path copy = dir / parts[i].filename().string();
            fs::copy_file(parts[i], copy, fs::copy_options::overwrite_existing);
            const child_run run = run_tool(copy, true);
            check(state, run);
            worst = std::max(worst, run.seconds);
            cpu[i] += run.cpu_ms / static_cast<double>(state.max_iterations);
            peak[i] = std::max(peak[i], run.peak_mb);
        }
        state.SetIterationTime(worst);
    }
    const auto slowest = std::max_element(cpu.begin(), cpu.end()) - cpu.begin();
    const auto hungriest = std::max_element(peak.begin(), peak.end()) - peak.begin();
    state.counters["parts"] = static_cast<double>(parts.size());
    state.counters["cpu_ms"] = cpu[static_cast<std::size_t>(slowest)];
    state.counters["peak_MB"] = peak[static_cast<std::size_t>(hungriest)];
    state.SetLabel("most time " + parts[static_cast<std::size_t>(slowest)].filename().string() + ", most memory " +
                   parts[static_cast<std::size_t>(hungriest)].filename().string());
}
BENCHMARK(BM_EveryPart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// 100,000 references to one file, on a 316-wide grid of places 20 apart.
std::string hundred_thousand_references(const std::string& name) {
    std::string text = "0 100,000 references\n";
    char line[128];
    for (int k = 0; k < 100000; ++k) {
        std::snprintf(line, sizeof line, "1 16 %d 0 %d 1 0 0 0 1 0 0 0 1 %s\n", (k % 316) * 20, (k / 316) * 20,
                      name.c_str());
        text += line;
    }
    return text;
}

// A stud-like 50-line file: two comments, 16 edge lines, 16 quads and 16 triangles around a
// ring of 16 points.
std::string generated_stud() {
    std::string text = "0 generated stud\n0 BFC CERTIFY CCW\n";
    char line[256];
    const auto at = [](int i, double& x, double& z) {
        const double a = 2 * std::numbers::pi * (i % 16) / 16;
        x = std::round(6 * std::cos(a) * 1e4) / 1e4;
        z = std::round(6 * std::sin(a) * 1e4) / 1e4;
    };
    for (int kind = 0; kind < 3; ++kind) {
        for (int i = 0; i < 16; ++i) {
            double x1, z1, x2, z2;
            at(i, x1, z1);
            at(i + 1, x2, z2);
            if (kind == 0) std::snprintf(line, sizeof line, "2 24 %g 0 %g %g 0 %g\n", x1, z1, x2, z2);
            if (kind == 1) {
                std::snprintf(line, sizeof line, "4 16 %g 0 %g %g 0 %g %g -4 %g %g -4 %g\n", x1, z1, x2, z2, x2, z2, x1,
                              z1);
            }
            if (kind == 2) std::snprintf(line, sizeof line, "3 16 0 -4 0 %g -4 %g %g -4 %g\n", x2, z2, x1, z1);
            text += line;
        }
    }
    return text;
}

void BM_HundredThousandReferencesToA50LineFile(benchmark::State& state) {
    scratch dir;
    write_text(dir / "stud50.dat", generated_stud());
    write_text(dir / "many.dat", hundred_thousand_references("stud50.dat"));
    time_runs(state, dir / "many.dat", false, [&](const child_run& run) {
        if (run.output.find("\n1600000 Edge lines\n0 Conditional lines\n1600000 Triangles\n1600000 Quads\n") ==
            std::string::npos) {
            state.SkipWithError("unexpected counts");
        }
    });
}
BENCHMARK(BM_HundredThousandReferencesToA50LineFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// stud.dat of the library inlines 164 lines: 100,000 of them pass the limit, which stops the run.
void BM_HundredThousandLibraryStuds(benchmark::State& state) {
    scratch dir;
    write_text(dir / "many.dat", hundred_thousand_references("stud.dat"));
    time_runs(state, dir / "many.dat", true, [&](const child_run& run) {
        state.SetLabel(run.output.find("Subfile expansion stopped") != std::string::npos ? "stopped at the limit"
                                                                                         : "all inlined");
    });
}
BENCHMARK(BM_HundredThousandLibraryStuds)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// Ten files each referencing the next ten times, nothing else: runs until the limit stops it.
void BM_ExplosionOfReferences(benchmark::State& state) {
    scratch dir;
    for (int k = 0; k < 10; ++k) {
        std::string text;
        for (int j = 0; j < 10; ++j) {
            text.append("1 16 ")
                .append(std::to_string(j))
                .append(" 0 0 1 0 0 0 1 0 0 0 1 ")
                .append(file(k + 1))
                .append("\n");
        }
        write_text(dir / file(k), text);
    }
    write_text(dir / "f10.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_text(dir / "main.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f0.dat\n");
    time_runs(state, dir / "main.dat", false, [&](const child_run& run) {
        if (run.output.find("Subfile expansion stopped") == std::string::npos) state.SkipWithError("no limit");
    });
}
BENCHMARK(BM_ExplosionOfReferences)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// A fan-out whose copies all lie at different places and each carry 40 quads of their own: the
// snap targets grow with every inlined quad. levels files, each referencing the next ten times;
// the argument is the number of levels (5: 11,111 copies, 444,440 quads, 555,550 lines).
void BM_ExplosionOfDistinctQuads(benchmark::State& state) {
    const int levels = static_cast<int>(state.range(0));
    scratch dir;
    char line[256];
    for (int k = 0; k < levels; ++k) {
        std::string text;
        if (k + 1 < levels) {
            for (int j = 0; j < 10; ++j) {
                std::snprintf(line, sizeof line, "1 16 %.0f 0 0 1 0 0 0 1 0 0 0 1 f%d.dat\n", j * std::pow(10.0, k + 1),
                              k + 1);
                text += line;
            }
        }
        for (int q = 0; q < 40; ++q) {
            const double x = q * 0.1;
            std::snprintf(line, sizeof line, "4 16 %g 1 0 %g 2 0 %g 3 0 %g 4 0\n", x + 0.01, x + 0.02, x + 0.03,
                          x + 0.04);
            text += line;
        }
        write_text(dir / file(k), text);
    }
    write_text(dir / "main.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f0.dat\n");
    time_runs(state, dir / "main.dat", false);
    double copies = 0;
    for (int k = 0; k < levels; ++k) copies += std::pow(10.0, k);
    state.counters["quads"] = copies * 40;
}
BENCHMARK(BM_ExplosionOfDistinctQuads)->Arg(4)->Arg(5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// A multi-part document of sections s0 to s<n-1>, each referencing the next; the last holds an
// edge line. Each section is cleaned on its own and inlines the chain below it, until the limit of
// inlined lines stops the expansion.
void BM_ChainOfSections(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    scratch dir;
    std::string text;
    for (int k = 0; k < sections; ++k) {
        text += "0 FILE s" + std::to_string(k) + ".ldr\n";
        text += k + 1 < sections ? "1 16 0 0 0 1 0 0 0 1 0 0 0 1 s" + std::to_string(k + 1) + ".ldr\n"
                                 : std::string("2 24 0 0 0 1 0 0\n");
    }
    write_text(dir / "chain.ldr", text);
    time_runs(state, dir / "chain.ldr", false, [&](const child_run& run) {
        if (run.output.find("Circular") != std::string::npos) state.SkipWithError("a cycle was reported");
    });
}
BENCHMARK(BM_ChainOfSections)->Arg(20000)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The parts of a library cleaned as a -s batch cleans them (run_job, one subfile library shared by
// all), without and with the geometry check, round by round with the order swapped each round, so
// that neither always runs on a cache the other warmed. A first pass, not timed, reads every
// subfile once. The iteration time is the round's (both); the counters give each mode's median,
// their ratio and the faults warned about. Times are the process's processor time: on a shared
// machine the wall time also holds the waits for a core, which drown a difference of a few percent.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_LibraryGeometryCheck(benchmark::State& state) {
    const char* named = std::getenv("WELDRIX_BENCH_LIBRARY");
    const fs::path root = named && *named ? fs::path(named) : library;
    const char* every_text = std::getenv("WELDRIX_BENCH_EVERY");
    const std::size_t every = every_text ? std::max(1, std::atoi(every_text)) : 1;
    std::vector<fs::path> parts;
    for (const auto& e : fs::recursive_directory_iterator(root / "parts")) {
        if (e.is_regular_file() && e.path().extension() == ".dat") parts.push_back(e.path());
    }
    std::sort(parts.begin(), parts.end());
    std::vector<fs::path> chosen;
    for (std::size_t i = 0; i < parts.size(); i += every) chosen.push_back(parts[i]);

    weldrix::file_system& host = weldrix::host_file_system();
    weldrix::subfile_library shared(host);
    weldrix::run_options options;
    options.library_folders.push_back(root.string());
    options.clean.snap_on_subfiles = true;
    options.clean.record_changes = weldrix::clean_options::changes::totals;  // as a batch without -r
    struct pass {
        double seconds = 0;
        std::size_t faults = 0, bytes = 0;
    };
    const auto clean_all = [&](bool check) {
        weldrix::clean_options clean = options.clean;
        clean.check_geometry = check;
        pass done;
        const double start = cpu_seconds();
        for (const fs::path& part : chosen) {
            weldrix::run_options file_options = options;
            file_options.input = part.string();
            weldrix::search_paths paths(shared);
            for (const std::string& d : weldrix::search_directories(file_options)) paths.add_path(d);
            weldrix::file_job job{weldrix::file_paths(part.string(), {}),
                                  clean,
                                  &paths,
                                  false,
                                  false,
                                  true,
                                  false,
                                  part.filename().string()};
            weldrix::job_observer quiet;
            const weldrix::job_outcome outcome = weldrix::run_job(host, job, quiet);
            done.faults += outcome.totals.geometry_warned;
            done.bytes += outcome.text.size();
        }
        done.seconds = cpu_seconds() - start;
        return done;
    };
    const pass warm = clean_all(false);
    std::vector<double> off, on;
    std::size_t faults = 0;
    for (auto _ : state) {
        const bool check_first = off.size() % 2 == 1;
        const pass first = clean_all(check_first), second = clean_all(!check_first);
        const pass& without = check_first ? second : first;
        const pass& with = check_first ? first : second;
        if (without.bytes != warm.bytes || with.bytes != warm.bytes) state.SkipWithError("the outputs differ");
        off.push_back(without.seconds);
        on.push_back(with.seconds);
        faults = with.faults;
        state.SetIterationTime(first.seconds + second.seconds);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    state.counters["files"] = static_cast<double>(chosen.size());
    state.counters["check0_s"] = median(off);
    state.counters["check1_s"] = median(on);
    state.counters["ratio"] = median(on) / median(off);
    // The least of the rounds moves least with what else runs on a shared machine.
    state.counters["check0_min_s"] = off.empty() ? 0.0 : *std::min_element(off.begin(), off.end());
    state.counters["check1_min_s"] = on.empty() ? 0.0 : *std::min_element(on.begin(), on.end());
    state.counters["faults"] = static_cast<double>(faults);
}
BENCHMARK(BM_LibraryGeometryCheck)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace

BENCHMARK_MAIN();
