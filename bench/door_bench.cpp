// What the door costs a native by itself: ns per pass through the bridge lock
// with nothing inside, uncontended, and the same with two threads passing at
// once; and a nested pass (a listener calling back), which takes no lock.
// The best of five runs of 10,000,000 passes each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "door.h"

namespace {

constexpr int kPasses = 10'000'000;
volatile int sink = 0;

int emptyNative() {
    return door::guarded(0, [] { return sink; });
}

// Wall ns per pass of each thread when `threads` threads pass at once.
double passes(int threads, int (*native)()) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        std::thread others[2];
        for (int t = 1; t < threads; ++t)
            others[t] = std::thread([native] {
                for (int i = 0; i < kPasses; ++i) native();
            });
        for (int i = 0; i < kPasses; ++i) native();
        for (int t = 1; t < threads; ++t) others[t].join();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / kPasses);
    }
    return best;
}

}  // namespace

int main() {
    std::printf("door alone, uncontended:        %5.1f ns per native\n", passes(1, emptyNative));
    std::printf("door alone, 2 threads at once:  %5.1f ns per native of each thread\n", passes(2, emptyNative));
    door::BridgeLock outer;  // what a listener's call back finds
    std::printf("nested (a listener calling back): %5.1f ns per native\n", passes(1, emptyNative));
    return 0;
}
