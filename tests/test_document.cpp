#include <gtest/gtest.h>

#include <string>

#include "document/ldraw_file.hpp"
#include "document/line_reader.hpp"
#include "elements/removed_line.hpp"
#include "elements/subfile_line.hpp"
#include "io/console.hpp"
#include "part_generator.hpp"
#include "support.hpp"

namespace weldrix {
namespace {

using namespace std::string_literals;

// The output bytes of a document read from bytes.
std::string round_trip(const std::string& bytes) {
    ldraw_file document;
    document.read_bytes(bytes);
    line_counts written;
    return document.text(written);
}

std::string statistics(const line_counts& c, const char* what) {
    string_console out;
    c.print(out, what);
    return out.text;
}

TEST(DocumentReader, KeepsUsableLinesInOrderAndCountsThem) {
    ldraw_file document;
    const line_counts read = document.read_bytes(
        "0 Title\n"
        "\n"
        "   \t \n"
        "1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\n"
        "2 24 0 0 0 1 1 1\n"
        "3 16 0 0 0 1 0 0 0 1 0\n"
        "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n"
        "5 24 0 0 0 0 -4 0 1 0 0 -1 0 0\n"
        "6 16 0 0 0\n"
        "-1 16 0 0 0\n"
        "word 2 24 0 0 0 1 1 1\n"
        "  +3 7 1 2 3 4 5 6 7 8 9\n"
        "2abc 16 1 1 1 2 2 2\n"
        "4294967298 16 1 1 1 2 2 2\n"  // 2^32 + 2: clamps to a type that is skipped, never wraps to 2
        "2 24 1 2 3 4 5 6");           // a last line without a line end
    EXPECT_EQ(document.main_count, 9u);
    EXPECT_EQ(document.elements.size(), 9u);
    // Dropped lines that hold more than white space are noted, to be told.
    EXPECT_EQ(document.dropped.first, (std::vector<std::size_t>{9, 10, 11, 14}));
    EXPECT_EQ(document.dropped.count, 4u);
    ldraw_file junk;
    std::string lines;
    for (int i = 0; i < 25; ++i) lines += "x\n";
    junk.read_bytes(lines);
    EXPECT_EQ(junk.dropped.first.size(), 10u);
    EXPECT_EQ(junk.dropped.first.back(), 10u);
    EXPECT_EQ(junk.dropped.count, 25u);
    EXPECT_EQ(statistics(read, " lines in file"),
              "9 lines in file\n3 Edge lines\n1 Conditional lines\n2 Triangles\n1 Quads\n1 Subfiles\n");

    line_counts written;
    EXPECT_EQ(document.text(written),
              "0 Title\n"
              "1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\n"
              "2 24 0 0 0 1 1 1\n"
              "3 16 0 0 0 1 0 0 0 1 0\n"
              "4 16 0 0 0 1 0 0 1 1 0 0 1 0\n"
              "5 24 0 0 0 0 -4 0 1 0 0 -1 0 0\n"
              "3 7 1 2 3 4 5 6 7 8 9\n"
              "2 16 1 1 1 2 2 2\n"
              "2 24 1 2 3 4 5 6\n");
    EXPECT_EQ(statistics(written, " lines written in file"),
              "9 lines written in file\n3 Edge lines\n1 Conditional lines\n2 Triangles\n1 Quads\n1 Subfiles\n");
}

TEST(DocumentReader, EmptyInputGivesEmptyOutputAndZeroCounts) {
    for (const std::string& bytes : {""s, "\n\n\r\n"s, "\r"s, "no type here\n"s, "7\n"s}) {
        ldraw_file document;
        const line_counts read = document.read_bytes(bytes);
        EXPECT_EQ(document.main_count, 0u);
        line_counts written;
        EXPECT_EQ(document.text(written), "");
        const std::string zeros =
            "0 lines in file\n0 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n0 Subfiles\n";
        EXPECT_EQ(statistics(read, " lines in file"), zeros);
        EXPECT_EQ(written.lines + written.edges + written.subfiles, 0u);
        EXPECT_EQ(document.dropped.count, bytes.find_first_of("n7") == std::string::npos ? 0u : 1u);
    }
}

TEST(DocumentReader, CommentTextStartsAfterTheFirstZeroAndItsSeparator) {
    EXPECT_EQ(round_trip("0 Hello\n"), "0 Hello\n");
    EXPECT_EQ(round_trip("   0 indented\n"), "0 indented\n");
    EXPECT_EQ(round_trip("0\ttab\n"), "0 tab\n");
    EXPECT_EQ(round_trip("0\n"), "0 \n");
    EXPECT_EQ(round_trip("0 \n"), "0 \n");
    // A byte after the "0" that is neither white space nor another "0" belongs to the comment.
    EXPECT_EQ(round_trip("0Hello\n"), "0 Hello\n");
    EXPECT_EQ(round_trip("0//x\n"), "0 //x\n");
    EXPECT_EQ(round_trip("0!LDRAW_ORG Part\n"), "0 !LDRAW_ORG Part\n");
    EXPECT_EQ(round_trip("-0 y\n"), "0 y\n");
    EXPECT_EQ(round_trip("00 z\n"), "0  z\n");
    EXPECT_EQ(round_trip("+0 w\n"), "0 w\n");
    EXPECT_EQ(round_trip("0 // trailing blanks  \n"), "0 // trailing blanks  \n");
    EXPECT_EQ(round_trip("0 a 0 b\n"), "0 a 0 b\n");
    EXPECT_EQ(round_trip("0x5 hex\n"), "0 x5 hex\n");

    ldraw_file document;
    document.read_bytes("0 BFC INVERTNEXT\n");
    EXPECT_EQ(document.elements[0]->type_code(), line_type::comment);
    EXPECT_EQ(document.elements[0]->to_text(), "0 BFC INVERTNEXT");
}

TEST(DocumentReader, EverySubfileReferenceReadHasWindingOne) {
    ldraw_file document;
    document.read_bytes(
        "0 BFC INVERTNEXT\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\n0 BFC CERTIFY CW\n1 16 0 0 0 -1 0 0 0 1 0 0 0 1 "
        "b.dat\n");
    ASSERT_EQ(document.main_count, 4u);
    EXPECT_EQ(document.elements[1]->winding, 1);
    EXPECT_EQ(document.elements[3]->winding, 1);
}

TEST(DocumentReader, LineEndsFollowTheFirstLineEnd) {
    // CR LF in, CR LF out; LF in, LF out; CR alone (classic Mac OS) in, CR out.
    EXPECT_EQ(round_trip("0 a\r\n2 24 0 0 0 1 1 1\r\n"), "0 a\r\n2 24 0 0 0 1 1 1\r\n");
    EXPECT_EQ(round_trip("0 a\n2 24 0 0 0 1 1 1\n"), "0 a\n2 24 0 0 0 1 1 1\n");
    EXPECT_EQ(round_trip("0 part\n2 24 0 0 0 1 0 0\r2 24 1 0 0 1 1 0\r3 16 0 0 0 1 0 0 1 1 0\r0 end\n"),
              "0 part\n2 24 0 0 0 1 0 0\n2 24 1 0 0 1 1 0\n3 16 0 0 0 1 0 0 1 1 0\n0 end\n");
    EXPECT_EQ(round_trip("0 part\r2 24 0 0 0 1 0 0\r2 24 1 0 0 1 1 0\r3 16 0 0 0 1 0 0 1 1 0\r0 end\r"),
              "0 part\r2 24 0 0 0 1 0 0\r2 24 1 0 0 1 1 0\r3 16 0 0 0 1 0 0 1 1 0\r0 end\r");
    // Mixed: the first line end decides; every line end is one, whichever it is.
    EXPECT_EQ(round_trip("0 a\n0 b\r\n0 c\r\n"), "0 a\n0 b\n0 c\n");
    EXPECT_EQ(round_trip("0 a\r\n0 b\n0 c\r0 d"), "0 a\r\n0 b\r\n0 c\r\n0 d\r\n");
    EXPECT_EQ(round_trip("0 a\r0 b\r\n0 c\n"), "0 a\r0 b\r0 c\r");
    // The first line end counts even on a line that is skipped.
    EXPECT_EQ(round_trip("\r\n0 a\n"), "0 a\r\n");
    EXPECT_EQ(round_trip("junk\r0 a\n"), "0 a\r");
    // No line end at all: LF. A CR at the end of the input is a line end like any other.
    EXPECT_EQ(round_trip("0 a"), "0 a\n");
    EXPECT_EQ(round_trip("0 a\r"), "0 a\r");
    EXPECT_EQ(round_trip("0 a\n0 b\r"), "0 a\n0 b\n");
    // CR CR LF is a CR and then a CR LF: an empty line between.
    EXPECT_EQ(round_trip("0 x\r\r\n0 y\n"), "0 x\r0 y\r");
    // The line ends are found on the raw bytes, before a NUL cuts the text.
    EXPECT_EQ(round_trip("0 a\0b\r\n"s), "0 a\r\n");
    EXPECT_EQ(round_trip("0 a\0\r0 b\n"s), "0 a\r0 b\r");
    EXPECT_EQ(first_line_end("0 a\0\r\n"s), "\r\n");
    EXPECT_EQ(first_line_end("\n\r\n"), "\n");
    EXPECT_EQ(first_line_end("\r"), "\r");
    EXPECT_EQ(first_line_end(""), "\n");

    // A CR is white space to the number reader, but it must not reach a name.
    EXPECT_EQ(round_trip("1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\r\n"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\r\n");
    EXPECT_EQ(round_trip("1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\r0 b\r"), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\r0 b\r");
}

// Some editors start a file with a UTF-8 byte-order mark. It is no part of the first line (which
// would otherwise not start with an integer and be lost) and is written back in front.
TEST(DocumentReader, ByteOrderMarksAreKeptOutOfTheLines) {
    EXPECT_EQ(round_trip("\xEF\xBB\xBF"
                         "0 Title\r\n2 24 0 0 0 1 1 1\r\n"),
              "\xEF\xBB\xBF"
              "0 Title\r\n2 24 0 0 0 1 1 1\r\n");
    EXPECT_EQ(round_trip("\xEF\xBB\xBF"), "\xEF\xBB\xBF");
    // A mark at the start of a later line (files joined with "cat") is skipped the same way and
    // not written; one elsewhere in a line is ordinary text.
    EXPECT_EQ(round_trip("0 a\n\xEF\xBB\xBF"
                         "0 b\n\xEF\xBB\xBF\xEF\xBB\xBF"
                         "0 c\n"),
              "0 a\n0 b\n");
    EXPECT_EQ(round_trip(" \xEF\xBB\xBF"
                         "0 b\n"),
              "");
    // A FILE line behind one still starts a section of its own.
    ldraw_file joined;
    joined.read_bytes(
        "\xEF\xBB\xBF"
        "0 FILE a.ldr\n2 24 0 0 0 1 1 1\n\xEF\xBB\xBF"
        "0 FILE b.ldr\r\n2 24 0 0 0 1 1 1\r\n");
    ASSERT_EQ(joined.units().size(), 2u);
    EXPECT_EQ(joined.units()[1].name, "b.ldr");
}

TEST(DocumentReader, NulEndsTheTextOfItsLine) {
    EXPECT_EQ(round_trip("2 24 1 2 3\0 4 5 6\n"s), "2 24 1 2 3 0 0 0\n");
    EXPECT_EQ(round_trip("0 ab\0cd\n0 next\n"s), "0 ab\n0 next\n");
    EXPECT_EQ(round_trip("\0 2 24 1 2 3 4 5 6\n0 kept\n"s), "0 kept\n");
    EXPECT_EQ(round_trip("1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.d\0at\n"s), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.d\n");
    // The next line starts after the line feed, not after the NUL.
    EXPECT_EQ(round_trip("0 a\0\n2 24 1 1 1 2 2 2\n"s), "0 a\n2 24 1 1 1 2 2 2\n");
}

TEST(DocumentReader, LinesOfAnyLengthAreReadWhole) {
    const std::string tail = "3 16 0 0 0 1 0 0 0 1 0";
    for (std::size_t length : {999u, 1000u, 1001u, 1999u, 100000u}) {
        // A comment whose tail looks like a triangle: it stays one comment.
        std::string line = "0 ";
        line.append(length - 2 - tail.size(), 'x');
        line += tail;
        ASSERT_EQ(line.size(), length);
        ldraw_file document;
        const line_counts read = document.read_bytes(line + "\r\n" + "0 next\r\n");
        EXPECT_EQ(document.main_count, 2u) << length;
        EXPECT_EQ(read.triangles, 0u) << length;
        EXPECT_EQ(round_trip(line + "\n"), line + "\n") << length;
    }
    // A long name in a reference and many blanks between numbers.
    const std::string name(5000, 'n');
    EXPECT_EQ(round_trip("1 16" + std::string(3000, ' ') + "1 2 3 1 0 0 0 1 0 0 0 1 " + name + "\n"),
              "1 16 1 2 3 1 0 0 0 1 0 0 0 1 " + name + "\n");
}

// A long input is read in two halves side by side (here any input is); it reads as when read
// whole, whatever lines meet at the split: line ends of each kind, lines dropped, numbers noted,
// sections.
TEST(DocumentReader, ALongInputReadsInHalvesAsWhole) {
    const std::string block =
        "0 FILE part.ldr\r\n2 24 0 0 0 1 1 1\r\n3 16 1,5 0 0 1 0 0 0 1\r\rjunk\n4 16 0 0 0 1 0 0 1 1 0 0 1\n"
        "\n5 24 0 0 0 1 1 1 2 2 2 x 3 3\r\n\xEF\xBB\xBF"
        "0 NOFILE\n0 !DATA a.png\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\r";
    const std::string input = block + block + block;
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        // The middle moves through the block, so that the split meets each of its bytes.
        const std::string bytes = input + std::string(2 * cut, ' ');
        ldraw_file halves, whole;
        halves.options.read_halves_from = 0;
        whole.options.read_halves_from = bytes.size() + 1;
        const line_counts a = halves.read_bytes(bytes), b = whole.read_bytes(bytes);
        ASSERT_EQ(a, b);
        ASSERT_EQ(halves.elements.size(), whole.elements.size());
        for (std::size_t i = 0; i < whole.elements.size(); ++i) {
            ASSERT_EQ(halves.elements[i]->to_text(), whole.elements[i]->to_text()) << i;
            ASSERT_EQ(halves.line_number(i), whole.line_number(i)) << i;
        }
        line_counts written_halves, written_whole;
        ASSERT_EQ(halves.text(written_halves), whole.text(written_whole));  // written in halves too
        ASSERT_EQ(written_halves, written_whole);
        EXPECT_EQ(halves.dropped.first, whole.dropped.first);
        EXPECT_EQ(halves.dropped.count, whole.dropped.count);
        EXPECT_EQ(halves.numbers.count, whole.numbers.count);
        ASSERT_EQ(halves.units().size(), whole.units().size());
        for (std::size_t u = 0; u < whole.units().size(); ++u) {
            EXPECT_EQ(halves.units()[u].begin, whole.units()[u].begin);
            EXPECT_EQ(halves.units()[u].name, whole.units()[u].name);
        }
    }
}

TEST(DocumentWriter, WritesOnlyTheFilesOwnNonEmptyElements) {
    ldraw_file document;
    document.read_bytes("0 a\n2 24 0 0 0 1 1 1\n3 16 0 0 0 1 0 0 0 1 0\n4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    // Elements behind main_count (as the expansion would append) are never written.
    document.elements.push_back(std::make_unique<subfile_line>("1 16 0 0 0 1 0 0 0 1 0 0 0 1 inlined.dat"));
    // A removed line is neither written nor counted.
    document.elements[2] = std::make_unique<removed_line>();

    line_counts written;
    EXPECT_EQ(document.text(written), "0 a\n2 24 0 0 0 1 1 1\n4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
    EXPECT_EQ(statistics(written, " lines written in file"),
              "3 lines written in file\n1 Edge lines\n0 Conditional lines\n0 Triangles\n1 Quads\n0 Subfiles\n");
}

// A document read from bytes with minimal output asked for, unified when asked.
struct minimal_run {
    std::string normal;  // text()
    ldraw_file::minimal_output minimal;
    line_counts normal_counts, minimal_counts;
};
minimal_run run_minimal(const std::string& bytes, bool unify = true) {
    clean_options options;
    options.minimal = true;
    ldraw_file document(options);
    document.read_bytes(bytes);
    if (unify) document.unify_vertices();
    minimal_run run;
    run.normal = document.text(run.normal_counts);
    run.minimal = document.minimal_text(run.minimal_counts);
    return run;
}

// Minimal output keeps every line the cleaning leaves as it was, byte for byte, rewrites the ones
// it changes with their own line end and drops the ones it removes. Read again, it gives the
// elements of the usual output.
TEST(DocumentWriter, MinimalOutputRewritesOnlyTheLinesTheCleaningChanges) {
    const struct {
        std::string input, output;
    } cases[] = {
        // Nothing changes: blank, unknown and dropped lines, number spelling, trailing text, line
        // ends, a NUL and what follows it, the byte-order mark all stay.
        {"\xEF\xBB\xBF"
         "0\r\n\r\n  junk line\r\n2 24 0.0 0 0 1e1 0 0 trailing\r\n7 x\n  0 ab\0cd\r\n\xEF\xBB\xBF junk\r"s,
         ""},
        // Moved vertices; a line whose numbers move but are written the same stays as it is.
        {"0 keep  me\n2 24 0 0 0 10 0 0\n\n2 24 0.002 0.002 0 0 10 0 \r\n2 24 1 0 0 5 5 5\n2 24 1.00000001 0 0 6 6 6",
         "0 keep  me\n2 24 0.001 0.001 0 10 0 0\n\n2 24 0.001 0.001 0 0 10 0\r\n2 24 1 0 0 5 5 5\n"
         "2 24 1.00000001 0 0 6 6 6"},
        // A quad made a triangle on a last line without a line end; a final CR is a line end.
        {"0 x\n4 16 0 0 0 0.002 0 0 1 1 0 0 1 0", "0 x\n3 16 0.001 0 0 1 1 0 0 1 0"},
        {"2 24 0 0 0 10 0 0\n2 24 0.002 0.002 0 0 10 0\r", "2 24 0.001 0.001 0 10 0 0\n2 24 0.001 0.001 0 0 10 0\r"},
        // A CR alone ends a line: every line stays, each with its own line end.
        {"0 a\r\r  junk\r2 24 0.0 0 0 1e1 0 0 trailing\r0 b\r\n0 c"s, ""},
        {"0 part\n2 24 0 0 0 10 0 0\r2 24 0.002 0.002 0 0 10 0\r0 end\n",
         "0 part\n2 24 0.001 0.001 0 10 0 0\r2 24 0.001 0.001 0 0 10 0\r0 end\n"},
        // Removed lines go with their line ends; the byte-order mark stays.
        {"2 24 0 0 0 0 0 0\r\n0 kept\r\n2 24 1 1 1 1 1 1", "0 kept\r\n"},
        {"0 a\r2 24 0 0 0 0 0 0\r0 kept\r", "0 a\r0 kept\r"},
        {"\xEF\xBB\xBF"
         "2 24 1 1 1 1 1 1\n0 a\n",
         "\xEF\xBB\xBF"
         "0 a\n"},
        // A changed line with a NUL: what follows the NUL was no part of the element.
        {"2 24 0 0 0 10 0 0\0tail\n2 24 0.002 0.002 0 0 10 0\n"s,
         "2 24 0.001 0.001 0 10 0 0\n2 24 0.001 0.001 0 0 10 0\n"},
        // Sections are cleaned on their own and written line by line like any document.
        {"0 FILE a.ldr\n2 24 0 0 0 10 0 0\n2 24 0.002 0 0 0 10 0\n0 NOFILE\n0 FILE b.ldr\n2 24 0.001 0 0 9 9 9\n",
         "0 FILE a.ldr\n2 24 0.001 0 0 10 0 0\n2 24 0.001 0 0 0 10 0\n0 NOFILE\n0 FILE b.ldr\n2 24 0.001 0 0 9 9 9\n"},
    };
    for (const auto& c : cases) {
        const std::string expected = c.output.empty() ? c.input : c.output;
        const minimal_run run = run_minimal(c.input);
        EXPECT_EQ(run.minimal.bytes, expected) << c.input;
        EXPECT_EQ(run.minimal.changed, expected != c.input) << c.input;
        EXPECT_EQ(run.minimal_counts, run.normal_counts) << c.input;
        EXPECT_EQ(round_trip(run.minimal.bytes), run.normal) << c.input;
    }
}

// On generated parts with blank lines, CR LF, CR and dropped lines mixed in: left alone, a document's
// minimal output is its input; cleaned, it reads as the usual output does.
TEST(DocumentWriter, MinimalOutputOfGeneratedPartsReadsAsTheUsualOutput) {
    int changed = 0;
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        test::part_generator part(seed, seed % 3 == 0 ? 0.01 : 1.0);
        // Without infinite coordinates: written "inf", they do not read back as numbers.
        std::string lines = part.lines(40, 0.004);
        for (std::size_t at; (at = lines.find("e999")) != std::string::npos;) lines[at + 1] = '2';
        std::string input;
        for_each_line(lines, [&](std::string_view line) {
            const auto mess = part.random()() % 8;
            input += mess == 0 ? "\n" : mess == 1 ? "junk\r\n" : "";
            input.append(line).append(mess == 2 ? " tail\r\n" : mess == 3 ? "\r\n" : mess == 4 ? "\r" : "\n");
        });
        EXPECT_EQ(run_minimal(input, false).minimal.bytes, input) << seed;
        const minimal_run run = run_minimal(input);
        EXPECT_EQ(run.minimal.changed, run.minimal.bytes != input) << seed;
        EXPECT_EQ(round_trip(run.minimal.bytes), run.normal) << seed;
        changed += run.minimal.changed;
    }
    EXPECT_GT(changed, 30);
}

TEST(DocumentFiles, ReadAndWriteByName) {
    test::temp_dir dir;
    test::write_file(dir / "in.dat", "0 x\r\n2 24 1 2 3 4 5 6\r\n");

    ldraw_file document;
    string_console out;
    EXPECT_EQ(document.read(host_file_system(), dir / "missing.dat", out), ldraw_file::read_result::not_found);
    EXPECT_EQ(document.read(host_file_system(), dir.path(), out),
              ldraw_file::read_result::not_found);  // a directory opens but cannot be read
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(document.main_count, 0u);

    ASSERT_EQ(document.read(host_file_system(), dir / "in.dat", out), ldraw_file::read_result::ok);
    EXPECT_EQ(out.text, "2 lines in file\n1 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n0 Subfiles\n");

    out.text.clear();
    EXPECT_FALSE(document.write(host_file_system(), dir.path(), out));
    EXPECT_FALSE(document.write(host_file_system(), dir / "no/such/folder/out.dat", out));
    EXPECT_EQ(out.text, "");

    ASSERT_TRUE(document.write(host_file_system(), dir / "out.dat", out));
    EXPECT_EQ(test::read_file(dir / "out.dat"), "0 x\r\n2 24 1 2 3 4 5 6\r\n");
    EXPECT_EQ(out.text,
              "2 lines written in file\n1 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n0 Subfiles\n");

    // With minimal output, the bytes read are what is written when nothing changed.
    test::write_file(dir / "in.dat", "0 x\r\n\r\n2 24 1.0 2 3 4 5 6 \r\n");
    clean_options minimal;
    minimal.minimal = true;
    ldraw_file kept(minimal);
    ASSERT_EQ(kept.read(host_file_system(), dir / "in.dat", out), ldraw_file::read_result::ok);
    ASSERT_TRUE(kept.write(host_file_system(), dir / "out.dat", out));
    EXPECT_EQ(test::read_file(dir / "out.dat"), "0 x\r\n\r\n2 24 1.0 2 3 4 5 6 \r\n");
}

}  // namespace
}  // namespace weldrix
