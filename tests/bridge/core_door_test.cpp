// The door every native goes through: nothing thrown leaves a native, a
// listener that calls back gets neutral answers and changes nothing, and a
// registration with no handle left is refused and gives the record back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "bridge_fixture.h"
#include "door.h"

namespace {

constexpr jint kLastHandle = std::numeric_limits<jint>::max();

class DoorTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        openConfig(self, config);
        pathVector = arena.pathVector(config, {arena.context("L", "C", "V", "i")});
        jvm.setIntField(pv, "pathvector", addPathVector(pathVector));
    }

    jobject newListener(std::function<void()> onWarning = {}) {
        FakeClass* cls = jvm.defineClass("test/Listener" + std::to_string(++listeners));
        cls->addVoidMethod("processWarning", "(Ljava/lang/String;)V",
                           [this, onWarning](JNIEnv*, jobject, const jvalue* args) {
                               warnings.push_back(jvm.stringValue(static_cast<jstring>(args[0].l)));
                               if (onWarning) onWarning();
                           });
        return jvm.newObject(cls);
    }

    void expectNothingLeft() {
        EXPECT_EQ(0u, jvm.unreleasedStrings());
        EXPECT_EQ("", jvm.thrownToJava());
        EXPECT_EQ(nullptr, warningRelay.env);
        EXPECT_EQ(nullptr, warningRelay.pending);
    }

    using FakeClass = fakejni::FakeClass;
    ConfigRecord* config = arena.make<ConfigRecord>();
    PathVectorRecord* pathVector = nullptr;
    jobject self = newConfig();
    jobject pv = newPathVector();
    std::vector<std::string> warnings;
    int listeners = 0;
};

// What each kind of native answers when the library throws in its call.
struct Throwing {
    const char* name;
    std::function<void(fakezel::Hooks&)> makeThrow;
    std::function<bool(jobject listener)> callAnswersNeutral;
    const char* told;  // what the listener hears, or null for a native without one
};

TEST_F(DoorTest, NothingThrownLeavesANative) {
    const std::vector<Throwing> cases = {
        {"save", [](fakezel::Hooks& h) { h.zelSave = [](ConfigRecord*) -> ZelBool { throw std::bad_alloc(); }; },
         [this](jobject l) { return Java_COM_morvent_zel_ZelConfig_save(env, self, l) == JNI_FALSE; },
         "save failed: out of memory"},
        {"open",
         [](fakezel::Hooks& h) {
             h.zelOpen = [](const char*, const char*, const char*, const char*) -> ConfigRecord* {
                 throw std::runtime_error("disk on fire");
             };
         },
         [this](jobject l) {
             jobject other = newConfig();
             return Java_COM_morvent_zel_ZelConfig_open(env, other, str("L"), str("C"), str("V"),
                                                        str("r"), l) == JNI_FALSE &&
                    configRegistry.head->config == config && configRegistry.head->next == nullptr;
         },
         "open failed: disk on fire"},
        {"bind",
         [](fakezel::Hooks& h) {
             h.zelBind3 = [](PathVectorRecord*, const char*, const char*, const char*, const char*, ZelBool,
                             ZelBool, ZelBool, BindingRecord* binding, ResolvedLists**, BindInfo**) -> int {
                 binding->libName = "half-made";
                 throw std::bad_alloc();
             };
         },
         [this](jobject l) {
             Java_COM_morvent_zel_ZelPathVector_bind(env, pv, str("i"), str("L"), str("C"), str("V"), 0,
                                                     0, 0, l);
             // Nothing of the bind that failed half-way is left to read.
             return Java_COM_morvent_zel_ZelPathVector_getCurrentLibBinding(env, pv) == nullptr;
         },
         "bind failed: out of memory"},
        {"pushCell",
         [](fakezel::Hooks& h) {
             h.zelPushCell = [](PathVectorRecord*, const char*, const char*, const char*, const char*) -> ZelBool {
                 throw std::logic_error("x");
             };
         },
         [this](jobject) {
             return Java_COM_morvent_zel_ZelPathVector_pushCell(env, pv, str("L"), str("C"), str("V"),
                                                                str("i")) == JNI_FALSE;
         },
         nullptr},
        {"createNPathVector",
         [](fakezel::Hooks& h) { h.zelCreatePathVector = [](ConfigRecord*) -> PathVectorRecord* { throw 42; }; },
         [this](jobject) {
             return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self) == 0 &&
                    pathVectorRegistry.head->next == nullptr;
         },
         nullptr},
    };
    for (const Throwing& c : cases) {
        SCOPED_TRACE(c.name);
        warnings.clear();
        c.makeThrow(lib().hooks);
        jobject listener = newListener();
        EXPECT_TRUE(jvm.callNative([&] { return c.callAnswersNeutral(listener); }));
        expectNothingLeft();
        EXPECT_EQ(c.told != nullptr ? std::vector<std::string>{c.told} : std::vector<std::string>{}, warnings);
        lib().hooks = fakezel::Hooks{};
    }
}

// A listener that calls back while save relays: every native answers its
// neutral result without a library call or a string obtained, and the outer
// call's later warnings still reach the outer listener, in order.
TEST_F(DoorTest, CallsFromAListenerAreTurnedAway) {
    lib().warningsDuring["zelSave"] = {"first", "second"};
    lib().hooks.zelSave = [](ConfigRecord*) -> ZelBool { return 1; };
    lib().hooks.zelGetTopLibName = [](ConfigRecord*) { return "top"; };
    std::vector<bool> neutral;
    jobject inner = newListener();
    jobject listener = newListener([&] {
        if (neutral.size() > 0) return;  // once, at the first warning
        neutral = {
            Java_COM_morvent_zel_ZelConfig_close(env, self) == JNI_FALSE,
            Java_COM_morvent_zel_ZelConfig_save(env, self, inner) == JNI_FALSE,
            Java_COM_morvent_zel_ZelConfig_setDefaultViewListString(env, self, str("x")) == JNI_FALSE,
            Java_COM_morvent_zel_ZelConfig_getTopLibName(env, self) == nullptr,
            Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self) == 0,
            Java_COM_morvent_zel_ZelPathVector_pushCell(env, pv, str("L"), str("C"), str("V"), str("i")) == JNI_FALSE,
        };
        Java_COM_morvent_zel_ZelPathVector_destroy(env, pv);
        Java_COM_morvent_zel_ZelPathVector_bind(env, pv, str("i"), nullptr, nullptr, nullptr, 0, 0, 0, inner);
        Java_COM_morvent_zel_ZelConfig_init(env, nullptr, str("kwo.lib"));
    });
    EXPECT_EQ(JNI_TRUE, jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_save(env, self, listener); }));

    EXPECT_EQ(std::vector<bool>(6, true), neutral);
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), warnings);
    EXPECT_EQ((std::vector<std::string>{"zelSetErrorHandler", "zelSave"}), lib().names());
    EXPECT_EQ(config, lookupConfig(configId(self)));
    EXPECT_EQ(pathVector, lookupPathVector(pathVectorHandle(pv)));
    EXPECT_EQ(0, libraryInitialized);
    expectNothingLeft();
}

TEST_F(DoorTest, NoHandleLeftRefusesRegistrationAndGivesTheRecordBack) {
    ConfigRecord* last = arena.make<ConfigRecord>();
    ConfigRecord* refused = arena.make<ConfigRecord>();
    ConfigRecord* answer = last;
    lib().hooks.zelOpen = [&](const char*, const char*, const char*, const char*) { return answer; };
    lib().hooks.zelCreatePathVector = [this](ConfigRecord*) { return arena.make<PathVectorRecord>(); };
    lib().hooks.zelCopyPathVector = [this](PathVectorRecord*) { return arena.make<PathVectorRecord>(); };
    configRegistry.nextHandle = kLastHandle;
    pathVectorRegistry.nextHandle = kLastHandle;
    jobject listener = newListener();
    jobject first = newConfig();
    jobject second = newConfig(7);
    auto open = [&](jobject o) {
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_open(env, o, str("L"), str("C"), str("V"), str("r"), listener);
        });
    };

    EXPECT_EQ(JNI_TRUE, open(first));
    EXPECT_EQ(kLastHandle, configId(first));
    answer = refused;
    EXPECT_EQ(JNI_FALSE, open(second));
    EXPECT_EQ(0, configId(second));
    ASSERT_NE(nullptr, lib().last("zelClose"));
    EXPECT_EQ(refused, lib().last("zelClose")->args[0].ptr);
    ASSERT_EQ(1u, warnings.size());
    EXPECT_NE(std::string::npos, warnings[0].find("no configuration handle is left"));
    EXPECT_EQ(nullptr, lookupConfig(0));

    jvm.callNative([&] {
        EXPECT_EQ(kLastHandle, Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self));
        EXPECT_EQ(0, Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self));
        EXPECT_EQ(0, Java_COM_morvent_zel_ZelPathVector_copy_1n(env, pv));
    });
    EXPECT_EQ(2u, lib().count("zelDestroyPathVector"));
    EXPECT_EQ(nullptr, lookupPathVector(0));
    expectNothingLeft();
}

// The locks: a path vector made over a configuration shares its lock;
// holding one configuration leaves another free and makes its path vectors
// wait; a handle withdrawn while a thread waited for its lock names nothing.
TEST_F(DoorTest, ALockPerConfigurationSharedByItsPathVectors) {
    lib().hooks.zelCreatePathVector = [this](ConfigRecord*) { return arena.make<PathVectorRecord>(); };
    const jint made = jvm.callNative([&] { return Java_COM_morvent_zel_ZelConfig_createNPathVector(env, self); });
    const jint other = registerConfig(arena.make<ConfigRecord>());
    IndexHit own{}, madeHit{}, otherHit{};
    ASSERT_TRUE(findConfigHandle(configId(self), own));
    ASSERT_TRUE(findPathVectorHandle(made, madeHit));
    ASSERT_TRUE(findConfigHandle(other, otherHit));
    EXPECT_EQ(own.lock, madeHit.lock);
    EXPECT_NE(own.lock, otherHit.lock);

    door::Held holding(nullptr);
    ASSERT_NE(nullptr, door::holdConfig(holding, configId(self)));
    std::atomic<bool> released{false};
    bool otherFree = false;
    bool waitedForRelease = false;
    std::thread worker([&] {
        {
            door::Held free(nullptr);
            otherFree = door::holdConfig(free, other) != nullptr;
        }
        door::Held waits(nullptr);
        waitedForRelease = door::holdPathVector(waits, made) != nullptr && released.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    holding.giveBack();
    worker.join();
    EXPECT_TRUE(otherFree);
    EXPECT_TRUE(waitedForRelease);

    ASSERT_NE(nullptr, door::holdConfig(holding, other));
    ConfigHandleEntry* found = nullptr;
    std::atomic<bool> tried{false};
    std::thread late([&] {
        door::Held h(nullptr);
        tried = true;
        found = door::holdConfig(h, other);
    });
    while (!tried) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    unregisterConfig(other);  // as close does, with the lock held
    holding.giveBack();
    late.join();
    EXPECT_EQ(nullptr, found);
}

// The lock bias.  Only the addresses of these envs are used, one per thread
// as the JVM hands them out.
JNIEnv ownerEnv, otherEnv;

// A configuration on a lock never biased (the pool hands out used ones);
// what was registered on the way is withdrawn at the end of the test.
struct FreshConfigs {
    ConfigRecord record{};
    std::vector<jint> registered;
    jint next() {
        for (;;) {
            registered.push_back(registerConfig(&record));
            IndexHit hit{};
            if (findConfigHandle(registered.back(), hit) && hit.lock->bias.load() == ConfigLock::kUnbiased)
                return registered.back();
        }
    }
    ~FreshConfigs() {
        for (jint h : registered) unregisterConfig(h);
    }
};

void takeAndLeave(JNIEnv* env, jint handle, unsigned times) {
    for (unsigned i = 0; i < times; ++i) {
        door::Held held(env);
        ASSERT_NE(nullptr, door::holdConfig(held, handle));
    }
}

// A fresh configuration whose lock is biased to ownerEnv.
class LockBias : public ::testing::Test {
protected:
    void SetUp() override {
        if (!door::biasAllowed()) GTEST_SKIP() << "no process-wide barrier here: nothing is biased";
        handle = configs.next();
        ASSERT_TRUE(findConfigHandle(handle, hit));
        takeAndLeave(&ownerEnv, handle, door::kBiasAfter);
        ASSERT_EQ(owner, hit.lock->bias.load());
    }
    const std::uintptr_t owner = reinterpret_cast<std::uintptr_t>(&ownerEnv);
    FreshConfigs configs;
    jint handle = 0;
    IndexHit hit{};
};

// A revoker waits for the owner inside; afterwards both take the exchange,
// and what the revoker withdrew the owner no longer finds.  Under load from
// both threads at once, right as each bias is revoked, no increment is lost.
TEST_F(LockBias, RevokedWhileTheOwnerIsInside) {
    door::Held inside(&ownerEnv);
    ASSERT_NE(nullptr, door::holdConfig(inside, handle));
    EXPECT_EQ(0, hit.lock->held.load());  // entered without the exchange
    std::atomic<bool> ownerLeft{false};
    bool enteredAfterOwner = false;
    std::thread revoker([&] {
        door::Held held(&otherEnv);
        enteredAfterOwner = door::holdConfig(held, handle) != nullptr && ownerLeft.load();
        unregisterConfig(handle);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ownerLeft = true;
    inside.giveBack();
    revoker.join();
    EXPECT_TRUE(enteredAfterOwner);
    EXPECT_EQ(ConfigLock::kRevoked, hit.lock->bias.load());
    door::Held late(&ownerEnv);
    EXPECT_EQ(nullptr, door::holdConfig(late, handle));

    constexpr int kConfigs = 100, kEach = 2000;
    for (int c = 0; c < kConfigs; ++c) {
        const jint h = configs.next();
        takeAndLeave(&ownerEnv, h, door::kBiasAfter);
        long count = 0;
        auto add = [&](JNIEnv* env) {
            for (int i = 0; i < kEach; ++i) {
                door::Held held(env);
                if (door::holdConfig(held, h) != nullptr) ++count;
            }
        };
        std::thread other(add, &otherEnv);
        add(&ownerEnv);
        other.join();
        ASSERT_EQ(2 * kEach, count) << "configuration " << c;
    }
}

// An owner paused on its way in, after storing that it is inside and before
// looking at the bias again, while another thread revokes the bias: it sees
// the revocation on looking again and waits for the lock, so the revoker,
// which waits only for the owner's flag to drop, goes first.
TEST_F(LockBias, AnOwnerPausedOnItsWayInSeesTheRevocation) {
    static std::atomic<ConfigLock*> paused{nullptr};
    static std::atomic<bool> resume{false};
    paused = nullptr;
    resume = false;
    door::ownerEnterHook = [](ConfigLock* lock) {
        door::ownerEnterHook = nullptr;
        paused = lock;
        while (!resume) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::mutex orderMutex;
    std::string order;
    auto enter = [&](JNIEnv* env, char who) {
        door::Held held(env);
        if (door::holdConfig(held, handle) == nullptr) return;
        std::lock_guard<std::mutex> guard(orderMutex);
        order += who;
    };
    std::thread ownerThread(enter, &ownerEnv, 'o');
    while (paused == nullptr) std::this_thread::yield();
    std::thread revoker(enter, &otherEnv, 'r');
    while (hit.lock->bias.load() != ConfigLock::kRevoked) std::this_thread::yield();
    resume = true;
    ownerThread.join();
    revoker.join();
    door::ownerEnterHook = nullptr;
    EXPECT_EQ(hit.lock, paused.load());
    EXPECT_EQ("ro", order) << "the owner entered on a bias already revoked";
}

// A revoked bias comes back to its first owner after a long streak, to no
// other thread, and not while another thread breaks the streak.  Then, in
// bursts, the other thread cuts in while the owner takes and leaves, and the
// owner earns the bias back: each cut-in revokes it, each burst regains it,
// and no increment is lost.  The cut-ins come on cue, not by timing: sleeps
// shorter than a millisecond are no sleeps at all on some systems.
TEST_F(LockBias, TheFirstOwnerEarnsItBack) {
    takeAndLeave(&otherEnv, handle, door::kRebiasAfter + 1);
    EXPECT_EQ(ConfigLock::kRevoked, hit.lock->bias.load()) << "only the first owner earns it back";
    takeAndLeave(&ownerEnv, handle, door::kRebiasAfter - 1);
    takeAndLeave(&otherEnv, handle, 1);
    takeAndLeave(&ownerEnv, handle, door::kRebiasAfter - 1);
    EXPECT_EQ(ConfigLock::kRevoked, hit.lock->bias.load()) << "a streak another thread broke";
    takeAndLeave(&ownerEnv, handle, 1);
    ASSERT_EQ(owner, hit.lock->bias.load());

    constexpr int kBursts = 40;
    long count = 0, otherCount = 0, revoked = 0;  // under the lock
    std::atomic<int> asked{0}, cutIn{0};
    std::thread other([&] {
        for (int b = 0; b < kBursts; ++b) {
            while (asked.load() <= b) std::this_thread::yield();
            {
                door::Held held(&otherEnv);
                if (door::holdConfig(held, handle) != nullptr) {
                    ++count;
                    ++otherCount;
                    if (hit.lock->bias.load() == ConfigLock::kRevoked) ++revoked;
                }
            }
            cutIn.store(b + 1);
        }
    });
    long ownerTakes = 0, ownerCount = 0, regained = 0;
    auto ownerTake = [&] {
        ++ownerTakes;
        door::Held held(&ownerEnv);
        if (door::holdConfig(held, handle) != nullptr) {
            ++count;
            ++ownerCount;
        }
    };
    for (int b = 0; b < kBursts; ++b) {
        asked.store(b + 1);
        while (cutIn.load() <= b) ownerTake();
        for (unsigned i = 0; i < door::kRebiasAfter; ++i) ownerTake();
        if (hit.lock->bias.load() == owner) ++regained;
    }
    other.join();
    EXPECT_EQ(ownerTakes, ownerCount);
    EXPECT_EQ(kBursts, otherCount);
    EXPECT_EQ(ownerCount + otherCount, count) << "an increment lost: two threads were inside at once";
    EXPECT_EQ(kBursts, revoked) << "a cut-in that found the bias still the owner's";
    EXPECT_EQ(kBursts, regained) << "a burst after which the owner had no bias";
}

// Without the barrier (forced here) nothing is biased: a thread that takes a
// lock again and again still takes the exchange every time.
TEST(LockBiasOff, WithoutTheBarrierEveryoneTakesTheExchange) {
    door::forbidBias(true);
    FreshConfigs configs;
    const jint handle = configs.next();
    takeAndLeave(&ownerEnv, handle, 2 * door::kBiasAfter);
    door::Held held(&ownerEnv);
    ConfigHandleEntry* entry = door::holdConfig(held, handle);
    door::forbidBias(false);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(1, entry->lock->held.load());
    EXPECT_EQ(ConfigLock::kRevoked, entry->lock->bias.load());
    // Nobody was its first owner: a long streak of callers without an env
    // earns none of them a bias.
    held.giveBack();
    takeAndLeave(nullptr, handle, door::kRebiasAfter);
    EXPECT_EQ(ConfigLock::kRevoked, entry->lock->bias.load());
}

// A receiver whose class lacks the handle field (a shrinker renamed it): the
// JVM's error stays pending, so nothing further is called through JNI, nothing
// is registered and the answer is neutral.
TEST_F(DoorTest, AReceiverWithoutItsHandleFieldAnswersNeutral) {
    lib().hooks.zelOpen = [this](const char*, const char*, const char*, const char*) {
        return arena.make<ConfigRecord>();
    };
    FakeClass* renamed = jvm.defineClass("test/Shrunk");
    renamed->fieldsRenamed = true;
    jobject shrunk = jvm.newObject(renamed);
    jobject listener = newListener();
    EXPECT_EQ(JNI_FALSE, jvm.callNative([&] {
                  return Java_COM_morvent_zel_ZelConfig_open(env, shrunk, str("L"), str("C"), str("V"), str("r"),
                                                             listener);
              }));
    EXPECT_EQ("java/lang/NoSuchFieldError", jvm.thrownToJava());
    EXPECT_EQ(JNI_FALSE, jvm.callNative([&] {
                  return Java_COM_morvent_zel_ZelConfig_setOccurBinding(env, shrunk, pathVectorHandle(pv), str("L"),
                                                                        str("C"), str("V"), str("i"));
              }));
    EXPECT_EQ("java/lang/NoSuchFieldError", jvm.thrownToJava());
    EXPECT_EQ(0u, lib().count("zelOpen"));
    EXPECT_EQ(0u, lib().count("zelGetContextOccInst"));
    EXPECT_EQ(config, configRegistry.head->config);
    EXPECT_EQ(nullptr, configRegistry.head->next);
    EXPECT_EQ(std::vector<std::string>{}, warnings);
}

TEST_F(DoorTest, AFailedOpenBeforeInitSaysThatInitWasNotCalled) {
    lib().hooks.zelOpen = [](const char*, const char*, const char*, const char*) -> ConfigRecord* { return nullptr; };
    jobject listener = newListener();
    auto open = [&] {
        return jvm.callNative([&] {
            return Java_COM_morvent_zel_ZelConfig_open(env, newConfig(), str("L"), str("C"), str("V"), str("r"),
                                                       listener);
        });
    };
    EXPECT_EQ(JNI_FALSE, open());
    ASSERT_EQ(1u, warnings.size());
    EXPECT_EQ(0u, warnings[0].find("ZelConfig.init has not been called"));
    warnings.clear();
    libraryInitialized = 1;
    EXPECT_EQ(JNI_FALSE, open());
    EXPECT_EQ(std::vector<std::string>{}, warnings);
}

}  // namespace
