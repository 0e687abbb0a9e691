#include "io/spool_file.hpp"

#include "io/files.hpp"
#include "io/staged_writer.hpp"

namespace weldrix {
namespace {

// Bytes are read back in pieces of this size.
constexpr std::size_t piece = std::size_t{1} << 18;

}  // namespace

spool_file::spool_file(file_system& fs, const std::string& next_to)
    : fs_(fs), writer_(std::make_unique<staged_writer>(fs, next_to, durability::none_here)) {}

spool_file::~spool_file() { remove(); }

bool spool_file::good() const { return writer_ && writer_->good(); }

bool spool_file::write(std::string_view bytes) { return writer_ && writer_->write(bytes); }

bool spool_file::read_back(const std::function<bool(std::string_view)>& take) {
    if (!writer_) return false;
    staged_file staged;
    const bool closed = writer_->finish(staged);
    // A device or FIFO named as the file is written directly, and what went to it cannot be read
    // back: the caller spools only beside a regular file, so this is a failure too.
    if (closed) written_ = std::move(staged.temporary);
    writer_.reset();  // removes the temporary file when it was not closed
    if (written_.empty()) return false;
    file_system::handle h = file_system::no_handle;
    bool ok = repeat_interrupted([&] { return fs_.open_read(written_, true, h); }) == 0;
    if (ok) {
        try {
            ok = copy_out(h, take);
        } catch (...) {
            static_cast<void>(fs_.close(h));  // released whatever the close says; already failing
            throw;
        }
        // An error of closing a file that was only read loses nothing: every byte has been taken.
        static_cast<void>(fs_.close(h));
    }
    remove();
    return ok;
}

bool spool_file::copy_out(file_system::handle h, const std::function<bool(std::string_view)>& take) {
    std::string buffer(piece, '\0');
    for (;;) {
        std::size_t got = 0;
        if (repeat_interrupted([&] { return fs_.read(h, buffer.data(), buffer.size(), got); }) != 0) return false;
        if (got == 0) return true;
        if (got > buffer.size() || !take(std::string_view(buffer.data(), got))) return false;
    }
}

void spool_file::remove() {
    writer_.reset();
    if (written_.empty()) return;
    // A temporary file that cannot be removed is left behind; it holds nothing the run needs.
    static_cast<void>(repeat_interrupted([&] { return fs_.remove(written_); }));
    written_.clear();
}

}  // namespace weldrix
