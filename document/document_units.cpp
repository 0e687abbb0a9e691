#include "document/document_units.hpp"

#include <string_view>

#include "elements/comment_line.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

std::string_view trimmed(std::string_view text) {
    const char* p = skip_space(text.data(), text.data() + text.size());
    const char* end = text.data() + text.size();
    while (end != p && is_space(end[-1])) --end;
    return {p, static_cast<std::size_t>(end - p)};
}

enum class marker { none, file, nofile, data };

// What a comment says about sections; name receives a section's name.
marker marker_of(const ldraw_line& line, std::string& name) {
    if (line.type_code() != line_type::comment) return marker::none;
    const std::string_view text = trimmed(static_cast<const comment_line&>(line).text);
    if (text == "NOFILE") return marker::nofile;
    for (const auto& [word, kind] : {std::pair{std::string_view("FILE"), marker::file}, {"!DATA", marker::data}}) {
        if (text.size() > word.size() && text.substr(0, word.size()) == word && is_space(text[word.size()])) {
            const std::string_view rest = trimmed(text.substr(word.size()));
            if (rest.empty()) return marker::none;
            name.assign(rest);
            return kind;
        }
    }
    return marker::none;
}

}  // namespace

std::vector<document_unit> find_units(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t count) {
    std::vector<document_unit> units;
    std::string name;
    bool has_file = false;
    for (std::size_t i = 0; i < count && !has_file; ++i) has_file = marker_of(*elements[i], name) == marker::file;
    if (!has_file) return {{document_unit::kind::whole_file, 0, count, {}}};

    // The unit being built; a marker closes it and starts the next.
    document_unit current{document_unit::kind::outside, 0, 0, {}};
    const auto close = [&](std::size_t at) {
        current.end = at;
        if (current.end > current.begin) units.push_back(current);
    };
    for (std::size_t i = 0; i < count; ++i) {
        switch (marker_of(*elements[i], name)) {
            case marker::file:
                close(i);
                current = {document_unit::kind::section, i, i, name};
                break;
            case marker::data:
                close(i);
                current = {document_unit::kind::data, i, i, name};
                break;
            case marker::nofile:
                // The NOFILE line ends the section it closes and belongs to it.
                if (current.what != document_unit::kind::outside) {
                    close(i + 1);
                    current = {document_unit::kind::outside, i + 1, i + 1, {}};
                }
                break;
            case marker::none: break;
        }
    }
    close(count);
    return units;
}

}  // namespace weldrix
