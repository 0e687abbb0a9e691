// Points from fuzz input bytes, and their bitwise comparison, for the targets on vertex sets.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "geometry/point.hpp"

namespace weldrix::fuzz {

// (Points compare with weldrix::same_bits.)
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A coordinate on the lattice base + k step, k = (b & 63) - 32, moved one ulp up (b >> 6 == 0) or
// down (1), or not: values at a threshold or border and just either side of it.
inline double lattice(std::uint8_t b, double step, double base) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double m = base + static_cast<double>(static_cast<int>(b & 63) - 32) * step;
    switch (b >> 6) {
        case 0: return std::nextafter(m, inf);
        case 1: return std::nextafter(m, -inf);
        default: return m;
    }
}

// The point at data[at]: three raw doubles (24 bytes) when raw, else three bytes that lattice
// makes coordinates. Moves at past them; false, with at unchanged, when the input is too short.
template <class Lattice>
bool next_point(const std::uint8_t* data, std::size_t size, std::size_t& at, bool raw, Lattice&& lattice, point& p) {
    if (raw) {
        if (size - at < sizeof(double) * 3) return false;
        std::memcpy(&p.x, data + at, sizeof(double));
        std::memcpy(&p.y, data + at + 8, sizeof(double));
        std::memcpy(&p.z, data + at + 16, sizeof(double));
        at += 24;
        return true;
    }
    if (size - at < 3) return false;
    p = point(lattice(data[at]), lattice(data[at + 1]), lattice(data[at + 2]));
    at += 3;
    return true;
}

}  // namespace weldrix::fuzz
