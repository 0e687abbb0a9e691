// Replays saved inputs through a fuzz target without libFuzzer, so that the normal build and its
// test run check them:
//   replay_TARGET PATH...
// Each PATH is a file or a folder; every file of a folder (not its hidden files, not its
// subfolders) is replayed, in name order. Each input goes to LLVMFuzzerTestOneInput in a buffer
// of exactly its size, as libFuzzer passes it. A failed check aborts: the input being replayed is
// then named on standard error, and the exit status is that of the abort.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional in a target; the sanitizer runtime's hook is there only in a sanitizer build.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

const char* current_input = nullptr;  // the input being replayed, for the failure message

void name_current_input() {
    if (!current_input) return;
    static const char prefix[] = "replay failed on input ";
    ssize_t ignored = ::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    ignored = ::write(STDERR_FILENO, current_input, std::strlen(current_input));
    ignored = ::write(STDERR_FILENO, "\n", 1);
    static_cast<void>(ignored);
}

extern "C" void on_fatal_signal(int signal_number) {
    name_current_input();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

bool read_bytes(const std::filesystem::path& path, std::vector<char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The files to replay for one argument, or false when it names nothing readable.
bool inputs_of(const std::filesystem::path& path, std::vector<std::filesystem::path>& inputs) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        inputs.push_back(path);
        return true;
    }
    if (!std::filesystem::is_directory(path, ec)) return false;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
    }
    if (ec) return false;
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(name_current_input);
    for (const int s : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(s, on_fatal_signal);

    std::size_t total = 0;
    for (int a = 1; a < argc; ++a) {
        std::vector<std::filesystem::path> inputs;
        if (!inputs_of(argv[a], inputs)) {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[a]);
            return 2;
        }
        for (const auto& input : inputs) {
            std::vector<char> bytes;
            const std::string name = input.string();
            if (!read_bytes(input, bytes)) {
                std::fprintf(stderr, "%s: cannot read\n", name.c_str());
                return 2;
            }
            // A copy of exactly the input's size, so that a sanitizer sees any read past its end.
            const auto data = std::make_unique<std::uint8_t[]>(bytes.size());
            std::copy(bytes.begin(), bytes.end(), data.get());
            current_input = name.c_str();
            LLVMFuzzerTestOneInput(data.get(), bytes.size());
            current_input = nullptr;
        }
        std::printf("%zu inputs replayed from %s\n", inputs.size(), argv[a]);
        total += inputs.size();
    }
    std::printf("%zu inputs replayed in all\n", total);
    return 0;
}
