// The one door every native goes through.  Written once here:
//   - the locks: a native holds the lock of the configuration it works on
//     (a path vector's is its configuration's) for its whole call, so natives
//     on one configuration take turns and natives on different ones run at
//     once; what the whole process shares (the registries, the cursors, the
//     initialisation) has locks of its own, held briefly;
//   - the listener rule: a native that a warning listener calls answers its
//     neutral result at once, without taking a lock, calling the library or
//     converting strings, so nothing the outer call is using can change under
//     it and the listener's thread never waits for the lock it holds itself;
//   - the catch: nothing the library or the bridge throws leaves a native;
//     what was obtained is released on the way out and the native answers
//     its neutral result (natives with a listener also tell it what failed);
//   - the receiver's handle looked up, and the neutral result when it names
//     nothing;
//   - the String parameters obtained in parameter order and released exactly
//     once.
// A native names its receiver kind, its strings and its library call.
#ifndef ZEL_BRIDGE_DOOR_H
#define ZEL_BRIDGE_DOOR_H

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <utility>

#include "jni_util.h"
#include "registry.h"
#include "relay.h"
#include "zelvek/zelvek.h"

namespace door {

// How many threads run a warning listener right now, and whether this one
// does.  The count is read first: while no listener runs anywhere, which is
// nearly always, a native reads one shared word that nobody writes and never
// touches its thread-local storage (in a library loaded at run time that is a
// call into the dynamic loader).
extern std::atomic<int> listenersRunning;
extern thread_local bool inListener;

inline bool calledFromListener() {
    return listenersRunning.load(std::memory_order_relaxed) != 0 && inListener;
}

// Waits for a lock that another thread holds; false when it gave up (the JVM
// is exiting and the holder is stuck in a listener).  Says so on standard
// error when the holder runs a listener and the wait grows long.
bool waitFor(JNIEnv* env, ConfigLock* lock);

// The lock bias.  Nearly every configuration is used by one thread only, and
// the atomic exchange was most of what the door cost it.  So a configuration
// whose lock one thread took kBiasAfter times in a row is biased to that
// thread, known by its JNIEnv* (one per thread, handed to every native): the
// owner then enters by storing ownerInside and loading the bias again, with
// nothing between them but a compiler barrier, and leaves with a plain store.
// Any other thread takes held, revokes the bias (bias = kRevoked, then the
// process-wide barrier of heavy_barrier.h, which makes the owner's store seen
// or the revocation seen by the owner) and waits for ownerInside to drop;
// from then on everyone takes held, the owner as well, until the owner takes
// it kRebiasAfter times in a row: a single call from another thread (the
// Cleaner releasing a path vector, say) then costs the owner its bias only
// for a while.  Only the thread the bias went to first earns it back: it is
// the one thread that ever writes ownerInside, so no would-be owner that is
// late on its way in (and leaves again) can clear the flag of one inside.  A
// revocation costs a system call that interrupts the process's other
// threads; the long streak keeps two threads that take turns from paying it
// often.  Where the system has no such barrier nothing is biased; nor is
// anything to a caller without a JNIEnv* (null: the registry's own callers
// in tests).
constexpr unsigned kBiasAfter = 64;
constexpr unsigned kRebiasAfter = 4096;

// Whether locks may be biased from now on: the barrier is there and biasing
// is not switched off (a test forces the fallback with forbidBias).
bool biasAllowed();
void forbidBias(bool forbidden);

// Called by an owner on its way in, between storing ownerInside and loading
// the bias again; null but in tests, which pause the owner there.
extern void (*ownerEnterHook)(ConfigLock* lock);

// The owner's way in: true when the lock is biased to env and the owner is
// now inside.
inline bool enterAsOwner(ConfigLock* lock, JNIEnv* env) {
    const auto self = reinterpret_cast<std::uintptr_t>(env);
    if (lock->bias.load(std::memory_order_relaxed) != self) return false;
    lock->ownerInside.store(1, std::memory_order_relaxed);
    // The revoker's barrier orders this store before the load below.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (__builtin_expect(ownerEnterHook != nullptr, 0)) ownerEnterHook(lock);
    if (lock->bias.load(std::memory_order_relaxed) == self) return true;
    lock->ownerInside.store(0, std::memory_order_release);
    return false;
}

// With held just taken: counts the streak, biases, revokes another thread's
// bias and waits for its owner to leave.  False when that wait gave up (as
// waitFor does); held is then still held.  A lock that can never be biased
// (no barrier, biasing off) is marked revoked at once, so that its takers
// stay on the inline path below.
bool settleBias(JNIEnv* env, ConfigLock* lock);

// A revoked lock's first owner earning its bias back; held is held.
void earnBiasBack(JNIEnv* env, ConfigLock* lock);

inline bool settled(JNIEnv* env, ConfigLock* lock) {
    if (lock->bias.load(std::memory_order_acquire) == ConfigLock::kRevoked &&
        lock->ownerInside.load(std::memory_order_acquire) == 0) {
        // The streak, counted under held: any other taker breaks it.
        if (env != lock->lastTaker) {
            lock->lastTaker = env;
            lock->streak = 1;
        } else if (env == lock->firstOwner && ++lock->streak >= kRebiasAfter) {
            earnBiasBack(env, lock);
        }
        return true;
    }
    return settleBias(env, lock);
}

// The configuration lock a native holds, given back when the native returns.
class Held {
public:
    explicit Held(JNIEnv* env) : env_(env) {}
    ~Held() {
        if (lock_ != nullptr) leave();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    ConfigLock* lock() const { return lock_; }
    // Where the lock held is kept, for the relay to tell who runs a listener.
    ConfigLock* const* where() const { return &lock_; }

    bool take(ConfigLock* lock) {
        if (enterAsOwner(lock, env_)) {
            asOwner_ = true;
        } else {
            if (!lock->tryTake() && !waitFor(env_, lock)) return false;
            if (!settled(env_, lock)) {
                lock->giveBack();
                return false;
            }
            asOwner_ = false;
        }
        lock_ = lock;
        return true;
    }
    void giveBack() {
        leave();
        lock_ = nullptr;
    }

private:
    void leave() {
        if (asOwner_) {
            lock_->ownerInside.store(0, std::memory_order_release);
        } else {
            lock_->giveBack();
        }
    }

    JNIEnv* env_;
    ConfigLock* lock_ = nullptr;
    bool asOwner_ = false;
};

// The entry of handle with its configuration's lock held; null (nothing
// held) when the handle names nothing, also when it was withdrawn while this
// thread waited for the lock.
template <bool (*Find)(jint, IndexHit&), bool (*Unchanged)(const IndexHit&)>
void* holdHandle(Held& held, jint handle) {
    IndexHit hit{};
    if (!Find(handle, hit)) return nullptr;
    if (!held.take(hit.lock)) return nullptr;
    // Withdrawing takes the same lock: still there now, the entry stays.
    // Nearly always nothing at all changed in the index meanwhile.
    if (Unchanged(hit)) return hit.entry;
    IndexHit again{};
    if (!Find(handle, again) || again.lock != hit.lock) {
        held.giveBack();
        return nullptr;
    }
    return again.entry;
}

inline ConfigHandleEntry* holdConfig(Held& held, jint handle) {
    return static_cast<ConfigHandleEntry*>(holdHandle<findConfigHandle, configIndexUnchanged>(held, handle));
}

inline PathVectorSlot* holdPathVector(Held& held, jint handle) {
    return static_cast<PathVectorSlot*>(holdHandle<findPathVectorHandle, pathVectorIndexUnchanged>(held, handle));
}

// The "result" of a native that returns nothing.
struct Void {};
inline constexpr Void kVoid{};

// body(), or neutral when a listener calls or when body throws.  body takes
// the lock it needs (Held) once it knows which configuration it works on.
template <typename Result, typename Body>
Result guarded(Result neutral, Body&& body) noexcept {
    if (calledFromListener()) return neutral;
    try {
        return body();
    } catch (...) {
        return neutral;
    }
}

// What the natives work on: how each kind of receiver is found from the
// Java object, its configuration's lock then held.  Null when its handle
// names nothing.
struct OnConfig {
    using Record = ConfigRecord;
    static Record* hold(Held& held, JNIEnv* env, jobject self) {
        ConfigHandleEntry* entry = holdConfig(held, readHandleField(env, self, kConfigHandleField));
        return entry != nullptr ? entry->config : nullptr;
    }
};
struct OnPathVector {
    using Record = PathVectorRecord;
    static Record* hold(Held& held, JNIEnv* env, jobject self) {
        PathVectorSlot* slot = holdPathVector(held, readHandleField(env, self, kPathVectorHandleField));
        return slot != nullptr ? slot->pathVector : nullptr;
    }
};
struct OnSlot {
    using Record = PathVectorSlot;
    static Record* hold(Held& held, JNIEnv* env, jobject self) {
        PathVectorSlot* slot = holdPathVector(held, readHandleField(env, self, kPathVectorHandleField));
        // A slot without a record counts as not registered.
        return slot != nullptr && slot->pathVector != nullptr ? slot : nullptr;
    }
};

// The receiver's record and the native strings of params, then
// body(record, strings), with the receiver's configuration lock held.
// neutral, with nothing converted and nothing called, when the handle names
// nothing; neutral, with what was obtained released, when the JVM could not
// hand out a string.  The strings are released after body returns unless body
// releases them itself.
template <typename On, typename Result, typename Body>
Result with(JNIEnv* env, jobject self, Result neutral, std::initializer_list<jstring> params, Body&& body) noexcept {
    return guarded(neutral, [&]() -> Result {
        Held held(env);
        typename On::Record* record = On::hold(held, env, self);
        if (record == nullptr) return neutral;
        NativeStrings strings(env, params);
        if (!strings.ok()) return neutral;
        return body(record, strings);
    });
}

// The same for a path vector given by its handle as an int argument.
template <typename Result, typename Body>
Result withPathVectorHandle(JNIEnv* env, jint handle, Result neutral, std::initializer_list<jstring> params,
                            Body&& body) noexcept {
    return guarded(neutral, [&]() -> Result {
        Held held(env);
        PathVectorSlot* slot = holdPathVector(held, handle);
        if (slot == nullptr || slot->pathVector == nullptr) return neutral;
        NativeStrings strings(env, params);
        if (!strings.ok()) return neutral;
        return body(slot->pathVector, strings);
    });
}

// fn(lead..., strings[0], strings[1], ...): the native strings in parameter order.
template <typename Fn, std::size_t... I, typename... Lead>
decltype(auto) applyStrings(Fn&& fn, const NativeStrings& strings, std::index_sequence<I...>, Lead... lead) {
    return fn(lead..., strings[I]...);
}

// fn(record, strings...) handed to Java as a boolean: the library's byte, or
// the low byte of a wider result, unchanged.  false when the handle names nothing.
template <typename On, typename R, typename... Chars, typename... Strings>
jboolean boolean(JNIEnv* env, jobject self, R (*fn)(typename On::Record*, Chars...), Strings... params) noexcept {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the library function");
    return with<On>(env, self, jboolean{JNI_FALSE}, {params...}, [fn](auto* record, NativeStrings& strings) {
        return toJavaBoolean(applyStrings(fn, strings, std::index_sequence_for<Strings...>{}, record));
    });
}

// fn(record, strings...) copied into a Java string, the native strings given
// back first; null when the handle names nothing or the library has no value.
template <typename On, typename... Chars, typename... Strings>
jstring string(JNIEnv* env, jobject self, const char* (*fn)(typename On::Record*, Chars...),
               Strings... params) noexcept {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the library function");
    return with<On>(env, self, jstring{nullptr}, {params...}, [env, fn](auto* record, NativeStrings& strings) {
        const char* text = applyStrings(fn, strings, std::index_sequence_for<Strings...>{}, record);
        strings.release();
        return toJavaString(env, text);
    });
}

// A native whose library call relays warnings to listener.  scope is
// declared before anything whose destructor calls JNI, so what the relay set
// aside is thrown again only once the native's own work is done.  When body
// throws, what it obtained is released and the listener is told which native
// failed and why, then the native answers neutral.
void tellListenerOfFailure(JNIEnv* env, WarningScope& scope, jobject listener, const char* native,
                           std::exception_ptr failure) noexcept;

template <typename Result, typename Body>
Result relayed(JNIEnv* env, jobject listener, const char* native, Result neutral, Body&& body) noexcept {
    return guarded(neutral, [&]() -> Result {
        Held held(env);
        WarningScope scope(env, held.where());
        try {
            return body(scope, held);
        } catch (...) {
            tellListenerOfFailure(env, scope, listener, native, std::current_exception());
            return neutral;
        }
    });
}

// Tells the listener one warning of the bridge's own, through the relay, as
// if the library had emitted it during the native's library call.
void tellListener(WarningScope& scope, jobject listener, const char* text);

}  // namespace door

#endif
