#include "part_generator.hpp"

#include <cstdio>

namespace weldrix::test {

part_generator::part_generator(std::uint64_t seed, double spacing) : random_(seed), spacing_(spacing) {
    const int pool = 3 + static_cast<int>(random_() % 200);
    std::uniform_int_distribution<int> cell(-6, 6);
    for (int i = 0; i < pool; ++i) {
        pool_.emplace_back(cell(random_) * spacing_, cell(random_) * spacing_, cell(random_) * spacing_);
    }
}

namespace {
std::string generated_number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}
}  // namespace

std::string part_generator::vertex(double jitter) {
    const point& p = pool_[random_() % pool_.size()];
    std::uniform_real_distribution<double> j(-jitter, jitter);
    std::string out;
    for (const double c : {p.x, p.y, p.z}) {
        out += ' ';
        switch (random_() % 200) {
            case 0: out += "1e999"; break;
            case 1: out += "-1e999"; break;
            case 2: out += "1e300"; break;
            default: {
                // Exact copies, exact multiples of 2^-9 (equal distances, ties) or any jitter.
                const unsigned how = random_() % 4;
                const double d = how == 0   ? 0.0
                                 : how == 1 ? 0x1p-9 * static_cast<double>(static_cast<int>(random_() % 9) - 4)
                                            : j(random_);
                out += generated_number(c + d);
            }
        }
    }
    return out;
}

std::string part_generator::lines(int count, double jitter, const std::vector<std::string>& subfiles) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        const unsigned type = random_() % 12;
        if (type == 0) {
            out += "0 comment\n";
        } else if (type == 1 && !subfiles.empty()) {
            // Placed at the origin or close to it, so that the inlined vertices lie near the
            // file's own.
            out += random_() % 2 ? "1 16 0 0 0" : "1 16 0.001 0 -0.002";
            out += " 1 0 0 0 1 0 0 0 1 " + subfiles[random_() % subfiles.size()] + "\n";
        } else {
            const int kind = 2 + static_cast<int>(random_() % 4);
            const int points = kind == 2 ? 2 : kind == 3 ? 3 : 4;
            out += std::to_string(kind) + " " + std::to_string(random_() % 20);
            for (int k = 0; k < points; ++k) out += vertex(jitter);
            out += "\n";
        }
    }
    return out;
}

}  // namespace weldrix::test
