// How many lines of each kind a document read or wrote: the statistics the tool prints.
#pragma once

#include <cstddef>
#include <string_view>

#include "elements/ldraw_line.hpp"

namespace weldrix {

class console;

struct line_counts {
    std::size_t lines = 0;  // every element, comments included
    std::size_t edges = 0;
    std::size_t conditionals = 0;
    std::size_t triangles = 0;
    std::size_t quads = 0;
    std::size_t subfiles = 0;

    void count_type(line_type type);
    // The six statistics lines; `what` is " lines in file" or " lines written in file".
    void print(console& out, std::string_view what) const;

    bool operator==(const line_counts&) const = default;
};

}  // namespace weldrix
