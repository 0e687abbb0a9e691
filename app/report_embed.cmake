# Writes OUT, a C++ source that holds the bytes of IN (the report page template) as
# weldrix::report_page_template(). Run as: cmake -DIN=... -DOUT=... -P report_embed.cmake
#
# The bytes are written as a list of numbers rather than a string literal: every compiler takes
# that at any length, and the file needs no escaping.
# The page is filled by replacing the one line that holds only the data placeholder
# (app/report_html.cpp).
file(STRINGS "${IN}" placeholder_lines REGEX "^/\\*WELDRIX_REPORT_DATA\\*/$")
list(LENGTH placeholder_lines placeholder_count)
if(NOT placeholder_count EQUAL 1)
  message(FATAL_ERROR "${IN}: expected one line holding only /*WELDRIX_REPORT_DATA*/, found ${placeholder_count}")
endif()
file(READ "${IN}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
# 24 bytes per line keeps the file readable in a diff or an editor.
string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUT}"
"// Generated from app/report_page.html by app/report_embed.cmake at build time; do not edit.
#include \"app/report_page.hpp\"

namespace weldrix {
namespace {
constexpr unsigned char page[${size} + 1] = {
    ${bytes}0};
}  // namespace

std::string_view report_page_template() { return {reinterpret_cast<const char*>(page), ${size}}; }

}  // namespace weldrix
")
