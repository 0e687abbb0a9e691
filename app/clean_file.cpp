#include "app/clean_file.hpp"

#include <cassert>

#include "app/report_drawing.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"

namespace weldrix {

bool failed(file_result result) {
    return result == file_result::not_found || result == file_result::not_text ||
           result == file_result::cannot_create || result == file_result::host_failure;
}

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
    const ldraw_file::read_result read = document.read(fs, job.input, observer.statistics(), stop);
    if (read != ldraw_file::read_result::ok) {
        if (stopped()) return ended(file_result::interrupted);
        return ended(read == ldraw_file::read_result::not_a_text ? file_result::not_text : file_result::not_found);
    }
    if (stopped()) return ended(file_result::interrupted);

    // A page draws a sample of the subfiles' geometry.
    subfile_sample subfile_lines(job.drawing ? subfile_drawing_lines : 2);
    if (job.clean.snap_on_subfiles) {
        observer.expanding(*job.paths);
        result.missing = document.expand_subfiles(*job.paths, observer.statistics(),
                                                  job.drawing ? subfile_lines.observer() : inline_observer{});
        observer.expanded(result.missing);
    }
    if (stopped()) return ended(file_result::interrupted);

    observer.unifying();
    document.unify_vertices();
    observer.unified();
    if (stopped()) return ended(file_result::interrupted);

    observer.writing();
    result.text = document.text(result.written);
    result.totals = document.changes.totals;
    // The bytes read are kept only when changes are recorded.
    if (job.clean.record_changes == clean_options::changes::none) {
        result.what = file_result::cleaned;
    } else {
        result.what = result.totals.any()                ? file_result::changed
                      : result.text != document.source() ? file_result::reformatted
                                                         : file_result::unchanged;
    }
    if (job.reporting) {
        result.report = std::make_unique<file_report>(record_file(
            document, job.input, job.output, job.clean, result.written, job.drawing ? &subfile_lines : nullptr));
    }
    return result;
}

}  // namespace weldrix
