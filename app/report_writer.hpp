// Writes a change report (option -r) as the files of a run are cleaned, one file at a time, so that
// a run never holds the whole report: a file's records are turned into report bytes, which go to
// the report file piece by piece, and are dropped (report.hpp describes the forms).
//
// The bytes are those of the whole report made at once (report_text, report_json, report_html):
// the page's data is the JSON report followed by the files' drawings, so a page keeps the
// drawings, already written as JSON, until the end. A page written to its file as the files come
// puts them aside in a second temporary file beside it (spool_file), copied into the page at the
// end, so that a batch holds no more for a hundred files than for ten; otherwise they are kept in
// memory, their size bounded by the drawing rule (report_drawing.hpp) and a batch's drawing budget.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/report.hpp"

namespace weldrix {

class console;
class file_system;
class spool_file;
class staged_writer;

class report_writer {
public:
    // A report to the named file, in the form its name asks for. It is written next to the file (as
    // replace_file writes, links followed) as the files come, and put in place by finish; until
    // then the named file is untouched, and a writer destroyed unfinished removes what it wrote.
    // A target that is not a regular file (a device, a FIFO), or whose folder cannot take the
    // temporary file yet, is written at finish instead, from the records kept until then.
    // Once stop is set, nothing more is opened or written and finish gives false: opening a FIFO
    // waits for a reader, and writing it for the reader to take the bytes, only until then.
    report_writer(file_system& fs, std::string name, const std::atomic<bool>* stop = nullptr);
    // The text form, printed on out by finish (a report to "-"). The records are kept until then,
    // so that the report follows everything else the run prints. A write that out reports failed
    // (failed_since_asked), or stop set, makes finish give false.
    explicit report_writer(console& out, const std::atomic<bool>* stop = nullptr);
    // The report appended to text as the files come (the whole report in memory).
    report_writer(report_form form, std::string& text);
    ~report_writer();
    report_writer(const report_writer&) = delete;
    report_writer& operator=(const report_writer&) = delete;

    // The next file of the report, in the order the report lists them.
    void add(file_report file);
    // Ends the report and, for a file, puts it in place. False when the file could not be created
    // or fully written (or printed whole), or stop was set; a file is then left as it was. A report finished once takes
    // no more files.
    bool finish();

private:
    enum class destination : std::uint8_t { file, console, text };

    bool open_file();
    void write_file(const file_report& file);
    void write_head();
    void write_tail();
    // Hands the bytes made so far on when there are a piece of them (all of them when all).
    void drain(bool all = false);
    void emit(std::string_view bytes);
    bool stopped() const { return stop_ && stop_->load(); }

    destination to_;
    report_form form_;
    file_system* fs_ = nullptr;
    std::string name_;
    console* out_ = nullptr;
    std::string* text_ = nullptr;
    const std::atomic<bool>* stop_ = nullptr;
    std::unique_ptr<staged_writer> stream_;  // the file being written, when it can be as the files come
    std::unique_ptr<spool_file> spool_;      // with stream_, a page's drawings until finish
    bool tried_open_ = false;
    bool failed_ = false;                // a write to the file failed: finish gives false
    std::vector<file_report> kept_;      // the records written at finish
    std::string bytes_;                  // made, not handed on yet
    std::vector<std::string> drawings_;  // a page's drawings without spool_, as the data's "drawing" array holds them
    std::size_t files_ = 0;              // written so far
    change_totals all_;                  // of the files written so far
    std::size_t page_left_;              // changed lines a page may still list (page_changes_in_all)
    bool finished_ = false;
};

}  // namespace weldrix
