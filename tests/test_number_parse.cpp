#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

double_scan scan(const std::string& text) { return scan_double(text.data(), text.data() + text.size()); }

double value_of(const std::string& text) {
    const double_scan s = scan(text);
    EXPECT_EQ(s.status, scan_status::number) << text;
    return s.value;
}

std::size_t consumed(const std::string& text) {
    const double_scan s = scan(text);
    return static_cast<std::size_t>(s.next - text.data());
}

TEST(NumberParse, TakesTheLongestDecimalPrefix) {
    EXPECT_EQ(value_of("1.5mm"), 1.5);
    EXPECT_EQ(consumed("1.5mm"), 3u);
    EXPECT_EQ(value_of("1e"), 1.0);
    EXPECT_EQ(consumed("1e"), 1u);
    EXPECT_EQ(value_of("1e+"), 1.0);
    EXPECT_EQ(value_of(".5"), 0.5);
    EXPECT_EQ(value_of("5."), 5.0);
    EXPECT_EQ(value_of("1.e5"), 1e5);
    EXPECT_EQ(value_of("0x10"), 0.0);
    EXPECT_EQ(consumed("0x10"), 1u);
    EXPECT_EQ(value_of("  \t-2.25"), -2.25);
    EXPECT_EQ(value_of("+3E2"), 300.0);
    EXPECT_EQ(value_of("0001.2500"), 1.25);
    EXPECT_TRUE(std::signbit(value_of("-0")));
}

TEST(NumberParse, RejectsWhatIsNotADecimalNumber) {
    for (const char* text : {"inf", "-inf", "nan", "NaN", "infinity", "-q", "q", ".", "-.", "+", "--1", ".e5", "e5"}) {
        EXPECT_EQ(scan(text).status, scan_status::not_a_number) << text;
    }
    EXPECT_EQ(scan("").status, scan_status::end_of_text);
    EXPECT_EQ(scan(" \t\r\n\v\f").status, scan_status::end_of_text);
}

TEST(NumberParse, OverflowAndUnderflowGiveWhatStrtodGives) {
    EXPECT_EQ(value_of("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(value_of("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(value_of("1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(value_of("-1e-400")));
    EXPECT_EQ(value_of("2.5e-324"), 4.9406564584124654e-324);  // rounds up to the least subnormal
    EXPECT_EQ(value_of("2.4e-324"), 0.0);
    EXPECT_EQ(value_of("4.9406564584124654e-324"), 4.9406564584124654e-324);
    EXPECT_EQ(value_of("1e99999999999999999999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(value_of("0e99999999999999999999"), 0.0);
    EXPECT_EQ(value_of(std::string(400, '9')), std::numeric_limits<double>::infinity());
}

TEST(NumberParse, IsCorrectlyRounded) {
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<int> digit(0, 9), length(1, 40), exponent(-330, 310);
    for (int i = 0; i < 100000; ++i) {
        std::string text = rng() & 1 ? "-" : "";
        const int n = length(rng);
        const int point_at = (rng() & 1) ? length(rng) % n : -1;
        for (int k = 0; k < n; ++k) {
            if (k == point_at) text += '.';
            text += static_cast<char>('0' + digit(rng));
        }
        if (rng() & 1) text.append("e").append(std::to_string(exponent(rng)));
        ASSERT_EQ(value_of(text), std::strtod(text.c_str(), nullptr)) << text;
    }
}

// Short numbers, as LDraw files hold them, take a quicker path than long ones; both must give
// strtod's value and stop where the number ends.
TEST(NumberParse, ShortNumbersAreCorrectlyRoundedToo) {
    for (const char* text :
         {"9007199254740992", "9007199254740993", "9007199254740995", "1234567890123456789", "12345678901234567890",
          "0.1234567890123456789", "1.234567890123456789", "1e22", "1e23", "1e-22", "1e-23", "123456789e-22",
          "0.000000000000000000000001", "3.14159e0", "7.e+2", "-0.0", "0.30000000000000004", "8.589973e9"}) {
        ASSERT_EQ(value_of(text), std::strtod(text, nullptr)) << text;
        ASSERT_EQ(std::signbit(value_of(text)), std::signbit(std::strtod(text, nullptr))) << text;
    }
    EXPECT_EQ(consumed("12.5e"), 4u);
    EXPECT_EQ(consumed("12.5e+x"), 4u);
    EXPECT_EQ(consumed("12.5E-3mm"), 7u);
    EXPECT_EQ(consumed("7."), 2u);

    std::mt19937_64 rng(2024);
    for (int i = 0; i < 300000; ++i) {
        std::string text = rng() % 3 == 0 ? "-" : "";
        const int int_digits = static_cast<int>(rng() % 9);
        const int frac_digits = static_cast<int>(rng() % 12);
        for (int k = 0; k < int_digits; ++k) text += static_cast<char>('0' + rng() % 10);
        if (int_digits == 0 || frac_digits > 0) {
            text += '.';
            for (int k = 0; k < std::max(frac_digits, 1); ++k) text += static_cast<char>('0' + rng() % 10);
        }
        if (rng() % 4 == 0) text.append("e").append(std::to_string(static_cast<int>(rng() % 51) - 25));
        const std::size_t length = text.size();
        text += rng() % 2 ? " 5" : "mm";
        const double_scan s = scan(text);
        ASSERT_EQ(s.status, scan_status::number) << text;
        ASSERT_EQ(s.value, std::strtod(text.c_str(), nullptr)) << text;
        ASSERT_EQ(static_cast<std::size_t>(s.next - text.data()), length) << text;
    }
}

TEST(NumberParse, IntegersClampToThirtyTwoBits) {
    auto int_of = [](const std::string& text) {
        const int_scan s = scan_int(text.data(), text.data() + text.size());
        EXPECT_EQ(s.status, scan_status::number) << text;
        return s.value;
    };
    EXPECT_EQ(int_of("16"), 16);
    EXPECT_EQ(int_of("  -1"), -1);
    EXPECT_EQ(int_of("+7x"), 7);
    EXPECT_EQ(int_of("2147483647"), 2147483647);
    EXPECT_EQ(int_of("2147483648"), 2147483647);
    EXPECT_EQ(int_of("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(int_of("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(int_of("99999999999999999999999999"), 2147483647);
    EXPECT_EQ(int_of("0x1F"), 0);
    const std::string bad = "x16";
    EXPECT_EQ(scan_int(bad.data(), bad.data() + bad.size()).status, scan_status::not_a_number);
    const std::string sign = "- 5";
    EXPECT_EQ(scan_int(sign.data(), sign.data() + sign.size()).status, scan_status::not_a_number);
}

TEST(NumberParse, NeverReadsPastTheEndOfItsRange) {
    // The range stops inside "12.5e3": only "12" is visible.
    const std::string text = "12.5e3";
    const double_scan s = scan_double(text.data(), text.data() + 2);
    EXPECT_EQ(s.value, 12.0);
    EXPECT_EQ(s.next, text.data() + 2);
    const std::string dot = "7.";
    EXPECT_EQ(scan_double(dot.data(), dot.data() + 1).value, 7.0);
    // Digits are also examined eight at a time; the range end still counts wherever it falls.
    const std::string digits = "123456789012345.678901234";
    for (std::size_t cut = 1; cut <= digits.size(); ++cut) {
        const std::string visible = digits.substr(0, cut);
        const double_scan d = scan_double(digits.data(), digits.data() + cut);
        EXPECT_EQ(d.value, std::strtod(visible.c_str(), nullptr)) << cut;
        EXPECT_EQ(d.next, digits.data() + cut) << cut;
    }
}

}  // namespace
}  // namespace weldrix
