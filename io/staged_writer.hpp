// stage_file for bytes that come in pieces: a file written while its content is still being
// made (a change report of a whole batch), with the same safety as a whole-file replacement.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "io/file_system.hpp"
#include "io/files.hpp"

namespace weldrix {

// Opens what stage_file would write to (the temporary file next to the target, or a device or FIFO
// directly) when constructed, takes the bytes in any number of pieces, and closes it in finish,
// which hands over what commit_staged puts in place. Every rule of stage_file holds (links
// followed, read-only targets refused, permission bits kept, interrupted calls repeated, stop
// honoured). Destroyed without a successful finish (an error, an exception, a run that stops), it
// removes the temporary file: the target is never touched until commit_staged.
class staged_writer {
public:
    // With regular_only, a target that exists and is not a regular file (a folder, FIFO or device)
    // is not opened: good() is false and not_regular() true.
    staged_writer(file_system& fs, const std::string& name, durability flushing = durability::flush_each,
                  const std::atomic<bool>* stop = nullptr, bool regular_only = false);
    ~staged_writer();
    staged_writer(const staged_writer&) = delete;
    staged_writer& operator=(const staged_writer&) = delete;

    // False once opening or a write failed (or stop was set): nothing more is written.
    bool good() const { return good_; }
    bool not_regular() const { return not_regular_; }
    // Writes bytes after those written before; false when it cannot.
    bool write(std::string_view bytes);
    // Flushes (as durability says) and closes the file; staged then names what to commit. False
    // when anything failed: the temporary file is removed.
    bool finish(staged_file& staged);

private:
    bool open(const std::string& name);
    bool stopped() const { return stop_ && stop_->load(); }
    void close_and_remove();

    file_system& fs_;
    durability flushing_;
    const std::atomic<bool>* stop_;
    file_system::handle handle_ = file_system::no_handle;
    staged_file staged_;  // temporary empty: written directly (a device)
    bool regular_only_;
    bool good_ = false;
    bool not_regular_ = false;
};

}  // namespace weldrix
