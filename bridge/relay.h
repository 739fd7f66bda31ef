// The warning relay: while the library opens, saves or binds, each warning it
// emits goes to the Java listener passed with that call, synchronously and in
// order.  Armed just before the one library call, disarmed right after it.
#ifndef ZEL_BRIDGE_RELAY_H
#define ZEL_BRIDGE_RELAY_H

#include <jni.h>

struct ConfigLock;

struct WarningRelay {
    JNIEnv* env;          // of the native call that armed the relay
    jobject listener;     // local reference of that call, or null
    jmethodID method;     // processWarning(String), or null
    jthrowable pending;   // set aside until the native returns, or null
    // The configuration lock the native holds, or null; marked while the
    // listener runs so that a thread waiting for it long can say who holds it.
    ConfigLock* const* held;
};

// One per thread: the library calls the handler only from within the call
// that the native made, on the same thread, and natives on different
// configurations relay at the same time.
extern thread_local WarningRelay warningRelay;

void installWarningRelay(JNIEnv* env, jobject listener, ConfigLock* const* held = nullptr);
void relayWarning(int severity, const char* text);
void clearWarningRelay();
// Throws again what the relay set aside (a listener without processWarning, a
// listener that threw); a no-op when nothing was.  When the native has an
// exception of its own pending, that one stands and the set-aside one is dropped.
void rethrowRelayedException(JNIEnv* env);

// One relaying native: arm()/disarm() around its library call; when the scope
// ends, after the native's own work is done, an exception the relay set aside
// is thrown again.  Declare it before anything whose destructor calls JNI.
// A native that returns between arm() and disarm() is disarmed here, so the
// relay never outlives the native's env and listener.
class WarningScope {
public:
    explicit WarningScope(JNIEnv* env, ConfigLock* const* held = nullptr) : env_(env), held_(held) {}
    ~WarningScope() {
        clearWarningRelay();
        rethrowRelayedException(env_);
    }
    WarningScope(const WarningScope&) = delete;
    WarningScope& operator=(const WarningScope&) = delete;

    void arm(jobject listener) {
        installWarningRelay(env_, listener, held_);
        listener_ = listener;
        method_ = warningRelay.method;
    }
    // arm() again with the listener of the last arm(), its method not looked
    // up again: for a native that makes many library calls in a row.
    void armAgain();
    void disarm() { clearWarningRelay(); }

private:
    JNIEnv* env_;
    ConfigLock* const* held_;
    jobject listener_ = nullptr;
    jmethodID method_ = nullptr;
};

#endif
