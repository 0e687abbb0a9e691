// The JSON report (version 1; doc/weldrix.1 gives its shape): a file's record as a JSON object,
// and what opens and closes the list of files. The page's data holds the same report
// (report_html.hpp); report_writer.hpp puts the pieces together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "app/json_writer.hpp"
#include "app/report.hpp"

namespace weldrix {

// The report up to its first file, and what ends the list of files and the report.
inline constexpr std::string_view json_report_head = "{\"format\":\"weldrix-report\",\"version\":1,\"files\":[";
inline constexpr std::string_view json_report_end = "]}";

// The changes and merge groups a report lists of one file (the page lists fewer than all of a
// very large file).
struct listed {
    std::size_t changes = SIZE_MAX;
    std::size_t groups = SIZE_MAX;
};

// A file's record, as an object; drain is called after each changed line and merge group.
void write_file_json(json_writer& json, const file_report& file, const listed& limit,
                     const std::function<void()>& drain);

}  // namespace weldrix
