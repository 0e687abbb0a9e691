// Bytes put aside on disk while a file is being written, to be copied into it later: what would
// otherwise be held in memory until the end (a report page's drawings, which follow everything
// else in the page).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "io/file_system.hpp"

namespace weldrix {

class staged_writer;

// A temporary file next to the named file (where staged_writer would write that file's new
// content, so on the same file system and with the same rules), written in any number of pieces
// and read back once, in pieces. It is never put in place: read back or not, it is removed when the
// spool_file is destroyed, whatever ended its use (an error, an exception). Nothing is flushed: the
// bytes are of use only to this process.
class spool_file {
public:
    spool_file(file_system& fs, const std::string& next_to);
    ~spool_file();
    spool_file(const spool_file&) = delete;
    spool_file& operator=(const spool_file&) = delete;

    // False once creating or a write failed: nothing more is written.
    [[nodiscard]] bool good() const;
    // Writes bytes after those written before; false when it cannot.
    [[nodiscard]] bool write(std::string_view bytes);
    // Hands every byte written, in order, to take in pieces, then removes the file. False when
    // anything failed before or while reading, or when take gives false (it is then not called
    // again). A spool_file is read back once.
    [[nodiscard]] bool read_back(const std::function<bool(std::string_view)>& take);

private:
    bool copy_out(file_system::handle h, const std::function<bool(std::string_view)>& take);
    void remove();

    file_system& fs_;
    std::unique_ptr<staged_writer> writer_;  // until read back
    std::string written_;                    // the closed temporary file, while it is read back
};

}  // namespace weldrix
