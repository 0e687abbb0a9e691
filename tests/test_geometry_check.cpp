// The geometry faults a cleaning makes, found on the document, and their repair by --fix: each
// case is a document, the faults found and what is written with and without --fix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/ldraw_file.hpp"

namespace weldrix {
namespace {

struct fault_case {
    const char* what;
    std::string input;
    std::string faults;  // "line kind [to_line]" each, ";" between
    std::string output;  // without --fix
    std::string fixed;   // with --fix
    bool minimal = false;
    const char* fixed_faults = nullptr;  // with --fix, when they differ
};

std::string faults_of(const ldraw_file& document) {
    std::string text;
    for (const geometry_fault& f : document.geometry_faults) {
        if (!text.empty()) text += ";";
        text += std::to_string(f.line);
        text += ' ';
        text += geometry_fault_name(f.kind);
        if (f.kind == geometry_fault_kind::identical) {
            text += ' ';
            text += std::to_string(f.to_line);
        }
    }
    return text;
}

struct cleaned {
    std::string faults, text;
    bool all_fixed = true;
    line_counts written;
};

cleaned clean(const fault_case& c, bool fix, identical_search how = identical_search::chosen) {
    clean_options options;
    options.fix = fix;
    options.identical = how;
    if (how == identical_search::sorted) options.snap_halves_from = 2;  // and its lines tested in halves
    options.minimal = c.minimal;
    ldraw_file document(options);
    document.read_bytes(c.input);
    document.unify_vertices();
    cleaned result;
    result.faults = faults_of(document);
    for (const geometry_fault& f : document.geometry_faults) result.all_fixed &= f.fixed == fix;
    result.text = c.minimal ? document.minimal_text(result.written).bytes : document.text(result.written);
    return result;
}

TEST(GeometryCheck, FaultsTheCleaningMadeAreFoundAndRepaired) {
    const std::string square_lifted = "4 16 0 0 0 0.05 0 0 0.05 0.05 0 0 0.05 0\n2 24 0.05 0.05 0.004 1 1 1\n";
    const std::vector<fault_case> cases = {
        {"edges made identical (50900.dat)", "2 24 -8.40331 4.5 -3 -9 4.5 0\n2 24 -9 4.5 0 -8.403 4.5 -3\n",
         "2 identical 1", "2 24 -8.403155 4.5 -3 -9 4.5 0\n2 24 -9 4.5 0 -8.403155 4.5 -3\n",
         "2 24 -8.403155 4.5 -3 -9 4.5 0\n"},
        {"identical as read already", "2 24 0 0 0 1 1 1\n2 24 1 1 1 0 0 0\n2 24 0.002 0 0 5 5 5\n", "",
         "2 24 0.0006666667 0 0 1 1 1\n2 24 1 1 1 0.0006666667 0 0\n2 24 0.0006666667 0 0 5 5 5\n",
         "2 24 0.0006666667 0 0 1 1 1\n2 24 1 1 1 0.0006666667 0 0\n2 24 0.0006666667 0 0 5 5 5\n"},
        {"conditional lines: the ends only", "5 24 0 0 0 1 0 0 5 5 5 6 6 6\n5 24 0.002 0 0 1 0 0 7 7 7 8 8 8\n",
         "2 identical 1", "5 24 0.001 0 0 1 0 0 5 5 5 6 6 6\n5 24 0.001 0 0 1 0 0 7 7 7 8 8 8\n",
         "5 24 0.001 0 0 1 0 0 5 5 5 6 6 6\n"},
        {"another colour is another line", "2 24 0 0 0 1 0 0\n2 16 0.002 0 0 1 0 0\n", "",
         "2 24 0.001 0 0 1 0 0\n2 16 0.001 0 0 1 0 0\n", "2 24 0.001 0 0 1 0 0\n2 16 0.001 0 0 1 0 0\n"},
        {"triangle made collinear", "3 16 0 0 0 0.5 0.002 0 1 0 0\n2 24 0.5 -0.002 0 3 3 3\n", "1 collinear",
         "3 16 0 0 0 0.5 0 0 1 0 0\n2 24 0.5 0 0 3 3 3\n", "2 24 0.5 0 0 3 3 3\n"},
        {"quad concave at a straight corner", "4 16 5 0 0 5.5 0.0009 0 6 0 0 5.5 -1 0\n2 24 5.5 -0.0009 0 9 9 9\n",
         "1 concave", "4 16 5 0 0 5.5 0 0 6 0 0 5.5 -1 0\n2 24 5.5 0 0 9 9 9\n",
         "3 16 5 0 0 6 0 0 5.5 -1 0\n2 24 5.5 0 0 9 9 9\n"},
        {"quad warped beyond 3 degrees", square_lifted, "1 warped",
         "4 16 0 0 0 0.05 0 0 0.05 0.05 0.002 0 0.05 0\n2 24 0.05 0.05 0.002 1 1 1\n",
         "3 16 0 0 0 0.05 0 0 0.05 0.05 0.002\n3 16 0 0 0 0.05 0.05 0.002 0 0.05 0\n2 24 0.05 0.05 0.002 1 1 1\n"},
        {"a split triangle made identical is removed", square_lifted + "3 16 0 0 0 0.05 0 0 0.05 0.05 0.002\n",
         "1 warped",
         "4 16 0 0 0 0.05 0 0 0.05 0.05 0.002 0 0.05 0\n2 24 0.05 0.05 0.002 1 1 1\n"
         "3 16 0 0 0 0.05 0 0 0.05 0.05 0.002\n",
         "3 16 0 0 0 0.05 0 0 0.05 0.05 0.002\n3 16 0 0 0 0.05 0.05 0.002 0 0.05 0\n2 24 0.05 0.05 0.002 1 1 1\n",
         false, "1 warped;3 identical 1"},
        {"sections are checked on their own",
         "0 FILE a.dat\n2 24 0.001 0 0 1 1 1\n0 FILE b.dat\n2 24 0.002 0 0 1 1 1\n2 24 0 0 0 1 1 1\n", "5 identical 4",
         "0 FILE a.dat\n2 24 0.001 0 0 1 1 1\n0 FILE b.dat\n2 24 0.001 0 0 1 1 1\n2 24 0.001 0 0 1 1 1\n",
         "0 FILE a.dat\n2 24 0.001 0 0 1 1 1\n0 FILE b.dat\n2 24 0.001 0 0 1 1 1\n"},
        {"--minimal: a split last line gets the file's line end",
         "0  kept  as  it  is\r\n2 24 0.05 0.05 0.004 1 1 1\r\n4 16 0 0 0 0.05 0 0 0.05 0.05 0 0 0.05 0", "3 warped",
         "0  kept  as  it  is\r\n2 24 0.05 0.05 0.002 1 1 1\r\n4 16 0 0 0 0.05 0 0 0.05 0.05 0.002 0 0.05 0",
         "0  kept  as  it  is\r\n2 24 0.05 0.05 0.002 1 1 1\r\n3 16 0 0 0 0.05 0 0 0.05 0.05 0.002\r\n"
         "3 16 0 0 0 0.05 0.05 0.002 0 0.05 0",
         true},
    };
    // Both ways of finding the lines made identical, whichever the share of changed lines picks;
    // the second with the changed lines tested in two halves side by side.
    for (const identical_search how : {identical_search::filtered, identical_search::sorted}) {
        for (const fault_case& c : cases) {
            const cleaned plain = clean(c, false, how), fixed = clean(c, true, how);
            EXPECT_EQ(plain.faults, c.faults) << c.what;
            EXPECT_EQ(fixed.faults, c.fixed_faults ? c.fixed_faults : c.faults) << c.what;
            EXPECT_TRUE(plain.all_fixed && fixed.all_fixed) << c.what;
            EXPECT_EQ(plain.text, c.output) << c.what;
            EXPECT_EQ(fixed.text, c.fixed) << c.what;
        }
    }
    // The statistics count what is written: a split quad is two triangles.
    const cleaned split = clean(cases[6], true);
    EXPECT_EQ(split.written.triangles, 2u);
    EXPECT_EQ(split.written.quads, 0u);
    EXPECT_EQ(split.written.lines, 3u);
}

}  // namespace
}  // namespace weldrix
