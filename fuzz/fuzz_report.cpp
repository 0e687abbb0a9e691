// Fuzz target: the change report of a run.
//
// The input generates a part (edges, triangles, quads and conditional lines whose corners lie near
// each other, comments, references to a small in-memory library) with a name and comments that
// may hold any bytes. The first byte chooses -s, -c and --fix. The run writes its report as JSON and
// as a page, on the in-memory file system. Checked:
//  * the JSON parses back, and its counts are the run's: the read and written statistics of the
//    console, the totals equal to what its changed lines add up to (the geometry's to its entries),
//    and every line number within the input;
//  * the page holds one script with the data, which parses back to the JSON report itself and
//    cannot end its script early (no "<" in it);
//  * the text form names every changed line.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/run.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_generate.hpp"
#include "io/console.hpp"
#include "io/memory_file_system.hpp"

using namespace weldrix;
using weldrix::fuzz::byte_source;
using json = nlohmann::json;

namespace {

void fill(memory_file_system& fs) {
    fs.add_file("/w/p/stud.dat", "2 24 6 0 0 0 0 6\n3 16 6 0 0 0 0 6 -6 0 0\n4 16 1 0 0 0 0 1 -1 0 0 0 0 -1\n");
    fs.add_file("/w/s/sub.dat", "2 24 0 0 0 1 0 0\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 stud.dat\n");
}

// The six numbers of the statistics block that ends with label's line.
std::vector<std::size_t> statistics(const std::string& console, std::string_view label) {
    std::vector<std::size_t> n;
    std::size_t at = console.find(label);
    if (at == std::string::npos) return n;
    at = console.rfind('\n', at) + 1;
    for (int k = 0; k < 6 && at < console.size(); ++k) {
        n.push_back(std::stoul(console.substr(at)));
        at = console.find('\n', at) + 1;
    }
    return n;
}

std::vector<std::size_t> counts(const json& c) {
    return {c["lines"].get<std::size_t>(),     c["edges"].get<std::size_t>(), c["conditionals"].get<std::size_t>(),
            c["triangles"].get<std::size_t>(), c["quads"].get<std::size_t>(), c["subfiles"].get<std::size_t>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    byte_source in(bytes);
    const std::uint8_t options = in.next();
    const bool snap = options & 1;
    const bool check = options & 2;
    const bool fix = options & 4;

    // The part: generated lines, and now and then a comment of raw input bytes (no line ends).
    std::vector<std::string> lines;
    while (!in.empty() && lines.size() < 60) {
        const std::size_t kind = in.pick(8);
        if (kind < 5) {
            lines.push_back(fuzz::geometry_line(in));
        } else if (kind == 5) {
            lines.push_back(fuzz::comment_line(in));
        } else if (kind == 6) {
            lines.push_back(fuzz::reference_line(in, in.pick(2) ? "s\\sub.dat" : "stud.dat"));
        } else {
            std::string comment = "0 ";
            for (std::size_t k = in.pick(12); k > 0; --k) {
                const char c = static_cast<char>(in.next());
                comment += c == '\n' || c == '\r' || c == '\0' ? '~' : c;
            }
            lines.push_back(comment);
        }
    }
    const std::string part = fuzz::joined_lines(lines, "\n");

    // The part cleaned on a fresh file system, with its report named report ("-": on standard
    // output).
    const std::string name = "/w/part <&\"x\xC3\xA9\xFF>.dat";
    std::vector<std::string> args;
    if (snap) args.push_back("-s");
    if (check) args.push_back("-c");
    if (fix) args.push_back("--fix");
    args.insert(args.end(), {"--no-wait", "-r", "", name, "/w/out.dat"});  // the report's name is set per run
    string_console warnings;
    struct report_run {
        memory_file_system fs;
        string_console out;
        int code = 0;
    };
    const auto run_reporting = [&](const std::string& report) {
        auto r = std::make_unique<report_run>();
        fill(r->fs);
        r->fs.add_file(name, part);
        args[args.size() - 3] = report;
        r->code = run(args, run_environment{r->out, warnings, [] {}, r->fs});
        return r;
    };

    const auto json_run = run_reporting("/w/report.json");
    const int code = json_run->code;
    const string_console& out = json_run->out;
    FUZZ_CHECK(code == exit_success || code == exit_would_change, out.text);
    const std::string* report_text = json_run->fs.find("/w/report.json");
    FUZZ_CHECK(report_text != nullptr, out.text);

    json report;
    try {
        report = json::parse(*report_text);
    } catch (const json::exception& e) {
        FUZZ_CHECK(false, std::string("the JSON does not parse: ") + e.what());
    }
    FUZZ_CHECK(report["format"] == "weldrix-report" && report["version"] == 1, *report_text);
    FUZZ_CHECK(report["files"].size() == 1, *report_text);
    const json& file = report["files"][0];
    FUZZ_CHECK(counts(file["read"]) == statistics(out.text, " lines in file"), out.text);
    FUZZ_CHECK(counts(file["written"]) == statistics(out.text, " lines written in file"), out.text);
    std::size_t removed = 0, triangles = 0, moved = 0;
    for (const json& change : file["changes"]) {
        const std::size_t line = change["line"].get<std::size_t>();
        FUZZ_CHECK(line >= 1 && line <= lines.size(), *report_text);
        removed += change["change"] == "removed";
        triangles += change["change"] == "triangle";
        if (change["change"] != "removed") moved += change["vertices"].size();
    }
    const json& totals = file["totals"];
    FUZZ_CHECK(totals["removed"] == removed && totals["triangles"] == triangles && totals["moved"] == moved,
               *report_text);
    std::size_t faults = 0, fixed = 0;
    for (const json& fault : file["geometry"]) {
        const std::size_t line = fault["line"].get<std::size_t>();
        FUZZ_CHECK(line >= 1 && line <= lines.size(), *report_text);
        ++faults;
        fixed += fault["fixed"].get<bool>();
    }
    FUZZ_CHECK(totals["geometry_faults"] == faults && totals["geometry_fixed"] == fixed && (fix || fixed == 0),
               *report_text);
    // A repair removes a line or splits a quad in two, which the changes do not count.
    if (fixed == 0) FUZZ_CHECK(counts(file["read"])[0] - counts(file["written"])[0] == removed, *report_text);
    FUZZ_CHECK((code == exit_would_change) == (check && removed + triangles + moved > 0), out.text);

    // The page: the same run, its report as a page.
    const auto page_run = run_reporting("/w/report.html");
    const std::string* page = page_run->fs.find("/w/report.html");
    FUZZ_CHECK(page != nullptr, page_run->out.text);
    const std::string start = "const weldrixData =\n";
    const std::size_t data_end = page->rfind("\n; /* end of the report data -->");
    const std::size_t data_at = data_end == std::string::npos ? data_end : page->rfind(start, data_end);
    FUZZ_CHECK(data_at != std::string::npos && data_end != std::string::npos && data_end > data_at,
               "no data in the page");
    const std::string embedded = page->substr(data_at + start.size(), data_end - data_at - start.size());
    FUZZ_CHECK(embedded.find('<') == std::string::npos, embedded);
    json page_data;
    try {
        page_data = json::parse(embedded);
    } catch (const json::exception& e) {
        FUZZ_CHECK(false, std::string("the page's data does not parse: ") + e.what());
    }
    FUZZ_CHECK(page_data["report"] == report, embedded);

    // The text form, on standard output: a line for every changed line.
    const auto text_run = run_reporting("-");
    const std::string& text_out = text_run->out.text;
    for (const json& change : file["changes"]) {
        const std::string line = "line " + std::to_string(change["line"].get<std::size_t>());
        FUZZ_CHECK(text_out.find(line) != std::string::npos, text_out);
    }
    return 0;
}
