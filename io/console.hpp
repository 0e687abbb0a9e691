// Where progress lines, statistics and warnings go. The tool writes its progress and statistics
// to standard output and its warnings to standard error, one line at a time, flushing after each
// line so every phase is visible before the next one starts.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace weldrix {

// The text with each control character (0x00 to 0x1F and DEL) written as "\xHH" (upper-case hex
// digits), for a name that enters a message: a file name can hold any byte, and written raw it
// could move the cursor, retitle the terminal or start a line of its own ("failed: ...").
std::string printable(std::string_view text);

class console {
public:
    virtual ~console() = default;
    // Writes text without flushing.
    virtual void write(std::string_view text) = 0;
    virtual void flush() {}
    // Whether a write or flush failed since the last call (a full disk, a closed pipe), which
    // clears it; never for a console that cannot fail. For text that must arrive whole (a report
    // printed here), unlike the progress lines, whose loss is ignored.
    virtual bool failed_since_asked() { return false; }
    // Writes text and a line end, then flushes.
    void line(std::string_view text = {}) {
        write(text);
        write("\n");
        flush();
    }
    // A statistics line: the number in decimal, directly followed by label ("12 Edge lines").
    void count_line(std::size_t number, std::string_view label);
};

// Standard output (or, given stderr, standard error). Write errors (a closed or full stream) do not
// stop the run from writing its output file: only failed_since_asked tells them.
class stdout_console final : public console {
public:
    explicit stdout_console(std::FILE* stream = stdout) : stream_(stream) {}
    void write(std::string_view text) override;
    void flush() override;
    bool failed_since_asked() override;

private:
    std::FILE* stream_;
};

// Throws the text away.
class null_console final : public console {
public:
    void write(std::string_view) override {}
};

// Collects the text, for tests.
class string_console final : public console {
public:
    std::string text;
    void write(std::string_view t) override { text += t; }
};

}  // namespace weldrix
