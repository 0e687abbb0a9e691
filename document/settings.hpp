// The two process-wide thresholds, set by the command line before anything is processed and only
// read afterwards.
#pragma once

namespace weldrix {

inline double vertex_threshold = 0.005;   // "-ut"
inline double subfile_threshold = 0.005;  // "-us"

}  // namespace weldrix
