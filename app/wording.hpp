// How the console and the text report put counts and changes into words.
#pragma once

#include <cstddef>
#include <string>

#include "document/change_record.hpp"

namespace weldrix {

// A count with its noun: "1 line removed", "3 lines removed".
std::string counted(std::size_t n, const char* one, const char* many);

// "12 vertices moved, 1 line removed, 0 quads made triangles".
std::string describe_changes(const change_totals& totals);

}  // namespace weldrix
