// Helpers shared by the tests: temporary folders, files and running the built tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace weldrix::test {

// A fresh folder below the system's temporary folder, removed with everything in it at the end.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name ("\\" on Windows)
    std::string operator/(std::string_view name) const;

private:
    std::string path_;
};

void write_file(const std::string& path, std::string_view bytes);  // creates missing folders
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// The bundled test data folder (tests/data) and the bundled LDraw library in it.
std::string data_path(std::string_view relative = {});
std::string library_path();

struct run_result {
    int exit_code = -1;  // or 128 + signal number when killed by a signal
    std::string output;  // standard output
    std::string errors;  // standard error
};

// A signal sent to the tool while it runs: signal_number after the delay; a tool still running
// ten seconds later is killed (SIGKILL, exit code 137).
struct signal_after {
    int signal_number = 0;  // none
    int milliseconds = 0;
};

// Runs the built weldrix with the arguments, in the folder cwd (the current one when empty),
// standard input fed from stdin_text (then closed).
run_result run_weldrix(const std::vector<std::string>& args, std::string_view stdin_text = {},
                       const std::string& cwd = {}, signal_after signal = {});

// The banner every run starts with, as the console shows it.
inline const std::string banner = "\nLdraw Weldrix 1.0 - by Orvel\n-------------------------------\n";

// The console text of the banner, the usage text and the wait, as a usage error prints them.
std::string usage_error_output();

}  // namespace weldrix::test
