// Subfile lookup and inlining ("-s"): placement, inversion, colours, order, lookups on this host,
// cycles, the explosion limit, and real parts of the bundled library against an independent count.
//
// Where the effect shows in the tool's output (snapping, statistics, console text) the built
// binary is run; where only the exact placement of an inlined line shows, the expansion's
// observer is used.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "app/options.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "io/console.hpp"
#include "support.hpp"

namespace weldrix {
namespace {

namespace fs = std::filesystem;
using test::run_weldrix;
using test::temp_dir;
using test::write_file;

const std::string identity = " 1 0 0 0 1 0 0 0 1 ";
const std::string mirror_x = " -1 0 0 0 1 0 0 0 1 ";

// "1 <colour> <x y z> <matrix> <name>"
std::string reference(const std::string& name, const std::string& matrix = identity, const std::string& colour = "16",
                      const std::string& offset = "0 0 0") {
    return "1 " + colour + " " + offset + matrix + name + "\n";
}

// The statistics block the expansion prints.
std::string inlined(int edges, int conditionals, int triangles, int quads) {
    return "\nInlined from subfiles:\n" + std::to_string(edges) + " Edge lines\n" + std::to_string(conditionals) +
           " Conditional lines\n" + std::to_string(triangles) + " Triangles\n" + std::to_string(quads) + " Quads\n";
}

// What the expansion inlined, as the observer sees it: each element's text, and for a reference
// its winding in brackets.
struct observed {
    std::vector<std::string> lines;
    std::string console;  // what the expansion printed
};

observed expand_in_process(const temp_dir& dir, const std::string& main_text,
                           const std::vector<std::string>& libraries = {}) {
    write_file(dir / "main.dat", main_text);
    run_options options;
    options.input = dir / "main.dat";
    options.library_folders = libraries;
    search_paths paths(host_file_system());
    for (const std::string& directory : search_directories(options)) paths.add_path(directory);

    ldraw_file document;
    string_console out;
    EXPECT_EQ(document.read(host_file_system(), options.input, out), ldraw_file::read_result::ok);
    out.text.clear();
    observed result;
    document.expand_subfiles(paths, out, [&](const ldraw_line& element) {
        std::string text = element.to_text();
        if (element.type_code() == line_type::subfile) text += " [" + std::to_string(element.winding) + "]";
        result.lines.push_back(text);
    });
    result.console = out.text;
    return result;
}

// Runs "weldrix -s <args> main.dat out.dat" in the folder (relative names resolve there).
test::run_result weld(const temp_dir& dir, const std::vector<std::string>& args = {}) {
    std::vector<std::string> all = {"-s"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("main.dat");
    all.push_back("out.dat");
    return run_weldrix(all, "", dir.path());
}

// The part of the console output the expansion prints: between "Expanding input file subfiles"
// and the empty lines before "Unifying input file vertices".
std::string expansion_text(const std::string& output) {
    const std::string start = "\nExpanding input file subfiles\n";
    const auto from = output.find(start);
    const auto to = output.find("\n\nUnifying input file vertices\n");
    if (from == std::string::npos || to == std::string::npos || to < from + start.size()) return "<missing>";
    return output.substr(from + start.size(), to - from - start.size());
}

std::string output_file(const temp_dir& dir) { return test::read_file(dir / "out.dat"); }

TEST(Subfiles, NestedReferencesComposePlacementAndColour) {
    temp_dir dir;
    write_file(dir / "a.dat", "2 24 1 0 0 0 1 0\n1 16 0 0 1 1 0 0 0 1 0 0 0 1 b.dat\n");
    write_file(dir / "b.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    const observed got = expand_in_process(dir, "1 4 10 0 0 2 0 0 0 2 0 0 0 2 a.dat\n");
    EXPECT_EQ(got.lines, (std::vector<std::string>{"2 4 12 0 0 10 2 0", "1 4 10 0 2 2 0 0 0 2 0 0 0 2 b.dat [1]",
                                                   "3 4 10 0 2 12 0 2 10 2 2"}));
    EXPECT_EQ(got.console, inlined(1, 0, 1, 0));

    // Through the tool: the part's vertices near the placed subfile vertices snap onto them.
    write_file(dir / "main.dat",
               "1 4 10 0 0 2 0 0 0 2 0 0 0 2 a.dat\n"
               "2 16 12.003 0 0 10 2 0.004\n"
               "3 16 10.002 0 2.002 12 0 2 10 2 2.006\n");
    const auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(1, 0, 1, 0));
    EXPECT_EQ(output_file(dir),
              "1 4 10 0 0 2 0 0 0 2 0 0 0 2 a.dat\n"
              "2 16 12 0 0 10 2 0\n"
              "3 16 10 0 2 12 0 2 10 2 2.006\n");
}

TEST(Subfiles, InvertNextAndMirroringEachReverseFilledLinesAndTogetherCancel) {
    temp_dir dir;
    write_file(dir / "t.dat",
               "3 16 0 0 0 1 0 0 0 1 0\n"
               "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n"
               "2 16 0 0 0 1 0 0\n"
               "5 16 0 0 0 1 0 0 0 1 0 0 -1 0\n");
    const observed got =
        expand_in_process(dir, reference("t.dat") + "0 BFC INVERTNEXT\n" + reference("t.dat") +
                                   reference("t.dat", mirror_x) + "0 bfc InvertNext\n" + reference("t.dat", mirror_x) +
                                   "0 INVERTNEXT without the word\n" + reference("t.dat"));
    EXPECT_EQ(got.lines,
              (std::vector<std::string>{// plain
                                        "3 16 0 0 0 1 0 0 0 1 0", "4 16 0 0 0 1 0 0 1 1 0 0 1 0", "2 16 0 0 0 1 0 0",
                                        "5 16 0 0 0 1 0 0 0 1 0 0 -1 0",
                                        // INVERTNEXT: corners 1 and 3 change places; lines are never reversed
                                        "3 16 0 1 0 1 0 0 0 0 0", "4 16 1 1 0 1 0 0 0 0 0 0 1 0", "2 16 0 0 0 1 0 0",
                                        "5 16 0 0 0 1 0 0 0 1 0 0 -1 0",
                                        // mirrored: reversed before the matrix is applied
                                        "3 16 0 1 0 -1 0 0 0 0 0", "4 16 -1 1 0 -1 0 0 0 0 0 0 1 0",
                                        "2 16 0 0 0 -1 0 0", "5 16 0 0 0 -1 0 0 0 1 0 0 -1 0",
                                        // both: not reversed
                                        "3 16 0 0 0 -1 0 0 0 1 0", "4 16 0 0 0 -1 0 0 -1 1 0 0 1 0",
                                        "2 16 0 0 0 -1 0 0", "5 16 0 0 0 -1 0 0 0 1 0 0 -1 0",
                                        // a comment without "BFC" inverts nothing
                                        "3 16 0 0 0 1 0 0 0 1 0", "4 16 0 0 0 1 0 0 1 1 0 0 1 0", "2 16 0 0 0 1 0 0",
                                        "5 16 0 0 0 1 0 0 0 1 0 0 -1 0"}));
}

// The corner order decides which of two equally near subfile vertices comes first among the snap
// targets, and a part vertex halfway between them snaps onto the first: so reversal shows in the
// output. t.dat has the corners P = (0,0,0), Q = (1,0,0), R = (2^-8,0,0).
TEST(Subfiles, ReversalShowsInWhichEquallyNearVertexAPartVertexSnapsTo) {
    struct variant {
        std::string before, matrix, part_x, written_x;
    };
    const variant variants[] = {
        {"", identity, "0.001953125", "0"},
        {"0 BFC INVERTNEXT\n", identity, "0.001953125", "0.00390625"},
        {"", mirror_x, "-0.001953125", "-0.00390625"},
        {"0 BFC INVERTNEXT\n", mirror_x, "-0.001953125", "0"},
        // A matrix with determinant 0 reverses nothing by itself.
        {"", " 1 0 0 0 0 0 0 0 1 ", "0.001953125", "0"},
        {"", " -1 0 0 0 0 0 0 0 1 ", "-0.001953125", "0"},
        {"0 BFC INVERTNEXT\n", " 1 0 0 0 0 0 0 0 1 ", "0.001953125", "0.00390625"},
    };
    for (const variant& v : variants) {
        SCOPED_TRACE(v.before + v.matrix);
        temp_dir dir;
        write_file(dir / "t.dat", "3 16 0 0 0 1 0 0 0.00390625 0 0\n");
        write_file(dir / "main.dat", v.before + reference("t.dat", v.matrix) + "2 16 " + v.part_x + " 0 0 0 5 0\n");
        const auto run = weld(dir);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(expansion_text(run.output), inlined(0, 0, 1, 0));
        EXPECT_EQ(output_file(dir), v.before + reference("t.dat", v.matrix) + "2 16 " + v.written_x + " 0 0 0 5 0\n");
    }
}

TEST(Subfiles, InversionIsPassedDownAndComposedAtEveryDepth) {
    temp_dir dir;
    write_file(dir / "t.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    // Inside an inverted copy: a plain reference inherits -1, an INVERTNEXT turns it back to +1,
    // and a mirrored one is reversed once more by its matrix.
    write_file(dir / "mid.dat", reference("t.dat") + "0 BFC INVERTNEXT\n" +
                                    reference("t.dat", identity, "16", "5 0 0") + reference("t.dat", mirror_x));
    // Two mirrors on one path cancel through the composed matrix.
    write_file(dir / "mirrored.dat", reference("t.dat", mirror_x));
    const observed got =
        expand_in_process(dir, "0 BFC INVERTNEXT\n" + reference("mid.dat") + reference("mirrored.dat", mirror_x));
    EXPECT_EQ(got.lines, (std::vector<std::string>{
                             "1 16 0 0 0 1 0 0 0 1 0 0 0 1 t.dat [-1]", "0 BFC INVERTNEXT",
                             "1 16 5 0 0 1 0 0 0 1 0 0 0 1 t.dat [-1]", "1 16 0 0 0 -1 0 0 0 1 0 0 0 1 t.dat [-1]",
                             "1 16 0 0 0 1 0 0 0 1 0 0 0 1 t.dat [1]",
                             "3 16 0 1 0 1 0 0 0 0 0",   // inverted once
                             "3 16 5 0 0 6 0 0 5 1 0",   // inverted twice
                             "3 16 0 0 0 -1 0 0 0 1 0",  // inverted and mirrored
                             "3 16 0 0 0 1 0 0 0 1 0",   // mirrored twice
                         }));
}

TEST(Subfiles, InvertNextIsTheElementBeforeInTheWholeListAcrossFileBoundaries) {
    temp_dir dir;
    write_file(dir / "t.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "ends_inverting.dat", "2 16 0 0 0 0 0 1\n0 BFC INVERTNEXT\n");
    write_file(dir / "starts_with_ref.dat", reference("t.dat"));
    const std::string reversed = "3 16 0 1 0 1 0 0 0 0 0", plain = "3 16 0 0 0 1 0 0 0 1 0";

    // The copy appended just before ends with INVERTNEXT: the next copy's first reference follows it.
    observed got = expand_in_process(dir, reference("ends_inverting.dat") + reference("starts_with_ref.dat"));
    ASSERT_EQ(got.lines.size(), 4u);
    EXPECT_EQ(got.lines[2], "1 16 0 0 0 1 0 0 0 1 0 0 0 1 t.dat [1]");
    EXPECT_EQ(got.lines[3], reversed);

    // The first inlined line follows the part's own last line.
    got = expand_in_process(dir, reference("starts_with_ref.dat") + "0 BFC INVERTNEXT\n");
    ASSERT_EQ(got.lines.size(), 2u);
    EXPECT_EQ(got.lines[1], reversed);

    // Skipped lines are no elements and do not come between; a comment or a reference whose file
    // is missing does.
    write_file(dir / "gaps.dat", "0 BFC INVERTNEXT\n6 16 1 2 3\n\n7 0\n-1 5\nnot a line\n" + reference("t.dat") +
                                     "0 BFC INVERTNEXT\n0 a note\n" + reference("t.dat") + "0 BFC INVERTNEXT\n" +
                                     reference("missing.dat") + reference("t.dat"));
    got = expand_in_process(dir, reference("gaps.dat"));
    ASSERT_EQ(got.lines.size(), 11u);
    EXPECT_EQ(got.lines[8], reversed);
    EXPECT_EQ(got.lines[9], plain);
    EXPECT_EQ(got.lines[10], plain);
}

TEST(Subfiles, Colours16And24TakeTheReferenceColourAnd16PassesDown) {
    temp_dir dir;
    write_file(dir / "c.dat",
               "2 24 0 0 0 1 0 0\n"
               "3 16 0 0 0 1 0 0 0 1 0\n"
               "4 7 0 0 0 1 0 0 1 1 0 0 1 0\n"
               "5 24 0 0 0 1 0 0 0 1 0 0 -1 0\n"
               "3 x 0 0 0 1 0 0 0 1 0\n"  // an unreadable colour reads as 16
               "0 a comment has no colour\n" +
                   reference("d.dat", identity, "24"));
    write_file(dir / "d.dat", "2 16 0 0 0 0 1 0\n2 4 0 0 0 0 2 0\n");
    const observed got = expand_in_process(dir, reference("c.dat", identity, "4") + reference("c.dat", identity, "16"));
    EXPECT_EQ(got.lines,
              (std::vector<std::string>{"2 4 0 0 0 1 0 0", "3 4 0 0 0 1 0 0 0 1 0", "4 7 0 0 0 1 0 0 1 1 0 0 1 0",
                                        "5 4 0 0 0 1 0 0 0 1 0 0 -1 0", "3 4 0 0 0 1 0 0 0 1 0",
                                        "0 a comment has no colour", "1 4 0 0 0 1 0 0 0 1 0 0 0 1 d.dat [1]",
                                        //
                                        "2 16 0 0 0 1 0 0", "3 16 0 0 0 1 0 0 0 1 0", "4 7 0 0 0 1 0 0 1 1 0 0 1 0",
                                        "5 16 0 0 0 1 0 0 0 1 0 0 -1 0", "3 16 0 0 0 1 0 0 0 1 0",
                                        "0 a comment has no colour", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 d.dat [1]",
                                        //
                                        "2 4 0 0 0 0 1 0", "2 4 0 0 0 0 2 0", "2 16 0 0 0 0 1 0", "2 4 0 0 0 0 2 0"}));
    EXPECT_EQ(got.console, inlined(6, 2, 4, 2));
}

TEST(Subfiles, EveryReferenceIsInlinedAndCountedEachTimeLevelAfterLevel) {
    temp_dir dir;
    write_file(dir / "a.dat", reference("b.dat", identity, "16", "0 0 100") + "2 16 1 0 0 0 0 0\n");
    write_file(dir / "b.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    // The same files again and again, at several depths and places: each copy placed on its own.
    const observed got = expand_in_process(dir, reference("a.dat") + reference("b.dat", identity, "16", "10 0 0") +
                                                    reference("a.dat", " 2 0 0 0 2 0 0 0 2 ", "16", "0 50 0"));
    EXPECT_EQ(got.lines, (std::vector<std::string>{"1 16 0 0 100 1 0 0 0 1 0 0 0 1 b.dat [1]", "2 16 1 0 0 0 0 0",
                                                   "3 16 10 0 0 11 0 0 10 1 0",
                                                   "1 16 0 50 200 2 0 0 0 2 0 0 0 2 b.dat [1]", "2 16 2 50 0 0 50 0",
                                                   "3 16 0 0 100 1 0 100 0 1 100", "3 16 0 50 200 2 50 200 0 52 200"}));
    EXPECT_EQ(got.console, inlined(2, 0, 3, 0));

    // Snap targets are taken in that order (level after level, not depth first): of two inlined
    // vertices closer than 0.001 the first one inlined stands for both.
    write_file(dir / "outer.dat", reference("deep.dat"));
    write_file(dir / "deep.dat", "2 16 0.0004 0 0 0 9 0\n");
    write_file(dir / "near.dat", "2 16 0 0 0 0 -9 0\n");
    write_file(dir / "main.dat", reference("outer.dat") + reference("near.dat") + "2 16 0.0003 0 0 5 5 5\n");
    auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(output_file(dir), reference("outer.dat") + reference("near.dat") + "2 16 0 0 0 5 5 5\n");

    // A file referenced twice is inlined and counted twice.
    write_file(dir / "main.dat", reference("a.dat") + reference("a.dat", identity, "4", "1 1 1"));
    run = weld(dir);
    EXPECT_EQ(expansion_text(run.output), inlined(2, 0, 2, 0));
}

TEST(Subfiles, SkippedLinesOfSubfilesAreNeitherInlinedNorCounted) {
    temp_dir dir;
    write_file(dir / "s.dat",
               "6 16 0 0 0 1 0 0 0 1 0\n"
               "7 16 0 0 0 1 0 0\n"
               "-1 16 0 0 0 1 0 0 0 1 0\n"
               "\n   \r\n"
               "three 16 0 0 0 1 0 0 0 1 0\n"
               "2 16 0 0 0 1 0 0\r\n"
               "5 16 0 0 0 0 0 1 1 0 0 0 1 0\r"  // CR alone ends a line too
               "4 16 0 0 5 1 0 5 1 1 5 0 1 5\r"
               "3 16 0 0 9 1 0 9 0 1 9");  // a last line without a line end counts
    const observed got = expand_in_process(dir, reference("s.dat"));
    EXPECT_EQ(got.lines, (std::vector<std::string>{"2 16 0 0 0 1 0 0", "5 16 0 0 0 0 0 1 1 0 0 0 1 0",
                                                   "4 16 0 0 5 1 0 5 1 1 5 0 1 5", "3 16 0 0 9 1 0 9 0 1 9"}));
    EXPECT_EQ(got.console, inlined(1, 1, 1, 1));

    // Conditional lines are counted but give no snap targets: a part vertex 0.003 from a
    // conditional line's control point stays where it is, one as near an edge's end snaps.
    write_file(dir / "main.dat", reference("s.dat") + "2 16 0.003 1 0 0.003 0 0\n");
    const auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(1, 1, 1, 1));
    EXPECT_EQ(output_file(dir), reference("s.dat") + "2 16 0.003 1 0 0 0 0\n");
}

TEST(Subfiles, NamesMatchWithBackslashesAndAnyLetterCase) {
    temp_dir dir;
    write_file(dir / "lib/parts/s/3001s01.dat", "2 16 0 0 0 1 0 0\n");
    write_file(dir / "lib/p/48/1-4edge.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "s/local.dat", "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    // An exact entry wins over one that differs in case; else the first in byte order.
    write_file(dir / "lib/parts/Two.dat", "2 16 0 0 0 1 0 0\n");
    write_file(dir / "lib/parts/TWO.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "lib/parts/two.DAT", "5 16 0 0 0 1 0 0 0 1 0 0 -1 0\n");
    write_file(dir / "main.dat", reference("S\\3001S01.DAT") + reference("48\\1-4EDGE.dat") +
                                     reference("s\\LOCAL.dat") + reference("Two.dat") + reference("two.dat"));
    auto run = weld(dir, {"-l", "lib"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(2, 0, 2, 1));

    // The library folder itself may differ in case and be written with backslashes.
    run = weld(dir, {"-l", ".\\LIB"});
    EXPECT_EQ(expansion_text(run.output), inlined(2, 0, 2, 1));
}

TEST(Subfiles, TheFirstDirectoryOfTheSearchListThatHoldsTheFileWins) {
    temp_dir dir;
    // The part's own folder, then p\ and s\ below it, then the six folders of each library.
    write_file(dir / "x.dat", "2 16 0 0 0 1 0 0\n");
    write_file(dir / "lib1/parts/x.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "lib1/p/y.dat", "2 16 0 0 0 1 0 0\n");
    write_file(dir / "lib1/parts/y.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "lib1/Unofficial/parts/z.dat", "5 16 0 0 0 1 0 0 0 1 0 0 -1 0\n");
    write_file(dir / "lib2/parts/z.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "lib2/parts/s/only2.dat", "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    write_file(dir / "lib2/parts/y.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "main.dat",
               reference("x.dat") + reference("y.dat") + reference("z.dat") + reference("s\\only2.dat"));

    const auto run = weld(dir, {"-l", "lib1", "-l", "lib2\\"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(2, 1, 0, 1));
    EXPECT_NE(run.output.find("LDraw subfiles search locations:\n"
                              ".\\, .\\p\\, .\\s\\, lib1\\p\\, lib1\\parts\\, lib1\\parts\\s\\, lib1\\Unofficial\\p\\, "
                              "lib1\\Unofficial\\parts\\, lib1\\Unofficial\\parts\\s\\, lib2\\p\\, lib2\\parts\\, "
                              "lib2\\parts\\s\\, lib2\\Unofficial\\p\\, lib2\\Unofficial\\parts\\, "
                              "lib2\\Unofficial\\parts\\s\\\n"),
              std::string::npos)
        << run.output;
}

TEST(Subfiles, MissingFilesDirectoriesFifosAndBinaryFilesArePassedOverSilently) {
    temp_dir dir;
    fs::create_directories(dir / "d.dat");
    ASSERT_EQ(::mkfifo((dir / "f.dat").c_str(), 0644), 0);
    write_file(dir / "b.dat", std::string("\xFF\xFE"
                                          "3\0",
                                          4));  // UTF-16: not LDraw text
    write_file(dir / "lib/parts/d.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "lib/parts/f.dat", "2 16 0 0 0 1 0 0\n");
    write_file(dir / "lib/parts/b.dat", "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    // A name with a ".." component is never looked up, though it would find a file.
    write_file(dir / "up.dat", "5 16 0 0 0 1 0 0 0 1 0 0 -1 0\n");
    const std::string climbing = reference("s\\..\\up.dat") + reference("lib/parts/../../up.dat") +
                                 reference("s/.. /up.dat") + reference("s\\..");
    const std::string part = reference("missing.dat", identity, "4", "1 2 3") + reference("d.dat") +
                             reference("f.dat") + reference("b.dat") +
                             "1 16 0 0 0 1 0 0 0 1 0 0 0 1\n" +  // no name: the candidate is a folder
                             reference("lib") +                  // a folder named as a subfile
                             climbing;
    write_file(dir / "main.dat", part);
    const auto run = weld(dir, {"-l", "lib"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(1, 0, 1, 1));
    EXPECT_EQ(output_file(dir), "1 4 1 2 3 1 0 0 0 1 0 0 0 1 missing.dat\n" + reference("d.dat") + reference("f.dat") +
                                    reference("b.dat") + "1 16 0 0 0 1 0 0 0 1 0 0 0 1 \n" + reference("lib") +
                                    climbing);
    EXPECT_NE(run.errors.find("weldrix: warning: subfile name climbs out of its search folder, not looked up: "
                              "lib/parts/../../up.dat (1 reference skipped)\n"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(run.errors.find("not looked up: missing.dat"), std::string::npos);
    for (const char* name : {"..", "a/../b", "a\\..\\b", "a/. ./b", "..."}) EXPECT_TRUE(climbs_out(name)) << name;
    for (const char* name : {"a..b/c", "..a/b", "s/.hidden", "./x.dat", "x.dat.."})
        EXPECT_FALSE(climbs_out(name)) << name;
}

// A file of the kernel's pseudo file systems says it is a regular file of size 0 yet yields
// bytes, and some (/proc/kmsg, trace_pipe) block until there are some: a library reference
// reaching one must neither hang the run nor inline what it yields. A subfile is read up to the
// size it has when opened. /proc/sys/kernel/randomize_va_space reads "2" (an edge line) on most
// systems.
TEST(Subfiles, PseudoFilesOfSizeZeroAreReadAsEmpty) {
    const std::string pseudo = "/proc/sys/kernel/randomize_va_space";
    struct stat st;
    if (::stat(pseudo.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) GTEST_SKIP();
    temp_dir dir;
    fs::create_directory_symlink("/proc/sys/kernel", dir / "kernel");
    write_file(dir / "main.dat", reference("kernel\\randomize_va_space"));
    const auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output), inlined(0, 0, 0, 0));
}

TEST(Subfiles, CyclesAreCutWithOneMessagePerNameAsWritten) {
    temp_dir dir;
    write_file(dir / "a.dat", "3 16 0 0 0 1 0 0 0 1 0\n" + reference("b.dat"));
    write_file(dir / "b.dat", "2 16 0 0 0 1 0 0\n" + reference("a.dat") + reference("A.DAT") + reference("main.dat"));
    write_file(dir / "s/loop.dat", reference("S\\Loop.dat") + "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    // Not cycles: the same file twice side by side, and two paths meeting in one file.
    write_file(dir / "left.dat", reference("leaf.dat"));
    write_file(dir / "right.dat", reference("leaf.dat"));
    write_file(dir / "leaf.dat", "5 16 0 0 0 1 0 0 0 1 0 0 -1 0\n");
    write_file(dir / "main.dat", reference("main.dat") + reference("a.dat") + reference("./main.dat") +
                                     reference("a.dat") + reference("S\\Loop.dat") + reference("left.dat") +
                                     reference("right.dat") + reference("left.dat"));
    const auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    // Every skip happens while the references are expanded: the part's own first, then level by
    // level (a.dat, a.dat, s\loop.dat, b.dat, b.dat, ...).
    EXPECT_EQ(expansion_text(run.output),
              "Circular subfile reference skipped: main.dat\n"
              "Circular subfile reference skipped: ./main.dat\n"
              "Circular subfile reference skipped: S\\Loop.dat\n"
              "Circular subfile reference skipped: a.dat\n"
              "Circular subfile reference skipped: A.DAT\n" +
                  inlined(2, 3, 2, 1));
}

// An interrupt ends the expansion of an exploding library: once the stop flag is set, no further
// file is inlined (the one being inlined is finished).
TEST(Subfiles, AnInterruptStopsTheExpansionAtTheNextFile) {
    temp_dir dir;
    const auto file = [](int k) { return std::string("f").append(std::to_string(k)).append(".dat"); };
    for (int k = 0; k < 8; ++k) {
        std::string text = "2 16 0 0 0 1 0 0\n";
        for (int j = 0; j < 9; ++j) text += reference(file(k + 1));
        write_file(dir / file(k), text);
    }
    write_file(dir / "main.dat", reference("f0.dat"));
    search_paths paths(host_file_system());
    paths.add_path(dir.path() + "/");
    ldraw_file document;
    string_console out;
    ASSERT_EQ(document.read(host_file_system(), dir / "main.dat", out), ldraw_file::read_result::ok);
    std::atomic<bool> stop{false};
    std::size_t seen = 0;
    document.expand_subfiles(
        paths, out, [&](const ldraw_line&) { stop = ++seen >= 1000; }, &stop);
    EXPECT_GE(seen, 1000u);
    EXPECT_LT(seen, 1010u);
}

TEST(Subfiles, AnExplodingLibraryStopsAtTheLimitWithOneMessage) {
    // Eight files each referencing the next nine times, all copies at the same place. Every copy
    // is 11 lines: nine references with two edge lines among them, placed so that the limit
    // falls in a copy right after its first edge line: with one line more or less inlined the
    // count of edges would differ.
    constexpr std::size_t before_edges = default_max_inlined_lines % 11 - 1;  // references before the edges
    static_assert(default_max_inlined_lines % 11 >= 1);
    temp_dir dir;
    const auto file = [](int k) { return std::string("f").append(std::to_string(k)).append(".dat"); };
    for (int k = 0; k < 8; ++k) {
        std::string text;
        for (std::size_t j = 0; j < 9; ++j) {
            if (j == before_edges) text += "2 16 0 0 0 1 0 0\n2 16 0 0 0 0 1 0\n";
            text += reference(file(k + 1));
        }
        if (before_edges == 9) text += "2 16 0 0 0 1 0 0\n2 16 0 0 0 0 1 0\n";
        write_file(dir / file(k), text);
    }
    write_file(dir / "f8.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "main.dat", reference("f0.dat") + "2 16 0.004 0 0 5 5 5\n");
    const auto run = weld(dir);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(expansion_text(run.output),
              "Subfile expansion stopped: the limit of " + std::to_string(default_max_inlined_lines) +
                  " inlined lines is reached; the rest is not inlined\n" +
                  inlined(static_cast<int>(default_max_inlined_lines / 11 * 2 + 1), 0, 0, 0));
    // The run finishes with what was inlined. The warning names the reference whose copy reached
    // the limit, and --strict withholds the output.
    EXPECT_EQ(output_file(dir), reference("f0.dat") + "2 16 0 0 0 5 5 5\n");
    EXPECT_EQ(run.errors,
              "weldrix: warning: main.dat: f5.dat line 11: subfile expansion stopped while inlining f6.dat: the "
              "limit of " +
                  std::to_string(default_max_inlined_lines) + " inlined lines is reached\n");
    EXPECT_EQ(weld(dir, {"--strict"}).exit_code, 4);
}

TEST(Subfiles, ConsoleOfARunWithSubfilesByteForByte) {
    temp_dir dir;
    write_file(dir / "lib/p/box.dat",
               "0 a box\n4 16 0 0 0 1 0 0 1 1 0 0 1 0\n2 24 0 0 0 1 0 0\n" + reference("s\\side.dat"));
    write_file(dir / "lib/parts/s/side.dat", "5 24 0 0 0 1 0 0 0 1 0 0 -1 0\n3 16 0 0 0 1 0 0 0 1 0\n");
    write_file(dir / "main.dat",
               "0 part\r\n" + reference("box.dat") + "3 16 0.001 0 0 1 0 0 0 1 0\r\n" + reference("gone.dat"));
    const auto run = weld(dir, {"-us", "0.01", "-l", "lib"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output,
              "\nLdraw Weldrix 1.0 - by Orvel\n-------------------------------\n"
              "Vertices unification threshold: 0.005\n"
              "Unification on subfiles threshold: 0.01\n"
              "\n"
              "Reading input file main.dat\n"
              "4 lines in file\n0 Edge lines\n0 Conditional lines\n1 Triangles\n0 Quads\n2 Subfiles\n"
              "\n"
              "LDraw subfiles search locations:\n"
              ".\\, .\\p\\, .\\s\\, lib\\p\\, lib\\parts\\, lib\\parts\\s\\, lib\\Unofficial\\p\\, "
              "lib\\Unofficial\\parts\\, lib\\Unofficial\\parts\\s\\\n"
              "\n"
              "Expanding input file subfiles\n"
              "\n"
              "Inlined from subfiles:\n1 Edge lines\n1 Conditional lines\n1 Triangles\n1 Quads\n"
              "\n"
              "\n"
              "Unifying input file vertices\n"
              "\n"
              "Writing output file out.dat\n"
              "4 lines written in file\n0 Edge lines\n0 Conditional lines\n1 Triangles\n0 Quads\n2 Subfiles\n"
              "Press <Enter> to quit\n");
    // The missing subfile is named on standard error, which changes nothing above.
    EXPECT_EQ(run.errors, "weldrix: warning: subfile not found: gone.dat (1 reference skipped)\n");
    EXPECT_EQ(output_file(dir), "0 part\r\n" + std::string("1 16 0 0 0 1 0 0 0 1 0 0 0 1 box.dat\r\n") +
                                    "3 16 0 0 0 1 0 0 0 1 0\r\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 gone.dat\r\n");
}

// ---------------------------------------------------------------------------------------------
// Real parts against an independent count: a plain recursive walk over the files with
// std::filesystem, resolving names along the same search order without regard to letter case.

struct type_counts {
    long edges = 0, conditionals = 0, triangles = 0, quads = 0;
    type_counts& operator+=(const type_counts& o) {
        edges += o.edges, conditionals += o.conditionals, triangles += o.triangles, quads += o.quads;
        return *this;
    }
};

class independent_walk {
public:
    explicit independent_walk(std::vector<fs::path> directories) : directories_(std::move(directories)) {}

    // Counts of the lines of the four drawing types that inlining the file brings, at every depth;
    // the top file's own lines are counted only when count_own is set.
    type_counts below(const fs::path& file, std::vector<fs::path>& chain, bool count_own = true) {
        type_counts total;
        std::ifstream in(file, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::istringstream tokens(line);
            int type = -1;
            if (!(tokens >> type)) continue;
            if (!count_own && type != 1) continue;
            switch (type) {
                case 2: ++total.edges; break;
                case 3: ++total.triangles; break;
                case 4: ++total.quads; break;
                case 5: ++total.conditionals; break;
                case 1: {
                    std::string skip;
                    for (int k = 0; k < 13; ++k) tokens >> skip;  // colour, position, matrix
                    std::string name;
                    std::getline(tokens >> std::ws, name);
                    const auto found = find(name);
                    if (!found) {
                        unresolved.insert(file.filename().string() + ": " + name);
                        break;
                    }
                    if (std::find(chain.begin(), chain.end(), *found) != chain.end()) {
                        cycles.insert(name);
                        break;
                    }
                    const auto known = counted_.find(*found);
                    if (known != counted_.end()) {
                        total += known->second;
                        break;
                    }
                    chain.push_back(*found);
                    const type_counts nested = below(*found, chain);
                    chain.pop_back();
                    counted_.emplace(*found, nested);
                    total += nested;
                    break;
                }
                default: break;
            }
        }
        return total;
    }

    std::set<std::string> unresolved;
    std::set<std::string> cycles;

private:
    static bool same_ignoring_case(const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    }

    // The entry of folder named like component, exact name first.
    static std::optional<fs::path> entry(const fs::path& folder, const std::string& component) {
        if (fs::exists(folder / component)) return folder / component;
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            if (same_ignoring_case(n, component)) return folder / n;
        }
        return std::nullopt;
    }

    std::optional<fs::path> find(const std::string& written) {
        const auto known = found_.find(written);
        if (known != found_.end()) return known->second;
        std::string name = written;
        std::replace(name.begin(), name.end(), '\\', '/');
        for (const fs::path& directory : directories_) {
            std::optional<fs::path> at = directory;
            std::istringstream parts(name);
            std::string component;
            while (at && std::getline(parts, component, '/')) {
                if (!component.empty()) at = entry(*at, component);
            }
            if (at && fs::is_regular_file(*at)) return found_[written] = fs::canonical(*at);
        }
        return found_[written] = std::nullopt;
    }

    std::vector<fs::path> directories_;
    std::map<std::string, std::optional<fs::path>> found_;  // by name as written
    std::map<fs::path, type_counts> counted_;               // by canonical path
};

std::vector<std::string> listed_parts() {
    std::ifstream in(test::library_path() + "/PARTS.txt");
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        if (!line.empty()) names.push_back(line);
    }
    return names;
}

TEST(Subfiles, RealPartsResolveEveryReferenceAndMatchAnIndependentCount) {
    const fs::path library = test::library_path();
    const std::vector<std::string> parts = listed_parts();
    ASSERT_EQ(parts.size(), 43u);
    for (const std::string& part : parts) {
        SCOPED_TRACE(part);
        temp_dir dir;
        fs::copy_file(library / "parts" / part, dir / "main.dat");

        const fs::path here = dir.path();
        independent_walk walk({here, here / "p", here / "s", library / "p", library / "parts", library / "parts/s",
                               library / "Unofficial/p", library / "Unofficial/parts", library / "Unofficial/parts/s"});
        std::vector<fs::path> chain = {fs::canonical(here / "main.dat")};
        const type_counts expected = walk.below(chain.front(), chain, false);
        EXPECT_EQ(walk.unresolved, std::set<std::string>{});
        EXPECT_EQ(walk.cycles, std::set<std::string>{});
        EXPECT_GT(expected.edges + expected.triangles + expected.quads, 0);

        const auto run = weld(dir, {"-l", library.string()});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(expansion_text(run.output),
                  inlined(static_cast<int>(expected.edges), static_cast<int>(expected.conditionals),
                          static_cast<int>(expected.triangles), static_cast<int>(expected.quads)));
    }
}

}  // namespace
}  // namespace weldrix
