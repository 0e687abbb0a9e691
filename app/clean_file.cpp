#include "app/clean_file.hpp"

#include <cassert>

#include "app/report_drawing.hpp"
#include "app/wording.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"

namespace weldrix {

bool failed(file_result result) {
    return result == file_result::not_found || result == file_result::not_text ||
           result == file_result::cannot_create || result == file_result::host_failure ||
           result == file_result::withheld;
}

std::string first_warning(const std::string& run_warning, const std::vector<std::string>& warnings,
                          const std::vector<missing_subfile>& missing) {
    if (!run_warning.empty()) return run_warning;
    if (!warnings.empty()) return warnings.front();
    if (!missing.empty()) return describe_missing(missing.front());
    return {};
}

bool leave_untouched(file_system& fs, const file_cleaning& job, const cleaned_file& result) {
    return result.same_as_input && real_path_or_name(fs, job.input) == real_path_or_name(fs, job.output);
}

namespace {

// The output's bytes and what became of the file, once the document is unified.
void make_text(const ldraw_file& document, const clean_options& clean, cleaned_file& result) {
    if (clean.minimal) {
        ldraw_file::minimal_output minimal = document.minimal_text(result.written);
        result.text = std::move(minimal.bytes);
        result.same_as_input = !minimal.changed;
    } else {
        result.text = document.text(result.written);
    }
    result.totals = document.changes.totals;
    // The bytes read are kept only when changes are recorded.
    if (clean.record_changes == clean_options::changes::none) {
        result.what = file_result::cleaned;
    } else {
        result.what = result.totals.any()                ? file_result::changed
                      : result.text != document.source() ? file_result::reformatted
                                                         : file_result::unchanged;
    }
}

}  // namespace

cleaned_file clean_file(file_system& fs, const file_cleaning& job, clean_observer& observer) {
    assert(!job.clean.snap_on_subfiles || job.paths);
    assert(!job.reporting || job.clean.record_changes == clean_options::changes::lines);
    cleaned_file result;
    const std::atomic<bool>* const stop = observer.stop();
    const auto stopped = [&] { return stop && stop->load(); };
    const auto ended = [&](file_result what) {
        result.what = what;
        return std::move(result);
    };

    ldraw_file document(job.clean);
    observer.reading(job.input);
    const ldraw_file::read_result read = document.read(fs, job.input, observer.statistics(), stop, job.regular_only);
    if (read != ldraw_file::read_result::ok) {
        if (stopped()) return ended(file_result::interrupted);
        if (read == ldraw_file::read_result::not_regular) return ended(file_result::passed_over);
        return ended(read == ldraw_file::read_result::not_a_text ? file_result::not_text : file_result::not_found);
    }
    if (stopped()) return ended(file_result::interrupted);
    if (std::string dropped = describe_dropped(document.dropped); !dropped.empty()) {
        result.warnings.push_back(std::move(dropped));
    }

    // A page draws a sample of the subfiles' geometry.
    subfile_sample subfile_lines(job.drawing ? subfile_drawing_lines : 2);
    if (job.clean.snap_on_subfiles) {
        observer.expanding(*job.paths);
        result.missing = document.expand_subfiles(*job.paths, observer.statistics(),
                                                  job.drawing ? subfile_lines.observer() : inline_observer{}, stop);
        observer.expanded(result.missing);
    }
    if (stopped()) return ended(file_result::interrupted);

    observer.unifying();
    document.unify_vertices();
    observer.unified();
    if (stopped()) return ended(file_result::interrupted);

    observer.writing();
    make_text(document, job.clean, result);
    // The bytes read served the output and its classification only. They are given back before the
    // report's record and drawing are made, which are held with the output until it is placed.
    document.release_source();
    if (job.reporting) {
        result.report = std::make_unique<file_report>(record_file(
            document, job.input, job.output, job.clean, result.written, job.drawing ? &subfile_lines : nullptr));
    }
    return result;
}

}  // namespace weldrix
