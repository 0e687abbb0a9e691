#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "geometry/matrix.hpp"
#include "geometry/placement.hpp"
#include "geometry/point.hpp"

namespace weldrix {
namespace {

// Parses text into p and gives the offset of the returned position, or -1 on failure.
long parse_at(point& p, const std::string& text) {
    const char* next = p.parse(text.data(), text.data() + text.size());
    return next ? static_cast<long>(next - text.data()) : -1;
}

const matrix identity(1, 0, 0, 0, 1, 0, 0, 0, 1);

TEST(Point, TextFormUsesSevenSignificantDigits) {
    EXPECT_EQ(point().to_text(), "0 0 0");
    EXPECT_EQ(point(1, 0.5, -2.25).to_text(), "1 0.5 -2.25");
    EXPECT_EQ(point(12345678, 0.00001, 1234567.8).to_text(), "1.234568e+007 1e-005 1234568");
    EXPECT_EQ(point(12.345675, 9999999.6, -0.70710675).to_text(), "12.34568 1e+007 -0.7071068");
    EXPECT_EQ(point(-0.0, 0.0, -0.0).to_text(), "-0 0 -0");

    std::string out = "2 16 ";
    point(1, 2, 3).append_text(out);
    EXPECT_EQ(out, "2 16 1 2 3");
}

TEST(Point, ParseReadsOneTokenPerCoordinate) {
    point p;
    EXPECT_EQ(parse_at(p, " 1 2 3"), 6);
    EXPECT_EQ(p.to_text(), "1 2 3");

    // The rest of a token after its number is skipped with it; the position rests on the blank
    // after the third token.
    p = point();
    EXPECT_EQ(parse_at(p, "  1.5mm -2 3e2 rest"), 14);
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, -2);
    EXPECT_EQ(p.z, 300);

    // Trailing blanks after z are left for the caller.
    p = point();
    EXPECT_EQ(parse_at(p, "1\t2\v3  "), 5);

    // Only the decimal form is a number: "0x10" reads as 0, and the rest of its token is skipped.
    p = point(9, 9, 9);
    EXPECT_EQ(parse_at(p, " 0x10 2 3"), 9);
    EXPECT_EQ(p.to_text(), "0 2 3");

    // Numbers glued to each other by a sign are one token: only the first number counts.
    p = point();
    EXPECT_EQ(parse_at(p, "1-2 3 4"), 7);
    EXPECT_EQ(p.to_text(), "1 3 4");
}

TEST(Point, ParseOfAShortTextKeepsTheMissingCoordinates) {
    point p;
    EXPECT_EQ(parse_at(p, " 1 2"), 4);
    EXPECT_EQ(p.to_text(), "1 2 0");

    p = point(7, 8, 9);
    EXPECT_EQ(parse_at(p, " 5   "), 5);
    EXPECT_EQ(p.to_text(), "5 8 9");

    p = point(7, 8, 9);
    EXPECT_EQ(parse_at(p, ""), 0);
    EXPECT_EQ(p.to_text(), "7 8 9");
}

TEST(Point, ParseFailsAtATokenThatIsNoNumber) {
    point p(7, 8, 9);
    EXPECT_EQ(parse_at(p, " 1 q 3"), -1);
    EXPECT_EQ(p.to_text(), "1 8 9");

    p = point(7, 8, 9);
    EXPECT_EQ(parse_at(p, " inf 2 3"), -1);
    EXPECT_EQ(p.to_text(), "7 8 9");

    for (const char* text : {"nan 1 1", "-q 1 1", ". 1 1", "- 1 1", "+ 1 1", "e5 1 1", "-.e1 1 1"}) {
        p = point(7, 8, 9);
        EXPECT_EQ(parse_at(p, text), -1) << text;
        EXPECT_EQ(p.to_text(), "7 8 9") << text;
    }
}

TEST(Point, ParseNeverLooksPastTheEndOfItsRange) {
    // The range ends inside "3456": the number is 34, and the position stops at the range end.
    const std::string text = "1 2 3456 7";
    point p;
    const char* next = p.parse(text.data(), text.data() + 6);
    EXPECT_EQ(next, text.data() + 6);
    EXPECT_EQ(p.to_text(), "1 2 34");

    // An exponent cut off by the range end is not read.
    const std::string exp = "1 2 3e5";
    p = point();
    EXPECT_EQ(p.parse(exp.data(), exp.data() + 6), exp.data() + 6);
    EXPECT_EQ(p.z, 3);
}

TEST(Point, OverflowAndUnderflowReadAsStrtodGives) {
    point p;
    EXPECT_EQ(parse_at(p, "1e999 -1e999 1e-400"), 19);
    EXPECT_EQ(p.to_text(), "inf -inf 0");
    p = point();
    parse_at(p, "-1e-400 4.9406564584124654e-324 1");
    EXPECT_EQ(p.to_text(), "-0 4.940656e-324 1");
}

TEST(Point, AssignTranslateAndDistance) {
    point p(1, 2, 3);
    p.translate(point(10, 0, -5));
    EXPECT_EQ(p.to_text(), "11 2 -2");
    point q;
    q.assign(p);
    EXPECT_EQ(q.to_text(), "11 2 -2");

    EXPECT_EQ(point().manhattan_distance(point(1, -2, 3)), 6);
    EXPECT_EQ(point(1, -2, 3).manhattan_distance(point()), 6);
    EXPECT_EQ(point(0.5, 0.5, 0.5).manhattan_distance(point(0.5, 0.5, 0.5)), 0);
    // Summed as |dz| + |dy| + |dx|: the two tiny terms are added first and survive; adding the
    // large term first would lose them (1 + 1e-16 rounds back to 1).
    EXPECT_EQ(point().manhattan_distance(point(1, 1e-16, 1e-16)), 1.0000000000000002);
    EXPECT_TRUE(std::isinf(point().manhattan_distance(point(1e308, 1e308, 1e308))));
}

TEST(Matrix, TransformMultiplyDeterminant) {
    const matrix mirror(-1, 0, 0, 0, 1, 0, 0, 0, 1);
    EXPECT_EQ(identity.determinant(), 1);
    EXPECT_EQ(mirror.determinant(), -1);
    EXPECT_EQ(matrix().determinant(), 0);

    const matrix turn(0, 0, 1, 0, 1, 0, -1, 0, 0);
    EXPECT_EQ(turn.transform(point(1, 2, 3)).to_text(), "3 2 -1");
    EXPECT_EQ(identity.transform(point(1.5, -2, 3)).to_text(), "1.5 -2 3");

    const matrix m(2, 0, 0, 0, 1, 0, 0, 0, 1);
    const matrix n(0, 1, 0, 1, 0, 0, 0, 0, 1);
    EXPECT_EQ(m.multiply(n).to_text(), "0 2 0 1 0 0 0 0 1");
    EXPECT_EQ(n.multiply(m).to_text(), "0 1 0 2 0 0 0 0 1");  // the left factor is this matrix

    const matrix full(1, 2, 3, 4, 5, 6, 7, 8, 10);
    EXPECT_EQ(full.multiply(identity).to_text(), full.to_text());
    EXPECT_EQ(identity.multiply(full).to_text(), full.to_text());
    EXPECT_EQ(full.multiply(full).to_text(), "30 36 45 66 81 102 109 134 169");
    EXPECT_EQ(full.determinant(), -3);
}

TEST(Matrix, ArithmeticOrderIsFixed) {
    // Every element of a product is summed from +0, so products that are all -0 give +0 ...
    const matrix negative(-1, -1, -1, -1, -1, -1, -1, -1, -1);
    EXPECT_EQ(negative.multiply(matrix()).to_text(), "0 0 0 0 0 0 0 0 0");
    // ... while transform adds the three products directly, keeping a -0 sum.
    EXPECT_EQ(negative.transform(point()).to_text(), "-0 -0 -0");
    EXPECT_EQ(identity.transform(point(-0.0, -0.0, -0.0)).to_text(), "-0 -0 -0");

    // a*e*i + b*f*g + c*d*h - c*e*g - a*f*h - b*d*i, left to right: 1e16 + 1 rounds to 1e16, so
    // this order gives -1 where the exact determinant is 0.
    const matrix cancelling(1e16, 1, -1e16, 1, 1, 1, 1, 1, 1);
    EXPECT_EQ(cancelling.determinant(), -1);

    // A placement, written out inline, rounds as transform then translate: signed zeros and a sum
    // that rounds differently in any other order.
    for (const placement& place :
         {placement{negative, point(-0.0, 0.0, -0.0)}, placement{cancelling, point(1, -1e16, 0.1)}}) {
        for (const point& p : {point(), point(-0.0, 1, 1e-17), point(1, 1e16, 0.3)}) {
            point placed = place.orientation.transform(p);
            placed.translate(place.offset);
            const point inline_placed = place.apply(p);
            EXPECT_EQ(std::memcmp(&placed, &inline_placed, sizeof(point)), 0);
        }
    }
}

TEST(Matrix, TextFormAndConstruction) {
    EXPECT_EQ(matrix().to_text(), "0 0 0 0 0 0 0 0 0");
    const matrix rows(point(1, 2, 3), point(4, 5, 6), point(7, 8, 9));
    EXPECT_EQ(rows.to_text(), "1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(rows.d, 4);
    EXPECT_EQ(rows.h, 8);
    EXPECT_EQ(matrix(0.00001, 123.456789, -0.0, 1, 1, 1, 1, 1, 12345678).to_text(),
              "1e-005 123.4568 -0 1 1 1 1 1 1.234568e+007");
}

}  // namespace
}  // namespace weldrix
