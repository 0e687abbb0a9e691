// Threads in the WebAssembly build. A page opened from disk or served by an ordinary web host
// cannot share memory between workers (that needs cross-origin isolation), so the build has no
// threads, and Emscripten's pthread_create would fail. A batch starts worker threads that take
// files from a shared list and joins them; here each "thread" runs to its end inside
// pthread_create, one after the other. That is one valid schedule of the batch, whose console
// text and outputs do not depend on the number of threads or their timing: the first worker
// cleans every file, the others find the list empty.
#include <pthread.h>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t*, void* (*start)(void*), void* argument) {
    start(argument);
    // Any value but zero (no thread) will do, as nothing else is done with it but a join.
    *thread = reinterpret_cast<pthread_t>(thread);
    return 0;
}

extern "C" int pthread_join(pthread_t, void** result) {
    if (result) *result = nullptr;
    return 0;
}
