// Multi-part documents: sections found by FILE, NOFILE and !DATA lines, each cleaned on its own,
// and references to sections inlined from the document itself. Whole runs go through the in-memory
// file system.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/run.hpp"
#include "document/ldraw_file.hpp"
#include "io/memory_file_system.hpp"

namespace weldrix {
namespace {

using kind = document_unit::kind;

std::vector<document_unit> units_of(std::string_view text) {
    ldraw_file document;
    document.read_bytes(text);
    return document.units();
}

TEST(DocumentUnits, SectionsNoFileAndDataSplitTheDocument) {
    // No FILE line: one unit, whatever else the comments say.
    auto units = units_of("0 NOFILE\n0 !DATA x.png\n2 24 0 0 0 1 1 1\n0 FILE\n");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].role, kind::whole_file);
    EXPECT_EQ(units[0].end, 4u);

    units = units_of(
        "0 header\n"                  // 0: outside
        "0 FILE  main part.ldr  \n"   // 1: section "main part.ldr"
        "2 24 0 0 0 1 1 1\n"          // 2
        "0 NOFILE\n"                  // 3: ends it
        "0 between\n"                 // 4: outside
        "0\tFILE sub.dat\n"           // 5: section
        "0 FILE\n"                    // 6: no name: an ordinary comment
        "0 !DATA tex.png\n"           // 7: data section
        "0 !: iVBORw0KGgo=\n"         // 8
        "0 FILE Sub2.dat\n"           // 9
        "3 16 0 0 0 1 0 0 0 1 0\n");  // 10
    ASSERT_EQ(units.size(), 6u);
    const std::tuple<kind, std::size_t, std::size_t, std::string> expected[] = {
        {kind::outside, 0, 1, ""},        {kind::section, 1, 4, "main part.ldr"}, {kind::outside, 4, 5, ""},
        {kind::section, 5, 7, "sub.dat"}, {kind::data, 7, 9, "tex.png"},          {kind::section, 9, 11, "Sub2.dat"},
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto& [what, begin, end, name] = expected[i];
        EXPECT_EQ(units[i].role, what) << i;
        EXPECT_EQ(units[i].begin, begin) << i;
        EXPECT_EQ(units[i].end, end) << i;
        EXPECT_EQ(units[i].name, name) << i;
    }
}

struct run_output {
    int exit_code = -1;
    std::string console;
    std::string output;
};

run_output run_in_memory(memory_file_system& fs, const std::vector<std::string>& args) {
    string_console out;
    run_output result;
    result.exit_code = run(
        args, out, [] {}, fs);
    result.console = out.text;
    if (const std::string* written = fs.find("/work/out.ldr")) result.output = *written;
    return result;
}

TEST(DocumentUnits, EachSectionIsUnifiedOnItsOwn) {
    // The two sections' vertices lie 0.003 apart: as one part they would merge at 0.0015.
    memory_file_system fs;
    const std::string mpd =
        "0 FILE main.ldr\n2 24 0 0 0 10 0 0\n0 NOFILE\n"
        "0 FILE other.ldr\n2 24 0.003 0 0 10.003 0 0\n"
        "0 !DATA degenerate-looking.bin\n2 24 0 0 0 0.0001 0 0\n";
    // With CR alone as the line end, the sections are cut the same way.
    std::string mac = mpd;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    run_output r;
    for (const std::string& text : {mpd, mac}) {
        fs.add_file("/work/model.mpd", text);
        r = run_in_memory(fs, {"/work/model.mpd", "/work/out.ldr"});
        EXPECT_EQ(r.exit_code, 0);
        // Nothing merges across sections, and the data section is left alone.
        EXPECT_EQ(r.output, text);
    }

    // Within a section, and within a run of lines outside sections, vertices merge as usual.
    fs.add_file("/work/model.mpd",
                "2 24 0 0 0 1 0 0\n2 24 0.002 0 0 1 1 0\n"
                "0 FILE a.ldr\n2 24 5 0 0 6 0 0\n2 24 5.002 0 0 6 1 0\n");
    r = run_in_memory(fs, {"/work/model.mpd", "/work/out.ldr"});
    EXPECT_EQ(r.output,
              "2 24 0.001 0 0 1 0 0\n2 24 0.001 0 0 1 1 0\n0 FILE a.ldr\n2 24 5.001 0 0 6 0 0\n"
              "2 24 5.001 0 0 6 1 0\n");
}

TEST(DocumentUnits, ReferencesToSectionsAreInlinedFromTheDocument) {
    memory_file_system fs;
    // A file of the same name on the search list loses to the section.
    fs.add_file("/work/Sub.dat", "2 24 100 0 0 101 0 0\n");
    fs.add_file("/work/model.mpd",
                "0 FILE main.ldr\n"
                "1 16 10 0 0 1 0 0 0 1 0 0 0 1 parts\\SUB.DAT\n"  // case and separators do not matter
                "2 24 10.004 0 0 12 0 0\n"                        // 0.004 from the placed (0, 0, 0)
                "0 FILE parts/sub.dat\n"
                "1 16 0 0 0 1 0 0 0 1 0 0 0 1 deeper.ldr\n"
                "0 FILE deeper.ldr\n"
                "2 24 0 0 0 1 0 0\n"
                "1 16 0 0 0 1 0 0 0 1 0 0 0 1 main.ldr\n");  // back to where it came from: a cycle
    const run_output r = run_in_memory(fs, {"-s", "/work/model.mpd", "/work/out.ldr"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.output.find("2 24 10 0 0 12 0 0\n"), std::string::npos) << r.output;
    // Every section is a unit of its own and the root of its chains: main.ldr inlines sub.dat,
    // deeper.ldr (one edge) and stops at main.ldr; sub.dat inlines deeper.ldr (one edge) and
    // main.ldr (one edge), stopping at sub.dat; deeper.ldr inlines main.ldr (one edge) and sub.dat,
    // stopping at deeper.ldr. Each cycle is reported once per name as written.
    EXPECT_NE(r.console.find("\nExpanding input file subfiles\n"
                             "Circular subfile reference skipped: main.ldr\n"
                             "Circular subfile reference skipped: parts\\SUB.DAT\n"
                             "Circular subfile reference skipped: deeper.ldr\n\n"
                             "Inlined from subfiles:\n4 Edge lines\n"),
              std::string::npos)
        << r.console;
}

}  // namespace
}  // namespace weldrix
