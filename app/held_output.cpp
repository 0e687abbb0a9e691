#include "app/held_output.hpp"

#include <algorithm>
#include <functional>

namespace weldrix {
namespace {

// The lines of bytes, each with its line end (LF, CR LF or a CR alone), as offsets of their
// starts; the last offset is the size.
std::vector<std::size_t> line_starts(std::string_view bytes) {
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n' || (c == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) starts.push_back(i + 1);
    }
    if (starts.back() != bytes.size()) starts.push_back(bytes.size());
    return starts;
}

// How far behind and ahead of where the input should be an output line is looked for. The
// cleaning keeps the order of the lines, removes some and changes others (a line for a line,
// or two triangles for a quad): ahead finds the line after removed ones, behind the one after
// a split. Lines not found are held as changed, so a poor guess costs memory, never bytes.
constexpr std::size_t behind = 2;
constexpr std::size_t ahead = 16;

}  // namespace

held_output::held_output(std::string_view text, std::string_view input)
    : input_size_(input.size()), output_size_(text.size()) {
    if (input.empty()) {
        changed_.assign(text);
        runs_.push_back({text.size(), 0, 0});
        return;
    }
    input_hash_ = std::hash<std::string_view>{}(input);
    const std::vector<std::size_t> in = line_starts(input);
    const std::size_t input_lines = in.size() - 1;
    const auto input_line = [&](std::size_t k) { return input.substr(in[k], in[k + 1] - in[k]); };

    std::size_t next = 0;  // the input line the next output line is expected to be
    run current{0, 0, 0};
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
        if (end < text.size()) end += text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        const std::string_view line = text.substr(at, end - at);
        at = end;

        std::size_t found = input_lines;
        const std::size_t first = next > behind ? next - behind : 0;
        const std::size_t last = std::min(input_lines, next + ahead);
        if (next < input_lines && input_line(next) == line) {
            found = next;
        } else {
            for (std::size_t k = first; k < last; ++k) {
                if (input_line(k) == line) {
                    found = k;
                    break;
                }
            }
        }
        if (found == input_lines) {
            // A changed line: its bytes are held; the input line it stands for is passed.
            if (current.kept_size > 0) {
                runs_.push_back(current);
                current = {0, 0, 0};
            }
            changed_.append(line);
            current.changed_size += line.size();
            ++next;
            continue;
        }
        if (current.kept_size > 0 && current.kept_at + current.kept_size != in[found]) {
            runs_.push_back(current);
            current = {0, 0, 0};
        }
        if (current.kept_size == 0) current.kept_at = in[found];
        current.kept_size += line.size();
        next = found + 1;
    }
    if (current.changed_size > 0 || current.kept_size > 0) runs_.push_back(current);
    runs_.shrink_to_fit();
    changed_.shrink_to_fit();
}

std::optional<std::string> held_output::restore(std::string_view input) const {
    if (input.size() != input_size_ || (input_size_ > 0 && std::hash<std::string_view>{}(input) != input_hash_))
        return std::nullopt;
    std::string text;
    text.reserve(output_size_);
    std::size_t changed_at = 0;
    for (const run& r : runs_) {
        text.append(changed_, changed_at, r.changed_size);
        changed_at += r.changed_size;
        text.append(input.substr(r.kept_at, r.kept_size));
    }
    return text;
}

}  // namespace weldrix
