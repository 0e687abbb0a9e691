#include "document/console.hpp"

#include <cstdio>

namespace weldrix {

void stdout_console::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void stdout_console::flush() { std::fflush(stdout); }

}  // namespace weldrix
