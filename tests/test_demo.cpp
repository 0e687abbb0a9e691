// The bundled demo part: cleaning it against the bundled circle primitive closes the gap, welds
// the near-duplicate corners and removes what becomes degenerate, exactly as the demo shows.
#include <gtest/gtest.h>

#include "support.hpp"

namespace weldrix::test {
namespace {

std::string examples_path(std::string_view relative) { return data_path("../../examples/") + std::string(relative); }

TEST(Demo, CleansTheExamplePartAgainstTheBundledPrimitive) {
    temp_dir dir;
    const run_result run = run_weldrix({"-s", "-l", "ldraw", "demo.dat", dir / "clean.dat"}, {}, examples_path(""));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(read_file(dir / "clean.dat"), read_file(examples_path("demo.expected.dat")));
    EXPECT_NE(run.output.find("Inlined from subfiles:\n16 Edge lines\n0 Conditional lines\n0 Triangles\n0 Quads\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("22 lines written in file\n6 Edge lines\n0 Conditional lines\n1 Triangles\n4 Quads\n"
                              "1 Subfiles\nPress <Enter> to quit\n"),
              std::string::npos)
        << run.output;

    // The cleaned part is a fixed point: cleaning it again changes nothing.
    const run_result again = run_weldrix({"-s", "-l", examples_path("ldraw"), dir / "clean.dat", dir / "again.dat"});
    ASSERT_EQ(again.exit_code, 0) << again.output;
    EXPECT_EQ(read_file(dir / "again.dat"), read_file(dir / "clean.dat"));
}

}  // namespace
}  // namespace weldrix::test
