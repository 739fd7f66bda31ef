#include "door.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "heavy_barrier.h"
#include "zelvek/vek.h"

namespace door {

// On a cache line of its own: read by every native, next to nothing that is written.
alignas(64) std::atomic<int> listenersRunning{0};
thread_local bool inListener = false;
void (*ownerEnterHook)(ConfigLock* lock) = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

// Long enough that a save waiting for another process's lock (up to 10 s)
// is not taken for a listener that waits; short enough to be seen.
constexpr std::chrono::seconds kTellAfter{3};
constexpr std::chrono::milliseconds kLookAgain{200};
// A native holds a lock for well under a microsecond, mostly: spin first,
// then yield, then sleep in steps that grow to a millisecond (a save may hold
// it for seconds).
constexpr int kSpins = 200;
constexpr int kYields = 50;
constexpr std::chrono::microseconds kFirstSleep{20};
constexpr std::chrono::microseconds kLongestSleep{1000};

// Asks ready() until `until`; true once it said yes.
template <typename Ready>
bool readyBefore(Ready& ready, Clock::time_point until, int& round) {
    while (true) {
        if (ready()) return true;
        if (round < kSpins) {
            ++round;
        } else if (round < kSpins + kYields) {
            ++round;
            std::this_thread::yield();
        } else {
            const int steps = round - (kSpins + kYields);
            auto sleep = kFirstSleep * (1 << (steps < 6 ? steps : 6));
            if (sleep > kLongestSleep) sleep = kLongestSleep;
            ++round;
            std::this_thread::sleep_for(sleep);
        }
        if (Clock::now() >= until) return ready();
    }
}

constexpr const char kWhereExplained[] =
    "a warning listener must not wait for another thread's call into the bridge; see \"Listeners\" in the "
    "Javadoc of ZelConfig and \"Threads, listeners, failures\" in docs/library.md";

void describeHolder(ConfigLock* lock, char* holder, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock->holderMutex);
    std::snprintf(holder, size, "%s", lock->holder);
}

// Set by the Java classes' shutdown hook: the JVM is on its way out.
bool jvmExiting(JNIEnv* env) {
    if (env == nullptr || env->ExceptionCheck()) return false;
    jclass library = env->FindClass("COM/morvent/zel/ZelLibrary");
    if (library == nullptr) {
        env->ExceptionClear();  // our own look-up's, not the caller's
        return false;
    }
    jfieldID field = env->GetStaticFieldID(library, "exiting", "Z");
    jboolean exiting = JNI_FALSE;
    if (field != nullptr) {
        exiting = env->GetStaticBooleanField(library, field);
    } else {
        env->ExceptionClear();
    }
    env->DeleteLocalRef(library);
    return exiting == JNI_TRUE;
}

}  // namespace

namespace {

// Waits until ready() says the lock is this thread's: held taken, or the
// owner of a revoked bias gone.  False when it gave up (see door.h).
template <typename Ready>
bool waitUntil(JNIEnv* env, ConfigLock* lock, Ready ready) {
    const Clock::time_point start = Clock::now();
    bool told = false;
    int round = 0;
    while (!readyBefore(ready, Clock::now() + kLookAgain, round)) {
        // Only a holder inside a listener can wait for this thread in turn.
        if (!lock->holderInListener.load(std::memory_order_acquire)) continue;
        char holder[sizeof lock->holder];
        if (!told && Clock::now() - start >= kTellAfter) {
            char waiter[sizeof lock->holder];
            vekDescribeThread(waiter, sizeof waiter);
            describeHolder(lock, holder, sizeof holder);
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
            std::fprintf(stderr,
                         "zelJava_sh: thread %s has waited %lld s for a configuration that thread %s holds while "
                         "it runs a warning listener; it goes on waiting. If that listener waits for this thread, "
                         "neither ever goes on: %s.\n",
                         waiter, static_cast<long long>(waited), holder, kWhereExplained);
            std::fflush(stderr);
            told = true;
        }
        if (jvmExiting(env)) {
            describeHolder(lock, holder, sizeof holder);
            std::fprintf(stderr,
                         "zelJava_sh: the JVM is exiting while thread %s holds a configuration inside a warning "
                         "listener: a call that waited for it gives up and answers false, 0 or null.\n",
                         holder);
            std::fflush(stderr);
            return false;
        }
    }
    return true;
}

std::atomic<bool> biasForbidden{false};

}  // namespace

bool waitFor(JNIEnv* env, ConfigLock* lock) {
    return waitUntil(env, lock, [lock] { return lock->tryTake(); });
}

bool biasAllowed() {
    static const bool prepared = heavyBarrierPrepare();
    return prepared && !biasForbidden.load(std::memory_order_relaxed);
}

void forbidBias(bool forbidden) {
    biasForbidden.store(forbidden, std::memory_order_relaxed);
}

void earnBiasBack(JNIEnv* env, ConfigLock* lock) {
    // env is not inside as the owner: it is here, holding held.  A null env
    // (the registry's own callers) matches a firstOwner never set, on a lock
    // revoked while biasing was off; biased to null, such callers would all
    // enter as its owner.
    if (env != nullptr && biasAllowed()) lock->bias.store(reinterpret_cast<std::uintptr_t>(env), std::memory_order_release);
    lock->streak = 0;
}

bool settleBias(JNIEnv* env, ConfigLock* lock) {
    const auto self = reinterpret_cast<std::uintptr_t>(env);
    const std::uintptr_t bias = lock->bias.load(std::memory_order_relaxed);
    if (bias == ConfigLock::kUnbiased) {
        if (env == nullptr) return true;
        if (!biasAllowed()) {
            lock->bias.store(ConfigLock::kRevoked, std::memory_order_relaxed);
        } else if (env != lock->lastTaker) {
            lock->lastTaker = env;
            lock->streak = 1;
        } else if (++lock->streak >= kBiasAfter) {
            lock->firstOwner = env;
            lock->bias.store(self, std::memory_order_release);
        }
        return true;
    }
    if (bias == self) return true;  // only env could be inside as the owner
    if (bias != ConfigLock::kRevoked) {
        lock->bias.store(ConfigLock::kRevoked, std::memory_order_relaxed);
        // The owner's store of ownerInside is now seen here, or the owner
        // sees kRevoked and does not enter.  The barrier worked when it was
        // prepared; should the system refuse it now (never seen), a store
        // still on its way from the owner's core arrives within microseconds:
        // a pause before looking stands in for it, where stopping the program
        // would lose what it holds.
        if (!heavyBarrier()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return waitUntil(env, lock, [lock] { return lock->ownerInside.load(std::memory_order_acquire) == 0; });
}

void tellListener(WarningScope& scope, jobject listener, const char* text) {
    scope.arm(listener);
    relayWarning(0, text);
    scope.disarm();
}

void tellListenerOfFailure(JNIEnv* env, WarningScope& scope, jobject listener, const char* native,
                           std::exception_ptr failure) noexcept {
    scope.disarm();
    // No JNI call may follow a pending exception: Java sees that one instead.
    if (listener == nullptr || env->ExceptionCheck()) return;
    const char* why = "an unknown error";
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        why = "out of memory";
    } catch (const std::exception& e) {
        why = e.what();  // lives in the exception object, which failure keeps
    } catch (...) {
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s failed: %s", native, why);
    try {
        tellListener(scope, listener, text);
    } catch (...) {
        scope.disarm();  // the listener has been told what could be told
    }
}

}  // namespace door
