// Unification of a whole document: merging, snapping onto inlined subfiles, collapse of lines,
// triangles, quads and conditional lines, and the written statistics. The grid index and the
// linear reference must write the same bytes for any part.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "elements/polygon_lines.hpp"
#include "io/console.hpp"
#include "part_generator.hpp"
#include "support.hpp"

namespace weldrix {
namespace {

using test::part_generator;
using test::temp_dir;
using test::write_file;

struct unified {
    std::string text;
    line_counts written;
};

// Reads the text, inlines its subfiles from `folder` when one is given, unifies and writes.
// The index reads, unifies and writes the halves of a document side by side (from two lines on),
// the linear reference all of it in one: the two compared test both.
unified unify(std::string_view input, double vertex = 0.005, double subfile = 0.005,
              vertex_search search = vertex_search::indexed, const std::string& folder = {}) {
    ldraw_file doc;
    doc.options.thresholds = {vertex, subfile};
    doc.options.search = search;
    if (search == vertex_search::indexed) {
        doc.options.snap_halves_from = 2;
        doc.options.read_halves_from = 0;
        doc.options.split_from = 0;  // and its own vertices in two sets where a plane parts them,
        doc.options.lone_from = 0;   // the lone ones told beside the cut
    }
    doc.read_bytes(input);
    if (!folder.empty()) {
        search_paths paths(host_file_system());
        paths.add_path(folder + "/");
        string_console out;
        doc.expand_subfiles(paths, out);
    }
    doc.unify_vertices();
    unified result;
    result.text = doc.text(result.written);
    return result;
}

TEST(Unify, MergesOntoRunningAveragesByManhattanDistance) {
    // 0.004 apart: merged to the midpoint; 0.006 apart (each axis 0.003): not merged; exactly
    // 0.005: not merged.
    EXPECT_EQ(unify("2 24 0 0 0 10 0 0\n2 24 0.002 0.002 0 0 10 0\n").text,
              "2 24 0.001 0.001 0 10 0 0\n2 24 0.001 0.001 0 0 10 0\n");
    EXPECT_EQ(unify("2 24 0 0 0 10 0 0\n2 24 0.003 0.003 0 0 10 0\n").text,
              "2 24 0 0 0 10 0 0\n2 24 0.003 0.003 0 0 10 0\n");
    EXPECT_EQ(unify("2 24 0 0 0 10 0 0\n2 24 0.005 0 0 0 10 0\n").text, "2 24 0 0 0 10 0 0\n2 24 0.005 0 0 0 10 0\n");

    // 0, 0.004, 0.008 in this order: the first two make one representative at 0.002, the third is
    // 0.006 from it and keeps its place.
    EXPECT_EQ(unify("2 24 0 0 0 0 0 10\n2 24 0.004 0 0 0 0 20\n2 24 0.008 0 0 0 0 30\n").text,
              "2 24 0.002 0 0 0 0 10\n2 24 0.002 0 0 0 0 20\n2 24 0.008 0 0 0 0 30\n");

    // Control points of conditional lines take part in the averages like any vertex; subfile
    // references and comments are left alone.
    EXPECT_EQ(unify("0 a comment 0.001\n1 16 0.001 0 0 1 0 0 0 1 0 0 0 1 x.dat\n"
                    "5 24 0 0 0 0 10 0 5 5 0 -1 5 0\n2 24 5.004 5 0 9 9 9\n")
                  .text,
              "0 a comment 0.001\n1 16 0.001 0 0 1 0 0 0 1 0 0 0 1 x.dat\n"
              "5 24 0 0 0 0 10 0 5.002 5 0 -1 5 0\n2 24 5.002 5 0 9 9 9\n");

    // Merging takes the first representative in range, snapping the nearest: the vertex at 0.0045
    // joins the representative at 0 (moving it to 0.00225), then snaps onto 0.006, now nearer.
    EXPECT_EQ(unify("2 24 0 0 0 0 0 10\n2 24 0.006 0 0 0 0 20\n2 24 0.0045 0 0 0 0 30\n").text,
              "2 24 0.00225 0 0 0 0 10\n2 24 0.006 0 0 0 0 20\n2 24 0.006 0 0 0 0 30\n");
}

TEST(Unify, RemovesCollapsedLinesAndTurnsQuadsIntoTriangles) {
    // A triangle two of whose corners merge is neither written nor counted.
    unified t = unify("3 4 0 0 0 0.002 0 0 0 10 0\n3 4 5 5 5 10 0 0 0 10 0\n");
    EXPECT_EQ(t.text, "3 4 5 5 5 10 0 0 0 10 0\n");
    EXPECT_EQ(t.written.lines, 1u);
    EXPECT_EQ(t.written.triangles, 1u);

    // A quad whose corners 1 and 2 merge becomes, in its place, the triangle 2, 3, 4 with its
    // colour, counted as a triangle; the other pairs drop their first corner likewise.
    unified q = unify(
        "0 before\n4 14 0 0 0 0.002 0 0 10 10 0 0 10 0\n0 after\n"
        "4 15 20 0 0 30 0 0 30.002 0 0 20 10 0\n"
        "4 16 40 0 0 50 0 0 50 10 0 50.002 10 0\n"
        "4 17 60 0 0 70 0 0 70 10 0 60.002 0 0\n");
    EXPECT_EQ(q.text,
              "0 before\n3 14 0.001 0 0 10 10 0 0 10 0\n0 after\n"
              "3 15 20 0 0 30.001 0 0 20 10 0\n"
              "3 16 40 0 0 50 0 0 50.001 10 0\n"
              "3 17 60.001 0 0 70 0 0 70 10 0\n");
    EXPECT_EQ(q.written.lines, 6u);
    EXPECT_EQ(q.written.triangles, 4u);
    EXPECT_EQ(q.written.quads, 0u);

    // Corners 1 = 2 and 3 = 4: the triangle 2, 3, 4 collapses too, in the same step. A quad whose
    // opposite corners meet (1 and 3, or 2 and 4, the neighbours apart) has no area left and is
    // removed, also when the corners only meet by merging.
    unified d = unify(
        "4 16 0 0 0 0 0 0 10 10 0 10 10 0\n4 16 0 0 0 10 0 0 0 0 0 0 10 0\n"
        "4 16 20 0 0 30 0 0 20 10 0 30 0 0.0004\n4 16 0 0 0 10 0 0 0.002 0 0.001 0 0 10\n"
        "4 16 40 0 0 50 0 0 50 10 0 40 10 0\n");
    EXPECT_EQ(d.text, "4 16 40 0 0 50 0 0 50 10 0 40 10 0\n");
    EXPECT_EQ(d.written.quads, 1u);
    EXPECT_EQ(d.written.triangles, 0u);

    // A conditional line whose control point meets one of its ends is removed; so is one whose
    // control points meet each other.
    unified c = unify(
        "5 24 0 0 0 0 10 0 0.0005 10 0 5 5 0\n5 24 10 0 0 10 10 0 15 5 0 15 5 0.0002\n"
        "5 24 20 0 0 20 10 0 15 5 -5 25 5 0\n");
    EXPECT_EQ(c.text, "5 24 20 0 0 20 10 0 15 5 -5 25 5 0\n");
    EXPECT_EQ(c.written.conditionals, 1u);
}

TEST(Unify, CollapseHoldsWhateverTheThresholds) {
    // Vertices closer than 0.001 as read collapse with merging switched off, and with it
    // switched off nothing else moves.
    const std::string input = "2 24 0 0 0 0.0005 0 0\n2 24 0 0 0 0.004 0 0\n4 16 0 0 0 0 0 0.0003 1 1 0 0 1 0\n";
    for (const double off : {0.0, -1.0}) {
        unified u = unify(input, off);
        EXPECT_EQ(u.text, "2 24 0 0 0 0.004 0 0\n3 16 0 0 0.0003 1 1 0 0 1 0\n") << off;
        EXPECT_EQ(u.written.edges, 1u);
        EXPECT_EQ(u.written.triangles, 1u);
    }
    // An infinite threshold merges every vertex into one: every element collapses. Infinite
    // coordinates (1e999) never merge, so their edge survives.
    unified all = unify("2 24 0 0 0 100 0 0\n3 16 -5 0 0 7 7 7 1e6 0 0\n2 24 1e999 0 0 -1e999 0 0\n",
                        std::numeric_limits<double>::infinity());
    EXPECT_EQ(all.text, "2 24 inf 0 0 -inf 0 0\n");
    // A huge threshold: all four vertices merge into one and both edges go.
    EXPECT_EQ(unify("2 24 0 0 0 300000 0 0\n2 24 600000 0 0 0 0 1\n", 1e6).text, "");
    // With no representative nearer than 100000, a vertex snaps onto the first one, if in range:
    // 350000 joins the representative at 0 (moving it to 175000), then snaps back onto it,
    // although the one at 500000 is nearer.
    EXPECT_EQ(unify("2 24 0 0 0 500000 0 0\n2 24 350000 0 0 -350000 0 0\n", 4e5).text,
              "2 24 175000 0 0 500000 0 0\n2 24 175000 0 0 -350000 0 0\n");
}

class UnifySubfiles : public testing::Test {
protected:
    temp_dir dir;
    std::string folder() const { return dir.path(); }
};

TEST_F(UnifySubfiles, SnapsMainVerticesOntoExactSubfileVertices) {
    write_file(dir / "sub.dat", "2 24 0.1234567891 0 0 0 0.3333333333 0\n5 24 40 0 0 40 1 0 41 0 0 39 0 0\n");
    // 0.004 from a subfile vertex: moves onto its exact coordinates; 0.006 from one: stays.
    // Conditional lines supply no targets.
    const std::string input =
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 0.1274567891 0 0 5 5 5\n"
        "2 24 0.0 0.3393333333 0 6 6 6\n2 24 40.003 0 0 7 7 7\n";
    EXPECT_EQ(unify(input, 0.005, 0.005, vertex_search::indexed, folder()).text,
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 0.1234568 0 0 5 5 5\n"
              "2 24 0 0.3393333 0 6 6 6\n2 24 40.003 0 0 7 7 7\n");
    ldraw_file doc;
    doc.read_bytes(input);
    search_paths paths(host_file_system());
    paths.add_path(folder() + "/");
    string_console out;
    doc.expand_subfiles(paths, out);
    doc.unify_vertices();
    EXPECT_EQ(static_cast<const edge_line&>(*doc.elements[1]).points[0].x, 0.1234567891);

    // Subfile vertices 0.0005 from an earlier one join it: one target, where the first was.
    // (Were 10.0005 a target of its own, 10.004 would snap onto it and 10.0052 too.)
    write_file(dir / "pair.dat", "2 24 10 0 0 0 0 -9\n2 24 10.0005 0 0 0 0 -8\n2 24 9.9995 0 0 0 0 -7\n");
    EXPECT_EQ(unify("1 16 0 0 0 1 0 0 0 1 0 0 0 1 pair.dat\n2 24 10.004 0 0 5 5 5\n", 0.005, 0.005,
                    vertex_search::indexed, folder())
                  .text,
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 pair.dat\n2 24 10 0 0 5 5 5\n");
    EXPECT_EQ(unify("1 16 0 0 0 1 0 0 0 1 0 0 0 1 pair.dat\n2 24 10.0052 0 0 5 5 5\n", 0.005, 0.005,
                    vertex_search::indexed, folder())
                  .text,
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 pair.dat\n2 24 10.0052 0 0 5 5 5\n");
}

TEST_F(UnifySubfiles, AChainOfNearSubfileVerticesDecidesFromAfar) {
    // Edges from x = 0.0009 n down to 0 in steps of 0.0009: each vertex merges into the one before
    // it when that one is a target, so every other one is. Whether 0 or 0.0009 is a target, and
    // so where the main vertex at 0.0003 goes, is decided by the parity of n, 0.1 units away:
    // the targets built from the region around the part must follow the chain that far.
    for (const int n : {120, 121}) {
        std::string chain;
        for (int k = n; k > 0; --k)
            chain += "2 24 " + std::to_string(0.0009 * k) + " 0 0 " + std::to_string(0.0009 * (k - 1)) + " 0 0\n";
        write_file(dir / "chain.dat", chain);
        const std::string input = "1 16 0 0 0 1 0 0 0 1 0 0 0 1 chain.dat\n2 24 0.0003 0 0 5 5 5\n";
        const std::string want = std::string("1 16 0 0 0 1 0 0 0 1 0 0 0 1 chain.dat\n2 24 ") +
                                 (n % 2 == 0 ? "0" : "0.0009") + " 0 0 5 5 5\n";
        EXPECT_EQ(unify(input, 0.005, 0.005, vertex_search::indexed, folder()).text, want) << n;
        EXPECT_EQ(unify(input, 0.005, 0.005, vertex_search::linear, folder()).text, want) << n;
    }
}

TEST_F(UnifySubfiles, RemovesTrianglesWhoseCornersSnapTogetherAndBreaksTiesByOrder) {
    // Corners 0.006 apart do not merge, but both lie 0.003 from one subfile vertex: the triangle
    // collapses in the second pass.
    write_file(dir / "point.dat", "2 24 0.003 0 0 0 0 -50\n");
    unified t = unify("1 16 0 0 0 1 0 0 0 1 0 0 0 1 point.dat\n3 16 0 0 0 0.006 0 0 0 10 0\n3 16 0 0 0 1 0 0 0 1 0\n",
                      0.005, 0.005, vertex_search::indexed, folder());
    EXPECT_EQ(t.text, "1 16 0 0 0 1 0 0 0 1 0 0 0 1 point.dat\n3 16 0.003 0 0 1 0 0 0 1 0\n");
    EXPECT_EQ(t.written.triangles, 1u);

    // Equally near two targets (exactly 2^-8 from both): the one inlined first wins.
    write_file(dir / "two.dat", "2 24 0 0 0 0 0 -50\n2 24 0.0078125 0 0 0 0 -60\n");
    write_file(dir / "owt.dat", "2 24 0.0078125 0 0 0 0 -60\n2 24 0 0 0 0 0 -50\n");
    EXPECT_EQ(unify("1 16 0 0 0 1 0 0 0 1 0 0 0 1 two.dat\n2 24 0.00390625 0 0 0 9 0\n", 0.005, 0.005,
                    vertex_search::indexed, folder())
                  .text,
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 two.dat\n2 24 0 0 0 0 9 0\n");
    EXPECT_EQ(unify("1 16 0 0 0 1 0 0 0 1 0 0 0 1 owt.dat\n2 24 0.00390625 0 0 0 9 0\n", 0.005, 0.005,
                    vertex_search::indexed, folder())
                  .text,
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 owt.dat\n2 24 0.0078125 0 0 0 9 0\n");
}

const double document_thresholds[] = {
    0.005, 0.005, 0.02, 0.0, 1e-12, 0x1p-6, 1e6, 1e300, std::numeric_limits<double>::infinity()};

TEST(Unify, GridIndexWritesTheLinearBytesForGeneratedParts) {
    std::mt19937_64 seeds(99);
    for (int k = 0; k < 300; ++k) {
        const std::uint64_t seed = seeds();
        part_generator part(seed, seed % 3 == 0 ? 0.01 : 1.0);
        const double t = document_thresholds[part.random()() % std::size(document_thresholds)];
        const std::string input = part.lines(1 + static_cast<int>(part.random()() % 400), 0.004);
        const unified a = unify(input, t, 0.005, vertex_search::linear);
        const unified b = unify(input, t, 0.005, vertex_search::indexed);
        ASSERT_EQ(a.text, b.text) << "seed " << seed << ", threshold " << t;
        ASSERT_EQ(a.written.lines, b.written.lines);
    }
}

TEST(Unify, GridIndexWritesTheLinearBytesWithGeneratedSubfiles) {
    std::mt19937_64 seeds(123);
    for (int k = 0; k < 40; ++k) {
        temp_dir dir;
        const std::uint64_t seed = seeds();
        part_generator part(seed);
        const std::vector<std::string> names = {"a.dat", "b.dat", "c.dat"};
        // Subfiles near the main file's vertices; c.dat is referenced from a.dat too.
        write_file(dir / "a.dat", part.lines(60, 0.004, {"c.dat"}));
        write_file(dir / "b.dat", part.lines(60, 0.004));
        write_file(dir / "c.dat", part.lines(60, 0.004));
        const double vertex = document_thresholds[part.random()() % std::size(document_thresholds)];
        const double subfile = document_thresholds[part.random()() % std::size(document_thresholds)];
        const std::string input = part.lines(1 + static_cast<int>(part.random()() % 300), 0.006, names);
        const unified a = unify(input, vertex, subfile, vertex_search::linear, dir.path());
        const unified b = unify(input, vertex, subfile, vertex_search::indexed, dir.path());
        ASSERT_EQ(a.text, b.text) << "seed " << seed << ", thresholds " << vertex << ", " << subfile;
    }
}

// The same cases hold through the tool itself, with its options.
TEST(UnifyThroughTheTool, MergesCollapsesAndSnaps) {
    temp_dir dir;
    write_file(dir / "in.dat",
               "2 24 0 0 0 0 0 10\r\n2 24 0.004 0 0 0 0 20\r\n2 24 0.008 0 0 0 0 30\r\n"
               "3 4 0 0 5 0.002 0 5 0 10 5\r\n4 14 9 0 0 9.002 0 0 19 10 0 9 10 0\r\n"
               "4 16 0 0 7 0 0 7 10 10 7 10 10 7\r\n5 24 0 0 9 0 10 9 0.0005 10 9 5 5 9\r\n");
    test::run_result r = test::run_weldrix({dir / "in.dat", dir / "out.dat"}, "\n");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(test::read_file(dir / "out.dat"),
              "2 24 0.002 0 0 0 0 10\r\n2 24 0.002 0 0 0 0 20\r\n2 24 0.008 0 0 0 0 30\r\n"
              "3 14 9.001 0 0 19 10 0 9 10 0\r\n");
    EXPECT_NE(r.output.find("\n4 lines written in file\n3 Edge lines\n0 Conditional lines\n1 Triangles\n0 Quads\n"),
              std::string::npos)
        << r.output;

    // -ut 0: nothing merges, but lines collapsed as read still go; -ut 1e999: everything merges.
    write_file(dir / "in2.dat", "2 24 0 0 0 0.0005 0 0\n2 24 0 0 0 0.004 0 0\n2 24 1e999 0 0 5 0 0\n");
    r = test::run_weldrix({"-ut", "0", dir / "in2.dat", dir / "out2.dat"}, "\n");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(test::read_file(dir / "out2.dat"), "2 24 0 0 0 0.004 0 0\n2 24 inf 0 0 5 0 0\n");
    r = test::run_weldrix({"-ut", "1e999", dir / "in2.dat", dir / "out3.dat"}, "\n");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(test::read_file(dir / "out3.dat"), "2 24 inf 0 0 1.0009 0 0\n");

    // -s: a main vertex 0.004 from a subfile vertex takes its coordinates, one 0.006 away does
    // not; a triangle whose corners snap onto one subfile vertex goes.
    write_file(dir / "sub.dat", "2 24 1.0000001 2 3 0 0 -50\n2 24 1.0000006 2 3 0 0 -60\n");
    write_file(dir / "in4.dat",
               "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 1.004 2 3 7 7 7\n"
               "2 24 1 2.006 3 8 8 8\n3 16 1.003 2 3 0.997 2 3 5 5 5\n");
    r = test::run_weldrix({"-s", dir / "in4.dat", dir / "out4.dat"}, "\n");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(test::read_file(dir / "out4.dat"),
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n2 24 1 2 3 7 7 7\n2 24 1 2.006 3 8 8 8\n");
}

}  // namespace
}  // namespace weldrix
