// What unification records of its changes: the same output with and without recording, every
// changed line with its reason, moved vertices with where they went, and totals that agree with a
// plain comparison of the lines before and after and, counted alone, with the detailed record's.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "io/console.hpp"
#include "io/memory_file_system.hpp"
#include "part_generator.hpp"
#include "support.hpp"

namespace weldrix {
namespace {

struct recorded {
    std::string text;
    change_record changes;
};

recorded clean(std::string_view input, clean_options::changes detail, memory_file_system* fs = nullptr,
               const unify_thresholds& thresholds = {}) {
    clean_options options;
    options.thresholds = thresholds;
    options.record_changes = detail;
    options.snap_on_subfiles = fs != nullptr;
    ldraw_file document(options);
    document.read_bytes(input);
    if (fs) {
        search_paths paths(*fs);
        paths.add_path("/lib/");
        string_console out;
        document.expand_subfiles(paths, out);
    }
    document.unify_vertices();
    line_counts written;
    return {document.text(written), document.changes};
}

TEST(ChangeRecord, EveryChangedLineWithItsReasonAndMovedVertices) {
    const recorded r = clean(
        "0 title\n"
        "2 24 0 0 0 0.0004 0 0\n"                  // 2: the ends meet: removed
        "3 16 10 0 0 11 0 0 10.002 0 0\n"          // 3: corners 1 and 3 merge, then meet
        "4 16 20 0 0 21 0 0 21 1 0 21.0002 1 0\n"  // 4: corners 3 and 4 meet: a triangle
        "4 16 30 0 0 31 0 0 30.0002 0 0 31 1 0\n"  // 5: opposite corners 1 and 3 meet: removed
        "2 24 40 0 0 41 0 0\n"                     // 6: kept, end 1 moves
        "2 24 40.004 0 0 45 0 0\n"                 // 7: kept, end 1 moves
        "2 24 50 0 0 51 0 0\n",                    // 8: unchanged
        clean_options::changes::lines);
    EXPECT_EQ(r.text,
              "0 title\n3 16 20 0 0 21 0 0 21.0001 1 0\n2 24 40.002 0 0 41 0 0\n2 24 40.002 0 0 45 0 0\n"
              "2 24 50 0 0 51 0 0\n");
    ASSERT_EQ(r.changes.lines.size(), 6u);
    const change_record& record = r.changes;
    const auto& lines = record.lines;
    EXPECT_EQ(lines[0].line, 2u);
    EXPECT_EQ(lines[0].effect, line_change::kind::removed);
    EXPECT_EQ(record.reason(lines[0]), "the two ends of the edge met");
    EXPECT_EQ(lines[1].line, 3u);
    EXPECT_EQ(lines[1].effect, line_change::kind::removed);
    EXPECT_EQ(record.reason(lines[1]), "corners 1 and 3 met");
    ASSERT_EQ(record.vertices(lines[1]).size(), 2u);  // both moved to their average before they met
    EXPECT_EQ(record.vertices(lines[1])[0].index, 0);
    EXPECT_DOUBLE_EQ(record.to(record.vertices(lines[1])[0]).x, 10.001);
    EXPECT_EQ(lines[2].line, 4u);
    EXPECT_EQ(lines[2].effect, line_change::kind::triangle);
    EXPECT_EQ(lines[2].type, line_type::quad);
    EXPECT_EQ(record.reason(lines[2]), "corners 3 and 4 met");
    ASSERT_EQ(record.vertices(lines[2]).size(), 1u);  // corner 4 moved (to the merged 21.0001); corner 3 dropped
    EXPECT_EQ(record.vertices(lines[2])[0].index, 3);
    EXPECT_EQ(lines[3].effect, line_change::kind::removed);
    EXPECT_EQ(record.reason(lines[3]), "opposite corners 1 and 3 met");
    EXPECT_EQ(lines[4].line, 6u);
    EXPECT_EQ(lines[4].effect, line_change::kind::moved);
    ASSERT_EQ(record.vertices(lines[4]).size(), 1u);
    const vertex_change& v = record.vertices(lines[4])[0];
    EXPECT_EQ(v.index, 0);
    EXPECT_EQ(record.from(lines[4], v).x, 40);
    EXPECT_DOUBLE_EQ(record.to(v).x, 40.002);
    EXPECT_FALSE(v.snapped);
    EXPECT_EQ(r.changes.totals.lines_removed, 3u);
    EXPECT_EQ(r.changes.totals.quads_made_triangles, 1u);
    EXPECT_EQ(r.changes.totals.vertices_moved, 3u);  // in written lines: lines 4, 6 and 7
    // The merge groups: each output position and the inputs that went into it.
    bool found = false;
    for (const merge_group& g : record.groups) {
        if (record.to(g).x != record.to(v).x) continue;
        found = true;
        ASSERT_EQ(g.count, 2u);
        EXPECT_EQ(record.from(g, 0).x, 40);
        EXPECT_EQ(record.from(g, 1).x, 40.004);
    }
    EXPECT_TRUE(found);
}

// A reason names the pair the line's collapse test found first, numbered as the line was read,
// through a quad's triangle too; a line that collapsed twice has both.
TEST(ChangeRecord, ReasonsNameThePairsThatMetAsRead) {
    const struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"4 16 0 0 0 1 0 0 1 1 0 0.0004 0 0", "corners 1 and 4 met"},
        {"4 16 0 0 0 0.0002 0 0 1 0 0 0.0003 0 0", "corners 1 and 2 met, then corners 2 and 4 met"},
        {"4 16 0 0 0 1 0 0 1 1 0 1 0 0.0004", "opposite corners 2 and 4 met"},
        {"4 16 0 0 0 1 0 0 1 0.0004 0 0 1 0", "corners 2 and 3 met"},
        {"4 16 0 0 0 1 0 0 0.0004 0 0 0 1 0", "opposite corners 1 and 3 met"},
        {"3 16 0 0 0 1 0 0 0.0004 0 0", "corners 1 and 3 met"},
        {"5 24 0 0 0 1 0 0 2 0 0 1.0004 0 0", "points 2 and 4 met"},
    };
    for (const auto& c : cases) {
        const recorded r = clean(std::string(c.line) + "\n", clean_options::changes::lines);
        ASSERT_EQ(r.changes.lines.size(), 1u) << c.line;
        EXPECT_EQ(r.changes.reason(r.changes.lines[0]), c.reason) << c.line;
    }
}

// A detailed record keeps every changed line's points as read, so that a removed line can be
// shown where it was; unchanged lines are not recorded.
TEST(ChangeRecord, ChangedLinesKeepTheirPointsAsRead) {
    const recorded r = clean(
        "4 16 20 0 0 21 0 0 21 1 0 21.0002 1 0\n"  // a triangle: corner 4 dropped
        "2 24 5 0 0 5.0004 0 0\n"                  // removed
        "2 24 50 0 0 51 0 0\n",                    // unchanged
        clean_options::changes::lines);
    ASSERT_EQ(r.changes.lines.size(), 2u);
    const std::span<const point> quad = r.changes.input(r.changes.lines[0]);
    ASSERT_EQ(quad.size(), 4u);
    EXPECT_EQ(quad[3].x, 21.0002);
    EXPECT_EQ(quad[2].y, 1);
    const std::span<const point> edge = r.changes.input(r.changes.lines[1]);
    ASSERT_EQ(edge.size(), 2u);
    EXPECT_EQ(edge[0].x, 5);
    EXPECT_EQ(edge[1].x, 5.0004);
}

TEST(ChangeRecord, SnappedVerticesNameTheSubfileTheyEndOn) {
    memory_file_system fs;
    fs.add_file("/lib/edge.dat", "2 24 0 0 0 10 0 0\n");
    fs.add_file("/lib/nest.dat", "1 16 0 5 0 1 0 0 0 1 0 0 0 1 edge.dat\n");
    const recorded r = clean(
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 edge.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 nest.dat\n"
        "2 24 0.003 0 0 5 5 0\n2 24 10 5.004 0 20 20 0\n",
        clean_options::changes::lines, &fs);
    EXPECT_EQ(r.text.substr(r.text.find("\n2 ")), "\n2 24 0 0 0 5 5 0\n2 24 10 5 0 20 20 0\n");
    ASSERT_EQ(r.changes.lines.size(), 2u);
    const change_record& record = r.changes;
    EXPECT_TRUE(record.vertices(record.lines[0])[0].snapped);
    EXPECT_EQ(record.subfile(record.vertices(record.lines[0])[0]), "edge.dat");
    EXPECT_EQ(record.subfile(record.vertices(record.lines[1])[0]), "edge.dat");  // through nest.dat, on edge.dat's line
    EXPECT_TRUE(r.changes.groups.empty());
}

// Generated parts: recording changes nothing in the output, and the totals equal what a plain
// comparison of the lines before and after finds.
TEST(ChangeRecord, TotalsAgreeWithAPlainComparisonAndOutputIsUnchanged) {
    std::mt19937 random(20261208);
    for (int part = 0; part < 200; ++part) {
        std::string input;
        const int lines = 1 + static_cast<int>(random() % 60);
        const auto coordinate = [&] {
            return std::to_string(static_cast<int>(random() % 4)) + "." + std::to_string(random() % 8);
        };
        for (int l = 0; l < lines; ++l) {
            const int type = 2 + static_cast<int>(random() % 4);
            const int points = type == 2 ? 2 : type == 3 ? 3 : 4;
            input += std::to_string(type) + " 16";
            for (int k = 0; k < 3 * points; ++k) {
                input += ' ';
                input += k % 3 == 2 ? std::string("0") : coordinate();
            }
            input += "\n";
        }
        const recorded plain = clean(input, clean_options::changes::none);
        const recorded totals = clean(input, clean_options::changes::totals);
        const recorded lines_recorded = clean(input, clean_options::changes::lines);
        ASSERT_EQ(plain.text, totals.text) << input;
        ASSERT_EQ(plain.text, lines_recorded.text) << input;

        // The plain comparison: elements before and after, position by position.
        ldraw_file before, after;
        before.read_bytes(input);
        after.read_bytes(input);
        after.unify_vertices();
        change_totals expected;
        for (std::size_t i = 0; i < before.main_count; ++i) {
            const line_type was = before.elements[i]->type_code(), is = after.elements[i]->type_code();
            if (is == line_type::removed) {
                ++expected.lines_removed;
                continue;
            }
            if (was == line_type::quad && is == line_type::triangle) ++expected.quads_made_triangles;
            if (was != is) continue;  // a triangle from a quad: its corners are counted by the record
            const auto a = before.elements[i]->vertices(), b = after.elements[i]->vertices();
            for (std::size_t k = 0; k < a.size(); ++k) expected.vertices_moved += a[k].to_text() != b[k].to_text();
        }
        EXPECT_EQ(totals.changes.totals.lines_removed, expected.lines_removed) << input;
        EXPECT_EQ(totals.changes.totals.quads_made_triangles, expected.quads_made_triangles) << input;
        EXPECT_GE(totals.changes.totals.vertices_moved, expected.vertices_moved) << input;
        // A triangle made of a quad is the only line whose moved corners the comparison cannot see.
        if (expected.quads_made_triangles == 0) {
            EXPECT_EQ(totals.changes.totals.vertices_moved, expected.vertices_moved) << input;
        }
        EXPECT_EQ(lines_recorded.changes.totals.vertices_moved, totals.changes.totals.vertices_moved);
        std::size_t listed = 0;
        for (const line_change& c : lines_recorded.changes.lines) {
            if (c.effect != line_change::kind::removed) listed += c.vertex_count;
        }
        EXPECT_EQ(listed, totals.changes.totals.vertices_moved);
    }
}

// A batch run or a check counts the totals alone, without the record of each line a report keeps:
// they must be the detailed record's, field by field and bit for bit, for any part. Generated
// parts, some in sections that reference each other, some on a generated subfile library (-s),
// under thresholds of every kind, with lines that collapse as read or when merged (a quad can
// become a triangle and then nothing), and infinite or huge coordinates.
TEST(ChangeRecord, TotalsCountedAloneEqualTheDetailedRecordsTotals) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double thresholds[] = {
        0.005, 0.02, 0.0, -0.0, -1.0, -inf, 1e-12, 0x1p-6, 1e6, inf, std::numeric_limits<double>::quiet_NaN()};
    const double spacings[] = {1.0, 0.01, 0.0005};
    std::mt19937_64 seeds(20261214);
    change_totals seen;  // what the parts changed in all, so that the test is known to cover each field
    for (int k = 0; k < 400; ++k) {
        const std::uint64_t seed = seeds();
        test::part_generator part(seed, spacings[seed % std::size(spacings)]);
        const auto pick = [&] { return thresholds[part.random()() % std::size(thresholds)]; };
        const unify_thresholds t{pick(), part.random()() % 2 ? 0.005 : pick()};
        const double jitter = part.random()() % 2 ? 0.004 : 0.02;
        const bool subfiles = k % 3 == 0;
        memory_file_system fs;
        std::vector<std::string> names;
        if (subfiles) {
            names = {"a.dat", "b.dat", "c.dat"};
            fs.add_file("/lib/a.dat", part.lines(40, jitter, {"c.dat"}));
            fs.add_file("/lib/b.dat", part.lines(40, jitter));
            fs.add_file("/lib/c.dat", part.lines(40, jitter));
        }
        std::string input;
        if (k % 4 == 1) {
            // Two sections: each is unified on its own and adds to the one record.
            input = "0 FILE main.ldr\n" + part.lines(1 + static_cast<int>(part.random()() % 150), jitter, names) +
                    "1 16 0 0 0 1 0 0 0 1 0 0 0 1 inner.dat\n0 FILE inner.dat\n" +
                    part.lines(1 + static_cast<int>(part.random()() % 150), jitter, names);
        } else {
            input = part.lines(1 + static_cast<int>(part.random()() % 300), jitter, names);
        }
        const recorded alone = clean(input, clean_options::changes::totals, subfiles ? &fs : nullptr, t);
        const recorded detailed = clean(input, clean_options::changes::lines, subfiles ? &fs : nullptr, t);
        const recorded plain = clean(input, clean_options::changes::none, subfiles ? &fs : nullptr, t);
        const change_totals& a = alone.changes.totals;
        const change_totals& d = detailed.changes.totals;
        const auto where = [&] {
            return "seed " + std::to_string(seed) + ", thresholds " + std::to_string(t.vertex_threshold) + " and " +
                   std::to_string(t.subfile_threshold) + (subfiles ? ", with subfiles" : "");
        };
        ASSERT_EQ(alone.text, plain.text) << where();
        ASSERT_EQ(detailed.text, plain.text) << where();
        EXPECT_TRUE(alone.changes.lines.empty() && alone.changes.groups.empty()) << where();
        EXPECT_EQ(a.lines_removed, d.lines_removed) << where();
        EXPECT_EQ(a.quads_made_triangles, d.quads_made_triangles) << where();
        EXPECT_EQ(a.vertices_moved, d.vertices_moved) << where();
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.largest_distance), std::bit_cast<std::uint64_t>(d.largest_distance))
            << where() << ": " << a.largest_distance << " and " << d.largest_distance;
        seen += a;
    }
    EXPECT_GT(seen.lines_removed, 0u);
    EXPECT_GT(seen.quads_made_triangles, 0u);
    EXPECT_GT(seen.vertices_moved, 0u);
    EXPECT_GT(seen.largest_distance, 0.0);
}

}  // namespace
}  // namespace weldrix
