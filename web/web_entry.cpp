// The entry points of the WebAssembly build, called by the JavaScript around it (web/glue.js): a
// session gathers the arguments and files of one run, runs the tool on them as the command line
// does, and hands back the console text and the files the run wrote through the host calls below.
//
// The run is the native program's run: the same arguments give the same exit code, console text
// and output bytes. Standard input is taken to be at its end, as in "weldrix ... < /dev/null": the
// final "Press <Enter> to quit" is printed and the wait ends at once. Standard output is not a
// terminal, so a batch shows no progress line.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/run.hpp"
#include "io/console.hpp"
#include "web/web_file_system.hpp"

// The host, in JavaScript: Module.weldrixHost (web/glue.js). Pointers and sizes arrive as signed
// 32-bit numbers; ">>> 0" reads them as the unsigned values they are (memory may exceed 2 GiB).
// clang-format off
EM_JS(void, weldrix_host_write, (int stream, const char* text, std::size_t size), {
    Module.weldrixHost.write(stream, HEAPU8.slice(text >>> 0, (text >>> 0) + (size >>> 0)));
});
// Reads the lazy file id and keeps its bytes until taken; their count, or -1 when it cannot be read.
EM_JS(int, weldrix_host_load, (int id), { return Module.weldrixHost.load(id); });
// Copies the bytes loaded for id into buffer and lets them go.
EM_JS(void, weldrix_host_take, (int id, char* buffer), { HEAPU8.set(Module.weldrixHost.take(id), buffer >>> 0); });
EM_JS(void, weldrix_host_opened, (const char* path, std::size_t size), {
    Module.weldrixHost.opened(UTF8ToString(path >>> 0, size >>> 0));
});
EM_JS(void, weldrix_host_result, (const char* path, std::size_t path_size, const char* bytes, std::size_t size), {
    Module.weldrixHost.result(UTF8ToString(path >>> 0, path_size >>> 0),
                              HEAPU8.slice(bytes >>> 0, (bytes >>> 0) + (size >>> 0)));
});
// clang-format on

namespace {

// Standard output (1) or standard error (2) of the run, handed to the host as it is written.
class host_console final : public weldrix::console {
public:
    explicit host_console(int stream) : stream_(stream) {}
    void write(std::string_view text) override {
        if (!text.empty()) weldrix_host_write(stream_, text.data(), text.size());
    }

private:
    int stream_;
};

bool read_lazy_file(int id, std::string& bytes) {
    const int size = weldrix_host_load(id);
    if (size < 0) return false;
    bytes.resize(static_cast<std::size_t>(size));
    weldrix_host_take(id, bytes.data());
    return true;
}

void tell_opened(const std::string& path) { weldrix_host_opened(path.data(), path.size()); }

}  // namespace

struct weldrix_session {
    std::vector<std::string> args;
    weldrix::web_file_system files{read_lazy_file, tell_opened};
};

extern "C" {

EMSCRIPTEN_KEEPALIVE weldrix_session* weldrix_session_new() { return std::make_unique<weldrix_session>().release(); }

EMSCRIPTEN_KEEPALIVE void weldrix_session_free(weldrix_session* session) {
    std::unique_ptr<weldrix_session> owned(session);
}

EMSCRIPTEN_KEEPALIVE void weldrix_add_argument(weldrix_session* session, const char* text, std::size_t size) {
    session->args.emplace_back(text, size);
}

EMSCRIPTEN_KEEPALIVE void weldrix_add_file(weldrix_session* session, const char* path, std::size_t path_size,
                                           const char* bytes, std::size_t size) {
    session->files.add_file(std::string(path, path_size), std::string_view(bytes, size));
}

EMSCRIPTEN_KEEPALIVE void weldrix_add_folder(weldrix_session* session, const char* path, std::size_t path_size) {
    session->files.add_folder(std::string(path, path_size));
}

// size is a double: JavaScript numbers carry sizes beyond 32 bits exactly up to 2^53.
EMSCRIPTEN_KEEPALIVE void weldrix_add_lazy_file(weldrix_session* session, const char* path, std::size_t path_size,
                                                double size, int id) {
    session->files.add_lazy_file(std::string(path, path_size), static_cast<std::uint64_t>(size), id);
}

// Runs the tool, hands every file it wrote to the host (paths relative to the working folder) and
// returns its exit code.
EMSCRIPTEN_KEEPALIVE int weldrix_run(weldrix_session* session) {
    host_console out(1);
    host_console warnings(2);
    const int status = weldrix::run(session->args, {out, warnings, [] {}, session->files, nullptr, false});
    for (const auto& [path, bytes] : session->files.written()) {
        const std::string_view relative = std::string_view(path).substr(1);
        weldrix_host_result(relative.data(), relative.size(), bytes->data(), bytes->size());
    }
    return status;
}

}  // extern "C"
