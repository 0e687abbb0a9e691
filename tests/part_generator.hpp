// Generated LDraw parts for the tests that compare two ways of cleaning on many inputs.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "geometry/point.hpp"

namespace weldrix::test {

// Random LDraw text: a mesh of lines whose vertices are jittered copies of a shared pool, so
// that most have partners within the threshold, with the odd comment, degenerate line and
// infinite or huge coordinate. The same seed gives the same text.
class part_generator {
public:
    // The pool's points lie on a grid of this spacing.
    explicit part_generator(std::uint64_t seed, double spacing = 1.0);

    // " x y z": a pool point, exactly or moved by up to jitter on each axis.
    std::string vertex(double jitter);
    // count lines of types 0, 2, 3, 4 and 5, and references to the subfiles when there are any.
    std::string lines(int count, double jitter, const std::vector<std::string>& subfiles = {});

    std::mt19937_64& random() { return random_; }

private:
    std::mt19937_64 random_;
    double spacing_;
    std::vector<point> pool_;
};

}  // namespace weldrix::test
