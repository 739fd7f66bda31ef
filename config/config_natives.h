// The shapes that most ZelConfig natives share: look up the receiver's
// configuration, obtain the String parameters, call one library function,
// hand its result to Java.  Each native names its library function and its
// Strings; the order rules live here once.
#ifndef ZEL_CONFIG_CONFIG_NATIVES_H
#define ZEL_CONFIG_CONFIG_NATIVES_H

#include <jni.h>

#include <cstddef>
#include <initializer_list>
#include <utility>

#include "jni_util.h"
#include "registry.h"
#include "relay.h"
#include "zelvek/zelvek.h"

// fn(lead..., strings[0], strings[1], ...): the native strings in parameter order.
template <typename Fn, std::size_t... I, typename... Lead>
decltype(auto) applyStrings(Fn fn, const NativeStrings& strings, std::index_sequence<I...>, Lead... lead) {
    return fn(lead..., strings[I]...);
}

// The receiver's configuration and the native strings of params, then
// body(config, strings).  neutral, with nothing converted and nothing called,
// when the handle names nothing; neutral, with what was obtained released,
// when the JVM could not hand out a string.  The strings are released after
// body returns unless body releases them itself.
template <typename Result, typename Body>
Result withConfigStrings(JNIEnv* env, jobject self, Result neutral, std::initializer_list<jstring> params,
                         Body body) {
    ConfigRecord* config = configFromObject(env, self);
    if (config == nullptr) return neutral;
    NativeStrings strings(env, params);
    if (!strings.ok()) return neutral;
    return body(config, strings);
}

// fn(config, strings...) handed to Java as a boolean: the library's byte, or
// the low byte of a wider result, unchanged.  false when the handle names nothing.
template <typename R, typename... Chars, typename... Strings>
jboolean configBoolean(JNIEnv* env, jobject self, R (*fn)(ConfigRecord*, Chars...), Strings... params) {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the library function");
    return withConfigStrings(env, self, jboolean{JNI_FALSE}, {params...},
                             [fn](ConfigRecord* config, NativeStrings& strings) {
                                 return toJavaBoolean(
                                     applyStrings(fn, strings, std::index_sequence_for<Strings...>{}, config));
                             });
}

// fn(config) copied into a Java string; null when the handle names nothing or
// the library has no value.
inline jstring configString(JNIEnv* env, jobject self, const char* (*fn)(ConfigRecord*)) {
    ConfigRecord* config = configFromObject(env, self);
    return config != nullptr ? toJavaString(env, fn(config)) : nullptr;
}

// save and saveAs: as configBoolean, with the warnings of the library call
// relayed to listener.  An exception the relay set aside is thrown again once
// the strings are released.
template <typename... Chars, typename... Strings>
jboolean relayedConfigBoolean(JNIEnv* env, jobject self, jobject listener, ZelBool (*fn)(ConfigRecord*, Chars...),
                              Strings... params) {
    static_assert(sizeof...(Chars) == sizeof...(Strings), "one String for each string of the library function");
    WarningScope warnings(env);
    return withConfigStrings(env, self, jboolean{JNI_FALSE}, {params...},
                             [&](ConfigRecord* config, NativeStrings& strings) {
                                 warnings.arm(listener);
                                 ZelBool result =
                                     applyStrings(fn, strings, std::index_sequence_for<Strings...>{}, config);
                                 warnings.disarm();
                                 return toJavaBoolean(result);
                             });
}

#endif
