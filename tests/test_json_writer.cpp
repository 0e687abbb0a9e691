#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "app/json_writer.hpp"

namespace weldrix {
namespace {

// Texts: quotes, backslashes and control characters escaped, valid UTF-8 kept, every byte of an
// invalid sequence U+FFFD, U+2028 and U+2029 escaped, and "<" escaped only in a page.
TEST(JsonWriter, StringsAreEscapedAndAlwaysValidUtf8) {
    const struct {
        const char* text;
        bool in_page;
        const char* json;
    } cases[] = {
        {"a\"b\\c/\x7f", false, "\"a\\\"b\\\\c/\x7f\""},
        {"\x01\t\n\x1f ", false, R"("\u0001\u0009\u000a\u001f ")"},
        {"</script><!--", false, R"("</script><!--")"},
        {"</script><!--", true, R"("\u003c/script>\u003c!--")"},
        {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", false, "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xe2\x80\xa8\xe2\x80\xa9", true, R"("\u2028\u2029")"},
        {"\xff \xc3", false, R"("\ufffd \ufffd")"},                    // not a lead byte; cut short
        {"\xc0\x80", false, R"("\ufffd\ufffd")"},                      // overlong
        {"\xed\xa0\x80", false, R"("\ufffd\ufffd\ufffd")"},            // a surrogate
        {"\xf4\x90\x80\x80", false, R"("\ufffd\ufffd\ufffd\ufffd")"},  // above U+10FFFF
        {"\xe2\x82 x", false, R"("\ufffd\ufffd x")"},                  // a bad continuation
    };
    for (const auto& c : cases) {
        std::string out;
        json_writer(out, c.in_page).string(c.text);
        EXPECT_EQ(out, c.json) << c.text;
    }
}

TEST(JsonWriter, NumbersAreWrittenAsInTheOutputFile) {
    const struct {
        double value;
        const char* json;
    } cases[] = {
        {1, "1"},          {-0.0, "-0"},          {1e-5, "1e-005"},        {0.1234567891, "0.1234568"},
        {1e300, "1e+300"}, {HUGE_VAL, "\"inf\""}, {-HUGE_VAL, "\"-inf\""}, {-std::nan(""), "\"nan\""},
    };
    for (const auto& c : cases) {
        std::string out;
        json_writer(out, false).number(c.value);
        EXPECT_EQ(out, c.json) << c.value;
    }
}

TEST(JsonWriter, FieldsNestWithCommasBetweenThem) {
    std::string out;
    json_writer json(out, false);
    json.open("a\"");
    json.integer(std::numeric_limits<std::size_t>::max());
    json.field("b");
    json.open("c");
    json.boolean(true);
    json.close();
    json.field("d", 2.5);
    json.field("e", std::size_t{0});
    json.field("f", false);
    json.text_field("g", "x");
    json.field("h");
    json.point_array(point(1, -2, 0.5));
    json.close();
    EXPECT_EQ(out, R"({"a\"":18446744073709551615,"b":{"c":true},"d":2.5,"e":0,"f":false,"g":"x","h":[1,-2,0.5]})");
}

}  // namespace
}  // namespace weldrix
