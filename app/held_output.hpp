// An output a batch holds to the end of its run, kept as what it changed of its input.
//
// A batch that may read its own outputs as subfiles (in place, or into a library folder, with -s)
// puts them in place only once every file is cleaned. Most lines of an output are lines of its
// input as they were read, so holding the output as the runs of input lines it keeps (offsets into
// the input) and the bytes of the lines it changed takes a small part of the output's size; the
// input is read again when the output is put in place. The input's size and hash are kept: read
// again, bytes that are not the ones the output was made from give no output (the file changed
// while the run went on), never a wrong one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace weldrix {

class held_output {
public:
    held_output() = default;
    // The output text as made from input (empty when the bytes read were not kept: the text is
    // then held whole).
    held_output(std::string_view text, std::string_view input);

    // Whether restore needs the input's bytes.
    bool needs_input() const { return input_size_ > 0; }
    // The output again, made from input, the input's bytes read again; nothing when they are not
    // the bytes the output was made from.
    [[nodiscard]] std::optional<std::string> restore(std::string_view input) const;
    // About how many bytes it holds.
    std::size_t memory() const { return changed_.capacity() + runs_.capacity() * sizeof(run); }

private:
    // changed_size bytes of changed_ (taken in turn), then kept_size bytes of the input at kept_at.
    struct run {
        std::size_t changed_size;
        std::size_t kept_at;
        std::size_t kept_size;
    };
    std::vector<run> runs_;
    std::string changed_;
    std::size_t input_size_ = 0;
    std::size_t input_hash_ = 0;
    std::size_t output_size_ = 0;
};

}  // namespace weldrix
