// The bundled demo part: cleaning it against the bundled circle primitive closes the gap, welds
// the near-duplicate corners and removes what becomes degenerate, exactly as the demo shows, and
// its change report says so.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <set>
#include <sstream>

#include "geometry/number_format.hpp"
#include "report_data.hpp"
#include "support.hpp"

namespace weldrix::test {
namespace {

std::string examples_path(std::string_view relative) { return data_path("../../examples/") + std::string(relative); }

TEST(Demo, CleansTheExamplePartAgainstTheBundledPrimitive) {
    temp_dir dir;
    const run_result run = run_weldrix({"-s", "-l", "ldraw", "demo.dat", dir / "clean.dat"}, {}, examples_path(""));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(read_file(dir / "clean.dat"), read_file(examples_path("demo.expected.dat")));
    EXPECT_NE(run.output.find("Inlined from subfiles:\n16 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("22 lines written in file\n6 Edge lines\n0 Conditional lines\n1 Triangles\n4 Quads\n"
                              "1 Subfiles\nPress <Enter> to quit\n"),
              std::string::npos)
        << run.output;

    // The cleaned part is a fixed point: cleaning it again changes nothing.
    const run_result again = run_weldrix({"-s", "-l", examples_path("ldraw"), dir / "clean.dat", dir / "again.dat"});
    ASSERT_EQ(again.exit_code, 0) << again.output;
    EXPECT_EQ(read_file(dir / "again.dat"), read_file(dir / "clean.dat"));
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The corner text of a JSON point, as the tool writes it.
std::string point_text(const nlohmann::json& p) {
    return format_number(p[0]) + " " + format_number(p[1]) + " " + format_number(p[2]);
}

// The demo's report against what the demo does (examples/demo.dat against demo.expected.dat):
// every changed line by its number, the snaps onto the circle, the collapses, the totals; and the
// page holds the same report.
TEST(Demo, ReportListsWhatTheDemoChanged) {
    temp_dir dir;
    const std::vector<std::string> options = {"-s", "-l", "ldraw", "-r"};
    auto args = options;
    args.insert(args.end(), {dir / "r.json", "demo.dat", dir / "clean.dat"});
    const run_result run = run_weldrix(args, {}, examples_path(""));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const nlohmann::json report = nlohmann::json::parse(read_file(dir / "r.json"));
    const nlohmann::json& file = report["files"][0];
    EXPECT_EQ(file["input"], "demo.dat");
    EXPECT_EQ(file["snap_on_subfiles"], true);
    EXPECT_EQ(file["read"]["lines"], 24);
    EXPECT_EQ(file["written"]["lines"], 22);

    // The input's lines, and the output's: lines 16 and 17 are removed, the rest keep their order.
    const std::vector<std::string> in = lines_of(read_file(examples_path("demo.dat")));
    const std::vector<std::string> out = lines_of(read_file(examples_path("demo.expected.dat")));
    const auto output_line = [&](std::size_t line) { return out.at(line < 16 ? line - 1 : line - 3); };
    std::set<std::size_t> changed;
    for (std::size_t line = 1; line <= in.size(); ++line) {
        if (line == 16 || line == 17 || in[line - 1] != output_line(line)) changed.insert(line);
    }
    std::set<std::size_t> listed;
    std::size_t snapped = 0, moved = 0;
    for (const nlohmann::json& c : file["changes"]) {
        const std::size_t line = c["line"];
        listed.insert(line);
        EXPECT_EQ(c["type"], in[line - 1][0] - '0') << line;
        if (line == 14) {
            EXPECT_EQ(c["change"], "triangle");
            EXPECT_EQ(c["reason"], "corners 3 and 4 met");
        } else if (line == 16 || line == 17) {
            EXPECT_EQ(c["change"], "removed");
            EXPECT_EQ(c["reason"], line == 16 ? "corners 1 and 2 met" : "the two ends of the edge met");
            continue;
        } else {
            EXPECT_EQ(c["change"], "moved") << line;
        }
        std::istringstream fields(output_line(line));
        std::vector<std::string> words;
        for (std::string w; fields >> w;) words.push_back(w);
        for (const nlohmann::json& v : c["vertices"]) {
            ++moved;
            const std::size_t index = v["index"];
            if (c["change"] == "moved") {  // the corner as written
                EXPECT_EQ(point_text(v["to"]),
                          words.at(2 + 3 * index) + " " + words.at(3 + 3 * index) + " " + words.at(4 + 3 * index));
            }
            if (v["onto"] == "snapped") {
                ++snapped;
                EXPECT_EQ(v["subfile"], "4-4edge.dat");
                const double x = v["to"][0], z = v["to"][2];
                EXPECT_NEAR(std::hypot(x, z), 10, 1e-3) << "onto the circle of radius 10, line " << line;
            }
        }
    }
    EXPECT_EQ(listed, changed);
    EXPECT_EQ(snapped, 10u);  // the ring's 8 inner corners and the 2 edges' inner ends
    EXPECT_EQ(file["totals"],
              nlohmann::json::parse(R"({"removed": 2, "triangles": 1, "moved": )" + std::to_string(moved) +
                                    R"(, "largest_distance": 0.004, "geometry_faults": 0, "geometry_fixed": 0})"));
    for (const nlohmann::json& group : file["groups"]) {
        for (const nlohmann::json& from : group["from"]) {
            EXPECT_LE(std::abs(from[0].get<double>() - group["to"][0].get<double>()) +
                          std::abs(from[2].get<double>() - group["to"][2].get<double>()),
                      2 * 0.005);
        }
    }

    // The page: the same report, the part drawn whole, the circle drawn from the subfile.
    args = options;
    args.insert(args.end(), {dir / "r.html", "demo.dat", dir / "clean.dat"});
    ASSERT_EQ(run_weldrix(args, {}, examples_path("")).exit_code, 0);
    const nlohmann::json data = report_page_data(read_file(dir / "r.html"));
    EXPECT_EQ(data["report"], report);
    EXPECT_EQ(data["drawing"][0]["full"], true);
    EXPECT_EQ(data["drawing"][0]["lines"].size(), 13u);    // every line of types 2 to 5
    EXPECT_EQ(data["drawing"][0]["subfile"].size(), 16u);  // the 16 edges of 4-4edge.dat
}

}  // namespace
}  // namespace weldrix::test
