#include "app/batch.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/report.hpp"
#include "app/report_drawing.hpp"
#include "app/report_writer.hpp"
#include "app/wording.hpp"
#include "document/ldraw_file.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"
#include "io/process.hpp"

namespace weldrix {
namespace {

bool has_ldraw_extension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return tail == ".dat" || tail == ".ldr" || tail == ".mpd";
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' || folder.back() == '\\' ? folder + name : folder + "/" + name;
}

void walk(file_system& fs, const std::string& root, const std::string& relative, const std::string& skip_folder,
          std::vector<std::string>& found, std::vector<std::string>& unreadable) {
    std::vector<folder_entry> entries;
    const std::string folder = relative.empty() ? root : joined(root, relative);
    if (const int error = repeat_interrupted([&] { return fs.list_folder(folder, entries); })) {
        // Its files would go uncleaned without a word. A folder that went away since its parent
        // was listed held nothing.
        if (error != ENOENT && error != ENOTDIR) unreadable.push_back(relative.empty() ? "." : relative);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const folder_entry& a, const folder_entry& b) { return a.name < b.name; });
    for (const folder_entry& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;  // hidden folders and files, "." and ".."
        const std::string rel = relative.empty() ? entry.name : relative + "/" + entry.name;
        file_kind kind = entry.kind;
        if (kind == file_kind::link || kind == file_kind::other) {
            // A link counts when it leads to a file; a link to a folder is not followed.
            file_status st;
            const int error = repeat_interrupted([&] { return fs.status(joined(root, rel), st); });
            if (error != 0 && has_ldraw_extension(entry.name)) {
                unreadable.push_back(rel);
                continue;
            }
            kind = error == 0 && st.kind == file_kind::regular ? file_kind::regular : file_kind::other;
        }
        if (kind == file_kind::folder) {
            std::string real;
            if (!skip_folder.empty() && fs.real_path(joined(root, rel), real) == 0 && real == skip_folder) continue;
            walk(fs, root, rel, skip_folder, found, unreadable);
        } else if (kind == file_kind::regular && has_ldraw_extension(entry.name)) {
            found.push_back(rel);
        }
    }
}

// Creates the folders of path that do not exist yet (the last component is a file's name). "\\"
// separates too where the host takes it as a separator (Windows).
void make_folders(file_system& fs, const std::string& path) {
    const char* const ends = fs.names_ignore_case() ? "/\\" : "/";
    for (std::size_t slash = path.find_first_of(ends, 1); slash != std::string::npos;
         slash = path.find_first_of(ends, slash + 1)) {
        fs.make_folder(path.substr(0, slash));  // an existing folder is no error
    }
}

struct file_outcome {
    enum class status {
        pending,
        unchanged,
        reformatted,
        changed,
        not_found,
        not_text,
        cannot_create,
        host_failure,  // the host failed to read a file that is there, or memory ran out
        interrupted,
    };
    status what = status::pending;
    std::string failure;  // for host_failure: what could not be done
    change_totals totals;
    std::vector<missing_subfile> missing;
    staged_file staged;                   // the output, written next to its place, put there at the end of the run
    std::unique_ptr<file_report> report;  // with -r: what the file's cleaning changed
    bool has_staged = false;
};

bool failed(file_outcome::status s) {
    return s == file_outcome::status::not_found || s == file_outcome::status::not_text ||
           s == file_outcome::status::cannot_create || s == file_outcome::status::host_failure;
}

class batch {
public:
    batch(const run_options& options, const run_environment& env, std::vector<std::string> inputs,
          std::size_t unreadable)
        : options_(options),
          env_(env),
          inputs_(std::move(inputs)),
          outcomes_(inputs_.size()),
          library_(env.files),
          unreadable_(unreadable),
          drawing_(!options.report.empty() && options.report != "-" &&
                   report_form_of(options.report) == report_form::html) {
        clean_ = options.clean;
        clean_.record_changes = reporting() ? clean_options::changes::lines : clean_options::changes::totals;
        if (reporting()) {
            report_ = options.report == "-" ? std::make_unique<report_writer>(env.out)
                                            : std::make_unique<report_writer>(env.files, options.report);
        }
    }

    int run() {
        const auto start = std::chrono::steady_clock::now();
        unsigned threads = options_.threads ? options_.threads : std::thread::hardware_concurrency();
        if (threads == 0) threads = 1;
        threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(inputs_.size(), 1)));
        report_window_ = std::size_t{threads} + 2;
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
            clear_progress();
            commit_staged_outputs();
            return summary(start);
        } catch (...) {
            // Memory ran out on this thread (a console line, a thread that could not start): the
            // workers start no new file and are waited for (a running thread must not be left
            // behind), and the outputs staged but not put in place are removed. The run then ends
            // as any run that runs out of memory, every output as it was or complete.
            abandoned_ = true;
            room_.notify_all();
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
                std::unique_lock<std::mutex> lock(mutex_);
                // With a report, a file's record waits for the files before it to be handed to the
                // writer: no file starts more than report_window_ ahead of them, so that the records
                // waiting are bounded whatever the number of files.
                while (report_ && next_ >= printed_ + report_window_ && !interrupted() && !abandoned_)
                    room_.wait_for(lock, std::chrono::milliseconds(200));
                if (next_ == inputs_.size() || interrupted() || abandoned_) return;
                i = next_++;
            }
            file_outcome outcome;
            try {
                outcome = clean_one(inputs_[i]);
            } catch (const read_failure& failure) {
                // As in a single-file run, such a file fails rather than be cleaned against a
                // library that is missing files by chance; the other files go on.
                outcome.what = file_outcome::status::host_failure;
                try {
                    outcome.failure = failure.path() + " can't be read";
                } catch (const std::bad_alloc&) {
                    // Nothing may leave a thread: it would end the process.
                    outcome.failure = "out of memory";
                }
            } catch (const std::bad_alloc&) {
                outcome.what = file_outcome::status::host_failure;
                outcome.failure = "out of memory";
            }
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

    // The drawing budget of a page: the files draw in input order by the drawing rule of
    // report_drawing.hpp, and at most drawing_budget lines in all. A file whose drawing does not
    // fit in what the files before it left is listed with its changes but not drawn (its note says
    // so), and a later, smaller one may still be drawn.
    static std::size_t drawing_size(const file_report& file) {
        return file.drawing.lines.size() + file.drawing.subfile.size();
    }
    static bool fits_in_drawing_budget(const file_report& file, std::size_t left) {
        const std::size_t lines = drawing_size(file);
        return lines == 0 || lines <= left;
    }
    static void leave_undrawn(file_report& file) {
        // The note first: when memory runs out making it, the drawing is left whole.
        std::string note = "Not drawn: the page draws at most " + std::to_string(drawing_budget) +
                           " lines of a folder's files, and the files before this one took them.";
        // Replaced by empty vectors rather than cleared, so that their memory is given back now.
        file.drawing.lines = std::vector<drawn_line>();
        file.drawing.subfile = std::vector<drawn_line>();
        file.drawing.full = false;
        file.drawing.note = std::move(note);
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

    file_outcome clean_one(const std::string& relative) {
        file_outcome outcome;
        file_system& fs = env_.files;
        run_options file_options = options_;
        file_options.input = joined(options_.input, relative);
        file_options.output = joined(options_.output, relative);
        ldraw_file document(clean_);
        null_console quiet;
        switch (document.read(fs, file_options.input, quiet)) {
            case ldraw_file::read_result::ok: break;
            case ldraw_file::read_result::not_found: outcome.what = file_outcome::status::not_found; return outcome;
            case ldraw_file::read_result::not_a_text: outcome.what = file_outcome::status::not_text; return outcome;
        }
        // A page draws a sample of the subfiles' geometry for the files it draws.
        subfile_sample subfile_lines(drawing_ ? subfile_drawing_lines : 2);
        if (clean_.snap_on_subfiles) {
            search_paths paths(library_);
            for (const std::string& directory : search_directories(file_options)) paths.add_path(directory);
            outcome.missing =
                document.expand_subfiles(paths, quiet, drawing_ ? subfile_lines.observer() : inline_observer{});
        }
        document.unify_vertices();
        line_counts written;
        const std::string text = document.text(written);
        outcome.totals = document.changes.totals;
        if (reporting()) {
            outcome.report =
                std::make_unique<file_report>(record_file(document, file_options.input, file_options.output, clean_,
                                                          written, drawing_ ? &subfile_lines : nullptr));
            outcome.report->output_written = !options_.check_only;
        }
        outcome.what = outcome.totals.any()        ? file_outcome::status::changed
                       : text != document.source() ? file_outcome::status::reformatted
                                                   : file_outcome::status::unchanged;
        if (options_.check_only) return outcome;
        if (interrupted()) {
            outcome.what = file_outcome::status::interrupted;
            return outcome;
        }
        make_output_folder(file_options.output);
        // Written next to its place now, put there at the end of the run (commit_staged_outputs):
        // so every file is cleaned against the files as they were when the run started (an output
        // may be another file's subfile, in place), whatever order the threads take them in.
        const bool written_ok =
            stage_file(fs, file_options.output, text, outcome.staged, durability::none_here, env_.interrupted);
        outcome.has_staged = written_ok;
        if (!written_ok) {
            outcome.what = interrupted() ? file_outcome::status::interrupted : file_outcome::status::cannot_create;
        }
        return outcome;
    }

    // Creates the folders of an output once per run. Another thread that needs the same folder
    // waits until it is there: it would otherwise go on to write into a folder not made yet.
    void make_output_folder(const std::string& output) {
        const std::string folder = output.substr(0, output.rfind('/') + 1);
        const std::lock_guard<std::mutex> lock(folders_mutex_);
        if (made_folders_.count(folder)) return;
        make_folders(env_.files, output);
        made_folders_.insert(folder);
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
                if (printed_ == next_ || outcomes_[printed_].what == file_outcome::status::pending) return;
                outcome = &outcomes_[printed_];
            }
            if (outcome->report && drawing_) take_drawing(*outcome->report);
            if (outcome->report) report_->add(std::move(*outcome->report));
            outcome->report.reset();
            const std::string& relative = inputs_[printed_];
            std::string line;
            switch (outcome->what) {
                case file_outcome::status::changed:
                    line = (options_.check_only ? "would change: " : "changed: ") + relative + " (" +
                           describe_changes(outcome->totals) + ")";
                    break;
                case file_outcome::status::not_found: line = "failed: " + relative + ": cannot be read"; break;
                case file_outcome::status::not_text: line = "failed: " + relative + ": is not a text file"; break;
                case file_outcome::status::host_failure: line = "failed: " + relative + ": " + outcome->failure; break;
                case file_outcome::status::cannot_create:
                    line = "failed: " + relative + ": " + joined(options_.output, relative) + " Can't create";
                    break;
                default: break;
            }
            if (!line.empty()) {
                clear_progress();
                env_.out.line(line);
            }
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
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        std::string text = "\r";
        text += std::to_string(done);
        text += '/';
        text += std::to_string(inputs_.size());
        text += " files";
        if (rate > 0) {
            char buf[64];
            std::snprintf(buf, sizeof buf, ", %.0f files/s, %.0f s left", rate,
                          static_cast<double>(inputs_.size() - done) / rate);
            text += buf;
        }
        text += "\x1b[K";
        env_.out.write(text);
        env_.out.flush();
        progress_shown_ = true;
    }

    void clear_progress() {
        if (!progress_shown_) return;
        env_.out.write("\r\x1b[K");
        progress_shown_ = false;
    }

    // The outputs written next to their places are put there now, in input order. Their data is
    // flushed first, with one flush of each file system they are on instead of one per file (tens
    // of thousands of flushes would cost more than the cleaning), and the renames after them, so
    // that a crash at any moment leaves every output old or new and complete. A flush that fails
    // leaves every output as it was. The lines of the files have been printed by now: each output
    // that cannot be put in place gets a line of its own after them.
    void commit_staged_outputs() {
        file_system& fs = env_.files;
        bool any = false;
        for (const file_outcome& outcome : outcomes_) any = any || outcome.has_staged;
        if (!any) return;
        const std::vector<std::string> file_systems = staged_file_systems();
        const bool flushed = flush(file_systems);
        bool any_committed = false;
        for (std::size_t i = 0; i < outcomes_.size(); ++i) {
            file_outcome& outcome = outcomes_[i];
            if (!outcome.has_staged) continue;
            const bool committed = flushed && commit_staged(fs, outcome.staged, durability::none_here);
            if (!flushed) discard_staged(fs, outcome.staged);
            outcome.has_staged = false;
            any_committed = any_committed || committed;
            if (!committed) {
                outcome.what = file_outcome::status::cannot_create;
                env_.out.line("failed: " + inputs_[i] + ": " + joined(options_.output, inputs_[i]) + " Can't create");
            }
        }
        // The renames are flushed when there are any: after a failed first flush nothing was put
        // in place, and the run must not say that outputs are in place unflushed.
        if (any_committed && !flush(file_systems)) renames_unflushed_ = true;
    }

    // A folder of the staged outputs on each file system they are on. An output is staged next to
    // the file a link leads to, which may be on another file system than OUTDIR. A folder whose
    // file system the host cannot tell counts as one of its own.
    std::vector<std::string> staged_file_systems() {
        file_system& fs = env_.files;
        std::vector<std::string> folders;
        std::unordered_set<std::string> seen_folders;
        std::unordered_set<std::uint64_t> seen_devices;
        for (const file_outcome& outcome : outcomes_) {
            // An output written directly (a device) has nothing to flush.
            if (!outcome.has_staged || outcome.staged.temporary.empty()) continue;
            const std::string& folder = outcome.staged.folder;
            if (!seen_folders.insert(folder).second) continue;
            file_status st;
            const bool known = repeat_interrupted([&] { return fs.status(folder, st); }) == 0 &&
                               st.kind == file_kind::folder && st.device != 0;
            if (known && !seen_devices.insert(st.device).second) continue;
            folders.push_back(folder);
        }
        return folders;
    }

    // Flushes the file systems that hold folders, each of them even when one fails.
    bool flush(const std::vector<std::string>& folders) {
        bool all = true;
        for (const std::string& folder : folders) {
            all = repeat_interrupted([&] { return env_.files.sync_file_system(folder); }) == 0 && all;
        }
        return all;
    }

    int summary(std::chrono::steady_clock::time_point start) {
        std::size_t read = 0, changed = 0, reformatted = 0, unchanged = 0, failures = unreadable_;
        change_totals totals;
        // Subfiles not found, by name in the order first met, over all files in input order.
        std::vector<missing_subfile> missing;
        std::unordered_map<std::string, std::size_t> missing_at;
        for (std::size_t i = 0; i < outcomes_.size(); ++i) {
            const file_outcome& o = outcomes_[i];
            using s = file_outcome::status;
            if (o.what == s::pending || o.what == s::interrupted) continue;
            if (o.what != s::not_found && o.what != s::not_text) ++read;
            if (o.what == s::changed) ++changed;
            if (o.what == s::reformatted) ++reformatted;
            if (o.what == s::unchanged) ++unchanged;
            if (failed(o.what)) {
                ++failures;
                continue;  // what it would have changed was not written
            }
            totals += o.totals;
            for (const missing_subfile& m : o.missing) {
                const auto [at, inserted] = missing_at.try_emplace(m.name, missing.size());
                if (inserted) missing.push_back({m.name, 0});
                missing[at->second].references += m.references;
            }
        }
        for (const missing_subfile& m : missing) {
            warn(env_.warnings, describe_missing(m));
        }
        console& out = env_.out;
        const bool check = options_.check_only;
        out.line();
        out.line("Summary:");
        out.line(counted(read, "file read", "files read"));
        out.line(std::to_string(changed) + (check ? " would change" : " changed"));
        out.line(std::to_string(reformatted) + (check ? " would only be reformatted" : " only reformatted"));
        out.line(std::to_string(unchanged) + " unchanged");
        out.line(std::to_string(failures) + " failed");
        out.line(counted(totals.vertices_moved, "vertex moved", "vertices moved"));
        out.line(counted(totals.lines_removed, "line removed", "lines removed"));
        out.line(counted(totals.quads_made_triangles, "quad made a triangle", "quads made triangles"));
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
        if (!report_written || failures > 0 || renames_unflushed_) return exit_file_error;
        if (check && changed > 0) return exit_would_change;
        return exit_success;
    }

    const run_options& options_;
    const run_environment& env_;
    clean_options clean_;
    const std::vector<std::string> inputs_;
    std::vector<file_outcome> outcomes_;
    subfile_library library_;
    const std::size_t unreadable_;  // folders and links below the input that could not be read
    std::mutex folders_mutex_;      // guards made_folders_ while the folders are made
    const bool drawing_;            // with -r to a page: each file's drawing is kept
    // With -r: the report of every file read, in input order, each handed to the writer as its line
    // was printed; a page's drawings were held to the page's budget then (take_drawing).
    bool write_batch_report() {
        console& out = env_.out;
        out.line();
        if (options_.report == "-") return report_->finish();
        out.line("Writing report file " + options_.report);
        // Under the name of an output or an input it would replace that file.
        const bool names_a_run_file =
            report_names_a_run_file(env_.files, options_.report, options_.input, options_.output, &inputs_);
        if (names_a_run_file || !report_->finish()) {
            out.line(options_.report + " Can't create" + (names_a_run_file ? ": it is an input or output file" : ""));
            return false;
        }
        return true;
    }
    static constexpr std::size_t drawing_budget = 200'000;

    // With -r: takes each file's record in input order (only the main thread).
    std::unique_ptr<report_writer> report_;
    std::unordered_set<std::string> made_folders_;
    bool renames_unflushed_ = false;      // the renames could not be flushed: report a failure
    std::atomic<bool> abandoned_{false};  // memory ran out on the main thread: start no new file

    std::mutex mutex_;  // guards next_, done_, printed_, outcomes_ and drawing_left_ while the workers run
    std::condition_variable ready_;
    std::condition_variable room_;               // with a report: printed_ moved on
    std::size_t report_window_ = 0;              // with a report: how far files may start ahead of printed_
    unsigned running_ = 0;                       // workers still at work
    std::size_t next_ = 0;                       // the next file to start
    std::size_t done_ = 0;                       // files finished
    std::size_t printed_ = 0;                    // files whose line has been printed (by the main thread)
    std::size_t drawing_left_ = drawing_budget;  // lines the files not handed over yet may draw
    bool progress_shown_ = false;
};

}  // namespace

std::vector<std::string> batch_inputs(file_system& fs, const std::string& in_folder, const std::string& skip_folder,
                                      std::vector<std::string>* unreadable) {
    std::vector<std::string> found, not_read;
    walk(fs, in_folder, {}, skip_folder, found, unreadable ? *unreadable : not_read);
    std::sort(found.begin(), found.end());
    return found;
}

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
    if (!options.check_only && fs.status(options.output, st) == 0 && st.kind != file_kind::missing &&
        st.kind != file_kind::folder) {
        out.line(options.output + " Can't create");
        return exit_file_error;
    }
    std::string in_real, out_real;
    fs.real_path(options.input, in_real);
    if (!options.check_only && st.kind == file_kind::missing) {
        make_folders(fs, options.output + "/");
    }
    fs.real_path(options.output, out_real);
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
