// Fuzz target: the whole run on arbitrary bytes: read, expand the subfiles against a small library
// (generated once per process in a temporary folder), unify, write.
//
// The first two input bytes choose the vertex and subfile thresholds (ordinary, zero, negative,
// tiny, huge, infinite, NaN), bit 4 of the first byte --fix; the rest is the file. Each input runs
// twice, with the grid-indexed vertex search and with the linear reference scan: the output bytes
// and the console text must be identical. (The linear scan is quadratic, so inputs with many
// references run indexed only.) The indexed run leaves lone points out of the file's set however
// few vertices it has, as large parts do. With --fix, a run that repaired nothing writes the bytes of the
// run without it: --fix touches only the lines the cleaning made faulty.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

#include "app/options.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "fuzz/fuzz_check.hpp"
#include "io/console.hpp"

using namespace weldrix;

namespace {

void put(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ring(int type, int segments, double radius) {
    std::string text = "0 generated ring\n";
    for (int k = 0; k < segments; ++k) {
        const double a0 = 2 * M_PI * k / segments, a1 = 2 * M_PI * (k + 1) / segments;
        const std::string p0 = std::to_string(radius * std::cos(a0)) + " 0 " + std::to_string(radius * std::sin(a0));
        const std::string p1 = std::to_string(radius * std::cos(a1)) + " 0 " + std::to_string(radius * std::sin(a1));
        if (type == 2) text += "2 24 " + p0 + " " + p1 + "\n";
        if (type == 3) text += "3 16 0 0 0 " + p0 + " " + p1 + "\n";
        if (type == 5) text += "5 24 " + p0 + " " + p1 + " 0 1 0 0 -1 0\n";
    }
    return text;
}

// A small library in the usual layout, with names that real parts use, so that seeds taken from
// real parts find some of their subfiles: primitives, a subpart, references under INVERTNEXT and
// mirrored, colours 16 and 24, a case-insensitive name, cycles (direct and through two files), a
// modest fan-out, a directory and an empty file where a file is expected.
class library {
public:
    library() {
        std::string pattern = (std::filesystem::temp_directory_path() / "weldrix-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        root_ = pattern;
        const auto at = [&](const char* relative) { return root_ / relative; };
        put(at("p/4-4edge.dat"), ring(2, 16, 1));
        put(at("p/4-4disc.dat"), ring(3, 16, 1));
        put(at("p/4-4cyli.dat"), ring(5, 16, 1) + "4 16 1 0 0 1 1 0 0 1 1 0 0 1\n");
        put(at("p/48/4-4edge.dat"), ring(2, 48, 1));
        put(at("p/stud.dat"),
            "0 Stud\n0 BFC CERTIFY CCW\n1 16 0 0 0 6 0 0 0 1 0 0 0 6 4-4edge.dat\n"
            "1 16 0 -4 0 6 0 0 0 1 0 0 0 6 4-4edge.dat\n0 BFC INVERTNEXT\n"
            "1 16 0 -4 0 6 0 0 0 -4 0 0 0 6 4-4cyli.dat\n1 16 0 -4 0 6 0 0 0 1 0 0 0 6 4-4disc.dat\n");
        put(at("parts/s/3001s01.dat"),
            "0 subpart\n4 16 -40 0 -20 40 0 -20 40 24 -20 -40 24 -20\n"
            "4 16 40 24 20 -40 24 20 -40 0 20 40 0 20\n2 24 -40 0 -20 40 0 -20\n"
            "5 24 40 0 -20 40 24 -20 40 0 20 0 0 -20\n1 16 0 0 0 -1 0 0 0 1 0 0 0 1 stud.dat\n");
        put(at("parts/3001.dat"),
            "0 Brick  2 x  4\n0 BFC CERTIFY CCW\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 s\\3001s01.dat\n"
            "0 BFC INVERTNEXT\n1 4 0 24 0 1 0 0 0 -1 0 0 0 1 S\\3001S01.DAT\n3 16 -40 0 -20 40 0 -20 40 24 -20\n");
        put(at("parts/Mixed.DAT"), "0 mixed case\n3 24 0 0 0 1 0 0 0 0 1\n1 2 0 0 0 0 0 0 0 0 0 0 0 0 stud.dat\n");
        put(at("parts/loop.dat"), "2 24 0 0 0 1 1 1\n1 16 1 0 0 1 0 0 0 1 0 0 0 1 loop.dat\n");
        put(at("parts/ping.dat"), "3 16 0 0 0 1 0 0 0 1 0\n1 16 0 0 1 1 0 0 0 1 0 0 0 1 pong.dat\n");
        put(at("parts/pong.dat"), "3 16 0 0 0 0 1 0 0 0 1\n1 16 0 1 0 0 0 1 0 1 0 1 0 0 ping.dat\n");
        put(at("Unofficial/parts/fan.dat"), std::string(4, ' ') + "1 16 0 0 0 1 0 0 0 1 0 0 0 1 fan2.dat\n" +
                                                "1 16 8 0 0 1 0 0 0 1 0 0 0 1 fan2.dat\n" +
                                                "1 16 0 8 0 1 0 0 0 1 0 0 0 1 fan2.dat\n" +
                                                "1 16 0 0 8 1 0 0 0 1 0 0 0 1 fan2.dat\n");
        put(at("Unofficial/parts/fan2.dat"),
            "1 16 0 0 0 1 0 0 0 1 0 0 0 1 4-4disc.dat\n"
            "1 16 1 0 0 0 1 0 1 0 0 0 0 1 4-4disc.dat\n"
            "1 16 0 2 0 1 0 0 0 0 1 0 1 0 4-4edge.dat\n");
        put(at("parts/empty.dat"), "");
        put(at("parts/crlf.dat"), "0 crlf\r\n3 16 0 0 0 1 0 0 0 0 1\r\n");
        put(at("parts/cr.dat"), "0 cr\r3 16 0 0 0 1 0 0 0 0 1\r2 24 0 0 0 0 0 1\r");
        std::filesystem::create_directories(at("parts/folder.dat"));

        run_options options;
        options.input = (root_ / "model.ldr").string();
        options.library_folders.push_back(root_.string());
        directories_ = search_directories(options);
    }
    ~library() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    library(const library&) = delete;
    library& operator=(const library&) = delete;

    search_paths paths() const {
        search_paths p(host_file_system());
        for (const std::string& d : directories_) p.add_path(d);
        return p;
    }

private:
    std::filesystem::path root_;
    std::vector<std::string> directories_;
};

constexpr double threshold_choices[16] = {
    0.005,
    0.001,
    0.0,
    -1.0,
    1e-12,
    0.5,
    2.0,
    100.0,
    1e6,
    100000.0,
    200000.0,
    std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(),
    0.0011,
    0.01,
    0.0049999,
};

struct run_output {
    std::string console;
    std::string bytes;
    line_counts read, written;
    std::size_t geometry_fixed = 0;
};

run_output run_pipeline(const library& lib, std::string_view file, const unify_thresholds& thresholds,
                        vertex_search search, bool fix) {
    run_output result;
    string_console out;
    ldraw_file document;
    document.options.thresholds = thresholds;
    document.options.search = search;
    document.options.lone_from = 0;
    document.options.fix = fix;
    // The reference finds the lines made identical by the sets of changed hashes; the other as
    // the share of changed lines picks, mostly by sorting every line's (fuzz inputs are small).
    if (search == vertex_search::linear) document.options.identical = identical_search::filtered;
    // The indexed run reads, unifies and writes its halves side by side, its own vertices in two
    // sets where a plane parts them; the reference all of it on one thread, in one set.
    if (search == vertex_search::indexed) {
        document.options.snap_halves_from = 2;
        document.options.read_halves_from = 0;
        document.options.split_from = 0;
    }
    result.read = document.read_bytes(file);
    document.expand_subfiles(lib.paths(), out);
    document.unify_vertices();
    result.bytes = document.text(result.written);
    result.console = out.text;
    result.geometry_fixed = document.changes.totals.geometry_fixed;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const library lib;
    unify_thresholds thresholds;
    std::string_view file(reinterpret_cast<const char*>(data), size);
    bool fix = false;
    if (size >= 2) {
        fix = data[0] & 16;
        thresholds.vertex_threshold = threshold_choices[data[0] & 15];
        thresholds.subfile_threshold = threshold_choices[data[1] & 15];
        file.remove_prefix(2);
    }

    const run_output indexed = run_pipeline(lib, file, thresholds, vertex_search::indexed, fix);
    // For looking at one input by hand: WELDRIX_FUZZ_SHOW=1 ./fuzz_pipeline input
    if (std::getenv("WELDRIX_FUZZ_SHOW"))
        std::fprintf(stderr, "%s\n%s", indexed.console.c_str(), indexed.bytes.c_str());
    const line_counts& r = indexed.read;
    const line_counts& w = indexed.written;
    // --fix may split a quad into two triangles.
    const std::size_t split = fix ? r.quads : 0;
    FUZZ_CHECK(w.lines <= r.lines + split && w.edges <= r.edges && w.conditionals <= r.conditionals &&
                   w.quads <= r.quads && w.triangles <= r.triangles + r.quads + split && w.subfiles == r.subfiles,
               file);
    FUZZ_CHECK(fix || indexed.geometry_fixed == 0, file);
    if (fix && indexed.geometry_fixed == 0) {
        const run_output plain = run_pipeline(lib, file, thresholds, vertex_search::indexed, false);
        FUZZ_CHECK(plain.bytes == indexed.bytes && plain.console == indexed.console, file);
    }
    if (r.subfiles > 8) return 0;

    const run_output linear = run_pipeline(lib, file, thresholds, vertex_search::linear, fix);
    FUZZ_CHECK(linear.console == indexed.console, file);
    FUZZ_CHECK(linear.bytes == indexed.bytes, file);
    return 0;
}
