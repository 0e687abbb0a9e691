// The shared subfile library under concurrent use: threads that load the same files at once, with
// a memory budget so small that files are dropped and read again all the time, always get the
// parse a single reader gets. Run under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <random>
#include <thread>

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
    for (const auto& line : file.lines) out += line->to_text() + "\n";
    for (const bool r : file.repeated) out += r ? '1' : '0';
    return out;
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
