// Batch mode: "weldrix [options] INDIR OUTDIR" cleans every LDraw file below a folder in one run,
// on several threads.
//
// Every LDraw file below INDIR (folder_walk.hpp says which) is cleaned into the same relative path
// below OUTDIR; with -c, when OUTDIR lies inside INDIR nothing below it is read (a run that
// writes refuses such an OUTDIR: batch_usage_error). Each output is byte for
// byte what a run on that one file ("weldrix [options] INDIR/rel OUTDIR/rel") writes: both clean
// it with run_job (file_job.hpp). Subfiles are found, read and parsed once for
// the whole run and shared between the threads (subfile_library.hpp).
//
// A run that finds no LDraw file below INDIR (and no folder it cannot list) says "no LDraw files
// below INDIR" and fails (exit 2), having created nothing: OUTDIR is made once files are found.
//
// A folder below INDIR that cannot be listed (the host fails, or permission is denied), or a link
// with an LDraw name whose status cannot be read, fails like a file that cannot be read
// ("failed: REL: can't be read"), so that no file goes uncleaned without a word.
//
// The console shows the banner, thresholds and search locations once, one line per file that
// changed or failed in input order, and a summary; on a terminal also a progress line. Apart from
// the progress line and the elapsed time, it is the same whatever the number of threads.
#pragma once

#include <string>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "app/run.hpp"
#include "document/change_record.hpp"

namespace weldrix {

// Runs a batch; the banner has been printed. With --strict, a file with a warning, or every file
// when the run has one (run_warning, the first), fails and is not written ("failed: REL:
// --strict: WARNING"); the others are. Returns the exit code: 130 when interrupted, else 2 when a
// file could not be read or written, 4 when --strict withheld a file, 3 with "-c" when a file's
// geometry would change, else 0.
// folders: the input and output folders.
[[nodiscard]] int run_batch(const run_options& options, const run_environment& env, const std::string& run_warning,
                            const file_paths& folders);

}  // namespace weldrix
