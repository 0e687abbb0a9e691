// Memory running out at every allocation of a whole run in turn, and how much memory a run holds
// at most. The program replaces the global operator new and new[] (every standard form) with
// versions that can fail the Nth allocation after being armed; it is armed only around each run,
// so the test framework is unaffected. The forms without an alignment also count the bytes held.
// It is a program of its own because the replacement holds for the whole program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/report_drawing.hpp"
#include "app/run.hpp"
#include "fault_scenarios.hpp"
#include "io/console.hpp"
#include "io/memory_file_system.hpp"

namespace {

// The allocation countdown. A batch allocates on its worker thread and its main thread at once:
// which of them makes allocation N may change from run to run, but exactly one allocation fails.
struct countdown {
    std::atomic<bool> armed{false};
    std::atomic<unsigned long long> seen{0};  // allocations since arming
    unsigned long long fail_at = 0;           // the one to fail (0: none); set while disarmed
    std::atomic<bool> fired{false};
    void arm(unsigned long long n) {
        seen = 0;
        fail_at = n;
        fired = false;
        armed = true;
    }
};
countdown allocations;

// Whether the next allocation is to fail.
bool allocation_fails() {
    if (!allocations.armed.load()) return false;
    if (++allocations.seen != allocations.fail_at) return false;
    allocations.fired = true;
    return true;
}

// The bytes held through the forms of operator new without an alignment, and the most held since
// peak was last set. Each block starts with a header that holds its size.
struct heap_use {
    std::atomic<std::size_t> held{0};
    std::atomic<std::size_t> peak{0};
};
heap_use heap;
constexpr std::size_t header = alignof(std::max_align_t);

void* allocate(std::size_t size) {
    if (allocation_fails()) return nullptr;
    if (size == 0) size = 1;
    if (size > SIZE_MAX - header) return nullptr;
    char* const block = static_cast<char*>(std::malloc(header + size));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    const std::size_t now = heap.held += size;
    std::size_t peak = heap.peak.load();
    while (now > peak && !heap.peak.compare_exchange_weak(peak, now)) {
    }
    return block + header;
}

void release(void* p) {
    if (!p) return;
    char* const block = static_cast<char*>(p) - header;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    heap.held -= size;
    std::free(block);
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
    if (allocation_fails()) return nullptr;
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size == 0 ? align : (size + align - 1) / align * align);
    return std::aligned_alloc(align, rounded);
}

void* allocate_or_throw(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}

void* allocate_aligned_or_throw(std::size_t size, std::align_val_t alignment) {
    if (void* p = allocate_aligned(size, alignment)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate_aligned_or_throw(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate_aligned_or_throw(size, a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, a);
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace weldrix::test {
namespace {

// Runs the scenario with the allocation fail_at (0: none) failing, and says how many allocations
// the run made.
run_outcome run_failing(scenario_folder& folder, const fault_scenario& s, unsigned long long fail_at,
                        unsigned long long& made) {
    return folder.run(s, host_file_system(), [&](const std::function<void()>& run) {
        allocations.arm(fail_at);
        run();
        made = allocations.seen;
        allocations.armed = false;
    });
}

// Fails allocation N of the scenario's run, for N = 1, 2, ... until the run makes no allocation N,
// and checks each run as the system call faults are checked (check_outcome).
void fail_every_allocation(const std::string& name) {
    scenario_folder folder;
    const fault_scenario& s = folder.scenario(name);
    const std::vector<output_state> before = folder.initial_outputs(s);
    unsigned long long made = 0;
    const run_outcome reference = run_failing(folder, s, 0, made);
    ASSERT_EQ(reference.exit_code, s.exit_code) << reference.console;
    const unsigned long long total = made;

    std::vector<std::string> violations;
    for (unsigned long long n = 1;; ++n) {
        const run_outcome got = run_failing(folder, s, n, made);
        if (!allocations.fired) {
            // The run made no allocation N: it is the run without a failure.
            EXPECT_EQ(got.console, reference.console);
            break;
        }
        expectation expected;
        expected.reference = &reference;
        // An output holds the new bytes only once renamed into place; an allocation that fails after
        // that (printing the write statistics) ends the run with exit code 2 and the new file in place.
        // So is the report, after the outputs.
        const std::size_t outputs = s.outputs.size();
        expected.after_rename =
            std::equal(got.outputs.begin(), got.outputs.begin() + outputs, reference.outputs.begin());
        expected.report_renamed = !s.report.empty() && got.outputs.back() == reference.outputs.back();
        for (const std::string& problem : check_outcome(s, before, expected, got)) {
            violations.push_back("allocation " + std::to_string(n) + ": " + problem);
        }
        // A batch reports memory running out for the file being cleaned ("failed: X: out of
        // memory") and goes on, or ends as a single run does.
        const bool batch = !s.output_folder.empty();
        const bool same = got.exit_code == reference.exit_code && got.console == reference.console &&
                          got.outputs == reference.outputs;
        if (batch && !same && got.console.find(": out of memory\n") == std::string::npos &&
            !got.console.ends_with("Out of memory\nPress <Enter> to quit\n")) {
            violations.push_back("allocation " + std::to_string(n) + ": a failure without \"out of memory\":\n" +
                                 got.console);
        }
        if (!batch && got.exit_code != 0 && !got.console.ends_with("Out of memory\nPress <Enter> to quit\n")) {
            violations.push_back("allocation " + std::to_string(n) + ": a failure without \"Out of memory\":\n" +
                                 got.console);
        }
    }
    std::printf("[ memory   ] %s: %llu allocations, each failed in turn, %zu violations\n", name.c_str(), total,
                violations.size());
    ::testing::Test::RecordProperty("fault_points", static_cast<int>(total));
    for (std::size_t i = 0; i < violations.size() && i < 20; ++i) ADD_FAILURE() << violations[i];
    EXPECT_EQ(violations.size(), 0u);
}

// A batch with a page keeps each file's drawing until the page is written, but no more of them
// than the page draws (at most 200,000 lines in all): the most it holds at once must not grow
// with the number of files past that budget. Each file here draws 20,000 lines, so the first 10
// take the whole budget.
TEST(Memory, ABatchWithAPageHoldsNoMoreDrawingsThanThePageDraws) {
    std::string part = "0 edges\n";
    for (std::size_t k = 0; k < full_drawing_lines; ++k) {
        const std::string x = std::to_string(k);
        part += "2 24 " + x + " 0 0 " + x + " 1 0\n";
    }
    const auto most_held = [&](std::size_t files) {
        memory_file_system fs;
        for (std::size_t i = 0; i < files; ++i) fs.add_file("/in/" + std::to_string(i) + ".dat", part);
        string_console out, warnings;
        const std::size_t before = heap.held;
        heap.peak = before;
        const int code =
            run({"-j", "1", "-c", "-r", "/page.html", "--no-wait", "/in", "/out"}, {out, warnings, [] {}, fs});
        EXPECT_EQ(code, exit_success) << out.text;
        EXPECT_NE(fs.find("/page.html"), nullptr);
        return heap.peak - before;
    };
    const std::size_t few = most_held(12), many = most_held(36);
    const std::size_t drawing = full_drawing_lines * sizeof(drawn_line);
    EXPECT_LT(many, few + 4 * drawing) << "12 files: " << few << " bytes, 36 files: " << many << " bytes";
}

// A batch's report goes to its file as each file is done: the most a run holds at once must not
// grow with the number of files (the files and the report are on disk, outside the heap, and so
// are a page's drawings until the page ends). Every line of each file changes.
TEST(Memory, ABatchReportIsWrittenAsTheFilesAreDone) {
    std::string part = "0 edges whose ends merge with the next edge's start\n";
    for (int k = 0; k < 2000; ++k) part += "2 24 " + std::to_string(k) + " 0 0 " + std::to_string(k) + ".998 0 0\n";
    const auto most_held = [&](std::size_t files, const char* report) {
        temp_dir dir;
        for (std::size_t i = 0; i < files; ++i) write_file(dir / ("in/" + std::to_string(i) + ".dat"), part);
        string_console out, warnings;
        const std::size_t before = heap.held;
        heap.peak = before;
        const int code = run({"-j", "1", "-c", "-r", dir / report, "--no-wait", dir / "in", dir / "out"},
                             {out, warnings, [] {}, host_file_system()});
        EXPECT_EQ(code, exit_would_change) << out.text;
        EXPECT_TRUE(file_exists(dir / report));
        return heap.peak - before;
    };
    for (const char* report : {"r.json", "r.txt", "r.html"}) {
        const std::size_t few = most_held(3, report), many = most_held(24, report);
        EXPECT_LT(many, few + (std::size_t{1} << 20)) << report << ": 3 files: " << few << " bytes, 24 files: " << many;
    }
}

// A report is made of compact records and written as it is made: a run with one, in any form,
// holds at most 1.6 times what the same run without holds, and a batch, whose threads each hold
// one file at a time from reading to record, at most half as much again. (The single run was
// held to half as much again too, until the run without a report stopped holding its sums of
// representatives through pass 1: the report's records cost what they did, the run less.) The part is a jittered sheet
// of quads in which nearly every line changes (the worst case for a report's size).
TEST(Memory, AReportHoldsAtMostHalfAsMuchAgainAsTheRun) {
    std::string part;
    std::uint32_t seed = 1;
    const auto corner = [&](int i, int j) {
        std::string text;
        for (const int c : {i * 10, (i + j) % 7, j * 10}) {
            seed = seed * 1664525u + 1013904223u;
            const int jitter = static_cast<int>(seed >> 8) % 41 - 20;  // up to 0.002 either way
            text.append(" ").append(std::to_string(c * 10000 + jitter)).append("e-4");
        }
        return text;
    };
    for (int i = 0; i < 150; ++i) {
        for (int j = 0; j < 150; ++j) {
            part += "4 16" + corner(i, j) + corner(i + 1, j) + corner(i + 1, j + 1) + corner(i, j + 1) + "\n";
        }
    }
    temp_dir dir;
    write_file(dir / "in.dat", part);
    for (int k = 0; k < 6; ++k) write_file(dir / ("folder/" + std::to_string(k) + ".dat"), part);
    const auto most_held = [&](std::vector<std::string> args, const std::vector<std::string>& run_args) {
        args.insert(args.end(), run_args.begin(), run_args.end());
        string_console out, warnings;
        const std::size_t before = heap.held;
        heap.peak = before;
        EXPECT_EQ(run(args, {out, warnings, [] {}, host_file_system()}), exit_success) << out.text;
        return heap.peak - before;
    };
    const std::vector<std::string> runs[] = {{"--no-wait", dir / "in.dat", dir / "out.dat"},
                                             {"--no-wait", "-j", "2", dir / "folder", dir / "out"}};
    for (const std::vector<std::string>& run_args : runs) {
        const std::size_t plain = most_held({}, run_args);
        for (const char* report : {"r.json", "r.txt", "r.html"}) {
            const std::size_t with_report = most_held({"-r", dir / report}, run_args);
            std::printf("[ memory   ] %s -r %s: %zu bytes at most, %zu without\n", run_args.back().c_str(), report,
                        with_report, plain);
            EXPECT_LE(with_report, &run_args == &runs[0] ? plain * 8 / 5 : plain + plain / 2)
                << report << ": " << with_report << " bytes, " << plain << " without";
        }
    }
}

TEST(OutOfMemory, EveryFailedAllocationOfAPlainRun) { fail_every_allocation("plain"); }
TEST(OutOfMemory, EveryFailedAllocationOfARunWithSubfiles) { fail_every_allocation("subfiles"); }
TEST(OutOfMemory, EveryFailedAllocationOfAnInPlaceRun) { fail_every_allocation("in place"); }
TEST(OutOfMemory, EveryFailedAllocationOfABatch) { fail_every_allocation("batch"); }

}  // namespace
}  // namespace weldrix::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
