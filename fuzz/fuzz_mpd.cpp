// Fuzz target: multi-part documents, cleaned section by section.
//
// The input generates a document: FILE, NOFILE and !DATA lines with a few names, edges,
// triangles, quads and conditional lines whose coordinates lie near each other across sections,
// comments (BFC INVERTNEXT among them) and references to a small in-memory library (nested, with
// cycles and a missing name). The first byte chooses -s, --fix, line ends (LF, CR LF or CR) and whether
// references may also name the document's own sections; the second the thresholds.
//  * Where no reference names a section, the document's output equals, unit by unit, what cleaning
//    that unit's lines alone as a file gives (with and without -s, --fix): a section or a run of
//    lines outside sections is cleaned on its own (its geometry faults and their repairs too) and a
//    !DATA section is written as it was read.
//  * Where references name sections, in any cycles, the run ends, writes no more lines than it
//    read and keeps every reference.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_generate.hpp"
#include "io/console.hpp"
#include "io/memory_file_system.hpp"

using namespace weldrix;
using weldrix::fuzz::byte_source;

namespace {

// Section names, none of them also a library name (compared as sections are: case and "\" do not
// matter), and the same names as references write them.
constexpr const char* section_names[] = {"main.ldr", "Sub Part.ldr", "s/inner.dat", "X.LDR"};
constexpr const char* section_references[] = {"MAIN.LDR", "sub part.ldr", "s\\inner.dat", "x.ldr"};
constexpr const char* library_references[] = {"stud.dat", "s\\sub.dat",  "brick.dat", "loop.dat",
                                              "ping.dat", "missing.dat", "STUD.DAT",  "p\\stud.dat"};

void fill_library(memory_file_system& m) {
    m.add_file("/lib/p/stud.dat",
               "0 Stud\n2 24 6 0 0 0 0 6\n2 24 0 0 6 -6 0 0\n3 16 6 0 0 0 0 6 -6 0 0\n"
               "4 16 1 0 0 0 0 1 -1 0 0 0 0 -1\n");
    m.add_file("/lib/parts/s/sub.dat",
               "2 24 0 0 0 1 0 0\n5 24 1 0 0 1 -4 0 0 0 1 0 0 -1\n"
               "1 16 0 0 0 1 0 0 0 1 0 0 0 1 stud.dat\n");
    m.add_file("/lib/parts/brick.dat",
               "0 BFC CERTIFY CCW\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 s\\sub.dat\n0 BFC INVERTNEXT\n"
               "1 4 0 -4 0 1 0 0 0 -1 0 0 0 1 S\\SUB.DAT\n4 16 10 0 0 0 0 10 -6 0 0 1 0 -1\n0 BFC INVERTNEXT\n");
    m.add_file("/lib/parts/loop.dat", "2 24 0 0 0 1 1 1\n1 16 1 0 0 1 0 0 0 1 0 0 0 1 loop.dat\n");
    m.add_file("/lib/parts/ping.dat", "3 16 0 0 0 1 0 0 0 1 0\n1 16 0 0 1 1 0 0 0 1 0 0 0 1 pong.dat\n");
    m.add_file("/lib/parts/pong.dat", "3 16 0 0 0 0 1 0 0 0 1\n1 16 0 1 0 0 0 1 0 1 0 1 0 0 ping.dat\n");
}

memory_file_system& library() {
    static memory_file_system fs;
    static const bool filled = (fill_library(fs), true);
    static_cast<void>(filled);
    return fs;
}

constexpr double threshold_choices[8] = {0.005, 0.001, 0.0,  0.01,
                                         0.5,   2.0,   -1.0, std::numeric_limits<double>::infinity()};

struct settings {
    bool snap = false;
    bool fix = false;
    unify_thresholds thresholds;
};

// Cleans text as a file of its own: read, expand (with -s), unify, write.
std::string cleaned(std::string_view text, const settings& s, bool clean, line_counts* read = nullptr,
                    line_counts* written = nullptr) {
    clean_options options;
    options.snap_on_subfiles = s.snap;
    options.fix = s.fix;
    options.thresholds = s.thresholds;
    ldraw_file document(options);
    const line_counts counts = document.read_bytes(text);
    if (read) *read = counts;
    if (clean) {
        if (s.snap) {
            run_options where;
            where.input = "/work/model.mpd";
            where.library_folders.push_back("/lib");
            search_paths paths(library());
            for (const std::string& directory : search_directories(where)) paths.add_path(directory);
            null_console quiet;
            document.expand_subfiles(paths, quiet);
        }
        document.unify_vertices();
    }
    line_counts ignored;
    return document.text(written ? *written : ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    byte_source in(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::uint8_t flags = in.next();
    const std::uint8_t thresholds = in.next();
    settings s;
    s.snap = flags & 1;
    s.fix = flags & 32;
    const bool crossing = flags & 2;
    const std::string_view eol = flags & 4 ? "\r\n" : flags & 16 ? "\r" : "\n";
    s.thresholds.vertex_threshold = threshold_choices[thresholds & 7];
    s.thresholds.subfile_threshold = threshold_choices[(thresholds >> 3) & 7];

    std::vector<std::string> lines;
    if (flags & 8) lines.push_back(std::string("0 FILE ") + section_names[0]);
    while (!in.empty() && lines.size() < 64) {
        switch (in.pick(16)) {
            case 0: lines.push_back(std::string("0 FILE ") + in.pick(section_names)); break;
            case 1: lines.push_back(in.next() & 1 ? "0 NOFILE" : "0  NOFILE \t"); break;
            case 2: lines.push_back(std::string("0 !DATA ") + (in.next() & 1 ? "tex.png" : "a b.bin")); break;
            case 3:
            case 4: lines.push_back(weldrix::fuzz::comment_line(in)); break;
            case 5:
            case 6: lines.push_back(weldrix::fuzz::reference_line(in, in.pick(library_references))); break;
            case 7:
                lines.push_back(weldrix::fuzz::reference_line(
                    in, crossing ? in.pick(section_references) : in.pick(library_references)));
                break;
            default: lines.push_back(weldrix::fuzz::geometry_line(in)); break;
        }
    }
    const std::string text = weldrix::fuzz::joined_lines(lines, eol);

    clean_options options;
    options.snap_on_subfiles = s.snap;
    options.thresholds = s.thresholds;
    ldraw_file document(options);
    document.read_bytes(text);
    FUZZ_CHECK(document.main_count == lines.size(), text);
    const std::vector<document_unit> units = document.units();

    line_counts read, written;
    const std::string output = cleaned(text, s, true, &read, &written);
    // --fix may split a quad into two triangles.
    FUZZ_CHECK(written.lines <= read.lines + (s.fix ? read.quads : 0) && written.subfiles == read.subfiles, text);
    if (crossing) return 0;

    std::string expected;
    for (const document_unit& unit : units) {
        const std::vector<std::string> unit_lines(lines.begin() + static_cast<std::ptrdiff_t>(unit.begin),
                                                  lines.begin() + static_cast<std::ptrdiff_t>(unit.end));
        expected += cleaned(weldrix::fuzz::joined_lines(unit_lines, eol), s, unit.role != document_unit::kind::data);
    }
    FUZZ_CHECK(output == expected,
               text + "\n-- the document gives --\n" + output + "-- its units alone --\n" + expected);
    return 0;
}
