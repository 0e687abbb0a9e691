// The report page template (app/report_page.html), built into the tool by app/report_embed.cmake.
#pragma once

#include <string_view>

namespace weldrix {

// The template's bytes, as in the source tree.
std::string_view report_page_template();

}  // namespace weldrix
