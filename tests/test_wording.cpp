#include <gtest/gtest.h>

#include "app/wording.hpp"

namespace weldrix {
namespace {

TEST(Wording, DroppedLinesAreNamedUpToTenThenCounted) {
    const struct {
        std::vector<std::size_t> first;
        std::size_t count;
        const char* text;
    } cases[] = {
        {{}, 0, ""},
        {{7}, 1, "line 7 is not an LDraw line and is dropped"},
        {{7, 9}, 2, "lines 7 and 9 are not LDraw lines and are dropped"},
        {{7, 9, 12}, 3, "lines 7, 9 and 12 are not LDraw lines and are dropped"},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         35,
         "lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 and 25 more are not LDraw lines and are dropped"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe_dropped({c.first, c.count, {}}), c.text);
}

}  // namespace
}  // namespace weldrix
