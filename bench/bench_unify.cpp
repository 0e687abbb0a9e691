// Speed and memory of vertex unification on generated parts.
//
//   BM_unify/<linear|index>/<vertices>: unify_vertices alone on a jittered mesh (most vertices have a
//     partner within the default threshold 0.005), for the linear reference and the grid index.
//     Reports vertices/s, the representatives created per vertex and the heap that unification
//     needs at its peak, per vertex: constant across sizes when memory grows linearly.
//   BM_end_to_end/<lines>: read_bytes + unify_vertices + text of a generated part: bytes_per_second
//     (MiB/s of input on CPU time, as the library counts it), MB_per_cpu_s (10^6 bytes, the three
//     phases only) and the CPU seconds of each phase.
//
// Run a Release build, e.g. `build/bench/bench_unify --benchmark_repetitions=3`.
#include <malloc.h>
#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "document/ldraw_file.hpp"

// Live and peak heap bytes of the process, counted by the global allocation functions (the
// benchmarks run on one thread).
namespace {
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;

void note_allocation(void* p) {
    live_bytes += malloc_usable_size(p);
    peak_bytes = std::max(peak_bytes, live_bytes);
}
}  // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    note_allocation(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    live_bytes -= malloc_usable_size(p);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace weldrix {
namespace {

void append_fixed(std::string& out, double v) {
    char buf[32];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3).ptr);
}

// A part of `lines` lines: triangles, quads, edges and conditional lines over a height field
// sampled on a grid of unit spacing. Every use of a grid point is a fresh copy moved by up to
// 0.001 on up to two axes, so copies of one point lie within 0.004 of each other (Manhattan)
// and merge at the default threshold; distinct grid points are 1 apart.
std::string jittered_mesh(std::size_t lines, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    // About three vertices per line, each grid point used about six times.
    const auto side = static_cast<std::size_t>(std::sqrt(static_cast<double>(lines) / 2.0)) + 2;
    const auto corner = [&](std::size_t i, std::size_t j, std::string& out) {
        const double x = static_cast<double>(i), y = static_cast<double>(j);
        const double z = std::floor(8 * std::sin(x * 0.05) * std::cos(y * 0.07));
        double c[3] = {x, y, z};
        const unsigned bits = static_cast<unsigned>(random());
        for (int a = 0; a < 2; ++a) {
            const unsigned choice = (bits >> (2 * a)) & 3;  // -0.001, 0, 0, +0.001
            c[(a + (bits >> 8)) % 3] += choice == 0 ? -0.001 : choice == 3 ? 0.001 : 0.0;
        }
        for (const double v : c) {
            out += ' ';
            append_fixed(out, v);
        }
    };
    std::string out;
    out.reserve(lines * 72);
    out += "0 Generated jittered mesh\n";
    std::size_t written = 1;
    for (std::size_t k = 0; written < lines; ++k) {
        const std::size_t i = k % (side - 1), j = (k / (side - 1)) % (side - 1);
        switch (k % 6) {
            case 0:
            case 1:
                out += "3 16";
                corner(i, j, out), corner(i + 1, j, out), corner(i + 1, j + 1, out);
                break;
            case 2:
            case 3:
                out += "4 16";
                corner(i, j, out), corner(i + 1, j, out), corner(i + 1, j + 1, out), corner(i, j + 1, out);
                break;
            case 4:
                out += "2 24";
                corner(i, j, out), corner(i, j + 1, out);
                break;
            default:
                out += "5 24";
                corner(i, j, out), corner(i + 1, j, out), corner(i, j + 1, out), corner(i + 1, j + 1, out);
                break;
        }
        out += '\n';
        ++written;
    }
    return out;
}

// A jittered mesh with about `vertices` vertices in all.
const std::string& mesh_with_vertices(std::size_t vertices) {
    static std::size_t cached_vertices = 0;
    static std::string cached;
    if (cached_vertices != vertices) {
        // The mix above averages 10 vertices per 3 lines.
        cached = jittered_mesh(vertices * 3 / 10 + 1, 42);
        cached_vertices = vertices;
    }
    return cached;
}

std::size_t count_vertices(const ldraw_file& doc) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < doc.main_count; ++i) n += doc.elements[i]->vertices().size();
    return n;
}

void BM_unify(benchmark::State& state, vertex_search search) {
    const std::string& text = mesh_with_vertices(static_cast<std::size_t>(state.range(0)));
    std::size_t vertices = 0, representatives = 0, extra_heap = 0;
    {
        // The vertices and the representatives the merge pass makes, counted outside the timing.
        ldraw_file doc;
        doc.read_bytes(text);
        vertices = count_vertices(doc);
        vertex_set set(doc.options.thresholds, vertex_search::indexed);
        for (std::size_t i = 0; i < doc.main_count; ++i) doc.elements[i]->collect_vertices(set, false);
        representatives = set.size();
    }
    for (auto _ : state) {
        ldraw_file doc;
        doc.options.search = search;
        doc.read_bytes(text);

        const std::size_t before = live_bytes;
        peak_bytes = before;
        const auto start = std::chrono::steady_clock::now();
        doc.unify_vertices();
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        extra_heap = peak_bytes - before;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * vertices));
    state.counters["vertices"] = static_cast<double>(vertices);
    state.counters["reps_per_vertex"] = static_cast<double>(representatives) / static_cast<double>(vertices);
    state.counters["heap_bytes_per_vertex"] = static_cast<double>(extra_heap) / static_cast<double>(vertices);
}

// With --benchmark_repetitions, the least of the runs: the figure least disturbed by other work
// on the machine.
double smallest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// The runs both searches make; the grid index adds a million vertices, out of the linear
// reference's reach.
void unify_runs(benchmark::internal::Benchmark* b) {
    b->Arg(10'000)->Arg(100'000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
    b->ComputeStatistics("min", smallest);
}

BENCHMARK_CAPTURE(BM_unify, linear, vertex_search::linear)->Apply(unify_runs);
BENCHMARK_CAPTURE(BM_unify, index, vertex_search::indexed)->Apply(unify_runs)->Arg(1'000'000);

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_end_to_end(benchmark::State& state) {
    const std::string text = jittered_mesh(static_cast<std::size_t>(state.range(0)), 7);
    std::size_t output_size = 0;
    double read_s = 0, unify_s = 0, text_s = 0;
    for (auto _ : state) {
        const double t0 = thread_seconds();
        ldraw_file doc;
        doc.read_bytes(text);
        const double t1 = thread_seconds();
        doc.unify_vertices();
        const double t2 = thread_seconds();
        line_counts written;
        const std::string out = doc.text(written);
        const double t3 = thread_seconds();
        output_size = out.size();
        benchmark::DoNotOptimize(out.data());
        read_s += t1 - t0;
        unify_s += t2 - t1;
        text_s += t3 - t2;
    }
    // Where the time goes, per run, in CPU seconds (the rate above is on CPU time too).
    const auto runs = static_cast<double>(state.iterations());
    state.counters["read_s"] = read_s / runs;
    state.counters["unify_s"] = unify_s / runs;
    state.counters["write_s"] = text_s / runs;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["input_MB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["MB_per_cpu_s"] = static_cast<double>(text.size()) / 1e6 / ((read_s + unify_s + text_s) / runs);
    state.counters["output_MB"] = static_cast<double>(output_size) / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

BENCHMARK(BM_end_to_end)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->ComputeStatistics("min", smallest);

}  // namespace
}  // namespace weldrix

BENCHMARK_MAIN();
