// Helpers the benchmark programs share: a folder of their own for the files they make, and running
// a program as a child process with its figures (wall time, wait status, resource usage).
//
// Header-only: each benchmark is a program of its own (bench/CMakeLists.txt).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace weldrix::bench {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with all it holds when the object goes.
class scratch {
public:
    scratch() {
        std::string pattern = (fs::temp_directory_path() / "weldrix-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Writes text to path as it is, making the folders above it first.
inline void write_text(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct child_exit {
    double seconds = 0;  // from the spawn to the reaping of the child
    int status = -1;     // as waitpid gives it
    rusage usage{};
};

// Runs args[0] with args, standard input from /dev/null and standard output to console_file, and
// waits for it. Only the spawn and the wait are timed, not the making of the argument list.
inline child_exit run_child(std::vector<std::string> args, const fs::path& console_file) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, console_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    child_exit run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("posix_spawn failed");
    while (::wait4(pid, &run.status, 0, &run.usage) < 0) {
        if (errno != EINTR) throw std::runtime_error("wait4 failed");
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// The child's peak resident memory in MB (ru_maxrss counts KiB on Linux).
inline double peak_resident_mb(const rusage& usage) { return static_cast<double>(usage.ru_maxrss) / 1024.0; }

}  // namespace weldrix::bench
