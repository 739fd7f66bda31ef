#include "relay.h"

#include <cstring>

#include "door.h"
#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

thread_local WarningRelay warningRelay = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

// JNI may not be called with an exception pending, and the native still has
// work to do after the library call: take the throwable out of the way and
// stop relaying for this call.
void setAsidePendingException(JNIEnv* env) {
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    if (warningRelay.pending == nullptr) {
        warningRelay.pending = thrown;
    } else {
        env->DeleteLocalRef(thrown);
    }
    warningRelay.method = nullptr;
}

// While processWarning runs: this thread counts as calling from a listener
// (door.h), and the configuration lock it holds says who holds it.
class ListenerRunning {
public:
    explicit ListenerRunning(ConfigLock* held) : held_(held) {
        door::inListener = true;
        door::listenersRunning.fetch_add(1, std::memory_order_relaxed);
        if (held_ == nullptr) return;
        {
            std::lock_guard<std::mutex> guard(held_->holderMutex);
            vekDescribeThread(held_->holder, sizeof held_->holder);
        }
        held_->holderInListener.store(true, std::memory_order_release);
    }
    ~ListenerRunning() {
        if (held_ != nullptr) held_->holderInListener.store(false, std::memory_order_release);
        door::listenersRunning.fetch_sub(1, std::memory_order_relaxed);
        door::inListener = false;
    }
    ListenerRunning(const ListenerRunning&) = delete;
    ListenerRunning& operator=(const ListenerRunning&) = delete;

private:
    ConfigLock* held_;
};

}  // namespace

void installWarningRelay(JNIEnv* env, jobject listener, ConfigLock* const* held) {
    zelSetErrorHandler(relayWarning);
    warningRelay.env = env;
    warningRelay.listener = listener;
    warningRelay.held = held;
    if (listener == nullptr) return;
    jclass cls = env->GetObjectClass(listener);
    if (cls == nullptr) return;
    warningRelay.method = env->GetMethodID(cls, "processWarning", "(Ljava/lang/String;)V");
    if (warningRelay.method == nullptr && env->ExceptionCheck()) setAsidePendingException(env);
    env->DeleteLocalRef(cls);
}

void relayWarning(int /*severity*/, const char* text) {
    JNIEnv* env = warningRelay.env;
    if (env == nullptr || warningRelay.listener == nullptr || warningRelay.method == nullptr) return;
    jstring warning = env->NewStringUTF(text != nullptr ? text : "");
    if (warning == nullptr) {
        setAsidePendingException(env);
        return;
    }
    {
        ListenerRunning running(warningRelay.held != nullptr ? *warningRelay.held : nullptr);
        env->CallVoidMethod(warningRelay.listener, warningRelay.method, warning);
    }
    // A call can emit thousands of warnings: don't let them use up the
    // native's local references.
    env->DeleteLocalRef(warning);
    if (env->ExceptionCheck()) setAsidePendingException(env);
}

void WarningScope::armAgain() {
    zelSetErrorHandler(relayWarning);
    warningRelay.env = env_;
    warningRelay.listener = listener_;
    warningRelay.method = method_;
    warningRelay.held = held_;
}

void clearWarningRelay() {
    warningRelay.env = nullptr;
    warningRelay.listener = nullptr;
    warningRelay.method = nullptr;
    warningRelay.held = nullptr;
}

void rethrowRelayedException(JNIEnv* env) {
    jthrowable pending = warningRelay.pending;
    if (pending == nullptr) return;
    warningRelay.pending = nullptr;
    // JNI allows no Throw while an exception is pending (e.g. a string the JVM
    // could not hand out after arming): Java sees that one.
    if (!env->ExceptionCheck()) env->Throw(pending);
    env->DeleteLocalRef(pending);
}
