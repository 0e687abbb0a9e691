// The floor of a run: the least work any tool that rewrites every number of an LDraw file must do.
// It reads the file whole, converts every token that starts like a number with std::from_chars,
// writes it back with std::to_chars at seven significant digits, copies every other token, and
// writes the file. Its time and memory are what bench/floor_compare.sh holds the tool's run
// (reading, unifying, writing) against.
//
//   floor IN OUT
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

namespace {

bool read_whole(const char* name, std::string& bytes) {
    std::FILE* f = std::fopen(name, "rb");
    if (!f) return false;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool starts_like_a_number(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.'; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor IN OUT\n");
        return 1;
    }
    std::string in;
    if (!read_whole(argv[1], in)) {
        std::fprintf(stderr, "%s can't be read\n", argv[1]);
        return 2;
    }
    std::string out;
    out.reserve(in.size() + in.size() / 4);
    const char* p = in.data();
    const char* const end = p + in.size();
    while (p < end) {
        // One line: its tokens separated by single spaces, then "\n".
        bool first = true;
        while (p < end && *p != '\n') {
            while (p < end && is_space(*p)) ++p;
            if (p == end || *p == '\n') break;
            const char* token = p;
            while (p < end && *p != '\n' && !is_space(*p)) ++p;
            if (!first) out += ' ';
            first = false;
            double value;
            const char* from = *token == '+' ? token + 1 : token;
            const std::from_chars_result read = std::from_chars(from, p, value);
            if (starts_like_a_number(*token) && read.ec == std::errc() && read.ptr == p) {
                char text[32];
                const std::to_chars_result written =
                    std::to_chars(text, text + sizeof text, value, std::chars_format::general, 7);
                out.append(text, written.ptr);
            } else {
                out.append(token, p);
            }
        }
        out += '\n';
        if (p < end) ++p;
    }
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "%s Can't create\n", argv[2]);
        return 2;
    }
    return 0;
}
