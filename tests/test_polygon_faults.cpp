#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "geometry/polygon_faults.hpp"

namespace weldrix {
namespace {

double radians(double degrees) { return degrees * std::numbers::pi / 180; }

// Each angle test at each constant, a thousandth of the angle under and over it.
TEST(PolygonFaults, AngleTestsChangeAtTheirAngle) {
    const point u(1, 0, 0), zero;
    for (const auto& [degrees, c] :
         {std::pair{0.025, cos2_0_025_degrees}, {0.1, cos2_0_1_degrees}, {1.0, cos2_1_degree}, {3.0, cos2_3_degrees}}) {
        for (const double scale : {0.999, 1.001}) {
            const double t = std::tan(radians(degrees * scale));
            const bool above = scale > 1;
            EXPECT_EQ(within(u, point(2, 2 * t, 0), c), !above) << degrees;
            EXPECT_EQ(apart(u, point(2, 2 * t, 0), c), above) << degrees;
            EXPECT_EQ(opposite(u, point(-2, 2 * t, 0), c), !above) << degrees;
        }
        EXPECT_FALSE(within(u, zero, c) || apart(u, zero, c) || opposite(zero, u, c));
        EXPECT_TRUE(apart(u, point(0, 1, 0), c));  // a right angle, d = 0
        EXPECT_FALSE(within(u, point(-1, 0, 0), c));
    }
}

std::vector<point> written(std::vector<point> q) {
    for (point& p : q) p = written_point(p);
    return q;
}

// A unit square with corner 3 lifted so that split B folds by the angle.
std::vector<point> folded_square(double degrees) {
    const double h = std::sqrt(1 / std::cos(radians(degrees)) - 1);
    return written({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, h}});
}

TEST(PolygonFaults, EachPolygonHasTheFirstFaultThatApplies) {
    const double sharp_under = std::tan(radians(0.025 * 0.999)), sharp_over = std::tan(radians(0.025 * 1.001));
    const double straight_under = std::tan(radians(0.05 * 0.999)), straight_over = std::tan(radians(0.05 * 1.001));
    struct polygon_case {
        const char* what;
        std::vector<point> q;
        polygon_fault fault;
        int straight_corner = -1;
    };
    const std::vector<polygon_case> cases = {
        {"right triangle", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, polygon_fault::none},
        {"sharp corner", written({{0, 0, 0}, {1, 0, 0}, {1, sharp_under, 0}}), polygon_fault::collinear},
        {"corner just wider than sharp", written({{0, 0, 0}, {1, 0, 0}, {1, sharp_over, 0}}), polygon_fault::none},
        {"straight triangle corner", written({{0, 0, 0}, {1, straight_under, 0}, {2, 0, 0}}), polygon_fault::collinear},
        {"triangle corner just bent", written({{0, 0, 0}, {1, straight_over, 0}, {2, 0, 0}}), polygon_fault::none},
        {"two corners met", {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, polygon_fault::collinear},
        {"square", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, polygon_fault::none},
        {"straight quad corner", written({{0, 0, 0}, {1, straight_under, 0}, {2, 0, 0}, {1, -1, 0}}),
         polygon_fault::concave, 1},
        {"quad corner just bent", written({{0, 0, 0}, {1, straight_over, 0}, {2, 0, 0}, {1, -1, 0}}),
         polygon_fault::none},
        {"arrowhead", {{0, 0, 0}, {2, 1, 0}, {4, 0, 0}, {2, 4, 0}}, polygon_fault::concave},
        {"bowtie", {{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}, polygon_fault::bowtie},
        {"all corners on a line", {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}}, polygon_fault::collinear},
        {"folded under 3 degrees", folded_square(3 * 0.999), polygon_fault::warped_1},
        {"folded over 3 degrees", folded_square(3 * 1.001), polygon_fault::warped},
        {"folded under 1 degree", folded_square(1 * 0.999), polygon_fault::none},
        {"folded over 1 degree", folded_square(1 * 1.001), polygon_fault::warped_1},
    };
    for (const polygon_case& c : cases) {
        const polygon_verdict verdict = classify_polygon(c.q);
        EXPECT_EQ(verdict.fault, c.fault) << c.what;
        EXPECT_EQ(verdict.straight_corner, c.straight_corner) << c.what;
    }
}

TEST(PolygonFaults, IntroducedFaultsAndTheSplitChoice) {
    using enum polygon_fault;
    EXPECT_TRUE(fault_introduced(none, concave));
    EXPECT_TRUE(fault_introduced(concave, bowtie));
    EXPECT_TRUE(fault_introduced(warped_1, warped));
    EXPECT_FALSE(fault_introduced(warped, warped_1));
    EXPECT_FALSE(fault_introduced(concave, concave));
    EXPECT_FALSE(fault_introduced(bowtie, none));
    // Split A where its two triangles face the same way; across a reflex corner 1 they do not.
    const std::array<point, 4> square{point(0, 0, 0), point(1, 0, 0), point(1, 1, 0), point(0, 1, 0)};
    EXPECT_EQ(choose_split(square), quad_split::a);
    const std::array<point, 4> dart{point(0, 0, 0), point(2, 3, 0), point(4, 0, 0), point(2, 4, 0)};
    EXPECT_EQ(choose_split(dart), quad_split::b);
}

}  // namespace
}  // namespace weldrix
