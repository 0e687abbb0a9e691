// The folders of a batch. The files it cleans: every regular file below the input folder whose
// name ends in ".dat", ".ldr" or ".mpd" (any letter case), at any depth. Folders whose names
// start with "." are skipped, links to files are followed and links to folders are not. Where the
// outputs may go: not into a folder that holds the input folder, and not into one that another
// run is writing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "io/file_system.hpp"

namespace weldrix {

// Whether a file name ends in ".dat", ".ldr" or ".mpd", in any letter case.
bool has_ldraw_extension(const std::string& name);

// folder + "/" + name, without doubling a separator at the end of folder; name alone when folder
// is empty.
std::string joined(const std::string& folder, const std::string& name);

// The relative paths (with "/") of the files a batch cleans below in_folder, in byte order; with
// skip_folder (a canonical path), nothing below that folder. With unreadable, the folders (the
// input folder as ".") that could not be listed and the links to LDraw names whose status could
// not be read are appended to it, in the order met: a run reports each as failed.
std::vector<std::string> batch_inputs(file_system& fs, const std::string& in_folder, const std::string& skip_folder,
                                      std::vector<std::string>* unreadable = nullptr);

// The order a batch that inlines subfiles (-s) starts its inputs in (positions in inputs, relative
// paths as batch_inputs gives them): the files of deeper folders first, each folder's in the order
// given. A library's subparts (parts/s) and detailed primitives (p/48) are referenced by the files
// of the folder above, which then find them parsed already (subfile_library::lend).
std::vector<std::size_t> batch_order(const std::vector<std::string>& inputs);

// Whether the canonical path lies strictly below the canonical folder. "\\" separates too where the
// host takes it as a separator (Windows).
bool lies_below(const file_system& fs, const std::string& path, const std::string& folder);

// Where path is or would be once made: its real path, or for a path that does not exist (yet) the
// real path of its nearest existing folder joined with the rest of it. Empty when the host cannot
// tell.
std::string real_place(file_system& fs, const std::string& path);

// Creates the folders of path that do not exist yet (the last component is a file's name). "\\"
// separates too where the host takes it as a separator (Windows).
void make_folders(file_system& fs, const std::string& path);

// Why a batch cannot be run as asked, or nothing: an input folder inside the output folder, where
// the outputs would replace other inputs, or an output folder inside the input folder (made or
// not yet), where they would replace the files below it ("weldrix p p/48"). Real paths are
// compared (folders: the run's input and output), so a link to a subfolder counts; in place is
// allowed. Nothing when the input is not a folder, or with "-c" (nothing is written).
[[nodiscard]] std::string batch_usage_error(const run_options& options, file_system& fs, const file_paths& folders);

// Makes OUTDIR when it is missing and takes its lock, held by lock until it is destroyed: two runs
// into one folder at once would mix their results. False when another run holds it. A folder the
// host cannot lock (a file system without locks) is written without one, as before there were
// locks.
[[nodiscard]] bool lock_output_folder(file_system& fs, const std::string& folder,
                                      std::unique_ptr<file_system::folder_lock>& lock);

}  // namespace weldrix
