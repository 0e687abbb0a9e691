// The change report (option -r), run in memory: what it says is checked against what the run
// really did (a plain comparison of the lines before and after, the run's statistics, the change
// record's totals), in every form, and its JSON stays valid whatever the names and numbers.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <new>
#include <random>
#include <set>

#include "app/options.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/run.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "elements/polygon_lines.hpp"
#include "faulty_file_system.hpp"
#include "geometry/number_format.hpp"
#include "io/memory_file_system.hpp"
#include "report_data.hpp"

namespace weldrix {
namespace {

using json = nlohmann::json;

struct report_run {
    int exit_code = -1;
    std::string console;
    std::string output;  // the cleaned file
    std::string report;
};

// A subfile on the same grid, for the runs with -s: its vertices are snap targets.
const std::string subfile_name = "sub.dat";
const std::string subfile_text =
    "2 24 0 0 0 0.33 0 0\n2 24 0.66 0.33 0 1 0.66 0\n2 24 1.33 1 0 1.66 1.66 0\n2 24 0 1.66 0 1.66 0 0\n";
const std::set<std::string> subfile_vertices = {"0 0 0",    "0.33 0 0",    "0.66 0.33 0", "1 0.66 0",
                                                "1.33 1 0", "1.66 1.66 0", "0 1.66 0",    "1.66 0 0"};

// Runs the tool in memory on input (as /w/in.dat, beside the subfile) with the options, the report
// going to /w/<report_name>.
report_run run_with_report(const std::string& input, const std::string& report_name,
                           std::vector<std::string> options = {}) {
    memory_file_system fs;
    fs.add_file("/w/in.dat", input);
    fs.add_file("/w/" + subfile_name, subfile_text);
    for (const std::string& arg : {std::string("-r"), "/w/" + report_name, std::string("--no-wait"),
                                   std::string("/w/in.dat"), std::string("/w/out.dat")}) {
        options.push_back(arg);
    }
    string_console out, warnings;
    report_run r;
    r.exit_code = run(options, run_environment{out, warnings, [] {}, fs});
    r.console = out.text;
    if (const std::string* bytes = fs.find("/w/out.dat")) r.output = *bytes;
    if (const std::string* bytes = fs.find("/w/" + report_name)) r.report = *bytes;
    return r;
}

json page_data(const std::string& page) { return test::report_page_data(page); }

std::string num(const json& v) { return v.is_number() ? format_number(v.get<double>()) : v.get<std::string>(); }

// A random part: comments, blank lines and lines of types 2 to 5 on a coarse grid, so that many
// vertices merge and lines collapse. geometry_lines gets the input line number of each line of
// types 2 to 5, in order.
std::string random_part(std::mt19937& random, int lines, std::vector<std::size_t>& geometry_lines) {
    std::string text;
    // 36 places in the plane, each vertex jittered by up to 0.002 now and then.
    const auto coordinate = [&] {
        int thousandths = static_cast<int>(random() % 2) * 1000 + static_cast<int>(random() % 3) * 330;
        if (random() % 2 == 0) thousandths += static_cast<int>(random() % 5) - 2;
        return std::to_string(thousandths / 1000.0);
    };
    for (int l = 1; l <= lines; ++l) {
        const unsigned pick = random() % 10;
        if (pick == 0) {
            text += "0 a comment\n";
            continue;
        }
        if (pick == 1) {
            text += "\n";
            continue;
        }
        const int type = 2 + static_cast<int>(random() % 4);
        const int points = type == 2 ? 2 : type == 3 ? 3 : 4;
        text += std::to_string(type) + " 16";
        for (int k = 0; k < 3 * points; ++k) {
            text += ' ';
            text += k % 3 == 2 ? std::string("0") : coordinate();
        }
        text += "\n";
        geometry_lines.push_back(static_cast<std::size_t>(l));
    }
    return text;
}

// What the run did, found without the change record: each line of types 2 to 5 before and after a
// plain cleaning, by position.
struct plain_change {
    std::string change;        // "removed", "triangle" or "moved"
    std::set<int> moved;       // vertex indices whose written text changed (moved lines)
    std::vector<point> after;  // its points as written
};
// A document cleaned as the run cleans it, with -s when snap (and the given recording).
void clean(ldraw_file& document, const std::string& input, bool snap) {
    document.read_bytes(input);
    if (snap) {
        memory_file_system fs;
        fs.add_file("/w/" + subfile_name, subfile_text);
        search_paths paths(fs);
        paths.add_path("/w/");
        string_console out;
        document.expand_subfiles(paths, out);
    }
    document.unify_vertices();
}

std::map<std::size_t, plain_change> plain_changes(const std::string& input,
                                                  const std::vector<std::size_t>& geometry_lines, bool snap) {
    clean_options options;
    options.snap_on_subfiles = snap;
    ldraw_file before, after(options);
    before.read_bytes(input);
    clean(after, input, snap);
    std::map<std::size_t, plain_change> changes;
    std::size_t g = 0;
    for (std::size_t i = 0; i < before.main_count; ++i) {
        const line_type was = before.elements[i]->type_code(), is = after.elements[i]->type_code();
        if (was < line_type::edge || was > line_type::conditional) continue;
        const std::size_t line = geometry_lines.at(g++);
        const auto a = before.elements[i]->vertices(), b = after.elements[i]->vertices();
        plain_change c;
        c.after.assign(b.begin(), b.end());
        if (is == line_type::removed) {
            c.change = "removed";
        } else if (was != is) {
            c.change = "triangle";
        } else {
            for (std::size_t k = 0; k < a.size(); ++k) {
                // Moved as written: a change below the seven written digits is no move.
                if (a[k].to_text() != b[k].to_text()) c.moved.insert(static_cast<int>(k));
            }
            if (c.moved.empty()) continue;
            c.change = "moved";
        }
        changes[line] = c;
    }
    return changes;
}

// The statistics block that follows a line of the console text, as the report's counts.
json console_counts(const std::string& console, const std::string& label) {
    const std::size_t at = console.find(label);
    EXPECT_NE(at, std::string::npos) << label;
    const std::size_t start = console.rfind('\n', at) + 1;
    std::vector<std::size_t> n;
    std::size_t p = start;
    for (int k = 0; k < 6; ++k) {
        n.push_back(std::stoul(console.substr(p)));
        p = console.find('\n', p) + 1;
    }
    return {{"lines", n[0]},     {"edges", n[1]}, {"conditionals", n[2]},
            {"triangles", n[3]}, {"quads", n[4]}, {"subfiles", n[5]}};
}

TEST(Report, JsonListsExactlyWhatTheRunChanged) {
    std::mt19937 random(20261209);
    std::map<std::string, std::size_t> kinds;  // over all parts, that each kind was met
    std::size_t snapped = 0;
    for (int part = 0; part < 60; ++part) {
        // Every other part references the subfile and is cleaned with -s.
        const bool snap = part % 2 == 1;
        std::vector<std::size_t> geometry_lines;
        std::string input = random_part(random, 1 + static_cast<int>(random() % 50), geometry_lines);
        if (snap) {
            input = "1 16 0 0 0 1 0 0 0 1 0 0 0 1 " + subfile_name + "\n" + input;
            for (std::size_t& line : geometry_lines) ++line;
        }
        const report_run r =
            run_with_report(input, "r.json", snap ? std::vector<std::string>{"-s"} : std::vector<std::string>{});
        ASSERT_EQ(r.exit_code, exit_success) << r.console;
        const json report = json::parse(r.report);
        EXPECT_EQ(report["format"], "weldrix-report");
        EXPECT_EQ(report["version"], 1);
        ASSERT_EQ(report["files"].size(), 1u);
        const json& file = report["files"][0];
        EXPECT_EQ(file["input"], "/w/in.dat");
        EXPECT_EQ(file["output"], "/w/out.dat");
        EXPECT_EQ(file["snap_on_subfiles"], snap);
        EXPECT_EQ(file["read"], console_counts(r.console, " lines in file\n"));
        EXPECT_EQ(file["written"], console_counts(r.console, " lines written in file\n"));

        // Every changed line, and no other, with its kind and moved vertices.
        const std::map<std::size_t, plain_change> expected = plain_changes(input, geometry_lines, snap);
        std::size_t listed = 0, previous = 0, removed = 0, triangles = 0, moved = 0;
        for (const json& c : file["changes"]) {
            const std::size_t line = c["line"];
            EXPECT_GT(line, previous) << "in line order";
            previous = line;
            ++listed;
            const auto found = expected.find(line);
            ASSERT_NE(found, expected.end()) << "line " << line << " is listed but did not change\n" << input;
            EXPECT_EQ(c["change"], found->second.change) << line;
            ++kinds[c["change"]];
            removed += c["change"] == "removed";
            triangles += c["change"] == "triangle";
            if (c["change"] == "removed") continue;
            if (c["change"] == "moved") {
                std::set<int> indices;
                for (const json& v : c["vertices"]) indices.insert(v["index"].get<int>());
                EXPECT_EQ(indices, found->second.moved) << line;
            }
            for (const json& v : c["vertices"]) {
                ++moved;
                if (v["onto"] == "snapped") {
                    ++snapped;
                    EXPECT_TRUE(snap) << "nothing to snap onto without -s";
                    EXPECT_EQ(v["subfile"], subfile_name);
                    const std::string to = num(v["to"][0]) + " " + num(v["to"][1]) + " " + num(v["to"][2]);
                    EXPECT_EQ(subfile_vertices.count(to), 1u) << to << " is a vertex of the subfile";
                } else {
                    EXPECT_EQ(v["onto"], "merged");
                    EXPECT_FALSE(v.contains("subfile"));
                }
                // A moved line keeps its corners in place; its "to" is the written point.
                if (c["change"] == "moved") {
                    const point& to = found->second.after.at(v["index"].get<std::size_t>());
                    EXPECT_EQ(num(v["to"][0]) + " " + num(v["to"][1]) + " " + num(v["to"][2]), to.to_text());
                }
            }
        }
        EXPECT_EQ(listed, expected.size()) << input;

        // The totals: the change record's, and what the lists and statistics add up to.
        clean_options totals_only;
        totals_only.record_changes = clean_options::changes::totals;
        totals_only.snap_on_subfiles = snap;
        ldraw_file document(totals_only);
        clean(document, input, snap);
        const json& totals = file["totals"];
        EXPECT_EQ(totals["removed"], document.changes.totals.lines_removed);
        EXPECT_EQ(totals["triangles"], document.changes.totals.quads_made_triangles);
        EXPECT_EQ(totals["moved"], document.changes.totals.vertices_moved);
        EXPECT_EQ(num(totals["largest_distance"]), format_number(document.changes.totals.largest_distance));
        EXPECT_EQ(totals["removed"], removed);
        EXPECT_EQ(totals["triangles"], triangles);
        EXPECT_EQ(totals["moved"], moved);
        EXPECT_EQ(file["read"]["lines"].get<std::size_t>() - file["written"]["lines"].get<std::size_t>(), removed);
    }
    EXPECT_GT(kinds["removed"], 20u);
    EXPECT_GT(kinds["triangle"], 20u);
    EXPECT_GT(kinds["moved"], 20u);
    EXPECT_GT(snapped, 20u);
}

// The page holds the JSON report as it is, and a drawing of every line: removed lines where they
// were read, the others where they are written.
TEST(Report, PageHoldsTheJsonReportAndDrawsEveryLine) {
    std::mt19937 random(7);
    std::vector<std::size_t> geometry_lines;
    std::string input = random_part(random, 80, geometry_lines);
    input += "2 24 100 0 0 101 0 0\n3 16 100 5 0 101 5 0 100 6 0\n";  // far from the rest: kept
    geometry_lines.insert(geometry_lines.end(), {81, 82});
    const json report = json::parse(run_with_report(input, "r.json").report);
    const report_run page = run_with_report(input, "r.html");
    ASSERT_EQ(page.exit_code, exit_success);
    EXPECT_EQ(page.report.rfind("<!DOCTYPE html>", 0), 0u);
    const json data = page_data(page.report);
    EXPECT_EQ(data["report"], report);
    ASSERT_EQ(data["drawing"].size(), 1u);
    const json& drawing = data["drawing"][0];
    EXPECT_EQ(drawing["full"], true);
    EXPECT_EQ(drawing["note"], "");
    EXPECT_TRUE(drawing["subfile"].empty());

    std::map<std::size_t, std::string> change_of;
    for (const json& c : report["files"][0]["changes"]) change_of[c["line"]] = c["change"];
    const std::map<std::size_t, plain_change> expected = plain_changes(input, geometry_lines, false);
    ldraw_file before;
    before.read_bytes(input);
    std::vector<const ldraw_line*> geometry;
    for (std::size_t i = 0; i < before.main_count; ++i) {
        const line_type t = before.elements[i]->type_code();
        if (t >= line_type::edge && t <= line_type::conditional) geometry.push_back(before.elements[i].get());
    }
    ASSERT_EQ(drawing["lines"].size(), geometry_lines.size());
    std::set<int> states;
    for (std::size_t g = 0; g < geometry.size(); ++g) {
        const json& d = drawing["lines"][g];
        const std::size_t line = d[0];
        EXPECT_EQ(line, geometry_lines[g]);
        EXPECT_EQ(d[1], static_cast<int>(geometry[g]->type_code())) << "the type as read";
        const auto found = change_of.find(line);
        const std::string change = found == change_of.end() ? "kept" : found->second;
        const int state = change == "kept" ? 0 : change == "moved" ? 1 : change == "removed" ? 2 : 3;
        EXPECT_EQ(d[2], state) << line;
        states.insert(state);
        std::vector<point> points;
        if (state == 0 || state == 2) {  // removed lines as read; unchanged ones are read as written
            const auto read = geometry[g]->vertices();
            points.assign(read.begin(), read.end());
        } else {
            points = expected.at(line).after;
        }
        ASSERT_EQ(d.size(), 3 + 3 * points.size()) << line;
        for (std::size_t k = 0; k < points.size(); ++k) {
            EXPECT_EQ(num(d[3 + 3 * k]) + " " + num(d[4 + 3 * k]) + " " + num(d[5 + 3 * k]), points[k].to_text());
        }
    }
    EXPECT_EQ(states, (std::set<int>{0, 1, 2, 3})) << "the part has lines in every state";
}

// A large file draws its changed lines and their neighbours in the file, and says so.
TEST(Report, LargeFilesDrawTheChangedLinesAndTheirNeighbours) {
    std::string input;
    const std::size_t lines = full_drawing_lines + 5000;
    std::set<std::size_t> changed;
    for (std::size_t l = 1; l <= lines; ++l) {
        const std::string x = std::to_string(l * 10);
        if (l % 1000 == 500) {  // a stub edge, removed
            input += "2 24 " + x + " 0 0 " + x + ".001 0 0\n";
            changed.insert(l);
        } else {
            input += "2 24 " + x + " 0 0 " + x + " 5 0\n";
        }
    }
    const report_run r = run_with_report(input, "r.htm");
    ASSERT_EQ(r.exit_code, exit_success);
    const json data = page_data(r.report);
    const json& drawing = data["drawing"][0];
    EXPECT_EQ(drawing["full"], false);
    EXPECT_NE(drawing["note"].get<std::string>().find("the file has 25000 lines to draw"), std::string::npos)
        << drawing["note"];
    std::set<std::size_t> drawn;
    for (const json& d : drawing["lines"]) drawn.insert(d[0].get<std::size_t>());
    std::set<std::size_t> wanted;
    for (const std::size_t l : changed) {
        for (std::size_t k = l - drawing_neighbours; k <= l + drawing_neighbours; ++k) wanted.insert(k);
    }
    EXPECT_EQ(drawn, wanted);
    EXPECT_EQ(data["report"]["files"][0]["totals"]["removed"], changed.size());
}

// A page lists at most page_changes_per_file changes and groups of a file and page_changes_in_all
// changes in all, and says so; the totals and the JSON keep everything.
TEST(Report, PageListsABoundedNumberOfChanges) {
    file_report file;
    for (std::size_t k = 0; k < page_changes_per_file + 10; ++k) {
        line_change change;
        change.line = k + 1;
        change.type = line_type::edge;
        change.effect = line_change::kind::removed;
        file.changes.add_line(change, {}, {});
        const point from(k, 0, 0.001);
        file.changes.add_group(point(k, 0, 0), {&from, 1});
    }
    file.changes.totals.lines_removed = file.changes.lines.size();
    const std::size_t count = page_changes_in_all / page_changes_per_file + 1;
    const std::vector<file_report> files(count, file);
    const json data = page_data(report_html(files));
    for (std::size_t i = 0; i < count; ++i) {
        const json& f = data["report"]["files"][i];
        const std::size_t listed = i + 1 < count ? page_changes_per_file : 0;
        EXPECT_EQ(f["changes"].size(), listed) << i;
        EXPECT_EQ(f["groups"].size(), page_changes_per_file) << i;
        EXPECT_EQ(f["totals"]["removed"], page_changes_per_file + 10);
        EXPECT_EQ(data["drawing"][i]["full"], false);
        EXPECT_NE(data["drawing"][i]["note"].get<std::string>().find(
                      "The page lists " + std::to_string(listed) + " of the file's " +
                      std::to_string(page_changes_per_file + 10) + " changed lines and " +
                      std::to_string(page_changes_per_file) + " of its " + std::to_string(page_changes_per_file + 10) +
                      " merge groups"),
                  std::string::npos);
        if (i + 1 < count) {
            EXPECT_EQ(f["changes"].back()["line"], page_changes_per_file);
        }
    }
    const json all = json::parse(report_json(files));
    EXPECT_EQ(all["files"].back()["changes"].size(), page_changes_per_file + 10);
    EXPECT_EQ(all["files"].back()["groups"].size(), page_changes_per_file + 10);
}

// Names may hold any bytes and numbers may be infinite: the JSON stays valid UTF-8 and parses;
// texts come back as they were (bytes that are not UTF-8 as U+FFFD), infinities as strings.
TEST(Report, JsonStaysValidForAnyNameAndNumber) {
    file_report file;
    file.input = std::string("a \"quoted\" \\ name\t\x01\x1f </script><!--<script \xe2\x80\xa8 \xc3\xa9", 46);
    file.output = "bad \xff\xfe \xc3 \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82 end";
    file.thresholds.vertex_threshold = HUGE_VAL;
    file.thresholds.subfile_threshold = -HUGE_VAL;
    line_change change;
    change.line = 3;
    change.type = line_type::edge;
    const point from(1e-5, -0.0, 1e300), to(HUGE_VAL, std::nan(""), 2);
    const change_record::moved_vertex v{0, to, true, "s\\x\x80.dat"};
    file.changes.add_line(change, {&from, 1}, {&v, 1}, "a <b>reason</b>");
    file.changes.totals.largest_distance = std::nan("");
    file.drawing.lines.push_back({3, line_type::edge, drawn_line::state::moved, 2, {from, to}});

    const std::vector<file_report> files{file, file};
    for (const std::string& text : {report_json(files), report_html(files)}) {
        const json report = text[0] == '{' ? json::parse(text) : page_data(text)["report"];
        ASSERT_EQ(report["files"].size(), 2u);
        const json& f = report["files"][1];
        EXPECT_EQ(f["input"], file.input);
        EXPECT_EQ(f["output"],
                  "bad \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd "
                  "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd end");
        EXPECT_EQ(f["thresholds"]["vertex"], "inf");
        EXPECT_EQ(f["thresholds"]["subfile"], "-inf");
        const json& vertex = f["changes"][0]["vertices"][0];
        EXPECT_EQ(vertex["from"], json::parse("[1e-005, -0, 1e+300]"));
        EXPECT_EQ(vertex["to"], json::parse(R"(["inf", "nan", 2])"));
        EXPECT_EQ(vertex["distance"], "nan");
        EXPECT_EQ(vertex["subfile"], "s\\x\xef\xbf\xbd.dat");
        EXPECT_EQ(f["changes"][0]["reason"], "a <b>reason</b>");
        EXPECT_EQ(f["totals"]["largest_distance"], "nan");
    }
    const std::string page = report_html(files);
    EXPECT_EQ(page.find("/*WELDRIX_REPORT_DATA*/"), std::string::npos);
    EXPECT_EQ(page_data(page)["drawing"][1]["lines"][0],
              json::parse(R"([3, 2, 1, 1e-005, -0, 1e+300, "inf", "nan", 2])"));
}

// A report file holds the bytes of the whole report made at once, and nothing else is left in its
// folder (a page's drawings go to a second temporary file until the page ends), whichever call
// fails, once, with any error it can give or by running out of memory: the report is written or
// fails, and an interrupted call or a short write changes nothing.
TEST(Report, AFileHoldsTheWholeReportWhicheverCallFails) {
    file_report file;
    file.input = "in.dat";
    file.output = "out.dat";
    line_change change;
    change.line = 1;
    change.type = line_type::edge;
    change.effect = line_change::kind::removed;
    file.changes.add_line(change, {}, {});
    for (std::size_t k = 0; k < 4000; ++k) {  // the drawings are read back in two pieces
        const point p(static_cast<double>(k), 0.25, 1);
        file.drawing.lines.push_back({k + 1, line_type::edge, drawn_line::state::kept, 2, {p, p}});
    }
    const std::vector<file_report> files(3, file);
    for (const std::string name : {"r.txt", "r.json", "r.html"}) {
        const std::string whole = name == "r.txt"    ? report_text(files)
                                  : name == "r.json" ? report_json(files)
                                                     : report_html(files);
        const auto check = [&](std::uint64_t n, int error) {
            memory_file_system memory;
            memory.add_folder("/w");
            test::faulty_file_system fs(memory);
            fs.fail_call(n, error);
            bool written = false;
            try {
                written = write_report(fs, "/w/" + name, files);
            } catch (const std::bad_alloc&) {
                EXPECT_EQ(error, test::out_of_memory);
            }
            const std::string at = name + ", call " + std::to_string(n) + " failing with " + test::error_name(error);
            std::vector<folder_entry> entries;
            EXPECT_EQ(memory.list_folder("/w", entries), 0);
            for (const folder_entry& entry : entries) {
                if (entry.name != "." && entry.name != "..") {
                    EXPECT_EQ(entry.name, name) << at;
                }
            }
            const std::string* bytes = memory.find("/w/" + name);
            if (bytes) {
                EXPECT_TRUE(*bytes == whole) << at;
            }
            EXPECT_TRUE(written || !(error == EINTR || error == test::short_write || n == 0)) << at;
            EXPECT_TRUE(!written || bytes) << at;
            return fs.trace();
        };
        const std::vector<test::call_record> calls = check(0, 0);
        for (std::uint64_t n = 1; n <= calls.size(); ++n) {
            std::vector<int> errors = test::injectable_errors(calls[n - 1].call);
            errors.push_back(test::out_of_memory);
            for (const int error : errors) check(n, error);
        }
    }
}

// The text form: every file, every changed line by its input number, corners counted from 1.
TEST(Report, TextNamesEveryChangeAndAddsUpABatch) {
    const std::string input =
        "0 title\n"
        "2 24 0 0 0 0.0004 0 0\n"                  // 2: removed
        "4 16 20 0 0 21 0 0 21 1 0 21.0002 1 0\n"  // 3: a triangle
        "2 24 40 0 0 41 0 0\n"                     // 4: end 1 moves
        "2 24 40.004 0 0 45 0 0\n";                // 5: end 1 moves
    const report_run r = run_with_report(input, "r.txt");
    ASSERT_EQ(r.exit_code, exit_success);
    EXPECT_EQ(r.report,
              "weldrix change report\n\n"
              "/w/in.dat -> /w/out.dat\n"
              "  vertex threshold 0.005, subfiles not inlined (no -s)\n"
              "  read 5 lines (3 edge lines, 0 conditional lines, 0 triangles, 1 quad, 0 subfile references)\n"
              "  written 4 lines (2 edge lines, 0 conditional lines, 1 triangle, 0 quads, 0 subfile references)\n"
              "  1 line removed, 1 quad made a triangle, 3 vertices moved, largest distance moved 0.002\n\n"
              "  Changed lines (input line numbers; corners counted from 1):\n"
              "  line 2: edge line removed (the two ends of the edge met)\n"
              "    corner 1: 0 0 0 -> 0.0002 0 0, distance 0.0002, merged\n"
              "    corner 2: 0.0004 0 0 -> 0.0002 0 0, distance 0.0002, merged\n"
              "  line 3: quad made a triangle (corners 3 and 4 met)\n"
              "    corner 4: 21.0002 1 0 -> 21.0001 1 0, distance 0.0001, merged\n"
              "  line 4: edge line moved\n"
              "    corner 1: 40 0 0 -> 40.002 0 0, distance 0.002, merged\n"
              "  line 5: edge line moved\n"
              "    corner 1: 40.004 0 0 -> 40.002 0 0, distance 0.002, merged\n\n"
              "  Merged vertices (output position <- input positions):\n"
              "    21.0001 1 0 <- 21.0002 1 0\n"
              "    40.002 0 0 <- 40 0 0, 40.004 0 0\n");

    file_report unchanged;
    unchanged.input = "b.dat";
    unchanged.output = "b.dat";
    const std::string batch = report_text({unchanged, unchanged});
    EXPECT_NE(batch.find("b.dat -> b.dat\n"), std::string::npos);
    EXPECT_NE(batch.find("  No line was changed.\n"), std::string::npos);
    EXPECT_NE(batch.find("\n2 files: 0 lines removed, 0 quads made triangles, 0 vertices moved"), std::string::npos);
}

// With -c the report tells what would change, and says that the output was not written ("would
// write"; JSON "output_written": false, absent when it was written); a folder run reports every
// file.
TEST(Report, CheckRunsReportAndFolderRunsReportEveryFile) {
    const std::string input = "2 24 0 0 0 0.0004 0 0\n2 24 5 0 0 6 0 0\n";
    const report_run check = run_with_report(input, "r.json", {"-c"});
    EXPECT_EQ(check.exit_code, exit_would_change);
    EXPECT_EQ(check.output, "") << "nothing is written with -c";
    const json file = json::parse(check.report)["files"][0];
    EXPECT_EQ(file["output_written"], false);
    EXPECT_FALSE(json::parse(run_with_report(input, "r.json").report)["files"][0].contains("output_written"));
    const std::string text = run_with_report(input, "r.txt", {"-c"}).report;
    EXPECT_NE(text.find("/w/in.dat -> /w/out.dat (not written)\n  vertex"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  would write 1 line (1 edge line,"), std::string::npos) << text;
    ASSERT_EQ(file["changes"].size(), 1u);
    EXPECT_EQ(file["changes"][0]["line"], 1);
    EXPECT_EQ(file["changes"][0]["change"], "removed");
    EXPECT_EQ(file["written"]["lines"], 1);
    EXPECT_NE(check.console.find("The geometry would change: 0 vertices moved, 1 line removed"), std::string::npos)
        << check.console;

    memory_file_system fs;
    fs.add_file("/w/parts/a.dat", input);
    string_console out, warnings;
    const int code =
        run({"-r", "/w/r.json", "--no-wait", "/w/parts", "/w/clean"}, run_environment{out, warnings, [] {}, fs});
    EXPECT_EQ(code, exit_success) << out.text;
    ASSERT_NE(fs.find("/w/r.json"), nullptr);
    const json folder = json::parse(*fs.find("/w/r.json"));
    ASSERT_EQ(folder["files"].size(), 1u);
    EXPECT_EQ(folder["files"][0]["input"], "/w/parts/a.dat");
    EXPECT_EQ(folder["files"][0]["changes"].size(), 1u);
    EXPECT_FALSE(folder["files"][0].contains("output_written"));
    EXPECT_NE(fs.find("/w/clean/a.dat"), nullptr);
    EXPECT_EQ(
        run({"-c", "-r", "/w/c.json", "--no-wait", "/w/parts", "/w/clean"}, run_environment{out, warnings, [] {}, fs}),
        exit_would_change);
    EXPECT_EQ(json::parse(*fs.find("/w/c.json"))["files"][0]["output_written"], false);
}

// Every form lists the lines the reader dropped, with their text, and the file's warnings as the
// console tells them (JSON: absent when there are none).
TEST(Report, EveryFormListsTheDroppedLinesAndTheWarnings) {
    const std::string input = "9 dropped\n2 24 1,5 0 0 1 0 0\nx\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 gone.dat\n";
    const report_run r = run_with_report(input, "r.json", {"-s"});
    ASSERT_EQ(r.exit_code, exit_success) << r.console;
    const json file = json::parse(r.report)["files"][0];
    EXPECT_EQ(file["dropped"], json::parse(R"([{"line": 1, "text": "9 dropped"}, {"line": 3, "text": "x"}])"));
    const std::vector<std::string> warnings = {"lines 1 and 3 are not LDraw lines and are dropped",
                                               "/w/in.dat: line 2: \"1,5\" is read as 1",
                                               "subfile not found: gone.dat (1 reference skipped)"};
    EXPECT_EQ(file["warnings"], json(warnings));
    EXPECT_EQ(page_data(run_with_report(input, "r.html", {"-s"}).report)["report"]["files"][0], file);
    EXPECT_NE(run_with_report(input, "r.txt", {"-s"})
                  .report.find("\n  Dropped lines (not LDraw lines; input line numbers):\n  line 1: 9 dropped\n"
                               "  line 3: x\n\n  Warnings:\n  " +
                               warnings[0] + "\n  " + warnings[1] + "\n  " + warnings[2] + "\n"),
              std::string::npos);
    const json plain = json::parse(run_with_report("2 24 0 0 0 1 0 0\n", "r.json").report)["files"][0];
    EXPECT_FALSE(plain.contains("dropped") || plain.contains("warnings"));
}

// Without -r the document records nothing, so a run costs what it did before.
TEST(Report, OnlyARunWithAReportRecordsChanges) {
    EXPECT_EQ(parse_command_line({"in.dat", "out.dat"}).options.clean.record_changes, clean_options::changes::none);
    const command_line command = parse_command_line({"-r", "r.html", "in.dat", "out.dat"});
    EXPECT_EQ(command.options.clean.record_changes, clean_options::changes::lines);
    EXPECT_EQ(command.options.report, "r.html");
}

TEST(Report, FormFollowsTheFileName) {
    EXPECT_EQ(report_form_of("a.html"), report_form::html);
    EXPECT_EQ(report_form_of("A.HTM"), report_form::html);
    EXPECT_EQ(report_form_of("dir.json/a.Json"), report_form::json);
    EXPECT_EQ(report_form_of("a.html.txt"), report_form::text);
    EXPECT_EQ(report_form_of("json"), report_form::text);
    EXPECT_EQ(report_form_of("-"), report_form::text);
}

// The subfile sample keeps an even spread of what it is offered within its bound.
TEST(Report, SubfileSampleIsBoundedAndEvenlySpread) {
    subfile_sample sample(100);
    for (int i = 0; i < 1000; ++i) {
        const edge_line edge("2 24 " + std::to_string(i) + " 0 0 " + std::to_string(i) + " 1 0");
        sample.add(edge);
    }
    EXPECT_EQ(sample.seen(), 1000u);
    EXPECT_FALSE(sample.complete());
    ASSERT_GE(sample.lines().size(), 50u);
    ASSERT_LE(sample.lines().size(), 100u);
    const double step = sample.lines()[1].points[0].x - sample.lines()[0].points[0].x;
    for (std::size_t k = 0; k < sample.lines().size(); ++k) EXPECT_EQ(sample.lines()[k].points[0].x, k * step);
    EXPECT_GE(sample.lines().back().points[0].x + step, 1000 - step);  // it reaches the end
}

}  // namespace
}  // namespace weldrix
