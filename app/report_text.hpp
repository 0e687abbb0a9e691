// The text report: each file's names, settings, counts and changes in words, and the totals of
// a run of many files. report_writer.hpp puts the pieces together.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/report.hpp"

namespace weldrix {

inline constexpr std::string_view text_report_head = "weldrix change report\n";

// A file's part of the report, from the blank line before it; drain is called after each changed
// line and merge group.
void append_text(std::string& out, const file_report& file, const std::function<void()>& drain);

// The end of a report of files files whose totals add up to all: a line of those totals, unless
// the report covers one file (whose own totals say it all).
void append_text_end(std::string& out, std::size_t files, const change_totals& all);

}  // namespace weldrix
