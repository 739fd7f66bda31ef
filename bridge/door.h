// The one door every native goes through.  Written once here:
//   - the bridge lock: one process-wide lock held for the whole native, so the
//     registries, their counters, the slots, the relay and the cursors are
//     only ever touched by one thread at a time;
//   - the re-entrancy rule: a native that a listener calls while another
//     native of the bridge runs on the same thread answers its neutral result
//     at once, without calling the library and without converting strings,
//     so nothing the outer call is using can change under it;
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

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <utility>

#include "jni_util.h"
#include "registry.h"
#include "relay.h"
#include "zelvek/zelvek.h"

namespace door {

extern std::mutex bridgeMutex;
// Whether this thread holds bridgeMutex: only the door sets it, and only
// while it holds the lock, so a thread that finds it set is calling back.
extern thread_local bool insideBridge;

// Held for the whole of a native.  Re-entrant for the thread that holds it:
// a nested entry (a listener calling back) takes nothing and is told so.
// Inline: every native pays for it.
class BridgeLock {
public:
    BridgeLock() : nested_(insideBridge) {
        if (nested_) return;
        bridgeMutex.lock();
        insideBridge = true;
    }
    ~BridgeLock() {
        if (nested_) return;
        insideBridge = false;
        bridgeMutex.unlock();
    }
    BridgeLock(const BridgeLock&) = delete;
    BridgeLock& operator=(const BridgeLock&) = delete;

    // This thread was already inside the bridge when it came in.
    bool nested() const { return nested_; }

private:
    bool nested_;
};

// The "result" of a native that returns nothing.
struct Void {};
inline constexpr Void kVoid{};

// body() under the bridge lock; neutral for a nested call or when body throws.
template <typename Result, typename Body>
Result guarded(Result neutral, Body&& body) noexcept {
    BridgeLock lock;
    if (lock.nested()) return neutral;
    try {
        return body();
    } catch (...) {
        return neutral;
    }
}

// What the natives work on: how each kind of receiver is found from the
// Java object.  Null when its handle names nothing.
struct OnConfig {
    using Record = ConfigRecord;
    static Record* find(JNIEnv* env, jobject self) { return configFromObject(env, self); }
};
struct OnPathVector {
    using Record = PathVectorRecord;
    static Record* find(JNIEnv* env, jobject self) { return pathVectorFromObject(env, self); }
};
struct OnSlot {
    using Record = PathVectorSlot;
    static Record* find(JNIEnv* env, jobject self) { return pathVectorSlotFromObject(env, self); }
};

// The receiver's record and the native strings of params, then
// body(record, strings).  neutral, with nothing converted and nothing
// called, when the handle names nothing; neutral, with what was obtained
// released, when the JVM could not hand out a string.  The strings are
// released after body returns unless body releases them itself.
template <typename On, typename Result, typename Body>
Result with(JNIEnv* env, jobject self, Result neutral, std::initializer_list<jstring> params, Body&& body) noexcept {
    return guarded(neutral, [&]() -> Result {
        typename On::Record* record = On::find(env, self);
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
        PathVectorRecord* pathVector = lookupPathVector(handle);
        if (pathVector == nullptr) return neutral;
        NativeStrings strings(env, params);
        if (!strings.ok()) return neutral;
        return body(pathVector, strings);
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
        WarningScope scope(env);
        try {
            return body(scope);
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
