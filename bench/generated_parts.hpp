// Generated parts the benchmarks share: the 1,000,000-line part of bench_io (line types in the
// proportions of real parts) and the jittered sheets of quads of bench_report and bench_floor.
//
// Header-only: each benchmark is a program of its own (bench/CMakeLists.txt).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace weldrix::bench {

class number_source {
public:
    explicit number_source(unsigned seed) : random_(seed) {}

    void append(std::string& out) {
        const int magnitude = static_cast<int>(random_() % 240);
        const bool negative = random_() % 3 == 0;
        const unsigned decimals = random_() % 10 < 4 ? 0 : 1 + random_() % 4;  // 40% integers
        if (negative && (magnitude != 0 || decimals != 0)) out += '-';
        out += std::to_string(magnitude);
        if (decimals != 0) {
            out += '.';
            for (unsigned d = 0; d < decimals; ++d) out += static_cast<char>('0' + random_() % 10);
        }
    }
    void append_points(std::string& out, int count) {
        for (int i = 0; i < 3 * count; ++i) {
            out += ' ';
            append(out);
        }
    }
    unsigned next(unsigned n) { return static_cast<unsigned>(random_() % n); }

private:
    std::mt19937 random_;
};

inline std::string generate_part(int lines) {
    number_source numbers(20241208);
    std::string out;
    out.reserve(static_cast<std::size_t>(lines) * 64);
    out += "0 Generated part for benchmarks\r\n0 Name: generated.dat\r\n0 BFC CERTIFY CCW\r\n";
    static const char* const colours[] = {"16", "24", "16", "16", "4", "72"};
    // The start of a line: its type, its colour and that many points.
    const auto line = [&](const char* type, const char* colour, int points) {
        out += type;
        out += colour;
        numbers.append_points(out, points);
    };
    for (int i = 3; i < lines; ++i) {
        const unsigned pick = numbers.next(100);
        const char* colour = colours[numbers.next(6)];
        if (pick < 31) {
            line("4 ", colour, 4);
        } else if (pick < 50) {
            line("5 ", "24", 4);
        } else if (pick < 69) {
            line("3 ", colour, 3);
        } else if (pick < 85) {
            line("2 ", "24", 2);
        } else if (pick < 93) {
            out += pick % 2 ? "0 BFC INVERTNEXT" : "0 // a comment about the next few lines";
        } else if (pick < 98) {
            line("1 ", colour, 1);
            out += " 1 0 0 0 -1 0 0 0 1 s\\generated";
            out += std::to_string(numbers.next(40));
            out += ".dat";
        }  // else a blank line
        out += "\r\n";
    }
    return out;
}

// A wavy sheet of quads on a grid 10 apart, every corner written by each quad that shares it with
// its own jitter of up to 0.002 on each axis; one quad in 40 has its last two corners nearly met
// (it becomes a triangle).
inline std::string jittered_sheet(std::size_t lines, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> jitter(-0.002, 0.002);
    const auto columns = static_cast<std::size_t>(std::sqrt(static_cast<double>(lines))) + 1;
    std::string out = "0 Jittered sheet\n";
    char buf[64];
    for (std::size_t k = 0; k + 1 < lines; ++k) {
        const double i = static_cast<double>(k % columns), j = static_cast<double>(k / columns);
        const double corners[4][2] = {{i, j}, {i + 1, j}, {i + 1, j + 1}, {i, j + 1}};
        double p[4][3];
        for (int c = 0; c < 4; ++c) {
            const double y = std::round(4000 * std::sin(corners[c][0] / 7) * std::cos(corners[c][1] / 5)) / 1000;
            p[c][0] = 10 * corners[c][0] + jitter(random);
            p[c][1] = y + jitter(random);
            p[c][2] = 10 * corners[c][1] + jitter(random);
        }
        if (k % 40 == 39) {
            for (int a = 0; a < 3; ++a) p[3][a] = p[2][a] + 0.0005;
        }
        out += "4 16";
        for (const auto& q : p) {
            std::snprintf(buf, sizeof buf, " %.4f %.4f %.4f", q[0], q[1], q[2]);
            out += buf;
        }
        out += '\n';
    }
    return out;
}

// A regular grid of quads 10 apart with whole-number corners, each corner written alike by every
// quad that shares it (as in a baseplate); every 64th quad is followed by an edge line whose
// first corner lies 0.003 off, which the unification moves onto the grid.
inline std::string regular_grid(std::size_t lines) {
    const auto columns = static_cast<std::size_t>(std::sqrt(static_cast<double>(lines))) + 1;
    std::string out = "0 Regular grid\n";
    char buf[160];
    const auto height = [](std::size_t i, std::size_t j) { return static_cast<int>((i * 7 + j * 13) % 17) * 4; };
    for (std::size_t k = 0; k + 1 < lines; ++k) {
        const std::size_t i = k % columns, j = k / columns;
        std::snprintf(buf, sizeof buf, "4 16 %zu %d %zu %zu %d %zu %zu %d %zu %zu %d %zu\n", 10 * i, height(i, j),
                      10 * j, 10 * i + 10, height(i + 1, j), 10 * j, 10 * i + 10, height(i + 1, j + 1), 10 * j + 10,
                      10 * i, height(i, j + 1), 10 * j + 10);
        out += buf;
        if (k % 64 == 63 && ++k + 1 < lines) {
            std::snprintf(buf, sizeof buf, "2 24 %.3f %d %zu %zu %d %zu\n", 10 * static_cast<double>(i) + 0.003,
                          height(i, j), 10 * j, 10 * i + 10, height(i + 1, j), 10 * j);
            out += buf;
        }
    }
    return out;
}

}  // namespace weldrix::bench
