#include "app/report_writer.hpp"

#include <functional>

#include "app/json_writer.hpp"
#include "app/report_html.hpp"
#include "app/report_json.hpp"
#include "app/report_text.hpp"
#include "io/console.hpp"
#include "io/spool_file.hpp"
#include "io/staged_writer.hpp"

namespace weldrix {
namespace {

// Bytes are handed on in pieces of about this size: few writes, and buffers that stay small next
// to the files being cleaned (a buffer grown past a piece holds its old and new copy at once).
constexpr std::size_t piece = std::size_t{1} << 16;

}  // namespace

report_writer::report_writer(file_system& fs, std::string name, const std::atomic<bool>* stop)
    : to_(destination::file),
      form_(report_form_of(name)),
      fs_(&fs),
      name_(std::move(name)),
      stop_(stop),
      page_left_(page_changes_in_all) {}

report_writer::report_writer(console& out, const std::atomic<bool>* stop)
    : to_(destination::console), form_(report_form::text), out_(&out), stop_(stop), page_left_(page_changes_in_all) {}

report_writer::report_writer(report_form form, std::string& text)
    : to_(destination::text), form_(form), text_(&text), page_left_(page_changes_in_all) {}

report_writer::~report_writer() = default;

// Opens the temporary file the report is written to as the files come, once. A device or FIFO
// is opened only at finish (a FIFO would block until something reads it, and a terminal would
// show the report among the run's other lines).
bool report_writer::open_file() {
    if (tried_open_) return stream_ != nullptr;
    tried_open_ = true;
    file_status st;
    if (repeat_interrupted([&] { return fs_->status(name_, st); }) != 0 || st.kind == file_kind::other) return false;
    auto stream = std::make_unique<staged_writer>(*fs_, name_, durability::flush_each, stop_);
    if (!stream->good()) return false;
    if (form_ == report_form::html) {
        auto spool = std::make_unique<spool_file>(*fs_, name_);
        if (!spool->good()) return false;
        spool_ = std::move(spool);
    }
    stream_ = std::move(stream);
    return true;
}

void report_writer::add(file_report file) {
    if (finished_) return;
    if (to_ == destination::console || (to_ == destination::file && !open_file())) {
        kept_.push_back(std::move(file));
        return;
    }
    write_file(file);
}

bool report_writer::finish() {
    if (finished_) return false;
    finished_ = true;
    if (to_ == destination::file && !open_file()) {
        // Written now, from the records kept, as the whole report was written once.
        // A FIFO is opened here: the open waits for a reader until stop is set.
        stream_ = std::make_unique<staged_writer>(*fs_, name_, durability::flush_each, stop_);
        if (!stream_->good()) {
            stream_.reset();
            kept_.clear();
            return false;
        }
    }
    // Only what the report's own writes do counts for the console.
    if (to_ == destination::console) static_cast<void>(out_->failed_since_asked());
    for (file_report& file : kept_) {
        if (stopped()) break;
        write_file(file);
        file = file_report();  // its memory is given back now
    }
    kept_.clear();
    if (files_ == 0) write_head();
    write_tail();
    drain(true);
    if (to_ == destination::console) {
        out_->flush();
        return !out_->failed_since_asked() && !failed_ && !stopped();
    }
    if (to_ != destination::file) return true;
    staged_file staged;
    const bool written = !failed_ && stream_->finish(staged) && commit_staged(*fs_, staged);
    stream_.reset();
    return written;
}

void report_writer::write_head() {
    switch (form_) {
        case report_form::text: bytes_ += text_report_head; break;
        case report_form::html:
            bytes_ += page_head();
            bytes_ += page_data_head;
            [[fallthrough]];
        case report_form::json: bytes_ += json_report_head; break;
    }
}

void report_writer::write_file(const file_report& file) {
    if (files_ == 0) write_head();
    const std::function<void()> drain_some = [this] { drain(); };
    if (form_ == report_form::text) {
        append_text(bytes_, file, drain_some);
    } else {
        json_writer json(bytes_, form_ == report_form::html);
        if (files_ > 0) json.raw(",");
        if (form_ == report_form::json) {
            write_file_json(json, file, listed{}, drain_some);
        } else {
            std::string note;
            const listed limit = page_limit(file.changes, page_left_, note);
            page_left_ -= limit.changes;
            write_file_json(json, file, limit, drain_some);
            std::string drawn(files_ > 0 ? "," : "");
            // Spooled, a large drawing goes in pieces; kept, it is kept whole.
            const auto spool = [&](bool all) {
                if (!spool_ || (!all && drawn.size() < piece)) return;
                failed_ = failed_ || !spool_->write(drawn);
                drawn.clear();
            };
            json_writer drawing(drawn, true);
            write_drawing(drawing, file.drawing, note, [&] { spool(false); });
            spool(true);
            if (!spool_) {
                drawn.shrink_to_fit();
                drawings_.push_back(std::move(drawn));
            }
        }
    }
    all_ += file.changes.totals;
    ++files_;
    drain();
}

void report_writer::write_tail() {
    switch (form_) {
        case report_form::text: append_text_end(bytes_, files_, all_); break;
        case report_form::json:
            bytes_ += json_report_end;
            bytes_ += "\n";
            break;
        case report_form::html:
            bytes_ += json_report_end;
            bytes_ += page_data_drawings;
            drain(true);
            if (spool_) {
                const bool copied = !failed_ && spool_->read_back([this](std::string_view drawn) {
                    emit(drawn);
                    return !failed_;
                });
                failed_ = failed_ || !copied;
                spool_.reset();
            }
            for (std::string& drawing : drawings_) {
                emit(drawing);
                std::string().swap(drawing);
            }
            drawings_.clear();
            bytes_ += page_data_end;
            bytes_ += page_tail();
            break;
    }
}

void report_writer::drain(bool all) {
    if (bytes_.empty() || (!all && bytes_.size() < piece)) return;
    emit(bytes_);
    bytes_.clear();
}

void report_writer::emit(std::string_view bytes) {
    switch (to_) {
        case destination::file: failed_ = failed_ || !stream_->write(bytes); break;
        case destination::console:
            // The report stops where the run was told to stop: a pipe that nobody reads holds a
            // write, which the signal cuts short, but would hold the next one again.
            failed_ = failed_ || stopped();
            if (!failed_) out_->write(bytes);
            break;
        case destination::text: *text_ += bytes; break;
    }
}

}  // namespace weldrix
