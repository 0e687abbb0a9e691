// A single run against its floor: the tool (reading, unifying, writing a part) and the floor
// program (bench/floor.cpp: read, convert every number, write), alternated round by round on two
// generated parts, with the medians of wall time, processor time and peak memory and the tool's
// ratio to the floor.
// A second tool (the build from before a change) may run in the same rounds, side by side:
//
//   build/bench/bench_floor [ROUNDS] [OTHER_WELDRIX]
//
// The parts: an 810,000-line jittered sheet of quads (nearly every vertex merges with a partner),
// the 1,000,000-line part of bench_io (line types in the proportions of real parts) and a
// 500,000-line regular grid of whole-number quads whose corners are shared exactly (a baseplate).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "generated_parts.hpp"

namespace {

using namespace weldrix::bench;

struct program {
    std::string name;
    std::vector<std::string> args;  // before IN OUT
    std::vector<double> seconds, cpu_seconds, megabytes;
};

// Processor time (user and system) of a child: on a shared machine it moves less than wall time
// with what else runs.
double cpu_seconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void measure(const std::string& part_name, const fs::path& input, const scratch& folder, std::vector<program> programs,
             int rounds) {
    // Each round takes the programs in the next of their orders, so that none always runs right
    // after the file was written or after the same other program: a program run right after
    // another one ends finds the memory that one gave back taken from the machine, and the same
    // tool in two places of a fixed cycle measured 10% apart.
    std::vector<std::size_t> order(programs.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    for (int round = 0; round < rounds; ++round, std::next_permutation(order.begin(), order.end())) {
        for (const std::size_t k : order) {
            program& p = programs[k];
            std::vector<std::string> args = p.args;
            args.push_back(input.string());
            args.push_back((folder / "out.dat").string());
            const child_exit run = run_child(args, folder / "console.txt");
            if (run.status != 0) {
                std::fprintf(stderr, "%s failed on %s (status %d)\n", p.name.c_str(), part_name.c_str(), run.status);
                std::exit(1);
            }
            p.seconds.push_back(run.seconds);
            p.cpu_seconds.push_back(cpu_seconds(run.usage));
            p.megabytes.push_back(peak_resident_mb(run.usage));
        }
    }
    const double floor_s = median(programs[0].seconds), floor_cpu = median(programs[0].cpu_seconds),
                 floor_mb = median(programs[0].megabytes);
    std::printf("%s (%d rounds, medians)\n", part_name.c_str(), rounds);
    std::printf("  %-14s %9s %9s %9s %9s %11s %9s\n", "program", "wall s", "x floor", "cpu s", "x floor", "peak MB",
                "x floor");
    for (const program& p : programs) {
        const double s = median(p.seconds), cpu = median(p.cpu_seconds), mb = median(p.megabytes);
        std::printf("  %-14s %9.3f %9.2f %9.3f %9.2f %11.1f %9.2f\n", p.name.c_str(), s, s / floor_s, cpu,
                    cpu / floor_cpu, mb, mb / floor_mb);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<program> programs = {{"floor", {WELDRIX_FLOOR}, {}, {}, {}},
                                     {"weldrix", {WELDRIX_BINARY, "--no-wait"}, {}, {}, {}}};
    if (argc > 2) programs.push_back({"other weldrix", {argv[2], "--no-wait"}, {}, {}, {}});
    const scratch folder;
    write_text(folder / "sheet.dat", jittered_sheet(810'000, 7));
    write_text(folder / "mixed.dat", generate_part(1'000'000));
    write_text(folder / "grid.dat", regular_grid(500'000));
    measure("810,000-line jittered sheet", folder / "sheet.dat", folder, programs, rounds);
    measure("1,000,000-line mixed part", folder / "mixed.dat", folder, programs, rounds);
    measure("500,000-line regular grid", folder / "grid.dat", folder, programs, rounds);
}
