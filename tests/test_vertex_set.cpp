// The grid-indexed vertex_set against the linear scan it must reproduce bit for bit, on generated
// inputs chosen where an index can go wrong: cell borders, distances exactly at a threshold,
// ties, representatives that drift across cells, extreme thresholds and non-finite or huge
// coordinates. Then a few hand-made cases of the merge and snap rules themselves.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/vertex_grid.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double min_subnormal = std::numeric_limits<double>::denorm_min();
constexpr double max_double = std::numeric_limits<double>::max();

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

std::string describe(const point& p) {
    std::ostringstream s;
    s.precision(17);
    s << '(' << p.x << ", " << p.y << ", " << p.z << ')';
    return s.str();
}

// The first difference between two sets' representatives, if any.
std::optional<std::string> compare_representatives(const vertex_set& linear, const vertex_set& indexed) {
    const auto& a = linear.representatives();
    const auto& b = indexed.representatives();
    if (a.size() != b.size()) {
        return "representative counts " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const rep_vertex& r = a[i];
        const rep_vertex& s = b[i];
        const rep_sums rs = linear.sums(i), ss = indexed.sums(i);
        if (!same_bits(r, s) || !same_bits(rs.x_sum, ss.x_sum) || !same_bits(rs.y_sum, ss.y_sum) ||
            !same_bits(rs.z_sum, ss.z_sum) || rs.member_count != ss.member_count || r.from_subfile != s.from_subfile) {
            return "representative " + std::to_string(i) + ": " + describe(r) + " x" + std::to_string(rs.member_count) +
                   (r.from_subfile ? " subfile" : " main") + " against " + describe(s) + " x" +
                   std::to_string(ss.member_count) + (s.from_subfile ? " subfile" : " main");
        }
    }
    return std::nullopt;
}

std::optional<std::string> compare_snap(vertex_set& linear, vertex_set& indexed, const point& v) {
    point a = v, b = v;
    linear.snap(a);
    indexed.snap(b);
    if (same_bits(a, b)) return std::nullopt;
    return "snap of " + describe(v) + " gives " + describe(a) + " and " + describe(b);
}

struct scenario {
    unify_thresholds thresholds;
    std::vector<point> vertices;
    std::vector<bool> from_subfile;  // per vertex
    std::vector<point> queries;      // snapped after all vertices are in, besides the vertices themselves
    // Vertices generated from the linear set's state while it is being built (drift): called
    // before each add with the set so far; may replace the vertex about to be added.
    bool drift = false;
    double drift_step = 0;
};

// Runs the scenario on a linear and an indexed set; the first difference, if any.
std::optional<std::string> run_both(scenario s, std::mt19937_64& random) {
    vertex_set linear(s.thresholds, vertex_search::linear);
    vertex_set indexed(s.thresholds, vertex_search::indexed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    // Without snaps in between, the final snaps replay the adds in order, as unification does.
    const bool interleave = random() % 2 == 0;
    for (std::size_t i = 0; i < s.vertices.size(); ++i) {
        point& v = s.vertices[i];
        if (s.drift && linear.size() > 0) {
            // Just inside the merge distance of a recent representative, so that it keeps moving.
            const auto& reps = linear.representatives();
            const rep_vertex& r = reps[reps.size() - 1 - random() % std::min<std::size_t>(reps.size(), 3)];
            const double a = unit(random), b = unit(random);
            v = point(r.x + s.drift_step * a, r.y + s.drift_step * (1 - std::fabs(a)) * b, r.z);
        }
        linear.add(v, s.from_subfile[i]);
        indexed.add(v, s.from_subfile[i]);
        if (interleave && i % 7 == 3) {
            // Snapping in the middle of the build sees the grid as it is at that moment.
            if (auto d = compare_snap(linear, indexed, v)) return "after add " + std::to_string(i) + ", " + *d;
            const point& other = s.vertices[random() % (i + 1)];
            if (auto d = compare_snap(linear, indexed, other)) return "after add " + std::to_string(i) + ", " + *d;
        }
    }
    if (auto d = compare_representatives(linear, indexed)) return d;
    for (const point& v : s.vertices) {
        if (auto d = compare_snap(linear, indexed, v)) return d;
    }
    for (const point& v : s.queries) {
        if (auto d = compare_snap(linear, indexed, v)) return d;
    }
    return std::nullopt;
}

// Thresholds where the index has to be careful: powers of two (cell width equal to the radius),
// just below and above them, zero and below, tiny, subnormal, around the snap start distance
// 100000, huge and infinite.
const double threshold_choices[] = {
    0.005,
    0.005,
    0.001,
    0.0049999999999999,
    0x1p-8,
    std::nextafter(0x1p-8, 1.0),
    std::nextafter(0x1p-8, 0.0),
    0.75 * 0x1p-7,
    0.0,
    -0.0,
    -1.0,
    1e-12,
    min_subnormal,
    1e-310,
    1e5,
    std::nextafter(1e5, 0.0),
    1.5e5,
    1e6,
    1e300,
    max_double,
    inf,
    -inf,
    nan,
};

double pick_threshold(std::mt19937_64& random) { return threshold_choices[random() % std::size(threshold_choices)]; }

// A length scale for placing points: the threshold where it is usable, else something ordinary.
double scale_of(double t) {
    if (!(t > 0) || t == inf) return 0.005;
    if (t > 1e7) return 1e6;  // points far apart at any sane scale
    return t;
}

// The smallest power of two not below 8t: the grid's cells are this or twice this wide.
double cell_width(double t) {
    int e = std::ilogb(8 * t);
    if (std::ldexp(1.0, e) < 8 * t) ++e;
    return std::ldexp(1.0, e);
}

double special_value(std::mt19937_64& random) {
    const double values[] = {
        inf,    -inf, nan,  1e300,  -1e300,  max_double, -max_double, min_subnormal, -min_subnormal,
        1e-310, 0.0,  -0.0, 0x1p62, -0x1p62, 0x1p53,     1e16};
    return values[random() % std::size(values)];
}

// An offset of roughly size s on one axis, often an exact one: 0, +-s, +-s/2, one ulp off s, ...
double offset(std::mt19937_64& random, double s) {
    switch (random() % 8) {
        case 0: return 0.0;
        case 1: return (random() % 2 ? s : -s);
        case 2: return (random() % 2 ? s / 2 : -s / 2);
        case 3: return std::nextafter(random() % 2 ? s : -s, 0.0);
        case 4: return std::nextafter(random() % 2 ? s : -s, random() % 2 ? inf : -inf);
        case 5: return s * static_cast<double>(static_cast<int>(random() % 9) - 4) / 4;
        default: return std::uniform_real_distribution<double>(-1.5 * s, 1.5 * s)(random);
    }
}

point jitter(std::mt19937_64& random, const point& c, double s) {
    return point(c.x + offset(random, s), c.y + offset(random, s), c.z + offset(random, s));
}

scenario make_scenario(std::mt19937_64& random) {
    scenario s;
    s.thresholds.vertex_threshold = pick_threshold(random);
    s.thresholds.subfile_threshold = random() % 3 ? 0.005 : pick_threshold(random);
    const double t = scale_of(s.thresholds.vertex_threshold);
    const std::size_t n = 1 + random() % (random() % 16 == 0 ? 1000 : 200);

    // Which kind each vertex is: a main set, a subfile set, or the general mixed rule.
    const unsigned kinds = random() % 8;
    for (std::size_t i = 0; i < n; ++i) {
        s.from_subfile.push_back(kinds < 5 ? false : kinds < 7 ? true : random() % 2 == 0);
    }
    // Subfile representatives merge within 0.001 and snap within subfile_threshold: points on
    // that scale too where a subfile set is tested.
    const double u = kinds >= 5 && random() % 2 ? scale_of(std::max(0.001, s.thresholds.subfile_threshold)) : t;

    const unsigned family = random() % 6;
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    switch (family) {
        case 0: {  // clusters of points within about a threshold of a few centres
            const std::size_t clusters = 1 + random() % 20;
            std::vector<point> centres;
            for (std::size_t k = 0; k < clusters; ++k) {
                const double spread = u * static_cast<double>(4 * clusters);
                centres.emplace_back(spread * unit(random), spread * unit(random), spread * unit(random));
            }
            for (std::size_t i = 0; i < n; ++i) s.vertices.push_back(jitter(random, centres[random() % clusters], u));
            break;
        }
        case 1: {  // straddling cell borders: multiples of powers of two near the cell width
            const double w = cell_width(u);
            for (std::size_t i = 0; i < n; ++i) {
                const double step = std::ldexp(w, static_cast<int>(random() % 5) - 2);
                const auto m = [&] { return static_cast<double>(static_cast<int>(random() % 7) - 3); };
                s.vertices.push_back(jitter(random, point(m() * step, m() * step, m() * step), u));
            }
            break;
        }
        case 2: {  // a lattice of a quarter threshold: exact threshold distances and exact ties
            const double step = (random() % 2 ? cell_width(u) : u) / 4;
            for (std::size_t i = 0; i < n; ++i) {
                const auto m = [&] { return static_cast<double>(static_cast<int>(random() % 13) - 6); };
                s.vertices.emplace_back(m() * step, m() * step, m() * step);
            }
            break;
        }
        case 3: {  // representatives drifting across cells as members join just inside range
            s.drift = true;
            s.drift_step = std::nextafter(u, 0.0) * (random() % 2 ? 1.0 : 0.999);
            for (std::size_t i = 0; i < n; ++i) s.vertices.push_back(jitter(random, point(), u));
            break;
        }
        case 4: {  // far apart: distances around the snap start distance 100000
            for (std::size_t i = 0; i < n; ++i) {
                const double spread = random() % 2 ? 1e6 : 2e5;
                s.vertices.emplace_back(spread * unit(random), spread * unit(random),
                                        random() % 2 ? 0.0 : spread * unit(random));
            }
            break;
        }
        default: {  // pairs exactly a threshold apart, split over the axes, and equidistant triples
            for (std::size_t i = 0; i < n; ++i) {
                const point c(u * static_cast<double>(random() % 50), u * static_cast<double>(random() % 3), 0.0);
                switch (random() % 3) {
                    case 0: s.vertices.push_back(c); break;
                    case 1: s.vertices.emplace_back(c.x + u, c.y, c.z); break;
                    default: s.vertices.emplace_back(c.x + u / 2, c.y + u / 2, c.z); break;
                }
            }
            break;
        }
    }
    // Non-finite, huge and subnormal coordinates among ordinary ones.
    if (random() % 3 == 0) {
        for (point& v : s.vertices) {
            if (random() % 10 == 0) (random() % 3 == 0 ? v.x : random() % 2 ? v.y : v.z) = special_value(random);
        }
    }
    // Queries: near the vertices, at the midpoints of pairs (ties), and special points.
    for (std::size_t k = 0; k < 40 && !s.vertices.empty(); ++k) {
        const point& a = s.vertices[random() % s.vertices.size()];
        const point& b = s.vertices[random() % s.vertices.size()];
        s.queries.push_back(jitter(random, a, u));
        s.queries.emplace_back((a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2);
        s.queries.emplace_back(special_value(random), a.y, a.z);
    }
    return s;
}

TEST(VertexSet, GridIndexGivesTheLinearResultsBitForBit) {
    std::mt19937_64 random(20240611);
    int failures = 0;
    for (int k = 0; k < 4000 && failures < 3; ++k) {
        const std::uint64_t seed = random();
        std::mt19937_64 local(seed);
        const scenario s = make_scenario(local);
        if (auto difference = run_both(s, local)) {
            ++failures;
            ADD_FAILURE() << "scenario " << k << " (seed " << seed << ", vertex threshold "
                          << s.thresholds.vertex_threshold << ", subfile threshold " << s.thresholds.subfile_threshold
                          << ", " << s.vertices.size() << " vertices): " << *difference;
        }
    }
}

// Every filed point that lies closer than r to the query is visited, also where the points sit
// one ulp either side of the cell borders and the radius equals the cell width.
TEST(VertexGrid, NeverMissesAPointInRangeAtCellBorders) {
    std::mt19937_64 random(7);
    const double radii[] = {0x1p-8, 0.005, 0.001, std::nextafter(0x1p-8, 1.0), 1e-12, min_subnormal, 1e5, 1e300, inf};
    for (const double r : radii) {
        vertex_grid grid(r);
        ASSERT_GE(grid.cell_width(), r);
        const double w = r == inf ? 1.0 : grid.cell_width();
        std::vector<point> points;
        for (int i = 0; i < 3000; ++i) {
            const auto near_border = [&] {
                const double border = w * static_cast<double>(static_cast<int>(random() % 7) - 3);
                switch (random() % 5) {
                    case 0: return border;
                    case 1: return std::nextafter(border, inf);
                    case 2: return std::nextafter(border, -inf);
                    case 3: return border + (random() % 2 ? r : -r) * 0.5;
                    default: return border + std::uniform_real_distribution<double>(-w, w)(random);
                }
            };
            // Some points so far out that the grid keys them by their bits.
            const double far = std::isfinite(0x1p70 * w) ? 0x1p70 * w : 0.0;
            points.emplace_back(near_border(), near_border(), random() % 4 ? near_border() : far);
            grid.insert(static_cast<std::uint32_t>(i), points.back());
        }
        for (const point& v : points) {
            const double radius = random() % 2 || r / 2 == 0 ? r : r / 2;
            std::vector<char> visited(points.size());
            grid.for_each_near(v, radius, [&](std::uint32_t id) { visited[id] = 1; });
            for (std::uint32_t id = 0; id < points.size(); ++id) {
                if (points[id].manhattan_distance(v) < radius) {
                    ASSERT_TRUE(visited[id]) << "radius " << radius << ": " << describe(points[id]) << " near "
                                             << describe(v) << " not visited";
                }
            }
        }
    }
}

unify_thresholds thresholds(double vertex, double subfile = 0.005) { return {vertex, subfile}; }

// The hand-made cases run on both searches.
class VertexSetRules : public testing::TestWithParam<vertex_search> {};

TEST_P(VertexSetRules, MergesIntoTheFirstRepresentativeInRangeAndAverages) {
    vertex_set set(thresholds(0.005), GetParam());
    set.add({0, 0, 0}, false);
    set.add({0.004, 0, 0}, false);
    set.add({0.008, 0, 0}, false);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set.representatives()[0].x, 0.002);
    EXPECT_EQ(set.sums(0).member_count, 2);
    EXPECT_EQ(set.representatives()[1].x, 0.008);
    point a(0, 0, 0), b(0.004, 0, 0), c(0.008, 0, 0);
    set.snap(a), set.snap(b), set.snap(c);
    EXPECT_EQ(a.x, 0.002);
    EXPECT_EQ(b.x, 0.002);
    EXPECT_EQ(c.x, 0.008);

    // Manhattan distance: 0.004 merges, 0.006 does not though each axis is within 0.005, and
    // exactly the threshold does not.
    vertex_set pairs(thresholds(0.005), GetParam());
    pairs.add({0, 0, 0}, false);
    pairs.add({0.002, 0.002, 0}, false);
    pairs.add({1, 0, 0}, false);
    pairs.add({1.003, 0.003, 0}, false);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs.representatives()[0].x, 0.001);
    EXPECT_EQ(pairs.representatives()[0].y, 0.001);
    vertex_set exact(thresholds(0.005), GetParam());
    exact.add({0, 0, 0}, false);
    exact.add({0.005, 0, 0}, false);
    EXPECT_EQ(exact.size(), 2u);

    // The first representative in range wins though a later one is nearer.
    vertex_set first(thresholds(0.005), GetParam());
    first.add({0, 0, 0}, false);
    first.add({0.006, 0, 0}, false);
    first.add({0.0045, 0, 0}, false);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first.sums(0).member_count, 2);
    EXPECT_EQ(first.representatives()[0].x, 0.00225);
    EXPECT_EQ(first.sums(1).member_count, 1);
}

TEST_P(VertexSetRules, SnapsOntoTheNearestEarliestOnTies) {
    // Representatives at 0 and 2^-7, a query at 2^-8: exactly equidistant.
    vertex_set set(thresholds(0.005), GetParam());
    set.add({0, 0, 0}, false);
    set.add({0x1p-7, 0, 0}, false);
    point tie(0x1p-8, 0, 0);
    set.snap(tie);
    EXPECT_EQ(tie.x, 0.0);

    vertex_set reversed(thresholds(0.005), GetParam());
    reversed.add({0x1p-7, 0, 0}, false);
    reversed.add({0, 0, 0}, false);
    point tie2(0x1p-8, 0, 0);
    reversed.snap(tie2);
    EXPECT_EQ(tie2.x, 0x1p-7);

    // Nearest, not first: the query is in range of both.
    point nearer(0.0045, 0, 0);
    set.snap(nearer);
    EXPECT_EQ(nearer.x, 0x1p-7);

    // Out of range of every representative: unchanged.
    point far(1, 0, 0);
    set.snap(far);
    EXPECT_EQ(far.x, 1.0);
}

TEST_P(VertexSetRules, ThresholdsOfZeroAndBelowDisableMergingAndSnapping) {
    for (const double t : {0.0, -1.0, -inf, nan}) {
        vertex_set set(thresholds(t), GetParam());
        set.add({0, 0, 0}, false);
        set.add({0, 0, 0}, false);
        EXPECT_EQ(set.size(), 2u) << t;
        point p(0, 0, 0);
        set.snap(p);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(p.x), 0u) << t;
        point q(1e-300, 0, 0);
        set.snap(q);
        EXPECT_EQ(q.x, 1e-300) << t;
    }
}

TEST_P(VertexSetRules, HugeAndInfiniteThresholds) {
    // Above 100000 the snap takes the first representative when none is nearer than 100000,
    // even though another one is nearer.
    vertex_set huge(thresholds(1e6), GetParam());
    huge.add({0, 0, 0}, false);
    huge.add({1e7, 0, 0}, false);
    huge.add({1e7 + 500000, 0, 0}, false);  // merges into the second: (1e7 + 250000, 0, 0)
    ASSERT_EQ(huge.size(), 2u);
    point p(1e7 + 400000, 0, 0);  // 150000 from the second, 1.04e7 from the first
    huge.snap(p);
    EXPECT_EQ(p.x, 1e7 + 400000);  // the first is taken and is out of range
    point q(600000, 0, 0);         // 600000 from the first: not nearer than 100000, first taken
    huge.snap(q);
    EXPECT_EQ(q.x, 0.0);

    // An infinite threshold merges every finite vertex into the first representative; an
    // infinite coordinate merges into nothing and snaps onto nothing.
    vertex_set all(thresholds(inf), GetParam());
    all.add({0, 0, 0}, false);
    all.add({1e300, 0, 0}, false);
    all.add({inf, 0, 0}, false);
    all.add({-4, 2, 0}, false);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all.sums(0).member_count, 3);
    EXPECT_EQ(all.representatives()[0].x, 1e300 / 3);
    EXPECT_EQ(all.representatives()[1].x, inf);
    point r(5, 5, 5);
    all.snap(r);
    EXPECT_EQ(r.x, 1e300 / 3);
    point s(inf, 0, 0);
    all.snap(s);
    EXPECT_EQ(s.x, inf);
}

TEST_P(VertexSetRules, SubfileRepresentativesStayAtTheirFirstVertex) {
    vertex_set set(thresholds(0.005, 0.005), GetParam());
    set.add({0, 0, 0}, true);
    set.add({0.0005, 0, 0}, true);  // within 0.001: merged without moving
    set.add({0.002, 0, 0}, true);   // 0.002 away: a target of its own
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set.representatives()[0].x, 0.0);
    EXPECT_EQ(set.sums(0).member_count, 1);
    point p(0.0009, 0, 0);
    set.snap(p);
    EXPECT_EQ(p.x, 0.0);
    point q(0.0061, 0, 0);  // 0.0041 from the second target
    set.snap(q);
    EXPECT_EQ(q.x, 0.002);

    // The general rule for mixed kinds: a main representative taken by a subfile vertex resets to
    // it; a main vertex merging into a subfile representative changes nothing.
    vertex_set mixed(thresholds(0.005, 0.005), GetParam());
    mixed.add({0, 0, 0}, false);
    mixed.add({0.002, 0, 0}, false);
    mixed.add({0.004, 0, 0}, true);
    ASSERT_EQ(mixed.size(), 1u);
    EXPECT_TRUE(mixed.representatives()[0].from_subfile);
    EXPECT_EQ(mixed.representatives()[0].x, 0.004);
    EXPECT_EQ(mixed.sums(0).member_count, 1);
    mixed.add({0.0045, 0, 0}, false);
    EXPECT_EQ(mixed.representatives()[0].x, 0.004);
    ASSERT_EQ(mixed.size(), 1u);
    mixed.add({0.0055, 0, 0}, false);  // 0.0015 away: beyond the subfile merge distance
    EXPECT_EQ(mixed.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(BothSearches, VertexSetRules, testing::Values(vertex_search::linear, vertex_search::indexed),
                         [](const testing::TestParamInfo<vertex_search>& search) {
                             return search.param == vertex_search::linear ? "linear" : "indexed";
                         });

}  // namespace
}  // namespace weldrix
