#include "app/batch_summary.hpp"

#include "app/wording.hpp"

namespace weldrix {

void print_batch_settings(console& out, const run_options& options) {
    print_thresholds(out, options.clean);
    if (options.clean.snap_on_subfiles) {
        run_options shown = options;
        shown.input = "<folder of each file>\\file";
        out.line();
        out.line("LDraw subfiles search locations:");
        std::string list;
        for (const std::string& directory : search_directories(shown)) list += (list.empty() ? "" : ", ") + directory;
        out.line(printable(list));
    }
    out.line();
}

void print_batch_start(console& out, const run_options& options, std::size_t files, bool in_place) {
    const std::string what = counted(files, "file", "files") + " of " + printable(options.input);
    if (options.check_only) {
        out.line("Checking " + what + " (nothing is written)");
    } else if (in_place) {
        out.line("Cleaning " + what + " in place");
    } else {
        out.line("Cleaning " + what + " into " + printable(options.output));
    }
}

void batch_summary::add(file_result result, const change_totals& totals, const std::vector<missing_subfile>& missing,
                        const std::string& part) {
    using r = file_result;
    if (result == r::pending || result == r::interrupted || result == r::passed_over) return;
    if (result != r::not_found && result != r::not_text) ++read_;
    if (result == r::changed) ++changed_;
    if (result == r::reformatted) ++reformatted_;
    if (result == r::unchanged) ++unchanged_;
    // Warned about whatever became of the file (--strict withholds it).
    if (totals.geometry_warned > 0) {
        geometry_warned_ += totals.geometry_warned;
        ++geometry_files_;
    }
    if (failed(result)) {
        ++failures_;
        if (result != r::withheld) return;
        // Withheld by --strict, it was cleaned: the subfiles it misses are among its warnings.
        ++withheld_;
        add_missing(missing, part);
        return;
    }
    totals_ += totals;
    add_missing(missing, part);
}

void batch_summary::add_missing(const std::vector<missing_subfile>& missing, const std::string& part) {
    for (const missing_subfile& m : missing) {
        const auto [at, inserted] = missing_at_.try_emplace(m.name, missing_.size());
        if (inserted) {
            missing_.push_back({m.name, 0, m.why, m.first});
            missing_parts_.push_back(part);
        }
        missing_[at->second].references += m.references;
    }
}

std::string batch_summary::geometry_line() const {
    if (geometry_warned_ == 0) return {};
    return "geometry faults made: " + std::to_string(geometry_warned_) + " in " +
           counted(geometry_files_, "file", "files");
}

void batch_summary::print(console& out, bool check) const {
    out.line();
    out.line("Summary:");
    out.line(counted(read_, "file read", "files read"));
    out.line(std::to_string(changed_) + (check ? " would change" : " changed"));
    out.line(std::to_string(reformatted_) + (check ? " would only be reformatted" : " only reformatted"));
    out.line(std::to_string(unchanged_) + " unchanged");
    out.line(std::to_string(failures_) + " failed");
    out.line(counted(totals_.vertices_moved, "vertex moved", "vertices moved"));
    out.line(counted(totals_.lines_removed, "line removed", "lines removed"));
    out.line(counted(totals_.quads_made_triangles, "quad made a triangle", "quads made triangles"));
}

}  // namespace weldrix
