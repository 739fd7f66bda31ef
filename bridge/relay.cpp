#include "relay.h"

#include "zelvek/zelvek.h"

WarningRelay warningRelay = {nullptr, nullptr, nullptr, nullptr};

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

}  // namespace

void installWarningRelay(JNIEnv* env, jobject listener) {
    zelSetErrorHandler(relayWarning);
    warningRelay.env = env;
    warningRelay.listener = listener;
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
    env->CallVoidMethod(warningRelay.listener, warningRelay.method, warning);
    // A call can emit thousands of warnings: don't let them use up the
    // native's local references.
    env->DeleteLocalRef(warning);
    if (env->ExceptionCheck()) setAsidePendingException(env);
}

void clearWarningRelay() {
    warningRelay.env = nullptr;
    warningRelay.listener = nullptr;
    warningRelay.method = nullptr;
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
