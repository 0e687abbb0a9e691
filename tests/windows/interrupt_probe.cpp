// Waits up to 30 seconds for an interrupt reported through on_interrupt and prints its signal
// number ("interrupted 2"); e2e.sh sends it SIGINT, which Wine turns into the console's Ctrl-C.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "io/process.hpp"

namespace {

std::atomic<int> interrupted{0};

void note(int signal_number) { interrupted.store(signal_number); }

}  // namespace

int main() {
    weldrix::prepare_process();
    weldrix::on_interrupt(note);
    std::puts("ready");
    std::fflush(stdout);
    for (int i = 0; i < 3000 && interrupted.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (interrupted.load() == 0) {
        std::puts("no interrupt");
        return 1;
    }
    std::printf("interrupted %d\n", interrupted.load());
    return 0;
}
