#include "document/console.hpp"

#include <cstdio>

namespace weldrix {

void stdout_console::write(std::string_view text) {
    // An empty view may hold a null pointer, which fwrite must not be given even for no bytes.
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void stdout_console::flush() { std::fflush(stdout); }

}  // namespace weldrix
