// What the door costs a native by itself: ns per pass that finds a handle,
// takes its configuration's lock and gives it back, with nothing inside.
// Uncontended; two threads on their own configurations and on one shared
// configuration; with 10 and 10,000 live handles (the oldest looked up); and
// a call back from a listener, which takes no lock.  The best of five runs of
// 10,000,000 passes each.  The door is linked into this program: everything
// stays in the cache and no JVM runs between two passes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "door.h"

namespace {

constexpr int kPasses = 10'000'000;
volatile int sink = 0;

int pass(jint handle) {
    return door::guarded(0, [handle] {
        door::Held held(nullptr);
        return door::holdConfig(held, handle) != nullptr ? sink : 0;
    });
}

// Wall ns per pass of each thread when one thread per handle passes at once.
double passes(const std::vector<jint>& handles) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> others;
        for (std::size_t t = 1; t < handles.size(); ++t)
            others.emplace_back([h = handles[t]] {
                for (int i = 0; i < kPasses; ++i) pass(h);
            });
        for (int i = 0; i < kPasses; ++i) pass(handles[0]);
        for (std::thread& other : others) other.join();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / kPasses);
    }
    return best;
}

ConfigRecord records[2];

}  // namespace

int main() {
    const jint first = registerConfig(&records[0]);
    const jint second = registerConfig(&records[1]);
    for (int i = 0; i < 8; ++i) registerConfig(&records[1]);
    std::printf("door and lock, 10 live handles, uncontended:        %5.1f ns per native\n", passes({first}));
    std::printf("2 threads at once, each on its own configuration:   %5.1f ns per native of each thread\n",
                passes({first, second}));
    std::printf("2 threads at once, both on one configuration:       %5.1f ns per native of each thread\n",
                passes({first, first}));
    for (int i = 10; i < 10000; ++i) registerConfig(&records[1]);
    std::printf("10,000 live handles, the oldest, uncontended:       %5.1f ns per native\n", passes({first}));
    door::inListener = true;  // what a listener's call back finds
    door::listenersRunning = 1;
    std::printf("a listener calling back (answered neutral at once): %5.1f ns per native\n", passes({first}));
    return 0;
}
