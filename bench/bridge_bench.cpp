// ns per native call through the fake JNIEnv against the real library, with
// no handle closed yet and after 100,000 configurations and 100,000 path
// vectors were opened and closed: closed handles must cost nothing.  With 1,000
// handles live, for comparison: a lookup walks the live ones.
#include <jni.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "fake_jni.h"

namespace {

struct Bench {
    fakejni::FakeJvm jvm;
    JNIEnv* env = jvm.env();
    fakejni::FakeClass* configClass = jvm.defineClass("COM/morvent/zel/ZelConfig");
    fakejni::FakeClass* pathVectorClass = jvm.defineClass("COM/morvent/zel/ZelPathVector");
    jstring lib, cell, view, mode;

    Bench() {
        configClass->addIntField("id");
        pathVectorClass->addIntField("pathvector");
        lib = jvm.newString("lib");
        cell = jvm.newString("bench");
        view = jvm.newString("config");
        mode = jvm.newString("w");
    }

    jobject openConfig() {
        jobject c = jvm.newObject(configClass);
        jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_open(env, c, lib, cell, view, mode, nullptr); });
        return c;
    }

    jobject newPathVector(jobject c) {
        jobject pv = jvm.newObject(pathVectorClass);
        jvm.setIntField(pv, "pathvector",
                        jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, c); }));
        return pv;
    }

    // Opens and closes `count` configurations, each with a path vector.
    void churn(int count) {
        jobject c = jvm.newObject(configClass);
        jobject pv = jvm.newObject(pathVectorClass);
        for (int i = 0; i < count; ++i) {
            jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_open(env, c, lib, cell, view, mode, nullptr); });
            jvm.setIntField(pv, "pathvector",
                            jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, c); }));
            jvm.callNative([&] { Java_COM_morvent_zel_ZelPathVector_destroy(env, pv); });
            jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_close(env, c); });
            if (i % 1000 == 999) jvm.clearCalls();
        }
        jvm.clearCalls();
    }

    // ns per call of isModified on c and getContextVectorIndex on pv, the
    // best of five runs of 100,000 calls each.
    void measure(const char* when, jobject c, jobject pv) {
        double best[2] = {1e30, 1e30};
        for (int run = 0; run < 5; ++run) {
            for (int which = 0; which < 2; ++which) {
                double total = 0;
                for (int chunk = 0; chunk < 100; ++chunk) {
                    auto start = std::chrono::steady_clock::now();
                    for (int i = 0; i < 1000; ++i) {
                        if (which == 0)
                            jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_isModified(env, c); });
                        else
                            jvm.callNative(
                                [&] { return Java_COM_morvent_zel_ZelPathVector_getContextVectorIndex(env, pv); });
                    }
                    total += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
                    jvm.clearCalls();
                }
                best[which] = std::min(best[which], total / 100000);
            }
        }
        std::printf("%-34s isModified %7.1f ns/call   getContextVectorIndex %7.1f ns/call\n", when, best[0], best[1]);
    }
};

}  // namespace

int main() {
    char tmpl[] = "/tmp/zel_bridge_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    std::filesystem::create_directories(root + "/libs/lib");
    std::ofstream(root + "/kwo.lib") << "DEFINE lib libs/lib\n";
    int status = 0;
    {
        Bench b;
        jstring defs = b.jvm.newString(root + "/kwo.lib");
        b.jvm.callNative([&] { Java_COM_morvent_zel_ZelConfig_init(b.env, nullptr, defs); });
        jobject c = b.openConfig();
        jobject pv = b.newPathVector(c);
        b.measure("0 closed handles:", c, pv);
        auto start = std::chrono::steady_clock::now();
        b.churn(100000);
        double churn = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        b.measure("after 100,000 closed of each kind:", c, pv);
        std::printf("(opening and closing 100,000 configurations with a path vector each took %.2f s)\n", churn);
        std::vector<jobject> live;
        for (int i = 0; i < 1000; ++i) live.push_back(b.newPathVector(b.openConfig()));
        b.jvm.clearCalls();
        b.measure("with 1,000 more live of each kind:", c, pv);
        if (!b.jvm.misuses().empty()) {
            std::fprintf(stderr, "JNI misuse:\n%s", b.jvm.formatMisuses().c_str());
            status = 1;
        }
    }
    std::filesystem::remove_all(root);
    return status;
}
