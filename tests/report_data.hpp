// The data a report page holds, read back for tests: the text between the template's
// "const weldrixData =" line and its "; /* end of the report data" line, parsed as JSON.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace weldrix::test {

inline nlohmann::json report_page_data(const std::string& page) {
    const std::string start = "const weldrixData =\n", end = "\n; /* end of the report data";
    // The last of each: the template's comment quotes them too.
    const std::size_t b = page.rfind(end), a = page.rfind(start, b);
    EXPECT_NE(a, std::string::npos);
    EXPECT_NE(b, std::string::npos);
    if (a == std::string::npos || b == std::string::npos) return {};
    const std::string data = page.substr(a + start.size(), b - a - start.size());
    EXPECT_EQ(data.find('\n'), std::string::npos) << "the data is on one line";
    EXPECT_EQ(data.find('<'), std::string::npos) << "no \"<\" can end the script early";
    return nlohmann::json::parse(data);
}

}  // namespace weldrix::test
