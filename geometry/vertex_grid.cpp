#include "geometry/vertex_grid.hpp"

#include <algorithm>
#include <limits>

namespace weldrix {

vertex_grid::vertex_grid(double radius, std::size_t expected) : radius_(radius) {
    assert(radius > 0);
    if (!(radius <= 0x1p1000)) {  // infinite or beyond any cell width worth having
        single_cell_ = true;
    } else {
        const double width = 8 * radius;
        int exponent = std::ilogb(width);
        if (std::ldexp(1.0, exponent) < width) ++exponent;
        // 1 / w = 2^-exponent, with exponent in [-1071, 1003]: one factor when it is a double,
        // else two whose product is exact or overflows exactly when the quotient does.
        if (exponent >= -1000) {
            scale_[0] = std::ldexp(1.0, -exponent);
        } else {
            scale_[0] = 0x1p1000;
            scale_[1] = std::ldexp(1.0, -exponent - 1000);
        }
    }
    // A bucket for every two points expected: most vertices of a part are shared by several of
    // its lines, and merge, so that far fewer points are filed than expected; the table doubles
    // once it holds a point per bucket.
    std::size_t buckets = 64;
    while (2 * buckets < expected && buckets < (std::size_t{1} << 31)) buckets *= 2;
    heads_.assign(buckets, none);
    mask_ = static_cast<std::uint32_t>(buckets - 1);
    nodes_.reserve(expected);
}

double vertex_grid::cell_width() const {
    if (single_cell_) return std::numeric_limits<double>::infinity();
    return 1.0 / scale_[0] / scale_[1];
}

// At most one point per bucket on average: the table doubles and every filed point is chained
// into the bucket its tag picks now.
void vertex_grid::grow() {
    heads_.assign(heads_.size() * 2, none);
    mask_ = static_cast<std::uint32_t>(heads_.size() - 1);
    for (std::uint32_t id = 0; id < nodes_.size(); ++id) {
        node& n = nodes_[id];
        if (n.next == unfiled) continue;
        std::uint32_t& head = heads_[n.tag & mask_];
        n.next = head;
        head = id;
    }
}

void vertex_grid::link(std::uint32_t id, std::uint32_t tag) {
    std::uint32_t& head = heads_[tag & mask_];
    nodes_[id] = {head, tag};
    head = id;
}

void vertex_grid::unlink(std::uint32_t id) {
    std::uint32_t* at = &heads_[nodes_[id].tag & mask_];
    while (*at != id) at = &nodes_[*at].next;
    *at = nodes_[id].next;
}

void vertex_grid::insert(std::uint32_t id, const point& p) {
    assert(id != none);
    if (nodes_.size() <= id) nodes_.resize(std::size_t{id} + 1, {unfiled, 0});
    assert(nodes_[id].next == unfiled);
    link(id, tag_of(cell_of(p)));
    if (++filed_ > heads_.size() && heads_.size() < (std::size_t{1} << 31)) grow();
}

void vertex_grid::move(std::uint32_t id, const point& p) {
    assert(id < nodes_.size() && nodes_[id].next != unfiled);
    const std::uint32_t tag = tag_of(cell_of(p));
    if (tag == nodes_[id].tag) return;  // the same bucket and filter: nothing to change
    unlink(id);
    link(id, tag);
}

void vertex_grid::erase(std::uint32_t id) {
    assert(id < nodes_.size() && nodes_[id].next != unfiled);
    unlink(id);
    nodes_[id].next = unfiled;
    --filed_;
}

}  // namespace weldrix
