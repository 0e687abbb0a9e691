// The report page: the template (report_page.hpp) with its data in place of the placeholder
// line, on one line. The data is {"report":REPORT,"drawing":[DRAWING,...]}: REPORT is the JSON
// report (report_json.hpp), and each DRAWING what the page draws of a file, in the order of the
// report's files. report_writer.hpp puts the pieces together.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/json_writer.hpp"
#include "app/report.hpp"
#include "app/report_json.hpp"

namespace weldrix {

// The template before and after its data.
std::string_view page_head();
std::string_view page_tail();

// The data up to the JSON report, between the report and the first drawing, and after the last.
inline constexpr std::string_view page_data_head = "{\"report\":";
inline constexpr std::string_view page_data_drawings = ",\"drawing\":[";
inline constexpr std::string_view page_data_end = "]}";

// What a page lists of a file, given the changed lines it may still list in all, and what its
// note then says of the rest.
listed page_limit(const change_record& changes, std::size_t left, std::string& note);

// A file's drawing, its note followed by more_note; drain is called after each line.
void write_drawing(json_writer& json, const report_drawing& drawing, const std::string& more_note,
                   const std::function<void()>& drain);

}  // namespace weldrix
