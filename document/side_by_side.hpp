// Two pieces of work at once: later on a thread of its own, now on the calling thread.
//
// Both are done when side_by_side returns, and what either threw is thrown. Where no thread is to
// be had (or the build has none), later runs after now, on the calling thread: a caller gives both
// orders the same result, so that a run's output never depends on whether it got a thread.
#pragma once

#include <future>
#include <system_error>

namespace weldrix {

template <class Now, class Later>
void side_by_side(Now&& now, Later&& later) {
    std::future<void> done;
    try {
        done = std::async(std::launch::async, [&later] { later(); });
    } catch (const std::system_error&) {
        // No thread: later runs below.
    }
    now();  // should it throw, the future waits for later as it goes
    if (done.valid()) {
        done.get();
    } else {
        later();
    }
}

// The same where apart holds; else now and then later on the calling thread (work too small for
// a thread of its own, given to both as halves of which the second may be empty).
template <class Now, class Later>
void side_by_side(bool apart, Now&& now, Later&& later) {
    if (apart) {
        side_by_side(now, later);
    } else {
        now();
        later();
    }
}

}  // namespace weldrix
