// What the Windows tests need beyond tests/support.hpp: UTF-8 <-> UTF-16 and the tool's console
// bytes as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support.hpp"

namespace weldrix::test {

std::wstring utf16(std::string_view utf8);
std::string utf8(std::wstring_view utf16);

// run_weldrix without the CR LF -> LF of its console text (run_weldrix gives the text as the shared
// tests expect it). With wait_for_prompt, standard input stays open until the tool has printed
// "Press <Enter> to quit"; still_waiting then says whether the tool was still running a moment later
// (it waits for Enter), and stdin_text is written only after that.
struct raw_run {
    run_result result;
    bool still_waiting = false;
};
raw_run run_weldrix_raw(const std::vector<std::string>& args, std::string_view stdin_text = {},
                        const std::string& cwd = {}, bool wait_for_prompt = false);

}  // namespace weldrix::test
