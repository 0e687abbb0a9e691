// A single-file run: "weldrix [options] IN OUT". The file's job runs as a batch's files do
// (file_job.hpp), with the console as the observer of its steps; the output is put in place at
// once and flushed.
#pragma once

#include <string>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "app/run.hpp"

namespace weldrix {

class search_paths;

// Runs one file with the search list built; the banner has been printed. With --strict, a
// warning of the run (run_warning, the first) or of the file withholds the output: exit_strict,
// unless the report cannot be written (exit_file_error goes first). Ends with finish, except when
// interrupted (exit_interrupted at once, no wait).
[[nodiscard]] int run_single_file(const run_options& options, const file_paths& files, search_paths& paths,
                                  const run_environment& env, const finisher& finish, const std::string& run_warning);

}  // namespace weldrix
