#include "document/document_units.hpp"

#include <cassert>
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

}  // namespace

std::optional<section_marker> marker_in_comment(std::string_view comment, std::size_t position) {
    const std::string_view text = trimmed(comment);
    if (text.empty() || (text[0] != 'N' && text[0] != 'F' && text[0] != '!')) return std::nullopt;
    if (text == "NOFILE") return section_marker{position, section_marker::kind::nofile, {}};
    for (const auto& [word, kind] :
         {std::pair{std::string_view("FILE"), section_marker::kind::file}, {"!DATA", section_marker::kind::data}}) {
        if (text.size() > word.size() && text.substr(0, word.size()) == word && is_space(text[word.size()])) {
            const std::string_view rest = trimmed(text.substr(word.size()));
            if (rest.empty()) return std::nullopt;
            return section_marker{position, kind, std::string(rest)};
        }
    }
    return std::nullopt;
}

std::vector<document_unit> units_from_markers(const std::vector<section_marker>& markers, std::size_t count) {
    assert(markers.empty() || markers.back().position < count);
    bool has_file = false;
    for (const section_marker& m : markers) has_file = has_file || m.role == section_marker::kind::file;
    if (!has_file) return {{document_unit::kind::whole_file, 0, count, {}}};

    std::vector<document_unit> units;
    // The unit being built; a marker closes it and starts the next.
    document_unit current{document_unit::kind::outside, 0, 0, {}};
    const auto close = [&](std::size_t at) {
        current.end = at;
        if (current.end > current.begin) units.push_back(current);
    };
    for (const section_marker& m : markers) {
        const std::size_t i = m.position;
        switch (m.role) {
            case section_marker::kind::file:
                close(i);
                current = {document_unit::kind::section, i, i, m.name};
                break;
            case section_marker::kind::data:
                close(i);
                current = {document_unit::kind::data, i, i, m.name};
                break;
            case section_marker::kind::nofile:
                // The NOFILE line ends the section it closes and belongs to it.
                if (current.role != document_unit::kind::outside) {
                    close(i + 1);
                    current = {document_unit::kind::outside, i + 1, i + 1, {}};
                }
                break;
        }
    }
    close(count);
    return units;
}

std::vector<document_unit> find_units(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t count) {
    assert(count <= elements.size());
    std::vector<section_marker> markers;
    for (std::size_t i = 0; i < count; ++i) {
        if (elements[i]->type_code() != line_type::comment) continue;
        if (auto m = marker_in_comment(static_cast<const comment_line&>(*elements[i]).text, i)) {
            markers.push_back(std::move(*m));
        }
    }
    return units_from_markers(markers, count);
}

}  // namespace weldrix
