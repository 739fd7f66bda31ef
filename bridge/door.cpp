#include "door.h"

#include <cstdio>
#include <new>

namespace door {

std::mutex bridgeMutex;
thread_local bool insideBridge = false;

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
