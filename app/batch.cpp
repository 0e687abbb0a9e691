#include "app/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/batch_file.hpp"
#include "app/batch_summary.hpp"
#include "app/folder_walk.hpp"
#include "app/progress_line.hpp"
#include "app/report.hpp"
#include "app/report_drawing.hpp"
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
          std::size_t unreadable)
        : options_(options),
          env_(env),
          inputs_(std::move(inputs)),
          outcomes_(inputs_.size()),
          unreadable_(unreadable),
          drawing_(report_draws_page(options.report)),
          files_(options, env, drawing_),
          progress_(env.out) {}

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
            print_ready();
            progress_.clear();
            commit_staged_outputs();
            return summary(start);
        } catch (...) {
            // Memory ran out on this thread (a console line, a thread that could not start): the
            // workers start no new file and are waited for (a running thread must not be left
            // behind), and the outputs staged but not put in place are removed. The run then ends
            // as any run that runs out of memory, every output as it was or complete.
            abandoned_ = true;
            for (std::thread& worker : workers) {
                if (worker.joinable()) worker.join();
            }
            for (file_outcome& outcome : outcomes_) {
                if (outcome.has_staged) discard_staged(env_.files, outcome.staged);
                outcome.has_staged = false;
            }
            throw;
        }
    }

private:
    bool interrupted() const { return env_.interrupted && env_.interrupted->load(); }
    bool reporting() const { return !options_.report.empty(); }

    void work() {
        for (;;) {
            if (interrupted() || abandoned_) return;
            std::size_t i;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (next_ == inputs_.size()) return;
                i = next_++;
            }
            file_outcome outcome = files_.clean(inputs_[i]);
            // The page's budget can only shrink while this file waits for the files before it:
            // a drawing that exceeds what is left now is not drawn, and is not kept until then.
            if (outcome.report && drawing_) {
                std::size_t left;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    left = drawing_left_;
                }
                try {
                    if (!fits_in_drawing_budget(*outcome.report, left)) leave_undrawn(*outcome.report);
                } catch (const std::bad_alloc&) {
                    // Nothing may leave a thread. The drawing is kept as it was, and the main thread
                    // leaves it undrawn when the file is handed over.
                }
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                outcomes_[i] = std::move(outcome);
                ++done_;
            }
            ready_.notify_one();
        }
    }

    // Applies the budget to a file's drawing as it is handed over in input order (main thread
    // only), so that the drawings kept until the report is written never exceed it, whatever the
    // number of files.
    void take_drawing(file_report& file) {
        std::size_t left;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            left = drawing_left_;
        }
        if (!fits_in_drawing_budget(file, left)) {
            leave_undrawn(file);
            return;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        drawing_left_ -= drawing_size(file);
    }

    // Prints the lines of the files finished so far, in input order, while the workers go on;
    // on a terminal the progress line is kept up to date under them.
    void report_progress(std::chrono::steady_clock::time_point start) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (running_ > 0) {
            ready_.wait_for(lock, std::chrono::milliseconds(200));
            lock.unlock();
            print_ready();
            if (env_.terminal) show_progress(start);
            lock.lock();
        }
    }

    void print_ready() {
        for (;;) {
            file_outcome* outcome;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (printed_ == next_ || outcomes_[printed_].what == file_result::pending) return;
                outcome = &outcomes_[printed_];
            }
            if (outcome->report && drawing_) take_drawing(*outcome->report);
            const std::string& relative = inputs_[printed_];
            std::string line;
            switch (outcome->what) {
                case file_result::changed:
                    line = (options_.check_only ? "would change: " : "changed: ") + relative + " (" +
                           describe_changes(outcome->totals) + ")";
                    break;
                case file_result::not_found: line = "failed: " + relative + ": can't be read"; break;
                case file_result::not_text: line = "failed: " + relative + ": is not a text file"; break;
                case file_result::host_failure: line = "failed: " + relative + ": " + outcome->failure; break;
                case file_result::cannot_create:
                    line = "failed: " + relative + ": " + joined(options_.output, relative) + " Can't create";
                    break;
                default: break;
            }
            if (!line.empty()) {
                progress_.clear();
                env_.out.line(line);
            }
            for (const std::string& warning : outcome->warnings) warn(env_.warnings, relative + ": " + warning);
            ++printed_;
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

    // The outputs written next to their places are put there now, in input order, flushed
    // together (staged_outputs.hpp). The lines of the files have been printed by now: each output
    // that cannot be put in place gets a line of its own after them.
    void commit_staged_outputs() {
        std::vector<staged_file> staged;
        std::vector<std::size_t> staged_at;
        for (std::size_t i = 0; i < outcomes_.size(); ++i) {
            if (!outcomes_[i].has_staged) continue;
            staged.push_back(outcomes_[i].staged);
            staged_at.push_back(i);
        }
        if (staged.empty()) return;
        const staged_commit commit = commit_all_staged(env_.files, staged);
        for (const std::size_t i : staged_at) outcomes_[i].has_staged = false;
        renames_unflushed_ = !commit.renames_flushed;
        for (std::size_t k = 0; k < staged.size(); ++k) {
            if (commit.in_place[k]) continue;
            const std::size_t i = staged_at[k];
            outcomes_[i].what = file_result::cannot_create;
            env_.out.line("failed: " + inputs_[i] + ": " + joined(options_.output, inputs_[i]) + " Can't create");
        }
    }

    int summary(std::chrono::steady_clock::time_point start) {
        batch_summary tally(unreadable_);
        for (const file_outcome& o : outcomes_) tally.add(o.what, o.totals, o.missing);
        for (const missing_subfile& m : tally.missing()) warn(env_.warnings, describe_missing(m));
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
        const bool report_written = !reporting() || write_batch_report();
        if (renames_unflushed_)
            out.line(options_.output + ": the outputs are in place but could not be flushed to disk");
        if (!report_written || tally.failures() > 0 || renames_unflushed_) return exit_file_error;
        if (options_.check_only && tally.changed() > 0) return exit_would_change;
        return exit_success;
    }

    const run_options& options_;
    const run_environment& env_;
    const std::vector<std::string> inputs_;
    std::vector<file_outcome> outcomes_;
    const std::size_t unreadable_;  // folders and links below the input that could not be read
    const bool drawing_;            // with -r to a page: each file's drawing is kept
    batch_file_cleaner files_;
    // With -r: one report of every file read, in input order. A page's drawings were held to the
    // page's budget as the files were handed over (take_drawing).
    bool write_batch_report() {
        console& out = env_.out;
        std::vector<file_report> files;
        for (file_outcome& outcome : outcomes_) {
            if (!outcome.report) continue;
            files.push_back(std::move(*outcome.report));
            outcome.report.reset();
        }
        out.line();
        if (options_.report == "-") {
            out.write(report_text(files));
            return true;
        }
        out.line("Writing report file " + options_.report);
        // Under the name of an output or an input it would replace that file.
        file_system& fs = env_.files;
        const std::string report_path = real_path_or_name(fs, options_.report);
        std::string in_real, out_real;
        // Left empty when a folder no longer resolves: no file of the run can be reached through it.
        static_cast<void>(repeat_interrupted([&] { return fs.real_path(options_.input, in_real); }));
        static_cast<void>(repeat_interrupted([&] { return fs.real_path(options_.output, out_real); }));
        bool names_a_run_file = false;
        for (const std::string& relative : inputs_) {
            names_a_run_file = names_a_run_file || report_path == joined(out_real, relative) ||
                               report_path == joined(in_real, relative);
        }
        if (names_a_run_file || !write_report(fs, options_.report, files)) {
            out.line(options_.report + " Can't create" + (names_a_run_file ? ": it is an input or output file" : ""));
            return false;
        }
        return true;
    }

    bool renames_unflushed_ = false;      // the renames could not be flushed: report a failure
    std::atomic<bool> abandoned_{false};  // memory ran out on the main thread: start no new file

    std::mutex mutex_;  // guards next_, done_, outcomes_ and drawing_left_ while the workers run
    std::condition_variable ready_;
    unsigned running_ = 0;                            // workers still at work
    std::size_t next_ = 0;                            // the next file to start
    std::size_t done_ = 0;                            // files finished
    std::size_t printed_ = 0;                         // files whose line has been printed (only the main thread)
    std::size_t drawing_left_ = page_drawing_budget;  // lines the files not handed over yet may draw
    progress_line progress_;
};

}  // namespace

int run_batch(const run_options& options, const run_environment& env) {
    prepare_for_many_files();
    file_system& fs = env.files;
    console& out = env.out;
    const clean_options& clean = options.clean;
    print_thresholds(out, clean);
    if (clean.snap_on_subfiles) {
        run_options shown = options;
        shown.input = "<folder of each file>\\file";
        out.line();
        out.line("LDraw subfiles search locations:");
        std::string list;
        for (const std::string& directory : search_directories(shown)) list += (list.empty() ? "" : ", ") + directory;
        out.line(list);
    }
    out.line();

    file_status st;
    if (!options.check_only && repeat_interrupted([&] { return fs.status(options.output, st); }) == 0 &&
        st.kind != file_kind::missing && st.kind != file_kind::folder) {
        out.line(options.output + " Can't create");
        return exit_file_error;
    }
    std::string in_real, out_real;
    // Left empty when a folder cannot be resolved (missing, unreadable): then it is the same as no
    // other, and the walk or the writes below report the failure.
    static_cast<void>(repeat_interrupted([&] { return fs.real_path(options.input, in_real); }));
    if (!options.check_only && st.kind == file_kind::missing) {
        make_folders(fs, options.output + "/");
    }
    static_cast<void>(repeat_interrupted([&] { return fs.real_path(options.output, out_real); }));
    const bool in_place = !in_real.empty() && in_real == out_real;
    // Nothing below OUTDIR is read when it lies inside INDIR.
    std::vector<std::string> unreadable;
    const std::vector<std::string> inputs =
        batch_inputs(fs, options.input, in_place ? std::string() : out_real, &unreadable);

    if (options.check_only) {
        out.line("Checking " + counted(inputs.size(), "file", "files") + " of " + options.input +
                 " (nothing is written)");
    } else if (in_place) {
        out.line("Cleaning " + counted(inputs.size(), "file", "files") + " of " + options.input + " in place");
    } else {
        out.line("Cleaning " + counted(inputs.size(), "file", "files") + " of " + options.input + " into " +
                 options.output);
    }
    // What could not be looked into fails, before the files that were found.
    for (const std::string& relative : unreadable) out.line("failed: " + relative + ": can't be read");
    batch run(options, env, inputs, unreadable.size());
    return run.run();
}

}  // namespace weldrix
