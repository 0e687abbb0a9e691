// Fuzz target: the snap targets of -s against the plain construction.
//
// The expansion (subfile_expansion.cpp) does not place every inlined line: it counts a copy's lines
// at once, offers only the vertices of a file that are not repeated when no placed point can
// overflow, and reads files parsed without their elements. The plain construction places every
// line as an element (the observer's lines, from files parsed with every element) and adds the
// vertices of each edge line, triangle and quad, in order, to a set searched by the linear scan.
// Both sets must hold the same representatives bit for bit, and the expansion must print the same
// statistics and give the same missing names, cycles and limit.
//
// The input generates a small library (four files that reference each other, cycles included)
// and a document: lines whose points are often earlier points of their file and whose coordinates
// lie on or within 0.001 of a few values (so that vertices repeat and merge), sometimes huge (so that a scaled copy
// overflows), INVERTNEXT comments, and references that move, mirror, rotate or scale. Byte 0 picks the inlining limit
// and whether the origin of each target is recorded.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "document/subfile_expansion.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_generate.hpp"
#include "geometry/vertex_set.hpp"
#include "io/console.hpp"
#include "io/memory_file_system.hpp"

using namespace weldrix;
using weldrix::fuzz::byte_source;

namespace {

constexpr const char* names[] = {"a.dat", "s\\b.dat", "c.dat", "S\\B.DAT", "missing.dat", "d.dat"};
constexpr const char* files[] = {"/lib/parts/a.dat", "/lib/parts/s/b.dat", "/lib/parts/c.dat", "/lib/parts/d.dat"};

// A coordinate of a small lattice whose values lie within 0.001 of each other in clusters (so
// that the order of the vertices decides which become targets), now and then a huge one (which a
// scaled copy overflows).
std::string any_coordinate(byte_source& in) {
    static const char* const values[] = {"0", "0.0004", "0.0009", "1", "1.0003", "-1", "0", "1"};
    const std::uint8_t b = in.next();
    if (b >= 0xf8) return b & 1 ? "1e300" : "-3e299";
    return values[b & 7];
}

// A point of a file: often one of the file's earlier points again (vertices shared by lines).
std::string any_point(byte_source& in, std::vector<std::string>& earlier) {
    const std::uint8_t b = in.next();
    if (b & 1 && !earlier.empty()) return earlier[(b >> 1) % earlier.size()];
    std::string point = any_coordinate(in);
    for (int i = 0; i < 2; ++i) point += ' ' + any_coordinate(in);
    earlier.push_back(point);
    return point;
}

std::string polygon_line(byte_source& in, std::vector<std::string>& earlier) {
    const int type = 2 + static_cast<int>(in.pick(4));
    const int points = type == 2 ? 2 : type == 3 ? 3 : 4;
    std::string line = std::to_string(type) + " 16";
    for (int p = 0; p < points; ++p) line += ' ' + any_point(in, earlier);
    return line;
}

std::string reference_line(byte_source& in) {
    static const char* const placements[] = {
        "0 0 0 1 0 0 0 1 0 0 0 1",          "0.0004 0 0 1 0 0 0 1 0 0 0 1", "0 -4 0 -1 0 0 0 1 0 0 0 1",
        "6 0 0 0.6 0.8 0 -0.8 0.6 0 0 0 1", "0 0 0 2 0 0 0 2 0 0 0 2",      "0 0 0 1e10 0 0 0 1 0 0 0 1",
        "1 0 0 0 1 0 1 0 0 0 0 1",          "0 0 0 1 0 0 0 -1 0 0 0 1",
    };
    const std::string placement = placements[in.pick(8)];
    return "1 16 " + placement + " " + names[in.pick(6)];
}

std::string file_text(byte_source& in, std::size_t most) {
    std::vector<std::string> lines;
    std::vector<std::string> points;
    const std::size_t count = in.pick(most + 1);
    while (lines.size() < count) {
        switch (in.pick(8)) {
            case 0: lines.push_back("0 BFC INVERTNEXT"); break;
            case 1:
            case 2: lines.push_back(reference_line(in)); break;
            default: lines.push_back(polygon_line(in, points)); break;
        }
    }
    return weldrix::fuzz::joined_lines(lines, "\n");
}

struct expanded {
    std::string console;
    std::vector<missing_subfile> missing;
    std::vector<skipped_reference> cycles;
    std::optional<skipped_reference> limit;
};

expanded finish(const subfile_expansion& expansion, string_console& out) {
    expansion.print_statistics();
    return {out.text, expansion.missing(), expansion.cycles(), expansion.limit_reached()};
}

bool same_site(const reference_site& a, const reference_site& b) { return a.file == b.file && a.line == b.line; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    byte_source in(input);
    const std::uint8_t flags = in.next();
    static constexpr std::size_t limits[] = {1000000, 5, 17, 60};
    const std::size_t limit = limits[flags & 3];
    const bool with_origins = flags & 4;

    memory_file_system fs;
    for (const char* file : files) fs.add_file(file, file_text(in, 12));
    ldraw_file document;
    document.read_bytes(file_text(in, 16));
    const auto add_paths = [](search_paths& paths) {
        paths.add_path("/work/");
        paths.add_path("/lib/parts\\");
        paths.add_path("/lib/parts\\s\\");
    };
    const std::size_t end = document.elements.size();

    // The expansion as a batch runs it: files parsed without their elements, no observer.
    subfile_library batch_library(fs, subfile_library::default_memory_budget, false);
    search_paths batch_paths(batch_library);
    add_paths(batch_paths);
    string_console quick_out;
    vertex_set quick(unify_thresholds{});
    std::vector<std::uint32_t> origins;
    std::vector<std::string> origin_names;
    subfile_expansion quick_expansion(batch_paths, limit, quick_out);
    quick_expansion.expand(document.elements, 0, end, "/work/main.dat", quick, with_origins ? &origins : nullptr,
                           with_origins ? &origin_names : nullptr);
    const expanded got = finish(quick_expansion, quick_out);

    // The plain construction: every placed line's vertices, in order.
    search_paths plain_paths(fs);
    add_paths(plain_paths);
    string_console plain_out;
    vertex_set plain(unify_thresholds{}, vertex_search::linear);
    const inline_observer every_line = [&](const ldraw_line& line) {
        if (!offers_snap_targets(line.type_code())) return;
        for (const point& p : line.vertices()) plain.add(p, true);
    };
    subfile_expansion plain_expansion(plain_paths, limit, plain_out, every_line);
    vertex_set unused(unify_thresholds{});
    plain_expansion.expand(document.elements, 0, end, "/work/main.dat", unused);
    const expanded want = finish(plain_expansion, plain_out);

    FUZZ_CHECK(quick.size() == plain.size(), input);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const rep_vertex& a = quick.representatives()[i];
        const rep_vertex& b = plain.representatives()[i];
        FUZZ_CHECK(same_bits(a, b) && a.from_subfile && b.from_subfile && a.members == b.members, input);
    }
    FUZZ_CHECK(!with_origins || origins.size() == quick.size(), input);
    FUZZ_CHECK(got.console == want.console, input);
    FUZZ_CHECK(got.missing.size() == want.missing.size(), input);
    for (std::size_t i = 0; i < want.missing.size(); ++i) {
        FUZZ_CHECK(
            got.missing[i].name == want.missing[i].name && got.missing[i].references == want.missing[i].references &&
                got.missing[i].why == want.missing[i].why && same_site(got.missing[i].first, want.missing[i].first),
            input);
    }
    FUZZ_CHECK(got.cycles.size() == want.cycles.size(), input);
    for (std::size_t i = 0; i < want.cycles.size(); ++i) {
        FUZZ_CHECK(got.cycles[i].name == want.cycles[i].name && same_site(got.cycles[i].site, want.cycles[i].site),
                   input);
    }
    FUZZ_CHECK(got.limit.has_value() == want.limit.has_value(), input);
    FUZZ_CHECK(!want.limit || (got.limit->name == want.limit->name && same_site(got.limit->site, want.limit->site)),
               input);
    return 0;
}
