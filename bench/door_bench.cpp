// What the door costs a native by itself: ns per pass that finds a handle,
// takes its configuration's lock and gives it back, with nothing inside.
// Uncontended, by the thread the lock is biased to and with biasing switched
// off (the atomic exchange); two threads on their own configurations and on
// one shared configuration; with 10 and 10,000 live handles (the oldest looked
// up); a call back from a listener, which takes no lock; and what revoking a
// bias costs the thread that revokes it; and how long readers of the handle
// index wait while a writer churns 100,000 live handles.  The best of five runs of
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

// Readers looking up live handles while a writer registers and withdraws
// short-lived ones among 100,000 live handles, so that the index is rebuilt
// again and again (each rebuild copies the 100,000): the longest single
// look-up, and how many took over 1 ms.  Beside it the same readers timing an
// empty step: what the machine's scheduling alone costs a thread that is
// descheduled between two clock readings.
struct Waits {
    long lookups = 0;
    double longestMs = 0;
    long overOneMs = 0;
    // A watcher thread's view of what a reader would wait for: windows in
    // which the table that readers are sent to was being written.
    long windows = 0;
    double longestWindowMs = 0;
    long windowsOverOneMs = 0;
};

// Whether the table readers are sent to is being written right now.
bool publishedTableBeingWritten() {
    const IndexTable* table = configIndex.table.load(std::memory_order_acquire);
    return table != nullptr && (table->generation.load(std::memory_order_acquire) & 1u) != 0;
}

Waits readersAgainstAWriter(const std::vector<jint>& live, bool lookUp, double seconds, long* rebuilds) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        long n = 0;
        while (!stop) {
            unregisterConfig(registerConfig(&records[1]));
            ++n;
        }
        if (rebuilds != nullptr) *rebuilds = n;
    });
    Waits waits;
    std::thread watcher([&] {
        bool inWindow = false;
        auto start = std::chrono::steady_clock::now();
        while (!stop) {
            const bool writing = publishedTableBeingWritten();
            const auto now = std::chrono::steady_clock::now();
            if (writing && !inWindow) {
                inWindow = true;
                start = now;
            } else if (!writing && inWindow) {
                inWindow = false;
                const double ms = std::chrono::duration<double, std::milli>(now - start).count();
                ++waits.windows;
                waits.longestWindowMs = std::max(waits.longestWindowMs, ms);
                if (ms > 1.0) ++waits.windowsOverOneMs;
            }
        }
    });
    std::atomic<long> found{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::size_t next = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 1000; ++i) {
            const jint h = live[next];
            next = (next + 7919) % live.size();
            const auto t0 = std::chrono::steady_clock::now();
            if (lookUp) found += lookupConfig(h) != nullptr;
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            ++waits.lookups;
            waits.longestMs = std::max(waits.longestMs, ms);
            if (ms > 1.0) ++waits.overOneMs;
        }
    }
    stop = true;
    writer.join();
    watcher.join();
    if (lookUp && found != waits.lookups) std::printf("a live handle was not found\n");
    return waits;
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

    std::vector<jint> live;
    for (int i = 0; i < 100000; ++i) live.push_back(registerConfig(&records[1]));
    long registrations = 0;
    const Waits index = readersAgainstAWriter(live, true, 10.0, &registrations);
    const Waits noise = readersAgainstAWriter(live, false, 10.0, nullptr);
    std::printf("index readers, 100,000 live handles, a writer churning (%ld registrations and withdrawals in 10 s):\n",
                registrations);
    std::printf("  %-50s | %9s | %12s | %s\n", "", "timed", "longest (ms)", "over 1 ms");
    std::printf("  %-50s | %9ld | %12.3f | %ld\n", "a look-up", index.lookups, index.longestMs, index.overOneMs);
    std::printf("  %-50s | %9ld | %12.3f | %ld\n", "an empty step (the scheduler alone)", noise.lookups,
                noise.longestMs, noise.overOneMs);
    std::printf("  %-50s | %9ld | %12.3f | %ld\n", "the published table being written (watcher)", index.windows,
                index.longestWindowMs, index.windowsOverOneMs);
    return 0;
}
