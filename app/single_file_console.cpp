#include "app/single_file_console.hpp"

#include "app/wording.hpp"
#include "document/search_paths.hpp"

namespace weldrix {

void single_file_console::reading(const std::string& input) {
    env_.out.line();
    env_.out.line("Reading input file " + printable(input));
}

void single_file_console::expanding(const search_paths& paths) {
    env_.out.line();
    env_.out.line("LDraw subfiles search locations:");
    env_.out.line(printable(paths.as_text()));
    env_.out.write("\nExpanding input file subfiles\n");
}

void single_file_console::expanded(const std::vector<missing_subfile>& missing) {
    for (const missing_subfile& m : missing) warn(env_.warnings, describe_missing(m));
    env_.out.line();
}

void single_file_console::unifying() {
    env_.out.line();
    env_.out.line("Unifying input file vertices");
}

void single_file_console::unified() { env_.out.line(); }

void single_file_console::writing() {
    const std::string output = printable(options_.output);
    env_.out.line(options_.check_only ? "Checking output file " + output + " (it is not written)"
                                      : "Writing output file " + output);
}

}  // namespace weldrix
