#include "document/geometry_check.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <utility>

#include "document/side_by_side.hpp"
#include "elements/polygon_lines.hpp"
#include "elements/removed_line.hpp"
#include "elements/split_quad_line.hpp"
#include "geometry/polygon_faults.hpp"

namespace weldrix {

const char* geometry_fault_name(geometry_fault_kind kind) {
    switch (kind) {
        case geometry_fault_kind::identical: return "identical";
        case geometry_fault_kind::collinear: return "collinear";
        case geometry_fault_kind::concave: return "concave";
        case geometry_fault_kind::bowtie: return "bowtie";
        case geometry_fault_kind::warped: return "warped";
        case geometry_fault_kind::warped_1: return "warped-1";
    }
    return "";
}

namespace {

bool is_geometry(line_type type) {
    return type == line_type::edge || type == line_type::triangle || type == line_type::quad ||
           type == line_type::conditional;
}

// The points the identical test compares: the ends only of a conditional line.
std::span<const point> key_points(const ldraw_line& line) {
    const std::span<const point> points = line.vertices();
    return line.type_code() == line_type::conditional ? points.first(2) : points;
}

std::uint64_t bits_of(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdull;
}

// A line as the identical test sees it: its type, colour and written corners in a fixed order.
struct line_key {
    line_type type = line_type::none;
    line_colour colour;
    std::size_t count = 0;
    std::array<point, 4> corners{};

    bool operator==(const line_key& other) const {
        if (type != other.type || count != other.count || !(colour == other.colour)) return false;
        for (std::size_t k = 0; k < count; ++k) {
            const point &a = corners[k], &b = other.corners[k];
            if (!(a.x == b.x && a.y == b.y && a.z == b.z)) return false;
        }
        return true;
    }
    std::uint64_t hash() const {
        std::uint64_t h = mix(static_cast<std::uint64_t>(type), static_cast<std::uint32_t>(colour.number()));
        h = mix(h, std::hash<std::string_view>()(colour.direct_text()));
        for (std::size_t k = 0; k < count; ++k) {
            // 0 and -0 are equal and hash alike (written values have no -0, but be safe).
            h = mix(mix(mix(h, bits_of(corners[k].x + 0.0)), bits_of(corners[k].y + 0.0)), bits_of(corners[k].z + 0.0));
        }
        return h;
    }
};

bool before(const point& a, const point& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    return a.z < b.z;
}

line_key make_key(line_type type, const line_colour& colour, std::span<const point> corners) {
    line_key key;
    key.type = type;
    key.colour = colour;
    key.count = corners.size();
    for (std::size_t k = 0; k < corners.size(); ++k) {
        // Insertion sort: a NaN (never equal to anything) only leaves the order arbitrary.
        point p = written_point(corners[k]);
        std::size_t at = k;
        while (at > 0 && before(p, key.corners[at - 1])) {
            key.corners[at] = key.corners[at - 1];
            --at;
        }
        key.corners[at] = p;
    }
    return key;
}

// A hash that lines with the same key always share, worked out from three written values: written
// values keep the order of the values (rounding is monotonic), so the least written x of the
// corners is the written value of their least x. Most lines are no candidate by it.
std::uint64_t prefilter_of_least(line_type type, std::int32_t colour, double x, double y, double z) {
    const std::uint64_t h = mix(static_cast<std::uint64_t>(type), static_cast<std::uint32_t>(colour));
    return mix(mix(mix(h, bits_of(x + 0.0)), bits_of(y + 0.0)), bits_of(z + 0.0));
}

// The least coordinates of corners, each taken with the same comparisons, so that the least of
// written values is bit for bit the written value of the least (a NaN stays where it is met, and
// written values keep NaN; zeros hash alike).
point least(std::span<const point> corners) {
    double x = corners[0].x, y = corners[0].y, z = corners[0].z;
    for (const point& p : corners.subspan(1)) {
        x = p.x < x ? p.x : x;
        y = p.y < y ? p.y : y;
        z = p.z < z ? p.z : z;
    }
    return {x, y, z};
}

// A line's prefilter hash, and the least written x it starts from: a line whose least written x is
// that of no changed line is no candidate, found with one written value instead of three.
struct prefilter_value {
    std::uint64_t hash;
    double x;
};

std::uint64_t mix64(std::uint64_t h) {
    h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdull;
    h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 33);
}

// The hash of a least written x (the bits of a double are no hash: whole numbers end in zeros).
std::uint64_t x_hash(double x) { return mix64(bits_of(x + 0.0)); }

// The prefilter of a line's corners as held (three written values).
prefilter_value prefilter(line_type type, std::int32_t colour, std::span<const point> corners) {
    const point m = least(corners);
    const double x = written_value(m.x);
    return {prefilter_of_least(type, colour, x, written_value(m.y), written_value(m.z)), x};
}

// The same from corners already written (written_point): no value is written again.
prefilter_value prefilter_written(line_type type, std::int32_t colour, std::span<const point> written) {
    const point m = least(written);
    return {prefilter_of_least(type, colour, m.x, m.y, m.z), m.x};
}

template <std::size_t N>
std::array<point, N> written_corners(std::span<const point> q) {
    std::array<point, N> out{};
    for (std::size_t k = 0; k < N; ++k) out[k] = written_point(q[k]);
    return out;
}

polygon_fault fault_of(std::span<const point> q) {
    if (q.size() == 3) return classify_polygon(written_corners<3>(q)).fault;
    return classify_polygon(written_corners<4>(q)).fault;
}

geometry_fault_kind kind_of(polygon_fault fault) {
    switch (fault) {
        case polygon_fault::collinear: return geometry_fault_kind::collinear;
        case polygon_fault::concave: return geometry_fault_kind::concave;
        case polygon_fault::bowtie: return geometry_fault_kind::bowtie;
        case polygon_fault::warped: return geometry_fault_kind::warped;
        case polygon_fault::warped_1: return geometry_fault_kind::warped_1;
        case polygon_fault::none: break;
    }
    return geometry_fault_kind::identical;
}

// The written points of the corners of changed lines, each worked out once: the changed lines of a
// part share their moved corners (a snap target serves every line that meets there), and writing a
// point's three values costs several times a lookup. Bounded: once full it starts afresh, so that
// a run that changes every line of a large part does not keep a table of all its points.
class written_points {
public:
    point of(const point& p) {
        key k;
        std::memcpy(k.bits, &p, sizeof k.bits);
        if (2 * (count_ + 1) > slots_.size()) {
            if (slots_.size() < most_slots) {
                grow();
            } else {
                std::fill(slots_.begin(), slots_.end(), slot{});
                count_ = 0;
            }
        }
        slot& s = slots_[find(k)];
        if (!s.used) {
            s = {k, written_point(p), true};
            ++count_;
        }
        return s.written;
    }

private:
    static constexpr std::size_t most_slots = std::size_t{1} << 16;
    struct key {
        std::uint64_t bits[3];
        bool operator==(const key& o) const {
            return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
        }
    };
    struct slot {
        key k;
        point written;
        bool used;
    };
    // The slot of k, or the free slot where it goes.
    std::size_t find(const key& k) const {
        std::uint64_t h = k.bits[0] * 0x9e3779b97f4a7c15ull ^ k.bits[1] * 0xc2b2ae3d27d4eb4full ^ k.bits[2];
        h = (h ^ (h >> 29)) * 0xbf58476d1ce4e5b9ull;
        h ^= h >> 32;
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i].used && !(slots_[i].k == k)) i = (i + 1) & mask;
        return i;
    }
    void grow() {
        std::vector<slot> old(slots_.empty() ? 64 : 2 * slots_.size(), slot{});
        old.swap(slots_);
        for (const slot& s : old) {
            if (s.used) slots_[find(s.k)] = s;
        }
    }
    std::vector<slot> slots_;
    std::size_t count_ = 0;
};

// A set of 64-bit hashes in one array (open addressing): a run that changes most of a large part's
// lines puts a million of them in it, which node-based sets make several times slower. It grows
// (doubling) when it is half full. A hash picks its first slot by its bits mixed once more: the
// prefilter hashes of lines whose corners are whole numbers share their low bits (their last
// multiplication carries nothing down into them), and slots picked by those bits alone filled in
// long runs that every lookup walked, quadratic in the lines of a regular grid.
class hash_set {
public:
    void reserve(std::size_t n) {
        std::size_t capacity = 16;
        while (capacity < 2 * n) capacity *= 2;
        if (capacity <= slots_.size()) return;
        std::vector<std::uint64_t> old(capacity, 0);
        old.swap(slots_);
        for (const std::uint64_t h : old) {
            if (h != 0) place(h);
        }
    }
    void insert(std::uint64_t h) {
        h = h ? h : 1;  // 0 marks a free slot
        if (2 * (count_ + 1) > slots_.size()) reserve(count_ + 1);
        if (place(h)) ++count_;
    }
    bool contains(std::uint64_t h) const {
        if (slots_.empty()) return false;
        h = h ? h : 1;
        for (std::size_t i = first_slot(h);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == h) return true;
            if (slots_[i] == 0) return false;
        }
    }

private:
    // Puts h (not 0) in its slot; false when it was there.
    std::size_t first_slot(std::uint64_t h) const { return static_cast<std::size_t>(mix64(h)) & (slots_.size() - 1); }
    bool place(std::uint64_t h) {
        for (std::size_t i = first_slot(h);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == h) return false;
            if (slots_[i] == 0) {
                slots_[i] = h;
                return true;
            }
        }
    }

    std::vector<std::uint64_t> slots_;
    std::size_t count_ = 0;
};

// The range of values a value lies in: the top 28 bits of the double, 2^-16 of a binade, which
// keep the order of the values of one sign (the bits grow with the magnitude).
constexpr std::uint32_t no_range = UINT32_MAX;
std::uint32_t range_of(double v) { return static_cast<std::uint32_t>(bits_of(v) >> 36); }
int exponent_of(std::uint32_t range) { return static_cast<int>((range >> 16) & 0x7ff); }
constexpr int tiny_exponent = 127;  // ranges below 2^-896 (about 1.9e-270) are tiny

// The ranges of values that may be written as the least written x of a changed line, told from
// the value as read without writing it: most lines of a large part are left as they were, and
// this spares writing a value of each. A value written as w lies within half a unit of the seventh
// digit of w, at most half a millionth of |w|, so the ranges [w - 4e-6 |w|, w + 4e-6 |w|] meets,
// and one more on each side, hold every such value. Below 1e-269, where a margin of 4e-6 |w| may
// be no longer a double, a flag covers every tiny range, and another every range of infinities
// and NaN. False only for a value that is written as no changed line's least x.
class x_filter {
public:
    void add(double w) {
        if (!std::isfinite(w)) {
            odd_ = true;
            return;
        }
        if (std::fabs(w) < 1e-269) tiny_ = true;
        if (std::fabs(w) >= 1e-300) {
            std::uint32_t low = range_of(w - 4e-6 * std::fabs(w)), high = range_of(w + 4e-6 * std::fabs(w));
            if (low > high) std::swap(low, high);  // negative values: the bits grow as they fall
            for (std::uint32_t r = low - 1; r <= high + 1; ++r) ranges_.insert(mix64(r));
        }
    }
    bool may_be_written_as_one(std::uint32_t range) const {
        const int exponent = exponent_of(range);
        if (exponent == 0x7ff) return odd_;
        if (exponent < tiny_exponent && tiny_) return true;
        return ranges_.contains(mix64(range));
    }

private:
    hash_set ranges_;
    bool tiny_ = false, odd_ = false;
};

// Whether points are written as others, by a test of two coordinates that are not the same bits:
// a line whose corners moved below the seven digits written is written as it was read.
template <class Alike>
bool points_alike(std::span<const point> a, std::span<const point> b, Alike&& alike) {
    if (a.size() != b.size()) return false;
    // Most coordinates of a moved line did not move: those need no test.
    const auto same = [&](double u, double v) { return bits_of(u) == bits_of(v) || alike(u, v); };
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (!same(a[k].x, b[k].x) || !same(a[k].y, b[k].y) || !same(a[k].z, b[k].z)) return false;
    }
    return true;
}

// What --fix does with a triangle or quad of this verdict.
geometry_repair repair_of(line_type type, polygon_verdict verdict) {
    if (type == line_type::triangle) {
        return verdict.fault == polygon_fault::collinear ? geometry_repair::remove : geometry_repair::none;
    }
    switch (verdict.fault) {
        case polygon_fault::concave:
            return verdict.straight_corner >= 0 ? geometry_repair::triangle : geometry_repair::split;
        case polygon_fault::warped:
        case polygon_fault::warped_1: return geometry_repair::split;
        default: return geometry_repair::none;
    }
}

// The repair of a quad or triangle with an introduced fault, or null when it is not repaired.
std::unique_ptr<ldraw_line> repair(const ldraw_line& line, polygon_verdict verdict) {
    const std::span<const point> q = line.vertices();
    const geometry_repair what = repair_of(line.type_code(), verdict);
    if (what == geometry_repair::none) return nullptr;
    if (what == geometry_repair::remove) return std::make_unique<removed_line>();
    const line_colour colour = line.colour();
    if (what == geometry_repair::triangle) {
        // The other three corners in their order, as a quad whose corner collapsed becomes.
        std::array<point, 3> kept;
        std::size_t n = 0;
        for (int k = 0; k < 4; ++k) {
            if (k != verdict.straight_corner) kept[n++] = q[static_cast<std::size_t>(k)];
        }
        return std::make_unique<triangle_line>(kept[0], kept[1], kept[2], colour);
    }
    if (choose_split(written_corners<4>(q)) == quad_split::a) {
        return std::make_unique<split_quad_line>(triangle_line(q[0], q[1], q[2], colour),
                                                 triangle_line(q[0], q[2], q[3], colour));
    }
    return std::make_unique<split_quad_line>(triangle_line(q[0], q[1], q[3], colour),
                                             triangle_line(q[1], q[2], q[3], colour));
}

}  // namespace

void geometry_input::before(const ldraw_line& line) {
    held_type_ = line.type_code();
    held_count_ = 0;
    if (!is_geometry(held_type_)) return;
    const std::span<const point> p = key_points(line);
    held_count_ = p.size();
    std::copy(p.begin(), p.end(), held_.begin());
}

bool geometry_input::alike(std::span<const point> now, std::span<const point> as_read) {
    return points_alike(now, as_read, [&](double u, double v) {
        const std::uint64_t bu = bits_of(u), bv = bits_of(v);
        memo_entry& e = memo_[mix(bu, bv) >> 56];
        if (e.now != bu || e.as_read != bv) e = {bu, bv, written_alike(u, v)};
        return e.alike;
    });
}

namespace {

constexpr double tens[10] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// d with d / 10^k giving v's bits, when there is one of 32 bits.
bool decimal_of(double v, unsigned k, std::int32_t& d) {
    const double scaled = v * tens[k];
    if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return false;  // NaN too
    // Any integer near scaled will do: the division decides.
    const auto near = static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    if (near < INT32_MIN || near > INT32_MAX) return false;
    d = static_cast<std::int32_t>(near);
    return bits_of(static_cast<double>(d) / tens[k]) == bits_of(v);
}

}  // namespace

bool geometry_input::as_decimals(std::uint32_t* out, unsigned& k) {
    static_assert(sizeof(point) == 3 * sizeof(double));
    double values[12];
    const std::size_t n = 3 * held_count_;
    std::memcpy(values, held_.data(), held_count_ * sizeof(point));
    const auto all_with = [&](unsigned with) {
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t d;
            if (!decimal_of(values[i], with, d)) return false;
            out[i] = static_cast<std::uint32_t>(d);
        }
        return true;
    };
    if (all_with(last_decimals_)) {
        k = last_decimals_;
        return true;
    }
    // The least k that serves each value serves every larger k too (d times a power of ten over
    // that power is the same number), while d fits: the largest of them, if any, serves all.
    unsigned most = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::int32_t d;
        unsigned with = 0;
        while (with < 10 && !decimal_of(values[i], with, d)) ++with;
        if (with == 10) return false;
        most = std::max(most, with);
    }
    if (!all_with(most)) return false;
    k = last_decimals_ = most;
    return true;
}

void geometry_input::after(std::size_t position, const ldraw_line& line) {
    if (!is_geometry(held_type_)) return;
    // Most moved lines moved below what is written (a snap of 4.5 onto 4.500000000001): they are
    // written as read, and need no record.
    const bool unchanged_text = alike(key_points(line), {held_.data(), held_count_});
    if (line.type_code() == held_type_ && unchanged_text) {
        if (position >= least_x_.size()) least_x_.resize(position + 1, no_range);
        least_x_[position] = range_of(least(key_points(line)).x);
        return;
    }
    assert(positions_.empty() || positions_.back() < position);
    if (position > UINT32_MAX) throw std::bad_alloc();  // 32-bit positions, as change_record's
    constexpr std::size_t most_words = 4 * sizeof(point) / sizeof(std::uint32_t);
    if (used_ + most_words > last_size_) {
        // Small blocks first: most files record a few lines, and a block is cleared when made.
        last_size_ = std::min(most_block_words, std::size_t{256} << std::min<std::size_t>(blocks_.size(), 6));
        blocks_.push_back(std::make_unique<std::uint32_t[]>(last_size_));
        used_ = 0;
    }
    std::uint32_t* const out = &blocks_.back()[used_];
    unsigned k = 0;
    const bool doubles = !as_decimals(out, k);
    const std::size_t words = doubles ? held_count_ * sizeof(point) / sizeof(std::uint32_t) : 3 * held_count_;
    if (doubles) std::memcpy(out, held_.data(), held_count_ * sizeof(point));
    const std::uint64_t start = (blocks_.size() - 1) << block_bits | used_;
    used_ += words;
    positions_.push_back(static_cast<std::uint32_t>(position));
    starts_.push_back(start << 9 | (unchanged_text ? 256u : 0u) | k << 4 | (doubles ? 8u : 0u) | held_count_);
}

void geometry_input::append(geometry_input&& later) {
    assert(positions_.empty() || later.positions_.empty() || positions_.back() < later.positions_.front());
    // Its blocks follow these, and its lines' starts name them by their new numbers.
    const std::uint64_t moved_by = static_cast<std::uint64_t>(blocks_.size()) << block_bits << 9;
    if (!later.blocks_.empty()) {
        for (std::unique_ptr<std::uint32_t[]>& block : later.blocks_) blocks_.push_back(std::move(block));
        last_size_ = later.last_size_;
        used_ = later.used_;
    }
    positions_.insert(positions_.end(), later.positions_.begin(), later.positions_.end());
    starts_.reserve(starts_.size() + later.starts_.size());
    for (const std::uint64_t s : later.starts_) starts_.push_back(s + moved_by);
    // Its ranges are of its own positions, after these: below them it holds no_range.
    if (later.least_x_.size() > least_x_.size()) {
        std::copy(least_x_.begin(), least_x_.end(), later.least_x_.begin());
        least_x_ = std::move(later.least_x_);
    }
    later = geometry_input();
}

std::size_t geometry_input::first_at(std::size_t position) const {
    return static_cast<std::size_t>(std::lower_bound(positions_.begin(), positions_.end(), position) -
                                    positions_.begin());
}

read_points geometry_input::points(std::size_t k) const {
    const std::uint64_t s = starts_[k];
    const std::uint64_t start = s >> 9;
    const std::uint32_t* const words = &blocks_[start >> block_bits][start & (most_block_words - 1)];
    read_points read;
    read.count = static_cast<std::size_t>(s & 7);
    double values[12];
    if (s & 8) {
        std::memcpy(values, words, read.count * sizeof(point));
    } else {
        const double ten = tens[(s >> 4) & 15];
        for (std::size_t i = 0; i < 3 * read.count; ++i)
            values[i] = static_cast<double>(static_cast<std::int32_t>(words[i])) / ten;
    }
    for (std::size_t j = 0; j < read.count; ++j) read.p[j] = {values[3 * j], values[3 * j + 1], values[3 * j + 2]};
    return read;
}

std::optional<read_points> geometry_input::changed(std::size_t position) const {
    const std::size_t k = first_at(position);
    if (k == positions_.size() || positions_[k] != position) return std::nullopt;
    return points(k);
}

void check_geometry(std::vector<std::unique_ptr<ldraw_line>>& elements, const document_unit& unit,
                    const geometry_input& input, const std::vector<std::size_t>& line_numbers,
                    const clean_options& options, std::vector<geometry_fault>& faults) {
    assert(unit.begin <= unit.end && unit.end <= elements.size());
    const auto line_of = [&](std::size_t position) {
        return position < line_numbers.size() ? line_numbers[position] : position + 1;
    };
    const std::size_t first_fault = faults.size();

    // Each written line that is not its input: its own fault, and its repair. The prefilter hash of
    // a changed line that stays as it is is kept (own_hashes, by position), from the corners its
    // classification wrote, so that no value of it is written twice.
    std::vector<prefilter_value> changed_hashes;  // prefilters of the lines changed
    std::vector<std::uint64_t> own_hashes;        // by position from unit.begin; 0: work it out
    std::vector<std::uint32_t> changed_at;        // or, sorted, the positions of those lines, in order
    std::size_t changed_count = 0;                // of those lines (a split quad's halves apart)
    // The ranges pay only where most lines are unchanged; where many changed (a jittered mesh)
    // every line is looked at, as the filter would pass most, and the lines are sorted by their
    // prefilter hashes rather than looked up by them in sets of a million.
    const std::size_t first_changed = input.first_at(unit.begin), end_changed = input.first_at(unit.end);
    const bool by_range = (end_changed - first_changed) * 8 < unit.end - unit.begin;
    const identical_search how = options.identical;
    const bool sorted = how == identical_search::sorted || (how == identical_search::chosen && !by_range);
    if (first_changed < end_changed) own_hashes.assign(unit.end - unit.begin, 0);
    // What the changed lines [from, to) found, in line order: faults, and the changed lines noted.
    struct found_own {
        std::vector<geometry_fault> faults;
        std::vector<prefilter_value> hashes;
        std::vector<std::uint32_t> at;
        std::size_t count = 0;
    };
    const auto own_faults = [&](std::size_t from, std::size_t to, found_own& found) {
        written_points moved;  // the written corners of the changed polygons
        // A changed line at p, whose prefilter hash (given by hash_of) only the sets need.
        const auto note = [&](std::size_t p, auto&& hash_of) {
            ++found.count;
            if (sorted) {
                found.at.push_back(static_cast<std::uint32_t>(p));
            } else {
                found.hashes.push_back(hash_of());
            }
        };
        // Only the lines the unification changed: the others are as they were read.
        for (std::size_t c = from; c < to; ++c) {
            const std::size_t p = input.position(c);
            std::unique_ptr<ldraw_line>& element = elements[p];
            const line_type type = element->type_code();
            if (!is_geometry(type)) continue;
            const std::span<const point> now = key_points(*element);
            // A line whose corners moved below the seven digits written is written as it was read:
            // it has the faults it had, and is identical to the lines it was identical to (the test
            // of an unchanged line). Only a line whose type changed is recorded so.
            if (input.written_as_read(c)) continue;
            std::array<point, 4> written{};
            for (std::size_t k = 0; k < now.size(); ++k) written[k] = moved.of(now[k]);
            if (type == line_type::triangle || type == line_type::quad) {
                const std::span<const point> corners(written.data(), now.size());
                const polygon_verdict verdict = classify_polygon(corners);
                bool repaired = false;
                if (verdict.fault != polygon_fault::none &&
                    fault_introduced(fault_of(input.points(c).view()), verdict.fault)) {
                    geometry_fault fault{line_of(p), p,    kind_of(verdict.fault),  0,
                                         false,      type, repair_of(type, verdict)};
                    if (options.fix) {
                        if (std::unique_ptr<ldraw_line> repair_line = repair(*element, verdict)) {
                            element = std::move(repair_line);
                            fault.fixed = true;
                            repaired = true;
                        }
                    }
                    found.faults.push_back(fault);
                }
                if (!repaired) {
                    const prefilter_value h = prefilter_written(type, element->colour().number(), corners);
                    note(p, [&] { return h; });
                    own_hashes[p - unit.begin] = h.hash;
                    continue;
                }
            }
            if (element->type_code() == line_type::removed) continue;
            const ldraw_line* const halves[2] = {element.get(), element->continued()};
            for (const ldraw_line* half : halves) {
                if (half)
                    note(p, [&] { return prefilter(half->type_code(), half->colour().number(), key_points(*half)); });
            }
        }
    };
    // Each line's test touches only the line: many changed lines are tested in two halves side by
    // side, their findings joined in line order.
    found_own first, second;
    const bool own_in_halves =
        end_changed - first_changed >= options.snap_halves_from && end_changed - first_changed >= 2;
    const std::size_t own_middle = own_in_halves ? first_changed + (end_changed - first_changed) / 2 : end_changed;
    side_by_side(
        own_in_halves, [&] { own_faults(first_changed, own_middle, first); },
        [&] { own_faults(own_middle, end_changed, second); });
    for (found_own* found : {&first, &second}) {
        faults.insert(faults.end(), found->faults.begin(), found->faults.end());
        changed_count += found->count;
    }
    changed_hashes = std::move(first.hashes);
    changed_hashes.insert(changed_hashes.end(), second.hashes.begin(), second.hashes.end());
    changed_at = std::move(first.at);
    changed_at.insert(changed_at.end(), second.at.begin(), second.at.end());
    second = {};
    const std::size_t own_end = faults.size();

    // Lines made identical: only a line with the prefilter hash of a changed line can be identical
    // to one it was not identical to as read (two unchanged lines are as they were), and only when
    // another line has that hash too (lines with the same key have the same prefilter hash).
    if (changed_count != 0) {
        // Every candidate line with the hash of its key, in line order; sorted by hash, lines with
        // the same key stand together in line order, and only those are compared in full.
        struct candidate {
            std::uint64_t hash;
            std::size_t position;
            std::uint32_t order;
            std::uint8_t half;
        };
        std::vector<candidate> candidates;
        const auto written_line = [&](const candidate& c) -> const ldraw_line& {
            const ldraw_line& element = *elements[c.position];
            return c.half == 0 ? element : *element.continued();
        };
        const auto key_of = [&](const candidate& c) {
            const ldraw_line& line = written_line(c);
            return make_key(line.type_code(), line.colour(), key_points(line));
        };
        const auto input_key = [&](std::size_t position) {
            const ldraw_line& element = *elements[position];
            const std::optional<read_points> was = input.changed(position);
            const std::span<const point> as_read = was ? was->view() : key_points(element);
            const line_type type = as_read.size() == 4   ? line_type::quad
                                   : as_read.size() == 3 ? line_type::triangle
                                                         : element.type_code();
            return make_key(type, element.colour(), as_read);
        };
        // The prefilter hash of the line at p (of its half h), its own when the first loop kept it.
        const auto hash_of = [&](const ldraw_line& line, std::size_t p, std::uint8_t h) {
            const std::uint64_t own = own_hashes.empty() || h > 0 ? 0 : own_hashes[p - unit.begin];
            if (own != 0) return own;
            const point m = least(key_points(line));
            return prefilter_of_least(line.type_code(), line.colour().number(), written_value(m.x), written_value(m.y),
                                      written_value(m.z));
        };
        if (sorted) {
            // Every geometry line (each half of a split quad) with its prefilter hash, in line
            // order, and whether it is a changed one. The candidates are the lines of a hash that
            // more than one line has, a changed one among them: the lines whose hash is in the set
            // of the changed lines' and that share it.
            struct entry {
                std::uint64_t hash;
                std::uint32_t position;
                std::uint32_t order;  // (position - unit.begin) << 2 | half << 1 | changed
            };
            if (unit.end - unit.begin >= (std::size_t{1} << 30)) throw std::bad_alloc();
            // The entries of the lines [from, to), in line order.
            const auto entries_of = [&](std::size_t from, std::size_t to, std::vector<entry>& entries) {
                std::size_t next_changed = input.first_at(from);
                std::size_t next_at = static_cast<std::size_t>(
                    std::lower_bound(changed_at.begin(), changed_at.end(), static_cast<std::uint32_t>(from)) -
                    changed_at.begin());
                for (std::size_t p = from; p < to; ++p) {
                    if (next_changed < input.size() && input.position(next_changed) == p) {
                        ++next_changed;
                    } else if (input.least_x_range(p) == no_range) {
                        continue;
                    }
                    const ldraw_line& element = *elements[p];
                    if (!is_geometry(element.type_code())) continue;
                    bool changed = false;
                    for (; next_at < changed_at.size() && changed_at[next_at] <= p; ++next_at) changed = true;
                    const ldraw_line* halves[2] = {&element, element.continued()};
                    for (std::uint8_t h = 0; h < 2 && halves[h]; ++h) {
                        const auto order =
                            static_cast<std::uint32_t>((p - unit.begin) << 2 | std::size_t{h} << 1 | changed);
                        entries.push_back({hash_of(*halves[h], p, h), static_cast<std::uint32_t>(p), order});
                    }
                }
            };
            // In hash order (and line order within a hash): filed by the top 16 bits of their hash,
            // then each bucket (a dozen entries for a million) sorted apart. A long unit's lines
            // are taken, filed and sorted in halves side by side: each half files its entries at
            // its own places, after the first half's in each bucket.
            const bool in_halves = unit.end - unit.begin >= options.snap_halves_from && unit.end - unit.begin >= 2;
            const std::size_t middle = in_halves ? unit.begin + (unit.end - unit.begin) / 2 : unit.end;
            std::vector<entry> early, late;
            early.reserve(middle - unit.begin);
            late.reserve(unit.end - middle);
            constexpr std::size_t buckets = std::size_t{1} << 16;
            // Per bucket, the entries of each half: counted as they are taken, then where each half
            // files its next one, and once filed where the bucket ends (late_ends only in halves).
            std::vector<std::uint32_t> early_ends(buckets, 0), late_ends(in_halves ? buckets : 0, 0);
            const auto take = [&](std::size_t from, std::size_t to, std::vector<entry>& entries,
                                  std::vector<std::uint32_t>& counts) {
                entries_of(from, to, entries);
                for (const entry& e : entries) ++counts[e.hash >> 48];
            };
            side_by_side(
                in_halves, [&] { take(unit.begin, middle, early, early_ends); },
                [&] { take(middle, unit.end, late, late_ends); });
            own_hashes = {};
            changed_at = {};
            std::vector<entry> entries(early.size() + late.size());
            std::uint32_t start = 0;
            for (std::size_t b = 0; b < buckets; ++b) {
                const std::uint32_t n_early = early_ends[b];
                early_ends[b] = start;
                start += n_early;
                if (in_halves) start += std::exchange(late_ends[b], start);
            }
            const auto file = [&](const std::vector<entry>& from, std::vector<std::uint32_t>& ends) {
                for (const entry& e : from) entries[ends[e.hash >> 48]++] = e;
            };
            side_by_side(
                in_halves, [&] { file(early, early_ends); }, [&] { file(late, late_ends); });
            early = {};
            late = {};
            const std::vector<std::uint32_t>& ends = in_halves ? late_ends : early_ends;
            const auto sort_buckets = [&](std::size_t from_bucket, std::size_t to_bucket) {
                for (std::size_t b = from_bucket; b < to_bucket; ++b) {
                    std::sort(entries.begin() + (b == 0 ? 0 : ends[b - 1]), entries.begin() + ends[b],
                              [](const entry& a, const entry& e) {
                                  return a.hash != e.hash ? a.hash < e.hash : a.order < e.order;
                              });
                }
            };
            side_by_side(
                in_halves, [&] { sort_buckets(0, buckets / 2); }, [&] { sort_buckets(buckets / 2, buckets); });
            for (std::size_t run = 0; run < entries.size();) {
                std::size_t run_end = run + 1;
                bool changed = entries[run].order & 1;
                for (; run_end < entries.size() && entries[run_end].hash == entries[run].hash; ++run_end)
                    changed |= entries[run_end].order & 1;
                if (changed && run_end - run > 1) {
                    for (std::size_t e = run; e < run_end; ++e)
                        candidates.push_back({entries[e].hash, entries[e].position, entries[e].order >> 1,
                                              static_cast<std::uint8_t>((entries[e].order >> 1) & 1)});
                }
                run = run_end;
            }
        } else {
            hash_set changed, changed_x;
            x_filter changed_raw_x;
            changed.reserve(changed_count);
            changed_x.reserve(changed_count);
            for (const prefilter_value& h : changed_hashes) {
                changed.insert(h.hash);
                changed_x.insert(x_hash(h.x));
                if (by_range) changed_raw_x.add(h.x);
            }
            changed_hashes = {};
            // First the candidates by their prefilter hash (kept in hash for now), and which hashes
            // more than one of them has.
            hash_set seen, repeated;
            seen.reserve(changed_count);
            std::size_t next_changed = input.first_at(unit.begin);
            for (std::size_t p = unit.begin; p < unit.end; ++p) {
                // A line written as read is first told by the range of its least x, kept as it was
                // unified: most are no candidate, found without a look at them.
                if (next_changed < input.size() && input.position(next_changed) == p) {
                    ++next_changed;
                } else {
                    const std::uint32_t range = input.least_x_range(p);
                    if (range == no_range || (by_range && !changed_raw_x.may_be_written_as_one(range))) continue;
                }
                const ldraw_line& element = *elements[p];
                if (!is_geometry(element.type_code())) continue;
                const ldraw_line* halves[2] = {&element, element.continued()};
                for (std::uint8_t h = 0; h < 2 && halves[h]; ++h) {
                    const ldraw_line& line = *halves[h];
                    const std::uint64_t own = own_hashes.empty() || h > 0 ? 0 : own_hashes[p - unit.begin];
                    std::uint64_t hash = own;
                    if (hash == 0) {
                        const point m = least(key_points(line));
                        const double x = written_value(m.x);
                        if (!changed_x.contains(x_hash(x))) continue;
                        hash = prefilter_of_least(line.type_code(), line.colour().number(), x, written_value(m.y),
                                                  written_value(m.z));
                    }
                    if (!changed.contains(hash)) continue;
                    if (candidates.size() >= UINT32_MAX) throw std::bad_alloc();
                    if (seen.contains(hash)) {
                        repeated.insert(hash);
                    } else {
                        seen.insert(hash);
                    }
                    candidates.push_back({hash, p, static_cast<std::uint32_t>(candidates.size()), h});
                }
            }
            own_hashes = {};
            // A candidate alone with its prefilter hash is identical to no line; the others get the
            // hash of their whole key.
            std::erase_if(candidates, [&](const candidate& c) { return !repeated.contains(c.hash); });
        }
        for (candidate& c : candidates) c.hash = key_of(c).hash();
        std::sort(candidates.begin(), candidates.end(), [](const candidate& a, const candidate& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.order < b.order;
        });
        struct made_identical {
            std::size_t position, partner;
            std::uint32_t order;
            std::uint8_t half;
        };
        std::vector<made_identical> found;
        for (std::size_t run = 0; run < candidates.size();) {
            std::size_t run_end = run + 1;
            while (run_end < candidates.size() && candidates[run_end].hash == candidates[run].hash) ++run_end;
            // Each line of the run against the first earlier one of the same key.
            for (std::size_t k = run + 1; k < run_end; ++k) {
                const line_key key = key_of(candidates[k]);
                for (std::size_t e = run; e < k; ++e) {
                    if (!(key_of(candidates[e]) == key)) continue;
                    const std::size_t p = candidates[k].position, partner = candidates[e].position;
                    // Identical as read: not this run's doing.
                    if (!(input_key(p) == input_key(partner)))
                        found.push_back({p, partner, candidates[k].order, candidates[k].half});
                    break;
                }
            }
            run = run_end;
        }
        candidates = {};
        std::sort(found.begin(), found.end(),
                  [](const made_identical& a, const made_identical& b) { return a.order < b.order; });
        for (std::size_t f = 0; f < found.size(); ++f) {
            const made_identical& m = found[f];
            const ldraw_line& line = m.half == 0 ? *elements[m.position] : *elements[m.position]->continued();
            faults.push_back({line_of(m.position), m.position, geometry_fault_kind::identical, line_of(m.partner),
                              options.fix, line.type_code(), geometry_repair::remove});
        }
        if (options.fix) {
            // The lines made identical go; of a split quad, the half that is.
            for (std::size_t f = 0; f < found.size(); ++f) {
                const std::size_t p = found[f].position;
                std::unique_ptr<ldraw_line>& element = elements[p];
                if (!element->continued()) {
                    element = std::make_unique<removed_line>();
                    continue;
                }
                const bool both = f + 1 < found.size() && found[f + 1].position == p;
                const auto& split = static_cast<const split_quad_line&>(*element);
                if (both) {
                    element = std::make_unique<removed_line>();
                    ++f;
                } else {
                    element = std::make_unique<triangle_line>(found[f].half == 0 ? split.second() : split.first());
                }
            }
        }
    }
    // In line order, a line's own fault before its identical entries.
    if (faults.size() > own_end && own_end > first_fault) {
        std::stable_sort(faults.begin() + static_cast<std::ptrdiff_t>(first_fault), faults.end(),
                         [](const geometry_fault& a, const geometry_fault& b) {
                             const bool ai = a.kind == geometry_fault_kind::identical;
                             const bool bi = b.kind == geometry_fault_kind::identical;
                             return a.line != b.line ? a.line < b.line : (!ai && bi);
                         });
    }
}

}  // namespace weldrix
