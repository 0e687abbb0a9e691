#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

TEST(NumberFormat, WritesSevenSignificantDigitsLikeTheWindowsRuntime) {
    EXPECT_EQ(format_number(1), "1");
    EXPECT_EQ(format_number(0.5), "0.5");
    EXPECT_EQ(format_number(-2.25), "-2.25");
    EXPECT_EQ(format_number(1.0 / 3), "0.3333333");
    EXPECT_EQ(format_number(1234567.8), "1234568");
    EXPECT_EQ(format_number(12345678), "1.234568e+007");
    EXPECT_EQ(format_number(0.0001), "0.0001");
    EXPECT_EQ(format_number(0.00001), "1e-005");
    EXPECT_EQ(format_number(123.456789), "123.4568");
    EXPECT_EQ(format_number(-0.70710675), "-0.7071068");
}

TEST(NumberFormat, RoundsTheSeventeenDigitExpansionHalfUp) {
    // 12.345675 is stored as 12.34567499999999995...; 17 digits give ...6750, which rounds up.
    EXPECT_EQ(format_number(12.345675), "12.34568");
    // 9999999.6 rounds to 1.000000e7: exponent form.
    EXPECT_EQ(format_number(9999999.6), "1e+007");
    EXPECT_EQ(format_number(9.99999951), "10");
    EXPECT_EQ(format_number(9.9999995), "9.999999");  // stored as 9.99999949999999971...
    EXPECT_EQ(format_number(9.9999994), "9.999999");
    EXPECT_EQ(format_number(0.5000005), "0.5000005");
    EXPECT_EQ(format_number(1.00000050), "1.000001");
    EXPECT_EQ(format_number(2.5), "2.5");
    EXPECT_EQ(format_number(999999.95), "999999.9");  // stored below .95: 999999.94999999995
    EXPECT_EQ(format_number(99999.995), "99999.99");  // stored as 99999.994999999995
    EXPECT_EQ(format_number(0.000123456751), "0.0001234568");
}

TEST(NumberFormat, ChoosesFixedOrExponentFormByTheRoundedExponent) {
    EXPECT_EQ(format_number(999999.9), "999999.9");
    EXPECT_EQ(format_number(1e6), "1000000");
    EXPECT_EQ(format_number(9999999), "9999999");
    EXPECT_EQ(format_number(1e7), "1e+007");
    EXPECT_EQ(format_number(-1e7), "-1e+007");
    EXPECT_EQ(format_number(0.0000999999951), "0.0001");  // rounds up into the fixed range
    EXPECT_EQ(format_number(0.00009999994), "9.999994e-005");
    EXPECT_EQ(format_number(1.5e-5), "1.5e-005");
    EXPECT_EQ(format_number(1e100), "1e+100");
    EXPECT_EQ(format_number(1.7976931348623157e308), "1.797693e+308");
    EXPECT_EQ(format_number(2.2250738585072014e-308), "2.225074e-308");
}

TEST(NumberFormat, WritesSpecialValues) {
    EXPECT_EQ(format_number(0.0), "0");
    EXPECT_EQ(format_number(-0.0), "-0");
    EXPECT_EQ(format_number(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format_number(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format_number(std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(format_number(-std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(format_number(4.9406564584124654e-324), "4.940656e-324");
    EXPECT_EQ(format_number(-1e-310), "-1e-310");
}

TEST(NumberFormat, ThresholdsUseSixDigits) {
    EXPECT_EQ(format_threshold(0.005), "0.005");
    EXPECT_EQ(format_threshold(0.00001), "1e-005");
    EXPECT_EQ(format_threshold(0.01), "0.01");
    EXPECT_EQ(format_threshold(123456), "123456");
    EXPECT_EQ(format_threshold(1234567), "1.23457e+006");
    EXPECT_EQ(format_threshold(-1), "-1");
    EXPECT_EQ(format_threshold(0), "0");
    EXPECT_EQ(format_threshold(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format_threshold(1e-12), "1e-012");
}

// The fast path must agree with the straightforward 17-digit form for every double. Random bit
// patterns cover every exponent; values near the half-way points of the seventh digit exercise
// the fallback band; short decimals are what real files hold.
TEST(NumberFormat, FastPathMatchesTheExactForm) {
    std::mt19937_64 rng(12345);
    auto check = [](double v) {
        ASSERT_EQ(format_number(v), format_general(v, 7)) << "bits of v: " << std::hexfloat << v;
    };
    for (int i = 0; i < 300000; ++i) {
        std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        check(v);
    }
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-20, 30);
    for (int i = 0; i < 300000; ++i) {
        const double v = unit(rng) * std::pow(10.0, exponent(rng));
        check(v);
        check(-v);
        // Half-way points of the seventh digit, and their neighbours.
        const double step = std::pow(10.0, exponent(rng) - 6);
        const double half = (std::floor(v / step) + 0.5) * step;
        check(half);
        check(std::nextafter(half, 0.0));
        check(std::nextafter(half, 1e300));
    }
    std::uniform_int_distribution<int> mantissa(-99999999, 99999999);
    std::uniform_int_distribution<int> scale(0, 9);
    for (int i = 0; i < 300000; ++i) {
        check(mantissa(rng) / std::pow(10.0, scale(rng)));
    }
}

// written_apart never calls two values apart that are written alike: not at the widest spread
// two values written alike can have (both ends of a seventh digit's rounding interval, where
// the fixed and exponent forms change, up to a carry into a new digit), nor among random
// neighbours; and it does call most clearly different values apart.
TEST(NumberFormat, ValuesWrittenApartHaveDifferentTexts) {
    std::mt19937_64 rng(4242);
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    const auto check = [](double a, double b) {
        if (written_apart(a, b)) {
            ASSERT_NE(format_number(a), format_number(b)) << std::hexfloat << a << " and " << b;
        }
    };
    int apart = 0;
    for (int i = 0; i < 300000; ++i) {
        const int e = i % 4 == 0 ? static_cast<int>(rng() % 20) - 6 : exponent(rng);
        const double sign = rng() % 2 ? 1.0 : -1.0;
        const double step = std::pow(10.0, e - 6);
        // The ends of the interval that is written as the seventh-digit value d.
        const double d = std::round(unit(rng) * 1e6) * step;
        const double low = (std::round(d / step) - 0.5) * step, high = (std::round(d / step) + 0.5) * step;
        for (const double a : {low, std::nextafter(low, 0.0), std::nextafter(low, 1e308)}) {
            for (const double b : {high, std::nextafter(high, 0.0), std::nextafter(high, 1e308), d}) {
                check(sign * a, sign * b);
            }
        }
        // Values around a carry: 9.9999995e, 10e.
        const double top = std::pow(10.0, e + 1);
        check(sign * top, sign * (top - 0.5 * step));
        check(sign * top, sign * std::nextafter(top - 0.5 * step, 0.0));
        // Random neighbours, a few millionths apart.
        const double v = sign * unit(rng) * std::pow(10.0, e);
        const double w = v * (1.0 + std::uniform_real_distribution<double>(-4e-6, 4e-6)(rng));
        check(v, w);
        apart += written_apart(v, w);
    }
    for (const double tiny : {4.9e-324, 1e-310, 2.2250738585072014e-308, 1e-300, 1e-290}) {
        check(tiny, 2 * tiny);
        check(tiny, std::nextafter(tiny, 1.0));
        check(-tiny, tiny);
    }
    EXPECT_GT(apart, 100000);
    EXPECT_FALSE(written_apart(std::numeric_limits<double>::infinity(), 1.0));
    EXPECT_FALSE(written_apart(std::nan(""), 1.0));
    EXPECT_FALSE(written_apart(1.0, std::nan("")));
}

// What is written reads back to a value that is written the same way.
TEST(NumberFormat, WrittenTextReadsBackToTheSameText) {
    std::mt19937_64 rng(777);
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isnan(v) || std::isinf(v)) continue;
        const std::string text = format_number(v);
        const double_scan back = scan_double(text.data(), text.data() + text.size());
        ASSERT_EQ(back.status, scan_status::number) << text;
        ASSERT_EQ(format_number(back.value), text);
    }
}

}  // namespace
}  // namespace weldrix

namespace weldrix {
namespace {

// written_value is the text read back: checked against write_number and scan_double on the
// boundaries of its fast path and on random values of every magnitude.
TEST(NumberFormat, WrittenValueIsTheTextReadBack) {
    const auto read_back = [](double v) {
        const std::string text = format_number(v);
        const double_scan read = scan_double(text.data(), text.data() + text.size());
        return read.status == scan_status::number ? read.value : v;
    };
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    EXPECT_TRUE(same(written_value(-0.0), 0.0));
    EXPECT_TRUE(same(written_value(-8.40331), -8.40331));
    EXPECT_TRUE(same(written_value(-8.4031548), -8.403155));
    EXPECT_TRUE(same(written_value(12.345675), 12.34568));
    EXPECT_TRUE(same(written_value(9999999.6), 1e7));
    EXPECT_TRUE(std::isinf(written_value(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(written_value(std::numeric_limits<double>::quiet_NaN())));
    for (const double v : {1e-15, 9.999999e-16, 1e28, 9.9999995e27, 1e-300, 5e-324, 0.5000005, 99999.995, 1e22,
                           123456789012.0, 1e-7, 0.1 + 0.2, -3.0, 1e7, 4294967296.0}) {
        EXPECT_TRUE(same(written_value(v), read_back(v))) << v;
    }
    std::mt19937_64 random(26);
    for (int i = 0; i < 200000; ++i) {
        double v;
        if (i % 2 == 0) {
            const std::uint64_t bits = random();
            std::memcpy(&v, &bits, sizeof v);
        } else {
            v = std::ldexp(static_cast<double>(random() % 100000000) - 5e7, static_cast<int>(random() % 80) - 60);
        }
        ASSERT_TRUE(same(written_value(v), read_back(v)) || (std::isnan(v) && std::isnan(written_value(v)))) << v;
        // written_alike against the written values, for neighbours in the last bits, across a
        // rounding boundary (12.345675 and its neighbours), a decade or a sign apart.
        const double boundary = (std::round(v * 1e6) + 0.5) / 1e6;
        for (const double w : {std::nextafter(v, 0.0), v * (1 + 1e-12), v * (1 + 3e-7), v * 10, -v, boundary,
                               std::nextafter(boundary, 0.0), std::nextafter(boundary, 1e308)}) {
            const double x = i % 4 < 2 ? v : boundary;
            ASSERT_EQ(written_alike(x, w), same(written_value(x), written_value(w))) << x << " " << w;
            ASSERT_EQ(written_same_text(x, w), format_number(x) == format_number(w)) << x << " " << w;
        }
    }
    for (const double w : {-0.0, 1e-16, 1e28, 9.99999949e27, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(written_alike(0.0, w), same(0.0, written_value(w))) << w;
        EXPECT_EQ(written_same_text(0.0, w), format_number(w) == "0") << w;
    }
}

}  // namespace
}  // namespace weldrix
