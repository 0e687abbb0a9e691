#include "app/run.hpp"

#include <new>

#include "app/options.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "geometry/number_format.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

void print_usage(console& out) {
    out.line("Weldrix [options] InFile, Outfile");
    out.line("-ut <val>: Vertices unification threshold (default 0.005)");
    out.line("-s: Snap on subfiles");
    out.line("-us <val>: Unification on subfiles threshold (default 0.005)");
    out.line("-l \"path\": define ldraw search path");
}

int finish(console& out, const std::function<void()>& wait_for_enter, int code) {
    out.line("Press <Enter> to quit");
    wait_for_enter();
    return code;
}

int run_sequence(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
                 file_system& fs) {
    out.line();
    out.line("Ldraw Weldrix 1.0 - by Orvel");
    out.line("-------------------------------");

    const std::optional<run_options> options = parse_options(args);
    if (!options) {
        print_usage(out);
        return finish(out, wait_for_enter, exit_usage);
    }
    search_paths paths(fs);
    for (const std::string& directory : search_directories(*options)) paths.add_path(directory);
    const clean_options& clean = options->clean;

    out.line("Vertices unification threshold: " + format_threshold(clean.thresholds.vertex_threshold));
    if (clean.snap_on_subfiles) {
        out.line("Unification on subfiles threshold: " + format_threshold(clean.thresholds.subfile_threshold));
    }

    ldraw_file document(clean);
    out.line();
    out.line("Reading input file " + options->input);
    if (!document.read(fs, options->input, out)) {
        out.line(options->input + " not found");
        return finish(out, wait_for_enter, exit_file_error);
    }

    if (clean.snap_on_subfiles) {
        out.line();
        out.line("LDraw subfiles search locations:");
        out.line(paths.as_text());
        out.write("\nExpanding input file subfiles\n");
        document.expand_subfiles(paths, out);
        out.line();
    }

    out.line();
    out.line("Unifying input file vertices");
    document.unify_vertices();
    out.line();

    out.line("Writing output file " + options->output);
    if (!document.write(fs, options->output, out)) {
        out.line(options->output + " Can't create");
        return finish(out, wait_for_enter, exit_file_error);
    }
    return finish(out, wait_for_enter, exit_success);
}

}  // namespace

int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs) {
    try {
        return run_sequence(args, out, wait_for_enter, fs);
    } catch (const std::bad_alloc&) {
        // Memory can run out at any step. Like every other way out, this one ends with the wait
        // for Enter.
        out.line("Out of memory");
        return finish(out, wait_for_enter, exit_file_error);
    } catch (const read_failure& failure) {
        // A subfile (or a folder searched for one) is there, but the host failed to read it: going
        // on without it would weld the part against a library that is missing files by chance.
        out.line(failure.path() + " can't be read");
        return finish(out, wait_for_enter, exit_file_error);
    }
}

}  // namespace weldrix
