// ns per native call through the fake JNIEnv against the real library, with
// no handle closed yet and after 100,000 configurations and 100,000 path
// vectors were opened and closed: closed handles must cost nothing.  With 1,000
// handles live, for comparison: a lookup walks the live ones.  The fake's own
// bookkeeping is most of a call's time, so the registry lookups are also timed
// alone.
#include <jni.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "fake_jni.h"
#include "registry.h"

namespace {

double nsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

// The fake keeps a record of every object and string it hands out for as long
// as it lives: each phase has a JVM of its own, so that no phase pays for the
// records of an earlier one.
struct Jvm {
    fakejni::FakeJvm jvm;
    JNIEnv* env = jvm.env();
    fakejni::FakeClass* configClass = jvm.defineClass("COM/morvent/zel/ZelConfig");
    fakejni::FakeClass* pathVectorClass = jvm.defineClass("COM/morvent/zel/ZelPathVector");
    jstring lib, cell, view, mode;

    Jvm() {
        configClass->addIntField("id");
        pathVectorClass->addIntField("pathvector");
        lib = jvm.newString("lib");
        cell = jvm.newString("bench");
        view = jvm.newString("config");
        mode = jvm.newString("w");
    }
    ~Jvm() {
        if (!jvm.misuses().empty()) {
            std::fprintf(stderr, "JNI misuse:\n%s", jvm.formatMisuses().c_str());
            std::exit(1);
        }
    }

    jobject config(jint id) {
        jobject c = jvm.newObject(configClass);
        jvm.setIntField(c, "id", id);
        return c;
    }
    jobject pathVector(jint handle) {
        jobject pv = jvm.newObject(pathVectorClass);
        jvm.setIntField(pv, "pathvector", handle);
        return pv;
    }
    jint open() {
        jobject c = config(0);
        jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_open(env, c, lib, cell, view, mode, nullptr); });
        return jvm.intField(c, "id");
    }
    jint createPathVector(jint id) {
        jobject c = config(id);
        return jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, c); });
    }
};

// Opens and closes `count` configurations, each with a path vector.
void churn(int count) {
    for (int done = 0; done < count; done += 1000) {
        Jvm j;
        jobject c = j.config(0);
        jobject pv = j.pathVector(0);
        for (int i = 0; i < 1000; ++i) {
            j.jvm.callNative(
                [&] { return Java_COM_morvent_zel_ZelConfig_open(j.env, c, j.lib, j.cell, j.view, j.mode, nullptr); });
            jint handle = j.jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(j.env, c); });
            j.jvm.setIntField(pv, "pathvector", handle);
            j.jvm.callNative([&] { Java_COM_morvent_zel_ZelPathVector_destroy(j.env, pv); });
            j.jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(j.env, c); });
        }
    }
}

// ns per call of isModified on configuration `id` and getContextVectorIndex
// on path vector `handle`: the best of five runs of 100,000 calls each, every
// run with a fresh JVM.
void measure(const char* when, jint id, jint handle) {
    double best[2] = {1e30, 1e30};
    for (int run = 0; run < 5; ++run) {
        for (int which = 0; which < 2; ++which) {
            double total = 0;
            for (int chunk = 0; chunk < 100; ++chunk) {
                Jvm j;
                jobject c = j.config(id);
                jobject pv = j.pathVector(handle);
                auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < 1000; ++i) {
                    if (which == 0)
                        j.jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_isModified(j.env, c); });
                    else
                        j.jvm.callNative(
                            [&] { return Java_COM_morvent_zel_ZelPathVector_getContextVectorIndex(j.env, pv); });
                }
                total += nsSince(start);
            }
            best[which] = std::min(best[which], total / 100000);
        }
    }
    std::printf("%-36s isModified %7.1f ns/call   getContextVectorIndex %7.1f ns/call\n", when, best[0], best[1]);
}

// The registry lookups alone, without the fake JVM: ns per lookupConfig and
// per lookupPathVectorSlot, the best of five runs of 1,000,000 each.
void measureLookups(const char* when, jint id, jint handle) {
    double best[2] = {1e30, 1e30};
    const void* volatile sink = nullptr;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000000; ++i) sink = lookupConfig(id);
        best[0] = std::min(best[0], nsSince(start) / 1e6);
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000000; ++i) sink = lookupPathVectorSlot(handle);
        best[1] = std::min(best[1], nsSince(start) / 1e6);
    }
    static_cast<void>(sink);
    std::printf("%-36s lookupConfig %5.1f ns   lookupPathVectorSlot %5.1f ns\n", when, best[0], best[1]);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/zel_bridge_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    std::filesystem::create_directories(root + "/libs/lib");
    std::ofstream(root + "/kwo.lib") << "DEFINE lib libs/lib\n";
    jint id = 0, handle = 0;
    {
        Jvm j;
        jstring defs = j.jvm.newString(root + "/kwo.lib");
        j.jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_init(j.env, nullptr, defs); });
        id = j.open();
        handle = j.createPathVector(id);
    }
    if (id == 0 || handle == 0) {
        std::fprintf(stderr, "cannot open a configuration\n");
        return 1;
    }
    measure("0 closed handles:", id, handle);
    measureLookups("  registry alone, 0 closed:", id, handle);
    auto start = std::chrono::steady_clock::now();
    churn(100000);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure("after 100,000 closed of each kind:", id, handle);
    measureLookups("  registry alone, 100,000 closed:", id, handle);
    std::printf("(opening and closing 100,000 configurations with a path vector each: %.2f s)\n", seconds);
    {
        Jvm j;
        for (int i = 0; i < 1000; ++i) j.createPathVector(j.open());
    }
    measure("with 1,000 more live of each kind:", id, handle);
    measureLookups("  registry alone, 1,000 live:", id, handle);
    std::filesystem::remove_all(root);
    return 0;
}
