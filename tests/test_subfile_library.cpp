// The shared subfile library: the lines a document read lend it, and its concurrent use: threads that
// load and lend the same files at once, with a memory budget so small that files are dropped and
// read again all the time, always get the parse a single reader gets. Run under ThreadSanitizer by
// `make tsan`.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "document/ldraw_file.hpp"
#include "document/subfile_library.hpp"
#include "io/memory_file_system.hpp"

namespace weldrix {
namespace {

std::string file_text(int n) {
    std::string text = "0 file " + std::to_string(n) + "\n";
    for (int k = 0; k <= n % 7; ++k) {
        text += "2 24 " + std::to_string(n) + " " + std::to_string(k) + " 0 1 1 1\n";
        text += "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f" + std::to_string((n + k) % 40) + ".dat\n";
    }
    return text;
}

// A summary of a parse that differs when anything of it differs.
std::string fingerprint(const parsed_file& file) {
    std::string out;
    const auto put = [&](auto n) {
        out += std::to_string(n);
        out += ' ';
    };
    const auto put_bits = [&](double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        put(bits);
    };
    for (const auto& line : file.lines) out += line->to_text() + "\n";
    for (std::size_t k = 0; k < file.references.size(); ++k) {
        put(file.references[k]);
        put(file.reference_lines[k]);
        out += file.reference(k).to_text() + "\n";
    }
    for (std::size_t j = 0; j < file.types.size(); ++j) put(static_cast<int>(file.types[j]) * 2 + file.invertnext[j]);
    for (const point& p : file.points) {
        put_bits(p.x);
        put_bits(p.y);
        put_bits(p.z);
    }
    for (const auto* list : {&file.vertex_points, &file.first_vertex, &file.fresh})
        for (const std::uint32_t v : *list) put(v);
    for (const bool r : file.repeated) out += r ? '1' : '0';
    put_bits(file.magnitude);
    for (const std::size_t n : {file.edges, file.triangles, file.quads, file.conditionals}) put(n);
    return out;
}

// A document's lines as read, lent to the library, are what it loads, and give the parse of the
// bytes: with a byte-order mark, the three line ends, lines skipped, a NUL, every type, a section,
// and read in halves; every line kept or the references only.
TEST(SubfileLibrary, LinesLentGiveTheParseOfTheBytes) {
    using namespace std::string_literals;
    const std::string texts[] = {
        "\xEF\xBB\xBF"
        "0 title\r\n2 24 1 2 3 4 5 6\r\n\r\n junk\n3 16 1 2 3 4 5 6 1 2 3\r4 16 1 2 3 0 0 0 "
        "1e400 1 1 -0 0 0\n0 BFC INVERTNEXT\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 a.dat\n5 24 1 1 1 2 2 2 3 3 3 4 4 4\n",
        "0 FILE m.ldr\n1 16 1 2 3 1 0 0 0 1 0 0 0 1 s.dat\n0 NOFILE\n0 FILE s.dat\n2 24 0 0 0 1 1 1\n"
        "2 24 1 1 1 0 0 0\0 tail\n2 24 1.5mm 2 3 4 5 6"s,
    };
    for (const bool every_line : {false, true}) {
        for (const std::string& text : texts) {
            memory_file_system fs;
            fs.add_file("/lib/f.dat", text);
            subfile_library library(fs, subfile_library::default_memory_budget, every_line);
            clean_options options;
            options.read_halves_from = 16;
            ldraw_file document(options);
            document.read_bytes(text);
            library.lend("/lib/f.dat", document.elements, document.line_numbers());
            fs.add_file("/lib/f.dat", "2 24 9 9 9 8 8 8\n");  // what is loaded is what was lent
            const auto loaded = library.load("/lib/f.dat");
            ASSERT_TRUE(loaded);
            EXPECT_EQ(fingerprint(*loaded->file), fingerprint(parsed_file::parse(text, every_line))) << text;
            EXPECT_EQ(loaded->file->reference_name_ids.size(), loaded->file->references.size());
            EXPECT_EQ(library.files_parsed(), 1u);
        }
    }
}

TEST(SubfileLibrary, ConcurrentLoadsWithEvictionsGiveTheSameParses) {
    memory_file_system fs;
    std::vector<std::string> expected;
    for (int n = 0; n < 40; ++n) {
        fs.add_file("/lib/f" + std::to_string(n) + ".dat", file_text(n));
        expected.push_back(fingerprint(parsed_file::parse(file_text(n))));
    }
    fs.add_file("/lib/binary.dat", std::string("2\0", 2));
    // Room for a few files only: every thread keeps dropping what the others loaded.
    subfile_library library(fs, 4 * 1024);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = 0; i < 2000; ++i) {
                const int n = static_cast<int>(random() % 42);
                const std::string candidate = n < 40    ? "/lib\\F" + std::to_string(n) + ".DAT"
                                              : n == 40 ? "/lib/binary.dat"
                                                        : "/lib/none.dat";
                const auto host = library.resolve(candidate);
                if (n > 40) {
                    if (host) ++wrong;
                    continue;
                }
                if (n < 40 && i % 3 == 0) {
                    // A document that read the file lends its lines, before or after any load.
                    clean_options options;
                    ldraw_file document(options);
                    document.read_bytes(file_text(n));
                    library.lend(*host, document.elements, document.line_numbers());
                }
                const auto loaded = host ? library.load(*host) : std::nullopt;
                if (n == 40) {
                    if (loaded) ++wrong;  // not text
                    continue;
                }
                if (!loaded || fingerprint(*loaded->file) != expected[static_cast<std::size_t>(n)] ||
                    loaded->identity != library.identity_id("/lib/f" + std::to_string(n) + ".dat") ||
                    loaded->file->reference_name_ids.size() != loaded->file->references.size()) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(library.files_parsed(), 40u);  // files were dropped and read again
}

}  // namespace
}  // namespace weldrix
