// The units of a multi-part document (MPD): a file that holds sections, each a part of its own.
//
// A comment whose text, after white space, is "FILE", white space and a name starts a section
// with that name (the rest of the line, surrounding white space removed); one whose text is
// "NOFILE" (surrounding white space allowed) ends the current section; in a document with FILE
// lines, one whose text is "!DATA", white space and a name starts a data section, which holds no
// geometry. Each section is a unit of its own, and so is each contiguous run of lines outside
// sections. A document without FILE lines is one unit.
//
// Units are cleaned on their own: a unit's vertices merge only with each other and snap only onto
// what its own references inline, since each section has its own coordinates.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elements/ldraw_line.hpp"

namespace weldrix {

struct document_unit {
    enum class kind {
        whole_file,  // a document without FILE lines
        section,     // a FILE section; its first line is the FILE line
        data,        // a !DATA section: no geometry, left as it is
        outside,     // a run of lines outside sections
    };
    kind role = kind::whole_file;
    std::size_t begin = 0;  // element positions [begin, end)
    std::size_t end = 0;
    std::string name;  // the section's name
};

// A FILE, NOFILE or !DATA comment at an element position.
struct section_marker {
    std::size_t position = 0;
    enum class kind { file, nofile, data } role = kind::file;
    std::string name;  // of a FILE or !DATA section
};

// The marker a comment's text (what follows its "0") is, if it is one.
std::optional<section_marker> marker_in_comment(std::string_view comment, std::size_t position);

// The units of a document of count elements with these markers (in position order), in order,
// covering every position once. The reader collects the markers while it reads, when the
// comments are at hand, rather than visiting every element again. Every marker's position < count.
std::vector<document_unit> units_from_markers(const std::vector<section_marker>& markers, std::size_t count);

// The same for the first count of the elements (count <= elements.size()).
std::vector<document_unit> find_units(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t count);

}  // namespace weldrix
