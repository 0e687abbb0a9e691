// Read and write throughput of the document on a generated 1,000,000-line part.
//
// The part mixes the line types in the proportions of real parts (quads most, then conditional
// lines, triangles, edges, comments and subfile references, a few blank lines), with coordinates
// written as part authors write them: integers and numbers with up to four decimals, magnitudes
// up to a few hundred, CR LF line ends.
//
//   read_bytes  parse from memory          read   read a file by name (open, read, parse)
//   text        build the output bytes     write  build and replace a file by name
//   clean       read, unify and text, without and with the geometry check
//
// Run: build/bench/bench_io [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "bench_support.hpp"
#include "document/ldraw_file.hpp"
#include "generated_parts.hpp"
#include "io/console.hpp"

namespace {

using weldrix::ldraw_file;
using weldrix::line_counts;
using weldrix::string_console;
using weldrix::bench::generate_part;

constexpr int part_lines = 1'000'000;

const std::string& part_bytes() {
    static const std::string bytes = generate_part(part_lines);
    return bytes;
}

// A private folder for the files the benchmarks read and write.
const weldrix::bench::scratch& scratch() {
    static const weldrix::bench::scratch folder;
    return folder;
}

void bm_read_bytes(benchmark::State& state) {
    const std::string& bytes = part_bytes();
    for (auto _ : state) {
        auto document = std::make_unique<ldraw_file>();
        benchmark::DoNotOptimize(document->read_bytes(bytes));
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void bm_read_file(benchmark::State& state) {
    const std::string& bytes = part_bytes();
    const std::string name = (scratch() / "part.dat").string();
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    for (auto _ : state) {
        auto document = std::make_unique<ldraw_file>();
        string_console out;
        if (document->read(weldrix::host_file_system(), name, out) != ldraw_file::read_result::ok)
            state.SkipWithError("cannot read the generated part");
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void bm_text(benchmark::State& state) {
    ldraw_file document;
    document.read_bytes(part_bytes());
    std::size_t size = 0;
    for (auto _ : state) {
        line_counts written;
        const std::string text = document.text(written);
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["lines"] = static_cast<double>(document.main_count);
}

void bm_write_file(benchmark::State& state) {
    ldraw_file document;
    document.read_bytes(part_bytes());
    line_counts written;
    const std::size_t size = document.text(written).size();
    const std::string name = (scratch() / "out.dat").string();
    for (auto _ : state) {
        string_console out;
        if (!document.write(weldrix::host_file_system(), name, out)) state.SkipWithError("cannot write the output");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// A whole cleaning in memory (read, unify, text) without (0) and with (1) the geometry check that
// every run makes, side by side: what the check costs.
void bm_clean(benchmark::State& state) {
    weldrix::clean_options options;
    options.check_geometry = state.range(0) != 0;
    std::size_t faults = 0;
    for (auto _ : state) {
        auto document = std::make_unique<ldraw_file>(options);
        document->read_bytes(part_bytes());
        document->unify_vertices();
        line_counts written;
        benchmark::DoNotOptimize(document->text(written).data());
        faults = document->geometry_faults.size();
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.counters["faults"] = static_cast<double>(faults);
}

// On a shared machine the least of many alternated rounds moves least with what else runs:
//   bench_io --benchmark_filter=bm_clean --benchmark_repetitions=16
//            --benchmark_enable_random_interleaving=true --benchmark_min_time=1
BENCHMARK(bm_clean)
    ->ArgName("check")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
BENCHMARK(bm_read_bytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(bm_read_file)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(bm_text)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(bm_write_file)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
