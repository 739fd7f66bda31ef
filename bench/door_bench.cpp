// What the door costs a native by itself: ns per pass that finds a handle,
// takes its configuration's lock and gives it back, with nothing inside.
// Uncontended, by the thread the lock is biased to and with biasing switched
// off (the atomic exchange); two threads on their own configurations and on
// one shared configuration; with 10 and 10,000 live handles (the oldest looked
// up); a call back from a listener, which takes no lock; and what revoking a
// bias costs the thread that revokes it.  The best of five runs of
// 10,000,000 passes each.  The door is linked into this program: everything
// stays in the cache and no JVM runs between two passes.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "door.h"

namespace {

constexpr int kPasses = 10'000'000;
volatile int sink = 0;

// One per thread, as the JVM hands each thread its own; only their addresses
// are used.
JNIEnv threadEnvs[2];

int pass(JNIEnv* env, jint handle) {
    return door::guarded(0, [env, handle] {
        door::Held held(env);
        return door::holdConfig(held, handle) != nullptr ? sink : 0;
    });
}

double threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Figures {
    double wall;  // ns per pass of each thread, by the clock on the wall
    double cpu;   // ns of the first thread's own CPU time per pass
};

// One thread per handle passing at once: the best of five runs.  The CPU time
// shows the cost when other programs share the cores (the wall time then
// includes waiting for a core).
Figures passes(const std::vector<jint>& handles) {
    Figures best{1e30, 1e30};
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> others;
        for (std::size_t t = 1; t < handles.size(); ++t)
            others.emplace_back([h = handles[t], env = &threadEnvs[t]] {
                for (int i = 0; i < kPasses; ++i) pass(env, h);
            });
        const double cpu0 = threadCpuNs();
        for (int i = 0; i < kPasses; ++i) pass(&threadEnvs[0], handles[0]);
        const double cpu = threadCpuNs() - cpu0;
        for (std::thread& other : others) other.join();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best.wall = std::min(best.wall, ns / kPasses);
        best.cpu = std::min(best.cpu, cpu / kPasses);
    }
    return best;
}

void print(const char* what, const Figures& f) {
    std::printf("%-52s | %5.1f | %5.1f\n", what, f.wall, f.cpu);
}

ConfigRecord records[2];

// ns for another thread to take each of n locks biased to this one: the
// revocation with its process-wide barrier, the best of five runs.  Each run
// on new locks: a lock revoked once is never biased again, also when a later
// configuration reuses it.
double revocations(int n) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        std::vector<jint> handles;
        for (int i = 0; i < n; ++i) {
            handles.push_back(registerConfig(&records[1]));
            for (unsigned k = 0; k <= door::kBiasAfter; ++k) pass(&threadEnvs[0], handles.back());
        }
        double ns = 0;
        std::thread other([&] {
            const auto start = std::chrono::steady_clock::now();
            for (jint h : handles) pass(&threadEnvs[1], h);
            ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        });
        other.join();
        best = std::min(best, ns / n);
    }
    return best;
}

}  // namespace

int main() {
    const jint first = registerConfig(&records[0]);
    const jint second = registerConfig(&records[1]);
    const jint shared = registerConfig(&records[1]);
    for (int i = 0; i < 7; ++i) registerConfig(&records[1]);
    std::printf("biased locks: %s\n", door::biasAllowed() ? "yes" : "no (the system has no process-wide barrier)");
    std::printf("%-52s | %5s | %5s\n", "ns per native: find the handle, take the lock, give it back", "wall", "cpu");
    print("10 live handles, one thread", passes({first}));
    door::forbidBias(true);
    const jint unbiased = registerConfig(&records[1]);
    print("the same, biasing off: the atomic exchange", passes({unbiased}));
    unregisterConfig(unbiased);
    door::forbidBias(false);
    print("2 threads at once, each on its own configuration", passes({first, second}));
    print("2 threads at once, both on one configuration", passes({shared, shared}));
    for (int i = 10; i < 10000; ++i) registerConfig(&records[1]);
    print("10,000 live handles, the oldest, one thread", passes({first}));
    door::inListener = true;  // what a listener's call back finds
    door::listenersRunning = 1;
    print("a listener calling back (answered neutral at once)", passes({first}));
    door::inListener = false;
    door::listenersRunning = 0;
    std::printf("%-52s | %5.0f\n", "ns to take a lock biased to another thread (revoke)", revocations(1000));
    return 0;
}
