#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "elements/comment_line.hpp"
#include "elements/polygon_lines.hpp"
#include "elements/removed_line.hpp"
#include "elements/subfile_line.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {
namespace {

const matrix mirror_x(-1, 0, 0, 0, 1, 0, 0, 0, 1);

int bfc(const char* text) { return comment_line(text).bfc_kind(); }

TEST(CommentLine, TextFormAndTypeCode) {
    EXPECT_EQ(comment_line("Brick 2 x 4").to_text(), "0 Brick 2 x 4");
    EXPECT_EQ(comment_line("").to_text(), "0 ");
    EXPECT_EQ(comment_line("  two blanks\tand a tab ").to_text(), "0   two blanks\tand a tab ");
    const comment_line c("x");
    EXPECT_EQ(c.type_code(), line_type::comment);
    EXPECT_EQ(c.colour(), 0);
}

TEST(CommentLine, BfcKindLooksForSubstringsInAnyCase) {
    EXPECT_EQ(bfc("BFC INVERTNEXT"), bfc_invertnext);
    EXPECT_EQ(bfc("BFC CERTIFY CCW INVERTNEXT"), bfc_invertnext);  // INVERTNEXT wins
    EXPECT_EQ(bfc("BFC CERTIFY CCW"), bfc_certify_ccw);
    EXPECT_EQ(bfc("BFC CERTIFY CW"), bfc_certify_cw);
    EXPECT_EQ(bfc("BFC CERTIFY"), bfc_certify_ccw);
    EXPECT_EQ(bfc("BFC CW"), bfc_none);
    EXPECT_EQ(bfc("INVERTNEXT"), bfc_none);
    EXPECT_EQ(bfc("CERTIFY CCW"), bfc_none);
    EXPECT_EQ(bfc(""), bfc_none);

    EXPECT_EQ(bfc("bfc invertnext"), bfc_invertnext);
    EXPECT_EQ(bfc("Bfc Certify cW"), bfc_certify_cw);
    EXPECT_EQ(bfc("bFc cErTiFy"), bfc_certify_ccw);

    // Substrings, not words.
    EXPECT_EQ(bfc("BFC NOCERTIFY"), bfc_certify_ccw);
    EXPECT_EQ(bfc("BFC NOCERTIFY CW"), bfc_certify_cw);
    EXPECT_EQ(bfc("xBFCx xCERTIFYx xCWx"), bfc_certify_cw);
    EXPECT_EQ(bfc("!LDRAW_ORG Part UPDATE BFC CERTIFY 2004-02"), bfc_certify_ccw);
    EXPECT_EQ(bfc("BFC CERTIFY CWCCW"), bfc_certify_ccw);  // holds CCW
    // Only a to z change case: the upper-casing leaves other bytes alone.
    EXPECT_EQ(bfc("bfc\xe9 certify"), bfc_certify_ccw);
}

TEST(RemovedLine, HasNothingAndIgnoresEverything) {
    removed_line r;
    EXPECT_EQ(r.type_code(), line_type::removed);
    EXPECT_EQ(r.to_text(), "");
    EXPECT_EQ(r.colour(), 0);
    r.translate(point(1, 2, 3));
    r.transform(mirror_x);
    r.invert();
    r.set_colour(4);
    EXPECT_EQ(r.colour(), 0);
    EXPECT_EQ(r.to_text(), "");
    EXPECT_EQ(r.simplify().replacement, nullptr);
    vertex_set set(unify_thresholds{});
    r.collect_vertices(set, false);
    EXPECT_EQ(set.size(), 0u);
    EXPECT_EQ(r.clone()->type_code(), line_type::removed);

    const ldraw_line base;
    EXPECT_EQ(base.type_code(), line_type::none);
    EXPECT_EQ(base.to_text(), "");
}

TEST(SubfileLine, ParsesAndRebuildsTheLine) {
    const subfile_line same("1 16 0 -24 0 1 0 0 0 1 0 0 0 1 s\\x.dat");
    EXPECT_EQ(same.to_text(), "1 16 0 -24 0 1 0 0 0 1 0 0 0 1 s\\x.dat");
    EXPECT_EQ(same.type_code(), line_type::subfile);
    EXPECT_EQ(same.colour(), 16);
    EXPECT_EQ(same.file_name, "s\\x.dat");

    const subfile_line numbers("1 4 10.0 -8.00 0.5 1.0 0 0 0 1.0 0 0 0 1.0 part.dat");
    EXPECT_EQ(numbers.to_text(), "1 4 10 -8 0.5 1 0 0 0 1 0 0 0 1 part.dat");
    EXPECT_EQ(numbers.position.to_text(), "10 -8 0.5");
    EXPECT_EQ(numbers.orientation.to_text(), "1 0 0 0 1 0 0 0 1");

    EXPECT_EQ(subfile_line("1 16 123.456789 0 0 1 0 0 0 1 0 0 0 0.00001 a.dat").to_text(),
              "1 16 123.4568 0 0 1 0 0 0 1 0 0 0 1e-005 a.dat");
}

TEST(SubfileLine, FileNameIsTheRestOfTheLine) {
    // Layout before the name is not kept; blanks inside and after the name are.
    const subfile_line spaced("\t1   16 0 0 0  1 0 0 0 1 0 0 0 1 \t  my part.dat  ");
    EXPECT_EQ(spaced.file_name, "my part.dat  ");
    EXPECT_EQ(spaced.to_text(), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 my part.dat  ");
    // Letter case and backslashes are kept; a name that looks like numbers is still the name.
    EXPECT_EQ(subfile_line("1 16 0 0 0 1 0 0 0 1 0 0 0 1 P\\48\\1-4CYLI.DAT").file_name, "P\\48\\1-4CYLI.DAT");
    EXPECT_EQ(subfile_line("1 16 0 0 0 1 0 0 0 1 0 0 0 1 2 3 4").file_name, "2 3 4");
    // The rest of the last number's token belongs to that number, not to the name.
    const subfile_line glued("1 16 0 0 0 1 0 0 0 1 0 0 0 1x.dat");
    EXPECT_EQ(glued.file_name, "");
    EXPECT_EQ(glued.to_text(), "1 16 0 0 0 1 0 0 0 1 0 0 0 1 ");
}

TEST(SubfileLine, ShortAndMalformedLines) {
    const subfile_line short_line("1 16 5");
    EXPECT_EQ(short_line.position.to_text(), "5 0 0");
    EXPECT_EQ(short_line.orientation.to_text(), "0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(short_line.file_name, "");
    EXPECT_EQ(short_line.to_text(), "1 16 5 0 0 0 0 0 0 0 0 0 0 0 ");

    const subfile_line bad("1 16 0 0 0 1 0 x 0 1 0 0 0 1 a.dat");
    EXPECT_EQ(bad.position.to_text(), "0 0 0");
    EXPECT_EQ(bad.orientation.to_text(), "1 0 0 0 0 0 0 0 0");
    EXPECT_EQ(bad.file_name, "");
    EXPECT_EQ(bad.to_text(), "1 16 0 0 0 1 0 0 0 0 0 0 0 0 ");

    // A bad number in the position stops everything after it.
    EXPECT_EQ(subfile_line("1 16 1 q 3 1 0 0 0 1 0 0 0 1 a.dat").to_text(), "1 16 1 0 0 0 0 0 0 0 0 0 0 0 ");
    // A bad number in row 2 keeps what row 2 read before it.
    EXPECT_EQ(subfile_line("1 16 1 2 3 4 5 6 7 z 9 1 1 1 a.dat").to_text(), "1 16 1 2 3 4 5 6 7 0 0 0 0 0 ");
    EXPECT_EQ(subfile_line("1").to_text(), "1 16 0 0 0 0 0 0 0 0 0 0 0 0 ");
}

TEST(SubfileLine, PlacementAndColour) {
    subfile_line moved("1 16 1 2 3 1 0 0 0 1 0 0 0 1 a.dat");
    moved.translate(point(10, 0, -5));
    EXPECT_EQ(moved.to_text(), "1 16 11 2 -2 1 0 0 0 1 0 0 0 1 a.dat");

    subfile_line turned("1 16 1 2 3 2 0 0 0 1 0 0 0 1 a.dat");
    turned.transform(matrix(0, 0, 1, 0, 1, 0, -1, 0, 0));
    EXPECT_EQ(turned.position.to_text(), "3 2 -1");
    EXPECT_EQ(turned.orientation.to_text(), "0 0 1 0 1 0 -2 0 0");

    // The matrix of the reference is the right factor: m * orientation, not orientation * m.
    subfile_line order("1 16 0 0 0 0 1 0 1 0 0 0 0 1 a.dat");
    order.transform(matrix(2, 0, 0, 0, 1, 0, 0, 0, 1));
    EXPECT_EQ(order.orientation.to_text(), "0 2 0 1 0 0 0 0 1");

    // invert does nothing to a reference.
    subfile_line kept("1 16 1 2 3 1 0 0 0 1 0 0 0 1 a.dat");
    kept.invert();
    EXPECT_EQ(kept.to_text(), "1 16 1 2 3 1 0 0 0 1 0 0 0 1 a.dat");
    kept.set_colour(4);
    EXPECT_EQ(kept.colour(), 4);
    EXPECT_EQ(kept.to_text(), "1 4 1 2 3 1 0 0 0 1 0 0 0 1 a.dat");
    EXPECT_EQ(kept.clone()->to_text(), kept.to_text());
}

// A direct colour ("0x" or "0X" and a hex digit) is kept exactly as written, for every line type,
// and is never one of the inherited colours; the numbers after it are read as after any colour.
TEST(LineColour, DirectColoursAreKeptAsWritten) {
    EXPECT_EQ(edge_line("2 0x2FF0000 0 0 0 1 1 1").to_text(), "2 0x2FF0000 0 0 0 1 1 1");
    EXPECT_EQ(triangle_line("3  0x2ff0000\t0 0 0 1 0 0 0 1.0 0").to_text(), "3 0x2ff0000 0 0 0 1 0 0 0 1 0");
    EXPECT_EQ(quad_line("4 0X3FF00007F 0 0 0 1 0 0 1 1 0 0 1 0").to_text(), "4 0X3FF00007F 0 0 0 1 0 0 1 1 0 0 1 0");
    EXPECT_EQ(cond_line("5 0x1F 0 0 0 1 0 0 0 1 0 0 -1 0").to_text(), "5 0x1F 0 0 0 1 0 0 0 1 0 0 -1 0");
    EXPECT_EQ(subfile_line("1 0x2000000 0 0 0 1 0 0 0 1 0 0 0 1 a.dat").to_text(),
              "1 0x2000000 0 0 0 1 0 0 0 1 0 0 0 1 a.dat");
    // The whole token counts, whatever follows the digits in it.
    EXPECT_EQ(edge_line("2 0x1Fq,7 0 0 0 1 1 1").to_text(), "2 0x1Fq,7 0 0 0 1 1 1");
    EXPECT_FALSE(edge_line("2 0x2FF0000 0 0 0 1 1 1").colour().inherited());
    // Without a hex digit after the "0x" it is an ordinary colour, read as "%d" reads it.
    EXPECT_EQ(edge_line("2 0xq 0 0 0 1 1 1").to_text(), "2 0 0 0 0 1 1 1");
    EXPECT_EQ(edge_line("2 0x 0 0 0 1 1 1").to_text(), "2 0 0 0 0 1 1 1");
    EXPECT_EQ(edge_line("2 -0x1F 0 0 0 1 1 1").to_text(), "2 0 0 0 0 1 1 1");
    // A collapsed quad's triangle keeps it; copies keep it.
    const quad_line quad("4 0x2FF0000 0 0 0 0.0001 0 0 1 1 0 0 1 0");
    const collapse triangle = quad.simplify();
    ASSERT_TRUE(triangle);
    EXPECT_EQ(triangle.replacement->to_text(), "3 0x2FF0000 0.0001 0 0 1 1 0 0 1 0");
    EXPECT_EQ(quad.clone()->to_text(), quad.to_text());
    std::string appended = "x";
    quad.append_text(appended);
    EXPECT_EQ(appended.substr(1), quad.to_text());
    EXPECT_EQ(appended[0], 'x');
}

// Any other colour token is read as "%d" reads it, the whole token skipped.
TEST(LineColour, ReadLikePercentDAndClampedToThirtyTwoBits) {
    EXPECT_EQ(edge_line("2 16abc 0 0 0 1 1 1").colour(), 16);
    EXPECT_EQ(edge_line("2 -1 0 0 0 1 1 1").to_text(), "2 -1 0 0 0 1 1 1");
    EXPECT_EQ(edge_line("2 +7 0 0 0 1 1 1").colour(), 7);
    EXPECT_EQ(edge_line("2 0007 0 0 0 1 1 1").colour(), 7);
    EXPECT_EQ(edge_line("2\t\v24\f0 0 0 1 1 1").to_text(), "2 24 0 0 0 1 1 1");

    // A colour that cannot be read is 16, and the token is still skipped.
    EXPECT_EQ(edge_line("2 red 1 2 3 4 5 6").to_text(), "2 16 1 2 3 4 5 6");
    EXPECT_EQ(triangle_line("3 - 1 2 3 4 5 6 7 8 9").to_text(), "3 16 1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(quad_line("4").to_text(), "4 16 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(cond_line("5   ").colour(), 16);
    EXPECT_EQ(subfile_line("1 #4 0 0 0 1 0 0 0 1 0 0 0 1 a.dat").colour(), 16);

    // Values beyond 32 bits clamp, they do not wrap.
    EXPECT_EQ(edge_line("2 2147483647 0 0 0 1 1 1").colour(), 2147483647);
    EXPECT_EQ(edge_line("2 2147483648 0 0 0 1 1 1").colour(), 2147483647);
    EXPECT_EQ(edge_line("2 4294967312 0 0 0 1 1 1").colour(), 2147483647);  // 2^32 + 16
    EXPECT_EQ(edge_line("2 -2147483648 0 0 0 1 1 1").colour(), -2147483647 - 1);
    EXPECT_EQ(edge_line("2 -99999999999999999999999 0 0 0 1 1 1").to_text(), "2 -2147483648 0 0 0 1 1 1");
    EXPECT_EQ(subfile_line("1 99999999999999999999 0 0 0 1 0 0 0 1 0 0 0 1 a.dat").colour(), 2147483647);
}

TEST(EdgeAndCondLine, ParseAndTextForm) {
    EXPECT_EQ(edge_line("2 24 1.0 2.0 3.0 4.0 5.0 6.0").to_text(), "2 24 1 2 3 4 5 6");
    EXPECT_EQ(edge_line("\t2 16   -10 0.5\t20  30 -0.25 40 extra tokens").to_text(), "2 16 -10 0.5 20 30 -0.25 40");
    EXPECT_EQ(edge_line("2 24 1 2 3").to_text(), "2 24 1 2 3 0 0 0");
    EXPECT_EQ(edge_line("2 24 1 x 3 4 5 6").to_text(), "2 24 1 0 0 0 0 0");
    EXPECT_EQ(edge_line("2 24 1 2 3 4 5 q").to_text(), "2 24 1 2 3 4 5 0");
    EXPECT_EQ(edge_line("2 24 1e999 -1e999 1e-400 -0 -1e-400 0").to_text(), "2 24 inf -inf 0 -0 -0 0");
    EXPECT_EQ(edge_line("2 24 0.1 0.2 0.30000000000000004 1e7 -9999999.6 123456.75").to_text(),
              "2 24 0.1 0.2 0.3 1e+007 -1e+007 123456.8");
    const edge_line e("2 24 1 2 3 4 5 6");
    EXPECT_EQ(e.type_code(), line_type::edge);
    EXPECT_EQ(e.points[1].to_text(), "4 5 6");

    const cond_line c("5 24 0 0 0 0 -4 0 1 0 0 -1 0 0");
    EXPECT_EQ(c.to_text(), "5 24 0 0 0 0 -4 0 1 0 0 -1 0 0");
    EXPECT_EQ(c.type_code(), line_type::conditional);
    EXPECT_EQ(c.points[2].to_text(), "1 0 0");  // the first control point
    EXPECT_EQ(cond_line("5 24 1 2 3 4 5 6 7 8 9").to_text(), "5 24 1 2 3 4 5 6 7 8 9 0 0 0");
    EXPECT_EQ(cond_line("5 24 1 2 3 4 5 6 7 8 9 ? 1 1").to_text(), "5 24 1 2 3 4 5 6 7 8 9 0 0 0");
}

TEST(EdgeAndCondLine, PlacementAndColour) {
    edge_line moved("2 24 1 2 3 4 5 6");
    moved.translate(point(10, 0, -5));
    EXPECT_EQ(moved.to_text(), "2 24 11 2 -2 14 5 1");

    edge_line mirrored("2 24 1 2 3 4 5 6");
    mirrored.transform(mirror_x);
    EXPECT_EQ(mirrored.to_text(), "2 24 -1 2 3 -4 5 6");  // the order of the points is kept
    mirrored.invert();                                    // edges are never reversed
    EXPECT_EQ(mirrored.to_text(), "2 24 -1 2 3 -4 5 6");
    mirrored.set_colour(4);
    EXPECT_EQ(mirrored.colour(), 4);
    EXPECT_EQ(mirrored.to_text(), "2 4 -1 2 3 -4 5 6");

    cond_line c("5 24 0 0 0 0 -4 0 1 0 0 -1 0 0");
    c.invert();
    c.transform(matrix(0, 0, 1, 0, 1, 0, -1, 0, 0));
    c.translate(point(1, 1, 1));
    EXPECT_EQ(c.to_text(), "5 24 1 1 1 1 -3 1 1 1 0 1 1 2");
    EXPECT_EQ(c.clone()->to_text(), c.to_text());
}

TEST(TriangleAndQuad, ParseAndTextForm) {
    EXPECT_EQ(triangle_line("3 16 0 0 0 1 0 0 0 1 0").to_text(), "3 16 0 0 0 1 0 0 0 1 0");
    EXPECT_EQ(quad_line("4 16 1.0 1.0 0 -1.0 1.0 0 -1.0 -1.0 0 1.0 -1.0 0").to_text(),
              "4 16 1 1 0 -1 1 0 -1 -1 0 1 -1 0");

    const quad_line short_quad("4 16 1 1 0 -1 1 0 -1 -1 0");
    EXPECT_EQ(short_quad.points[3].to_text(), "0 0 0");
    EXPECT_EQ(short_quad.to_text(), "4 16 1 1 0 -1 1 0 -1 -1 0 0 0 0");

    const triangle_line bad("3 16 0 0 0 1 0 z 0 1 0");
    EXPECT_EQ(bad.points[1].to_text(), "1 0 0");
    EXPECT_EQ(bad.to_text(), "3 16 0 0 0 1 0 0 0 0 0");
    EXPECT_EQ(triangle_line("3 16 0 0 0 1 0 0 0 1 0 trailing 7 8").to_text(), "3 16 0 0 0 1 0 0 0 1 0");

    const triangle_line made(point(0, 0, 0), point(1, 0, 0), point(0, 1, 0), 4);
    EXPECT_EQ(made.to_text(), "3 4 0 0 0 1 0 0 0 1 0");
    EXPECT_EQ(made.type_code(), line_type::triangle);
    EXPECT_EQ(quad_line("4 16").type_code(), line_type::quad);
}

TEST(TriangleAndQuad, InvertTransformTranslate) {
    triangle_line t("3 16 0 0 0 1 0 0 0 1 0");
    t.invert();
    EXPECT_EQ(t.to_text(), "3 16 0 1 0 1 0 0 0 0 0");
    t.invert();
    EXPECT_EQ(t.to_text(), "3 16 0 0 0 1 0 0 0 1 0");

    quad_line q("4 16 1 1 0 -1 1 0 -1 -1 0 1 -1 0");
    q.invert();
    EXPECT_EQ(q.to_text(), "4 16 -1 -1 0 -1 1 0 1 1 0 1 -1 0");
    q.invert();
    EXPECT_EQ(q.to_text(), "4 16 1 1 0 -1 1 0 -1 -1 0 1 -1 0");

    // Mirroring alone does not reverse a triangle.
    triangle_line m("3 16 0 0 0 1 0 0 0 1 0");
    m.transform(mirror_x);
    EXPECT_EQ(m.to_text(), "3 16 0 0 0 -1 0 0 0 1 0");

    triangle_line moved("3 16 0 0 0 1 0 0 0 1 0");
    moved.translate(point(0, 0, 10));
    EXPECT_EQ(moved.to_text(), "3 16 0 0 10 1 0 10 0 1 10");

    q.transform(matrix(2, 0, 0, 0, 2, 0, 0, 0, 2));
    q.translate(point(0.5, 0, 0));
    q.set_colour(-3);
    EXPECT_EQ(q.colour(), -3);
    EXPECT_EQ(q.to_text(), "4 -3 2.5 2 0 -1.5 2 0 -1.5 -2 0 2.5 -2 0");
    EXPECT_EQ(q.clone()->to_text(), q.to_text());
}

// The writer appends each line's text to the file's buffer; that must be the line's text form.
TEST(LineText, AppendTextAddsExactlyTheTextForm) {
    std::vector<std::unique_ptr<ldraw_line>> lines;
    lines.push_back(std::make_unique<comment_line>("BFC CERTIFY CCW"));
    lines.push_back(std::make_unique<comment_line>(""));
    lines.push_back(std::make_unique<subfile_line>("1 -7 1.5 -0 1e7 1 0 0 0 1 0 0 0 1 my part.dat "));
    lines.push_back(std::make_unique<subfile_line>("1 16 5"));
    lines.push_back(std::make_unique<edge_line>("2 2147483648 0.1 0.2 0.3 123456.75 -1e-5 1e999"));
    lines.push_back(std::make_unique<triangle_line>("3 16 0 0 0 1 0 0 0 1 0"));
    lines.push_back(std::make_unique<quad_line>("4 -2147483649 -0.00012345675 2 3 4 5 6 7 8 9 10 11 12"));
    lines.push_back(std::make_unique<cond_line>("5 24 0 0 0 0 -4 0 1 0 0 -1 0 0"));
    lines.push_back(std::make_unique<removed_line>());
    lines.push_back(std::make_unique<ldraw_line>());
    for (const auto& line : lines) {
        std::string out = "prefix|";
        line->append_text(out);
        EXPECT_EQ(out, "prefix|" + line->to_text());
    }
    // -0.00012345675 is stored as -0.000123456749999999990...: its 17 digits round down.
    EXPECT_EQ(lines[6]->to_text(), "4 -2147483648 -0.0001234567 2 3 4 5 6 7 8 9 10 11 12");
}

}  // namespace
}  // namespace weldrix
