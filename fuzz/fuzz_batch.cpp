// Fuzz target: batch mode, "weldrix [options] INDIR OUTDIR", on small generated folder trees in
// memory.
//
// The input generates a tree below /in (a few files at several depths, in hidden folders too,
// with LDraw and other extensions in any letter case, LDraw text (LF, CR LF or CR line ends) referencing each other and
// a small library below /lib, files that are not text), outputs that exist beforehand (one of them read-only), and the
// options: -s, -c, -ut, --strict, --minimal, --fix, cleaning in place, an output folder inside the input (refused
// unless with -c, which writes nothing). The batch runs on one thread and on several, each on a fresh copy of the tree.
// Checked:
//  * each output is byte for byte what the single-file run on that file writes (run on another
//    fresh copy into another path); a file the single run fails on (exit code 2, or 4 with
//    --strict) fails in the batch and its output is left as it was; with -c, a file "would
//    change" exactly when the single check says so;
//  * the batch takes exactly the files it should (LDraw extensions, no hidden folder, nothing
//    below an output folder inside the input);
//  * the per-file console lines come in input order, and the exit code agrees with them (a
//    failure of --strict gives 4 unless another failure gives 2);
//  * nothing else is changed, and no temporary file is left;
//  * one thread and several give the same files, the same console text apart from the elapsed
//    time, and the same warnings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/run.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_files.hpp"
#include "fuzz/fuzz_generate.hpp"
#include "io/ascii.hpp"
#include "io/console.hpp"

using namespace weldrix;
using weldrix::fuzz::byte_source;
using weldrix::fuzz::file_tree;

namespace {

constexpr const char* folders[] = {"", "a/", "a/b/", ".hidden/", "A/", "a/s/", "s/", "x.dat/"};
constexpr const char* names[] = {"x", "Y", "part", "sub", "stud", "model"};
constexpr const char* extensions[] = {".dat", ".DAT", ".Ldr", ".mpd", ".txt", ".MpD", ".ldr", ""};
constexpr const char* references[] = {"s\\sub.dat", "stud.dat",  "sub.dat",     "x.dat",
                                      "part.dat",   "brick.dat", "missing.dat", "s\\SUB.DAT"};

void add_library(file_tree& t) {
    t.add("/lib/p/stud.dat", "0 Stud\n2 24 6 0 0 0 0 6\n3 16 6 0 0 0 0 6 -6 0 0\n");
    t.add("/lib/parts/brick.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 stud.dat\n4 16 1 0 0 0 0 1 -1 0 0 0 0 -1\n");
    t.add("/lib/parts/s/sub.dat", "2 24 0 0 0 1 0 0\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 sub.dat\n");
}

std::string ldraw_text(byte_source& in) {
    std::vector<std::string> lines;
    const std::size_t count = 1 + in.pick(8);
    for (std::size_t i = 0; i < count; ++i) {
        switch (in.pick(8)) {
            case 0: lines.push_back(weldrix::fuzz::comment_line(in)); break;
            case 1:
            case 2: lines.push_back(weldrix::fuzz::reference_line(in, in.pick(references))); break;
            case 3: lines.push_back("0 FILE " + std::string(in.pick(names)) + ".ldr"); break;
            default: lines.push_back(weldrix::fuzz::geometry_line(in)); break;
        }
    }
    static const char* const line_ends[] = {"\n", "\r\n", "\r"};
    return weldrix::fuzz::joined_lines(lines, in.pick(line_ends));
}

std::string not_text(byte_source& in) {
    return in.next() & 1 ? std::string(
                               "\xFF\xFE"
                               "2\0 \0",
                               6)
                         : std::string("2 24 0 0 0\0 1 0 0\n", 18);
}

bool ldraw_name(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.size() < 4) return false;
    const std::string tail = weldrix::ascii_lower(name.substr(name.size() - 4));
    return tail == ".dat" || tail == ".ldr" || tail == ".mpd";
}

struct scenario {
    file_tree tree;
    std::vector<std::string> options;
    std::string in = "/in", out = "/out";
    bool check = false;
    bool out_inside_in = false;
    unsigned threads = 2;
    std::set<std::string> inputs;     // relative paths the batch must take
    std::set<std::string> read_only;  // of those, the ones whose output may not be written
};

scenario generate(byte_source& in) {
    scenario s;
    const std::uint8_t flags = in.next();
    if (flags & 1) s.options.insert(s.options.end(), {"-s", "-l", "/lib"});
    if (flags & 2) s.options.push_back("-c");
    s.check = flags & 2;
    if (flags & 4) s.options.insert(s.options.end(), {"-ut", "0.01"});
    const unsigned placement = (flags >> 3) & 3;  // 0, 1: beside; 2: in place; 3: inside the input
    if (placement == 2) s.out = s.in;
    if (placement == 3) s.out = "/in/out";
    s.out_inside_in = placement == 3;
    s.threads = 2 + ((flags >> 5) & 3);
    add_library(s.tree);
    s.tree.add_folder(s.in);

    std::map<std::string, bool> files;  // relative path: whether its output is read-only
    const std::size_t count = 1 + in.pick(6);
    for (std::size_t i = 0; i < count && !in.empty(); ++i) {
        const std::uint8_t kind = in.next();
        std::string relative = in.pick(folders);
        relative += in.pick(names);
        relative += in.pick(extensions);
        // The same file again, a folder of that name, or a file where a folder of the tree is:
        // left out.
        bool clash = files.count(relative) != 0;
        for (const auto& [other, ignored] : files) {
            clash |= other.starts_with(relative + "/") || relative.starts_with(other + "/");
        }
        if (clash) continue;
        s.tree.add(s.in + "/" + relative, kind % 8 == 0 ? not_text(in) : ldraw_text(in));
        bool read_only = false;
        if (placement < 2 && (kind & 0x30)) {
            // An output there beforehand: old bytes to replace, or a read-only file.
            read_only = (kind & 0x30) == 0x30;
            s.tree.add(s.out + "/" + relative, "0 old output\n", !read_only);
        }
        files[relative] = read_only;
    }
    if (placement == 3 && (flags & 0x80)) s.tree.add("/in/out/stale.dat", "2 24 0 0 0 0 0 0\n");
    // Taken last, so that inputs made before these options existed keep their meaning.
    const std::uint8_t more = in.next();
    if (more & 1) s.options.push_back("--strict");
    if (more & 2) s.options.push_back("--minimal");
    if (more & 4) s.options.push_back("--fix");
    for (const auto& [relative, read_only] : files) {
        if (!ldraw_name(relative) || relative.starts_with(".") || relative.find("/.") != std::string::npos) continue;
        s.inputs.insert(relative);
        if (read_only && !s.check) s.read_only.insert(relative);
    }
    return s;
}

struct run_result {
    int code = -1;
    std::string out;
    std::string warnings;
};

run_result run_in(memory_file_system& fs, const file_tree& tree, std::vector<std::string> args) {
    tree.fill(fs);
    run_result r;
    string_console out, warnings;
    r.code = run(args, run_environment{out, warnings, [] {}, fs});
    r.out = std::move(out.text);
    r.warnings = std::move(warnings.text);
    return r;
}

// The relative path a per-file console line names, or empty for any other line.
std::string file_of(const std::string& line) {
    for (const std::string_view prefix : {"changed: ", "would change: ", "failed: "}) {
        if (!line.starts_with(prefix)) continue;
        const std::string rest = line.substr(prefix.size());
        return rest.substr(0, rest.find_first_of(": ("));
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    byte_source in(input);
    const scenario s = generate(in);

    std::vector<std::string> args = s.options;
    args.insert(args.end(), {"--no-wait", "-j", "1", s.in, s.out});
    memory_file_system one_fs;
    const run_result one = run_in(one_fs, s.tree, args);
    args[args.size() - 3] = std::to_string(s.threads);
    memory_file_system many_fs;
    const run_result many = run_in(many_fs, s.tree, args);

    // For looking at one input by hand: WELDRIX_FUZZ_SHOW=1 ./fuzz_batch input
    if (std::getenv("WELDRIX_FUZZ_SHOW")) {
        for (const std::string& arg : args) std::fprintf(stderr, "%s ", arg.c_str());
        std::fprintf(stderr, "\n");
        for (const file_tree::file& f : s.tree.files)
            std::fprintf(stderr, "== %s%s\n%s", f.path.c_str(), f.writable ? "" : " (read-only)",
                         weldrix::fuzz::escaped(f.bytes, 2000).c_str());
        std::fprintf(stderr, "\n== -j 1: %d\n%s%s== -j %u: %d\n%s%s", one.code, one.out.c_str(), one.warnings.c_str(),
                     s.threads, many.code, many.out.c_str(), many.warnings.c_str());
    }
    // Threads change nothing.
    FUZZ_CHECK(one.code == many.code, input);
    FUZZ_CHECK(weldrix::fuzz::without_elapsed_time(one.out) == weldrix::fuzz::without_elapsed_time(many.out),
               one.out + "\n--\n" + many.out);
    FUZZ_CHECK(one.warnings == many.warnings, input);
    FUZZ_CHECK(weldrix::fuzz::same_files(one_fs, many_fs), input);

    // An output folder inside the input folder is refused before anything is read or written.
    if (s.out_inside_in && !s.check) {
        FUZZ_CHECK(one.code == exit_usage && one.warnings.find("lies inside the input folder") != std::string::npos,
                   one.out + one.warnings);
        memory_file_system untouched;
        s.tree.fill(untouched);
        FUZZ_CHECK(weldrix::fuzz::same_files(one_fs, untouched), input);
        return 0;
    }
    // A folder with no LDraw file below it is refused, with nothing created.
    if (s.inputs.empty()) {
        FUZZ_CHECK(
            one.code == exit_file_error && one.out.find("\nno LDraw files below " + s.in + "\n") != std::string::npos,
            one.out);
        return 0;
    }
    const std::string taken =
        "Cleaning " + std::to_string(s.inputs.size()) + (s.inputs.size() == 1 ? " file of " : " files of ");
    const std::string checked =
        "Checking " + std::to_string(s.inputs.size()) + (s.inputs.size() == 1 ? " file of " : " files of ");
    FUZZ_CHECK(one.out.find(s.check ? checked : taken) != std::string::npos, one.out);

    // The per-file lines, in input order (the order of the relative paths' bytes).
    std::map<std::string, std::string> lines;  // relative path: its line
    std::string previous;
    bool any_failed = false, any_strict = false, any_change = false;
    for (std::size_t at = 0; at < one.out.size();) {
        const auto end = one.out.find('\n', at);
        const std::string line = one.out.substr(at, end - at);
        at = end == std::string::npos ? one.out.size() : end + 1;
        const std::string file = file_of(line);
        if (file.empty()) continue;
        FUZZ_CHECK(s.inputs.count(file) == 1, one.out);
        FUZZ_CHECK(previous.empty() || previous < file, one.out);
        previous = file;
        lines[file] = line;
        const bool strict = line.starts_with("failed: " + file + ": --strict: ");
        any_strict |= strict;
        any_failed |= line.starts_with("failed: ") && !strict;
        any_change |= line.starts_with("would change: ");
    }
    FUZZ_CHECK(one.code == (any_failed   ? exit_file_error
                            : any_strict ? exit_strict
                            : any_change ? exit_would_change
                                         : exit_success),
               one.out);

    // Each file against its single-file run.
    std::set<std::string> outputs;
    for (const std::string& relative : s.inputs) {
        memory_file_system single_fs;
        std::vector<std::string> single_args = s.options;
        single_args.insert(single_args.end(), {"--no-wait", s.in + "/" + relative, "/single.out"});
        const run_result single = run_in(single_fs, s.tree, single_args);
        const std::string output = s.out + "/" + relative;
        outputs.insert(memory_file_system::canonical(output));
        const std::string* before = nullptr;
        for (const file_tree::file& f : s.tree.files) {
            if (f.path == output) before = &f.bytes;
        }
        const std::string* after = one_fs.find(output);
        const bool fails = single.code == exit_file_error || single.code == exit_strict || s.read_only.count(relative);
        const auto line = lines.find(relative);
        FUZZ_CHECK(fails == (line != lines.end() && line->second.starts_with("failed: ")), relative + "\n" + one.out);
        if (s.check) {
            FUZZ_CHECK((single.code == exit_would_change) ==
                           (line != lines.end() && line->second.starts_with("would change: ")),
                       relative + "\n" + one.out + "--\n" + single.out);
        }
        if (s.check || fails) {
            FUZZ_CHECK(before ? after && *after == *before : !after, relative + "\n" + one.out);
            continue;
        }
        FUZZ_CHECK(single.code == exit_success, single.out);
        const std::string* expected = single_fs.find("/single.out");
        FUZZ_CHECK(expected && after && *after == *expected, relative + "\n" + one.out);
    }

    // Nothing else changed; no temporary file.
    std::map<std::string, const file_tree::file*> initial;
    for (const file_tree::file& f : s.tree.files) initial[memory_file_system::canonical(f.path)] = &f;
    for (const auto& [path, entry] : one_fs.entries()) {
        FUZZ_CHECK(!weldrix::fuzz::is_temporary(path), path);
        if (entry.folder || outputs.count(path)) continue;
        const auto was = initial.find(path);
        FUZZ_CHECK(was != initial.end() && !was->second->folder && was->second->bytes == entry.bytes, path);
    }
    for (const auto& [path, file] : initial) FUZZ_CHECK(one_fs.entries().count(path) == 1, path);
    return 0;
}
