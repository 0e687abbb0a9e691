// An output held as what it changed of its input comes back byte for byte, from the same input
// only.
#include <gtest/gtest.h>

#include <string>

#include "app/held_output.hpp"

namespace weldrix {
namespace {

TEST(HeldOutput, ComesBackWholeFromItsInputOnly) {
    const std::string mesh = [] {
        std::string s;
        for (int i = 0; i < 200; ++i) s += "4 16 " + std::to_string(i) + " 0 0 1 0 0 1 1 0 0 1 0\r\n";
        return s;
    }();
    struct pair {
        const char* what;
        std::string input, output;
    } cases[] = {
        {"unchanged", mesh, mesh},
        {"a line changed", "0 a\n2 24 1 2 3 4 5 6\n0 b\n", "0 a\n2 24 1 2 3 4 5 7\n0 b\n"},
        {"lines removed", "0 a\n0 x\n0 y\n0 b\n", "0 a\n0 b\n"},
        {"a quad split in two", "0 a\n4 16 q\n0 b\n", "0 a\n3 16 t\n3 16 u\n0 b\n"},
        {"a run of lines changed", mesh,
         "0 new\n" + mesh.substr(0, 400) + std::string(3000, 'x') + "\n" + mesh.substr(4000)},
        {"line ends changed, a last line without one", "0 a\r0 b\r\n0 c", "0 a\n0 b\r\n0 c\n"},
        {"everything new", "0 a\n", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 s.dat\n"},
        {"an empty output", "0 a\n", ""},
        {"an empty input", "", "0 a\n"},
    };
    for (const pair& c : cases) {
        SCOPED_TRACE(c.what);
        const held_output held(c.output, c.input);
        EXPECT_EQ(held.restore(c.input), c.output);
        if (c.input.empty()) continue;
        std::string edited = c.input;
        edited[edited.size() / 2] ^= 1;
        EXPECT_EQ(held.restore(edited), std::nullopt);
        EXPECT_EQ(held.restore(c.input + "\n"), std::nullopt);
    }
    // Held from bytes not kept (none given), the output is held whole.
    EXPECT_EQ(held_output("0 a\n", {}).restore({}), "0 a\n");
    // What is held of a large output with one line changed is a small part of it.
    std::string changed = mesh;
    changed[changed.size() / 2] = '7';
    EXPECT_LT(held_output(changed, mesh).memory(), mesh.size() / 20);
}

}  // namespace
}  // namespace weldrix
