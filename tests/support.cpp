#include "support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace weldrix::test {

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "weldrix-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable so they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string temp_dir::operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

void write_file(const std::string& path, std::string_view bytes) {
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string data_path(std::string_view relative) {
    std::string path = WELDRIX_TEST_DATA;
    if (!relative.empty()) path.append("/").append(relative);
    return path;
}

std::string library_path() { return data_path("ldraw"); }

namespace {

void drain(int fd, std::string& into) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        into.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
}

}  // namespace

run_result run_weldrix(const std::vector<std::string>& args, std::string_view stdin_text, const std::string& cwd,
                       signal_after signal) {
    int in[2], out[2], err[2];
    if (::pipe(in) || ::pipe(out) || ::pipe(err)) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);

    // Run through /bin/sh so a working folder can be set portably.
    // The tests know when the tool waits: not from the environment they are run in.
    std::string command = "unset WELDRIX_NO_WAIT; ";
    command += cwd.empty() ? "" : "cd '" + cwd + "' && ";
    command += "exec \"$0\" \"$@\"";
    std::vector<std::string> argv_text = {"/bin/sh", "-c", command, WELDRIX_BINARY};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) throw std::runtime_error("posix_spawn failed");

    run_result result;
    std::thread feeder([fd = in[1], text = std::string(stdin_text)] {
        ::signal(SIGPIPE, SIG_IGN);
        std::string_view rest = text;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n <= 0) break;
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        ::close(fd);
    });
    std::atomic<bool> ended{false};
    std::thread signaller([&] {
        if (signal.signal_number == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(signal.milliseconds));
        if (!ended.load()) ::kill(pid, signal.signal_number);
        for (int waited = 0; waited < 100 && !ended.load(); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!ended.load()) ::kill(pid, SIGKILL);
    });
    std::thread error_reader([&] { drain(err[0], result.errors); });
    drain(out[0], result.output);
    error_reader.join();
    feeder.join();
    ended.store(true);
    signaller.join();

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string usage_error_output() {
    return banner +
           "Weldrix [options] InFile, Outfile\n"
           "-ut <val>: Vertices unification threshold (default 0.005)\n"
           "-s: Snap on subfiles\n"
           "-us <val>: Unification on subfiles threshold (default 0.005)\n"
           "-l \"path\": define ldraw search path\n"
           "Press <Enter> to quit\n";
}

}  // namespace weldrix::test
