// tests/support.hpp on Windows: temporary folders through the wide API, and the built tool run with
// CreateProcessW. (usage_error_output is not defined here: the tests that use it drive the tool
// through POSIX and are not built for Windows.)
// clang-format off
#include <windows.h>
// clang-format on

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "windows_support.hpp"

namespace weldrix::test {
namespace {

std::filesystem::path fs_path(const std::string& path) { return std::filesystem::path(utf16(path)); }

// Quotes an argument so that CommandLineToArgvW (and the C runtime) give it back unchanged.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');  // before the closing quote
    text += L'"';
    return text;
}

class pipe_pair {
public:
    // One end is inherited by the child, the other stays with the test.
    explicit pipe_pair(bool child_reads) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (!CreatePipe(&read_, &write_, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
        SetHandleInformation(child_reads ? write_ : read_, HANDLE_FLAG_INHERIT, 0);
    }
    ~pipe_pair() {
        close_read();
        close_write();
    }
    pipe_pair(const pipe_pair&) = delete;
    pipe_pair& operator=(const pipe_pair&) = delete;
    HANDLE read_end() const { return read_; }
    HANDLE write_end() const { return write_; }
    void close_read() {
        if (read_) CloseHandle(read_);
        read_ = nullptr;
    }
    void close_write() {
        if (write_) CloseHandle(write_);
        write_ = nullptr;
    }

private:
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

void drain(HANDLE h, std::string& into) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
}

void write_all(HANDLE h, std::string_view text) {
    while (!text.empty()) {
        DWORD n = 0;
        if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) || n == 0) return;
        text.remove_prefix(n);
    }
}

std::string without_carriage_returns(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

}  // namespace

std::wstring utf16(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

temp_dir::temp_dir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring path = std::wstring(base) + L"weldrix-test-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(now.QuadPart + attempt);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            path_ = utf8(path);
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

temp_dir::~temp_dir() {
    std::error_code ec;
    // Tests leave read-only files behind; clear the attribute so that they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(fs_path(path_), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(fs_path(path_), ec);
}

std::string temp_dir::operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

void write_file(const std::string& path, std::string_view bytes) {
    const auto parent = fs_path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(fs_path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(fs_path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) { return GetFileAttributesW(utf16(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string data_path(std::string_view relative) {
    std::string path = WELDRIX_TEST_DATA;
    if (!relative.empty()) path.append("/").append(relative);
    return path;
}

std::string library_path() { return data_path("ldraw"); }

raw_run run_weldrix_raw(const std::vector<std::string>& args, std::string_view stdin_text, const std::string& cwd,
                        bool wait_for_prompt) {
    std::wstring command_line = quoted(utf16(WELDRIX_BINARY));
    for (const std::string& arg : args) command_line += L" " + quoted(utf16(arg));

    pipe_pair in(true), out(false), err(false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read_end();
    startup.hStdOutput = out.write_end();
    startup.hStdError = err.write_end();
    PROCESS_INFORMATION process{};
    const std::wstring folder = utf16(cwd);
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        cwd.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
    }
    CloseHandle(process.hThread);
    in.close_read();
    out.close_write();
    err.close_write();

    raw_run run;
    std::thread error_reader([&] { drain(err.read_end(), run.result.errors); });
    if (wait_for_prompt) {
        // Read until the prompt shows, then check that the tool waits, then answer.
        char buffer[4096];
        DWORD n = 0;
        while (run.result.output.find("Press <Enter> to quit") == std::string::npos &&
               ReadFile(out.read_end(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
            run.result.output.append(buffer, n);
        }
        run.still_waiting = WaitForSingleObject(process.hProcess, 300) == WAIT_TIMEOUT;
        write_all(in.write_end(), stdin_text);
        in.close_write();
        drain(out.read_end(), run.result.output);
    } else {
        std::thread feeder([&] {
            write_all(in.write_end(), stdin_text);
            in.close_write();
        });
        drain(out.read_end(), run.result.output);
        feeder.join();
    }
    error_reader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    run.result.exit_code = static_cast<int>(code);
    return run;
}

// Signals are a POSIX matter: the Windows tests interrupt the tool with a console event of their own
// (interrupt_probe.cpp), so no test here asks for one.
run_result run_weldrix(const std::vector<std::string>& args, std::string_view stdin_text, const std::string& cwd,
                       signal_after signal) {
    if (signal.signal_number != 0) throw std::logic_error("run_weldrix: no signals on Windows");
    run_result result = run_weldrix_raw(args, stdin_text, cwd).result;
    result.output = without_carriage_returns(result.output);
    result.errors = without_carriage_returns(result.errors);
    return result;
}

}  // namespace weldrix::test
