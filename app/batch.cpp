#include "app/batch.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/batch_file.hpp"
#include "app/batch_summary.hpp"
#include "app/folder_walk.hpp"
#include "app/output_placer.hpp"
#include "app/progress_line.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/run_report.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"
#include "io/process.hpp"
#include "io/staged_outputs.hpp"

namespace weldrix {
namespace {

class batch {
public:
    batch(const run_options& options, const run_environment& env, std::vector<std::string> inputs,
          std::size_t unreadable, const std::string& run_warning, const file_paths& folders)
        : options_(options),
          env_(env),
          inputs_(std::move(inputs)),
          entries_(inputs_.size()),
          order_(started_in_order(options) ? std::vector<std::size_t>() : batch_order(inputs_)),
          unreadable_(unreadable),
          drawing_(report_draws_page(options.report)),
          jobs_(options, env, drawing_, run_warning, folders),
          progress_(env.out),
          threads_run_inline_(threads_run_inline()) {
        if (reporting()) report_ = std::make_unique<run_report>(env, options.report);
    }

    int run() {
        const auto start = std::chrono::steady_clock::now();
        unsigned threads = options_.threads ? options_.threads : std::thread::hardware_concurrency();
        if (threads == 0) threads = 1;
        threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(inputs_.size(), 1)));
        std::vector<std::thread> workers;
        try {
            running_ = threads;
            for (unsigned t = 0; t < threads; ++t) {
                workers.emplace_back([this] {
                    work();
                    const std::lock_guard<std::mutex> lock(mutex_);
                    --running_;
                    ready_.notify_one();
                });
            }
            report_progress(start);
            for (std::thread& worker : workers) worker.join();
            all_ended_ = true;
            print_ready();
            progress_.clear();
            put_held_outputs_in_place(threads);
            return summary(start);
        } catch (...) {
            // Memory ran out on this thread (a console line, a thread that could not start): the
            // workers start no new file and are waited for (a running thread must not be left
            // behind); the outputs held are not put in place. The run then ends as any run that
            // runs out of memory, every output as it was or complete.
            abandoned_ = true;
            room_.notify_all();
            for (std::thread& worker : workers)
                if (worker.joinable()) worker.join();
            throw;
        }
    }

private:
    bool interrupted() const { return env_.interrupted && env_.interrupted->load(); }
    bool reporting() const { return !options_.report.empty(); }
    // Files are started in input order unless subfiles are inlined (batch_order); a report takes
    // its records in input order, which its threads wait for, so it keeps that order too.
    static bool started_in_order(const run_options& options) {
        return !options.clean.snap_on_subfiles || !options.report.empty();
    }

    // Each thread puts its outputs in place itself, in groups (output_placer.hpp): what it staged
    // is committed when it ends, interrupted or not.
    void work() {
        output_group outputs(env_.files, env_.interrupted, [this](std::size_t i, placement what, std::string folder) {
            put_in_place(i, what, std::move(folder));
        });
        clean_files(outputs);
        outputs.commit();
    }

    void clean_files(output_group& outputs) {
        std::size_t last = inputs_.size();  // the file this thread cleaned last, while its record waits
        for (;;) {
            if (interrupted() || abandoned_) return;
            // A file's line, and so its record, waits for its output to be in place.
            if (report_ && outputs.size() > 0) outputs.commit();
            std::size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // With a report, a file's record waits for the files before it to be handed to the
                // writer. A thread starts its next file only once its last record has been handed
                // on: it then holds one file at a time, from reading to record, so the records
                // waiting are at most one per thread whatever the number of files, and the memory
                // the thread's allocator keeps is that of one file, not of a file and a record.
                // (Where each thread runs to its end when started, the WebAssembly build, the
                // main thread could not hand records on while it waited: it never waits there.)
                while (report_ && !threads_run_inline_ && last < inputs_.size() && printed_ <= last &&
                       next_ < inputs_.size() && !interrupted() && !abandoned_)
                    room_.wait_for(lock, std::chrono::milliseconds(200));
                if (next_ == inputs_.size() || interrupted() || abandoned_) return;
                i = order_.empty() ? next_ : order_[next_];
                ++next_;
                last = i;
            }
            batch_entry entry = jobs_.run(inputs_[i]);
            if (entry.outcome.report && drawing_) budget_.trim(*entry.outcome.report);
            std::string text;
            const bool place = entry.state == output_state::at_once;
            if (place) {
                text = std::move(entry.outcome.text);
                entry.state = output_state::placing;
            }
            bool next_to_print;  // the main thread waits for no other file
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                entries_[i] = std::move(entry);
                ++done_;
                next_to_print = i == printed_ && !place;
            }
            if (next_to_print) ready_.notify_one();
            // (Only this thread changes the entry now, and never its output path.)
            if (place) outputs.put(i, entries_[i], std::move(text));
        }
    }

    // The result of putting an output in place.
    void put_in_place(std::size_t i, placement what, std::string folder) noexcept {
        bool next_to_print;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            note_placement(entries_[i], what, std::move(folder));
            if (what == placement::failed && interrupted()) entries_[i].outcome.result = file_result::interrupted;
            next_to_print = i == printed_;
        }
        if (next_to_print) ready_.notify_one();
    }

    // Prints the lines of the files finished so far, in input order, while the workers go on;
    // on a terminal the progress line is kept up to date under them.
    void report_progress(std::chrono::steady_clock::time_point start) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (running_ > 0) {
            // A file done while this thread printed notified no one: the wait looks for it itself.
            ready_.wait_for(lock, std::chrono::milliseconds(200), [&] { return running_ == 0 || next_ready(); });
            lock.unlock();
            print_ready();
            if (env_.terminal) show_progress(start);
            lock.lock();
        }
    }

    // Whether the next file to print is done (with mutex_ held). Once the workers have ended, the
    // files a stopped run never started are passed over: started out of input order, those after
    // them may have been cleaned.
    bool next_ready() {
        if (all_ended_) {
            while (printed_ < entries_.size() && entries_[printed_].outcome.result == file_result::pending &&
                   entries_[printed_].state != output_state::placing)
                ++printed_;
        }
        return printed_ < entries_.size() && entries_[printed_].outcome.result != file_result::pending &&
               entries_[printed_].state != output_state::placing;
    }

    void print_ready() {
        for (;;) {
            batch_entry* entry;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!next_ready()) return;
                entry = &entries_[printed_];
            }
            std::unique_ptr<file_report>& record = entry->outcome.report;
            if (record && drawing_) budget_.take(*record);
            if (record) report_->add(std::move(*record));
            record.reset();
            const std::string relative = printable(inputs_[printed_]);
            const std::string line = console_line(*entry, relative, options_);
            if (!line.empty()) {
                progress_.clear();
                env_.out.line(line);
            }
            for (const std::string& warning : entry->outcome.warnings) warn(env_.warnings, relative + ": " + warning);
            for (const std::string& warning : entry->outcome.line_warnings) warn(env_.warnings, warning);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                ++printed_;
            }
            room_.notify_all();
        }
    }

    void show_progress(std::chrono::steady_clock::time_point start) {
        std::size_t done;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done = done_;
        }
        progress_.show(done, inputs_.size(),
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }

    // The outputs held until now (batch_file.hpp) are put in place; then the renames of every
    // output of the run are flushed together. The lines of the files have been printed by now: each
    // output that cannot be put in place gets a line of its own after them.
    void put_held_outputs_in_place(unsigned threads) {
        for (const std::size_t i : place_held_outputs(env_.files, entries_, threads)) {
            if (failed(entries_[i].outcome.result))
                env_.out.line(console_line(entries_[i], printable(inputs_[i]), options_));
        }
        std::vector<std::string> folders;
        for (const batch_entry& entry : entries_) {
            if (!entry.flush_folder.empty()) folders.push_back(entry.flush_folder);
        }
        renames_unflushed_ = !folders.empty() && !flush_file_systems(env_.files, folders);
    }

    int summary(std::chrono::steady_clock::time_point start) {
        batch_summary tally(unreadable_);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const job_outcome& outcome = entries_[i].outcome;
            tally.add(outcome.result, outcome.totals, outcome.missing, inputs_[i]);
        }
        for (std::size_t i = 0; i < tally.missing().size(); ++i) {
            warn(env_.warnings, describe_missing(tally.missing()[i], tally.missing_parts()[i]));
        }
        if (const std::string geometry = tally.geometry_line(); !geometry.empty()) warn(env_.warnings, geometry);
        console& out = env_.out;
        tally.print(out, options_.check_only);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char buf[64];
        std::snprintf(buf, sizeof buf, "Elapsed time: %.1f s", seconds);
        out.line(buf);
        if (interrupted()) {
            out.line("Interrupted: the files not yet cleaned were left as they were");
            return exit_interrupted;
        }
        const run_report::end report_end = reporting()
                                               ? report_->write_out(options_.input, options_.output, &inputs_, false)
                                               : run_report::end::written;
        if (renames_unflushed_)
            out.line(printable(options_.output) + ": the outputs are in place but could not be flushed to disk");
        if (report_end == run_report::end::interrupted) return exit_interrupted;
        const bool report_written = report_end == run_report::end::written;
        if (!report_written || tally.failures() > tally.withheld() || renames_unflushed_) return exit_file_error;
        if (tally.withheld() > 0) return exit_strict;
        if (options_.check_only && tally.changed() > 0) return exit_would_change;
        return exit_success;
    }

    const run_options& options_;
    const run_environment& env_;
    const std::vector<std::string> inputs_;
    std::vector<batch_entry> entries_;
    const std::vector<std::size_t> order_;  // the positions of inputs_ in the order started; empty: in order
    const std::size_t unreadable_;          // folders and links below the input that could not be read
    const bool drawing_;                    // with -r to a page: each file's drawing is kept
    batch_jobs jobs_;
    // With -r: the report of every file read, in input order, each record handed on as its file's
    // line is printed (only the main thread); a page's drawings were held to the page's budget then
    // (budget_).
    std::unique_ptr<run_report> report_;
    bool renames_unflushed_ = false;      // the renames could not be flushed: report a failure
    std::atomic<bool> abandoned_{false};  // memory ran out on the main thread: start no new file

    std::mutex mutex_;  // guards next_, done_, printed_ and entries_ while the workers run
    std::condition_variable ready_;
    std::condition_variable room_;  // with a report: printed_ moved on
    unsigned running_ = 0;          // workers still at work
    std::size_t next_ = 0;          // files started (the next is order_[next_], or next_ itself)
    std::size_t done_ = 0;          // files finished
    std::size_t printed_ = 0;       // files whose line has been printed (by the main thread)
    bool all_ended_ = false;        // the workers have ended (set by the main thread)
    drawing_budget budget_;         // with a page: what the files not handed over yet may draw
    progress_line progress_;
    // Each thread runs to its end when it is started (the WebAssembly build): the main thread
    // cannot hand records on while a worker waits.
    const bool threads_run_inline_;
};

}  // namespace

int run_batch(const run_options& options, const run_environment& env, const std::string& run_warning,
              const file_paths& folders) {
    prepare_for_many_files();
    file_system& fs = env.files;
    console& out = env.out;
    print_batch_settings(out, options);

    file_status st;
    const int output_status =
        options.check_only ? 0 : repeat_interrupted([&] { return fs.status(options.output, st); });
    if (!options.check_only && output_status == 0 && st.kind != file_kind::missing && st.kind != file_kind::folder) {
        out.line(printable(options.output) + " Can't create");
        return exit_file_error;
    }
    // OUTDIR is made once the walk has found files, so that a run that finds nothing to clean (a
    // folder given for a file) creates nothing. A folder whose real path the host cannot give may
    // be the other one under another name: whether the run is in place, and so whether a link
    // leads out of it, could not be told.
    const std::string& in_real = folders.input_real(fs);
    const std::string& out_real = folders.output_real(fs);  // empty for a missing OUTDIR
    const bool output_there = output_status != 0 || st.kind == file_kind::folder;
    if (in_real.empty() || (!options.check_only && output_there && out_real.empty())) {
        out.line(printable(in_real.empty() ? options.input : options.output) + " can't be read");
        return exit_file_error;
    }
    const bool in_place = in_real == out_real;
    // Nothing below OUTDIR is read when it lies inside INDIR (a check: a run that writes refuses it).
    std::vector<std::string> unreadable;
    const std::vector<std::string> inputs =
        batch_inputs(fs, options.input, in_place ? std::string() : out_real, &unreadable);
    if (inputs.empty() && unreadable.empty()) {
        out.line("no LDraw files below " + printable(options.input));
        return exit_file_error;
    }
    std::unique_ptr<file_system::folder_lock> lock;  // held until the run ends
    if (!options.check_only && !lock_output_folder(fs, options.output, lock)) {
        out.line(printable(options.output) + " is in use by another weldrix run");
        return exit_file_error;
    }

    print_batch_start(out, options, inputs.size(), in_place);
    // What could not be looked into fails, before the files that were found.
    for (const std::string& relative : unreadable) out.line("failed: " + printable(relative) + ": can't be read");
    batch run(options, env, inputs, unreadable.size(), run_warning, folders);
    return run.run();
}

}  // namespace weldrix
