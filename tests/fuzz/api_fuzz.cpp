// libFuzzer target: the input is a program of native calls of ZelConfig and
// ZelPathVector, run through the fake JNIEnv against the real library, over a
// copy of the example design made once per process in a scratch directory.
//
// The program picks receivers (a few ZelConfig and ZelPathVector objects
// whose handle fields it may also set to any number: a live handle, a
// withdrawn one, 0, a negative one, one of the other kind), strings (null,
// empty, names of the design, text with any UTF-16 code units as a JVM hands
// them out, bytes no JVM hands out, very long ones), listeners (none, one
// that records, one that throws, an object without processWarning, one that
// calls natives back) and may make the JVM refuse a string as when it is out
// of memory.
//
// A finding is a sanitizer report, a misuse the fake JNIEnv records (a
// native string not released or released twice, a JNI call with an exception
// pending, a result that is not modified UTF-8, ...), an exception that
// reaches Java from a call that had no reason to throw, a save whose file
// does not read back to the rules saved, or a native called from a listener
// that answers other than its neutral result or changes anything.  Everything the
// program opened is closed at its end, and the design is put back when it
// was saved over, so that each input runs from the same state.
#include <fuzzer/FuzzedDataProvider.h>
#include <jni.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "COM_morvent_zel_ZelConfig.h"
#include "COM_morvent_zel_ZelPathVector.h"
#include "config_dump.h"
#include "fake_jni.h"
#include "registry.h"
#include "zelvek/format.h"

#define ZC(name) Java_COM_morvent_zel_ZelConfig_##name
#define ZP(name) Java_COM_morvent_zel_ZelPathVector_##name

namespace fs = std::filesystem;

namespace {

// ---- the design on disk ----------------------------------------------------

// What stat says of a file or directory: a save that renames a file into a
// directory changes both (on tmpfs a directory's size counts its entries).
struct Stamp {
    ino_t inode = 0;
    off_t size = -2;  // -1: no such file; -2: never written
    nlink_t links = 0;
    long long mtime = 0;  // ns
    bool operator!=(const Stamp& o) const {
        return inode != o.inode || size != o.size || links != o.links || mtime != o.mtime;
    }
};

struct Design {
    struct File {
        std::string text;
        Stamp stamp;  // what stat said of it once written
    };
    std::string root;                    // scratch directory
    std::map<std::string, File> files;   // the pristine design, relative to root
    std::map<std::string, Stamp> dirs;   // its directories, the same way ("" is root)
};

Design& design() {
    static Design d;
    return d;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Stamp stampOf(const std::string& path) {
    struct stat st;
    Stamp s;
    s.size = -1;
    if (::stat(path.c_str(), &st) != 0) return s;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.links = st.st_nlink;
    s.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

// Puts the design back after a program that saved: writes again the files
// whose stat changed (a save renames a new file over the old one) and, in the
// directories whose stat changed, removes what is not part of the design.
// Rewriting, or even walking, the whole tree for every such input was most of
// the time of a short program.
void restoreDesign() {
    Design& d = design();
    std::error_code ec;
    bool changed = false;
    for (auto& [dir, was] : d.dirs) {
        const std::string path = d.root + "/" + dir;
        if (!(stampOf(path) != was)) continue;
        changed = true;
        fs::create_directories(path, ec);
        for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const std::string rel = dir.empty() ? name : dir + "/" + name;
            if (d.dirs.count(rel) == 0 && d.files.count(rel) == 0) fs::remove_all(it->path(), ec);
        }
    }
    for (auto& [rel, file] : d.files) {
        const std::string path = d.root + "/" + rel;
        if (!(stampOf(path) != file.stamp)) continue;
        changed = true;
        if (fs::is_directory(path, ec)) fs::remove_all(path, ec);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << file.text;
        file.stamp = stampOf(path);
    }
    if (!changed) return;
    for (auto& [rel, stamp] : d.dirs) stamp = stampOf(d.root + "/" + rel);
}

void makeDesign() {
    const char* source = std::getenv("ZEL_FUZZ_EXAMPLES");
    const std::string examples = source ? source : ZEL_EXAMPLES_DIR;
    // In memory where there is such a file system: saves flush, and many
    // inputs save.
    std::error_code ignored;
    std::string base = fs::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
    if (const char* dir = std::getenv("TMPDIR")) base = dir;
    std::string tmpl = base + "/zel_api_fuzz_XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::perror("api_fuzz: mkdtemp");
        std::abort();
    }
    Design& d = design();
    d.root = tmpl;
    d.files["kwo.lib"].text = readAll(examples + "/kwo.lib");
    for (const auto& entry : fs::recursive_directory_iterator(examples + "/libs"))
        if (entry.is_regular_file()) d.files[fs::relative(entry.path(), examples).string()].text = readAll(entry.path());
    if (d.files.size() < 10) {
        std::fprintf(stderr, "api_fuzz: no example design in %s (set ZEL_FUZZ_EXAMPLES)\n", examples.c_str());
        std::abort();
    }
    d.dirs[""] = d.dirs["partial"] = Stamp{};
    for (const auto& file : d.files)
        for (fs::path dir = fs::path(file.first).parent_path(); !dir.empty(); dir = dir.parent_path())
            d.dirs[dir.string()] = Stamp{};
    for (const auto& dir : d.dirs) fs::create_directories(d.root + "/" + dir.first);
    restoreDesign();
}

void removeDesign() {
    std::error_code ignored;
    fs::remove_all(design().root, ignored);
}

// ---- the words a program is made of --------------------------------------

const char* const kWords[] = {
    // libraries, cells, views and instances of the example design
    "design", "stdcells", "devices", "altcells", "chip", "core", "alu", "adder", "fulladder", "inv", "nand2", "nor2",
    "dff", "res", "nmos", "pmos", "schematic", "symbol", "layout", "behavioral", "spice", "config", "alt_config",
    "sim_config", "CORE", "ALU0", "ALU1", "ADD", "FA0", "FA1", "G0", "G1", "G2", "NEG", "PAD0", "REG", "X0", "N0", "MN",
    // modes, view types, lists, constants
    "r", "a", "w", "x", "rw", "schematic symbol", "symbol spice", "design stdcells devices", "$(GATE_VIEW)",
    "$(GATE_VIEW) schematic", "GATE_VIEW", "$(", "$()", "$(X", "$(A)$(B)", "A", "B", " ", "  a  b  ", "*", "-", "#",
    // names no library or file system takes as they are
    ".", "..", "a/b", "../..", "/", "\\", "\"", "\xC0\x80", "a\xC0\x80q", "\xED\xA0\xBD\xED\xB8\x80",
    "\xED\xA0\x80", "\xED\xB0\x80", "\xEF\xBB\xBF", "\xE2\x80\xA8"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// One UTF-16 code unit in modified UTF-8, as a JVM hands out any String.
void appendUnit(std::string& out, uint16_t u) {
    if (u != 0 && u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// ---- one run ---------------------------------------------------------------

class Program {
public:
    explicit Program(FuzzedDataProvider& in) : in_(in) {
        zelConfig_ = jvm_.defineClass("COM/morvent/zel/ZelConfig");
        zelConfig_->addIntField("id");
        zelPathVector_ = jvm_.defineClass("COM/morvent/zel/ZelPathVector");
        zelPathVector_->addIntField("pathvector");
        FakeClassRef listener = jvm_.defineClass("COM/example/Listener");
        listener->addVoidMethod("processWarning", "(Ljava/lang/String;)V", [this](JNIEnv*, jobject, const jvalue* args) {
            // A warning is a String the listener can read.
            if (args[0].l == nullptr) misuse("processWarning got a null warning");
            ++warnings_;
        });
        FakeClassRef thrower = jvm_.defineClass("COM/example/ThrowingListener");
        jthrowable refusal = jvm_.newThrowable("java/lang/IllegalStateException", "listener refuses");
        thrower->addVoidMethod("processWarning", "(Ljava/lang/String;)V",
                               [refusal](JNIEnv* env, jobject, const jvalue*) { env->Throw(refusal); });
        FakeClassRef callingBack = jvm_.defineClass("COM/example/CallingBackListener");
        callingBack->addVoidMethod("processWarning", "(Ljava/lang/String;)V",
                                   [this](JNIEnv*, jobject, const jvalue*) { ++warnings_; callBack(); });
        FakeClassRef other = jvm_.defineClass("java/lang/Object");
        for (auto& obj : configs_) obj = jvm_.newObject(zelConfig_);
        for (auto& obj : pathVectors_) obj = jvm_.newObject(zelPathVector_);
        listeners_[0] = nullptr;
        listeners_[1] = jvm_.newObject(listener);
        listeners_[2] = jvm_.newObject(thrower);
        listeners_[3] = jvm_.newObject(other);
        listeners_[4] = configs_[0];
        listeners_[5] = jvm_.newObject(callingBack);
    }

    void run() {
        while (in_.remaining_bytes() > 0 && steps_ < kMaxSteps) {
            ++steps_;
            step();
        }
        closeEverything();
    }

    bool wroteDesign() const { return wrote_; }

private:
    using FakeClassRef = fakejni::FakeClass*;
    static constexpr int kMaxSteps = 100;

    [[noreturn]] void misuse(const std::string& what) {
        std::fprintf(stderr, "api_fuzz: %s\nmisuses:\n%sJNI calls of the last native:\n%s", what.c_str(),
                     jvm_.formatMisuses().c_str(), jvm_.formatCalls().c_str());
        std::abort();
    }

    // Runs one native as the JVM would, then checks what the fake recorded.
    template <typename F>
    auto call(const char* name, F&& native, bool mayThrow = false) {
        static const bool trace = std::getenv("API_FUZZ_TRACE") != nullptr;
        if (trace) std::fprintf(stderr, "api_fuzz: %s\n", name);
        jvm_.clearCalls();
        if (injected_) mayThrow = true;
        auto result = jvm_.callNative(std::forward<F>(native));
        if (trace) {
            if constexpr (std::is_same_v<decltype(result), jstring>) {
                std::fprintf(stderr, "  -> %s\n", result ? ("\"" + jvm_.stringValue(result) + "\"").c_str() : "null");
            } else {
                std::fprintf(stderr, "  -> %lld\n", static_cast<long long>(result));
            }
        }
        injected_ = false;
        jvm_.failStringUTFCharsAt(0);
        jvm_.failNewStringUTFAt(0);
        if (!jvm_.misuses().empty()) misuse(std::string(name) + ": JNI misuse");
        jvm_.forgetStrings();  // a program converts megabytes of strings
        if (!jvm_.thrownToJava().empty() && !mayThrow)
            misuse(std::string(name) + ": " + jvm_.thrownToJava() + " reached Java (" + jvm_.thrownMessage() + ")");
        return result;
    }
    template <typename F>
    void callVoid(const char* name, F&& native, bool mayThrow = false) {
        call(name, [&] { native(); return 0; }, mayThrow);
    }

    // ---- arguments

    jint anyInt() {
        switch (in_.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: return 0;
            case 1: return -1;
            case 2: return INT_MIN;
            case 3: return INT_MAX;
            case 4: return in_.ConsumeIntegralInRange<jint>(-3, 300);
            default: return in_.ConsumeIntegral<jint>();
        }
    }

    jint handle(const std::vector<jint>& same, const std::vector<jint>& other) {
        int kind = in_.ConsumeIntegralInRange<int>(0, 5);
        if (kind <= 2 && !same.empty()) return same[in_.ConsumeIntegralInRange<size_t>(0, same.size() - 1)];
        if (kind == 3 && !other.empty()) return other[in_.ConsumeIntegralInRange<size_t>(0, other.size() - 1)];
        if (kind == 4) return in_.ConsumeIntegralInRange<jint>(1, 8);
        return anyInt();
    }
    jint configHandle() { return handle(configHandles_, pathVectorHandles_); }
    jint pathVectorHandle() { return handle(pathVectorHandles_, configHandles_); }

    jobject config() { return configs_[in_.ConsumeIntegralInRange<size_t>(0, kObjects - 1)]; }
    jobject pathVector() { return pathVectors_[in_.ConsumeIntegralInRange<size_t>(0, kObjects - 1)]; }

    std::string javaText(size_t maxUnits) {
        std::string out;
        size_t n = in_.ConsumeIntegralInRange<size_t>(0, maxUnits);
        for (size_t i = 0; i < n && in_.remaining_bytes() > 0; ++i) {
            uint16_t u;
            switch (in_.ConsumeIntegralInRange<int>(0, 7)) {
                case 0: u = 0; break;                                                 // U+0000
                case 1: u = in_.ConsumeIntegralInRange<uint16_t>(0xD800, 0xDFFF); break;  // lone surrogates
                case 2: u = in_.ConsumeIntegralInRange<uint16_t>(0x80, 0x7FF); break;
                case 3: u = in_.ConsumeIntegral<uint16_t>(); break;
                case 4: u = static_cast<uint16_t>(" $()/.\\\"#*-\t\n\r"[in_.ConsumeIntegralInRange<int>(0, 13)]); break;
                default: u = in_.ConsumeIntegralInRange<uint16_t>(0x21, 0x7E); break;
            }
            appendUnit(out, u);
        }
        return out;
    }

    std::string word() { return kWords[in_.ConsumeIntegralInRange<size_t>(0, kWordCount - 1)]; }

    // A Java String argument.
    jstring str() {
        std::string text;
        switch (in_.ConsumeIntegralInRange<int>(0, 11)) {
            case 0: return nullptr;
            case 1: break;  // ""
            case 2: case 3: case 4: case 5: text = word(); break;
            case 6: text = word() + " " + word(); break;
            case 7: text = word() + javaText(4); break;
            case 8: text = javaText(24); break;
            case 9: {
                // Bytes no JVM hands out; the library takes whatever it is given.
                text = in_.ConsumeRandomLengthString(24);
                break;
            }
            case 10: {
                std::string unit = word();
                size_t times = in_.ConsumeIntegralInRange<size_t>(1, 600);
                bool spaced = in_.ConsumeBool();
                for (size_t i = 0; i < times; ++i) (text += unit) += spaced ? " " : "";
                break;
            }
            default: {
                // Longer than any name or path the file system takes; now and
                // then far longer.
                size_t n = in_.ConsumeIntegralInRange<size_t>(200, 5000);
                if (in_.ConsumeIntegralInRange<int>(0, 15) == 0) n *= 4;
                text = std::string(n, 'x');
                break;
            }
        }
        return jvm_.newString(text);
    }

    // A path for openPartial: always inside the scratch directory, whatever
    // the name, so that a save cannot write anywhere else.
    jstring path() {
        const std::string& root = design().root;
        switch (in_.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: return nullptr;
            case 1: return jvm_.newString("");
            case 2: return jvm_.newString(root + "/libs/design/chip/config/config.zel");
            case 3: return jvm_.newString(root + "/libs/design/chip/alt_config/config.zel");
            case 4: return jvm_.newString(root + "/partial");
            case 5: return jvm_.newString(root + "/partial/no/such/dir/config.zel");
            default: {
                std::string name = in_.ConsumeBool() ? word() : javaText(12);
                for (char& c : name)
                    if (c == '/') c = '_';
                if (name.empty() || name == "." || name == "..") name = "p" + name;
                return jvm_.newString(root + "/partial/" + name);
            }
        }
    }

    jboolean flag() { return static_cast<jboolean>(in_.ConsumeIntegralInRange<int>(0, 3) == 3 ? 2 : in_.ConsumeBool()); }

    // A listener; whether a call with it may end with an exception in Java.
    // The last one calls the bridge back: its sub-program is decoded here.
    jobject listener(bool& mayThrow) {
        size_t k = in_.ConsumeIntegralInRange<size_t>(0, 5);
        mayThrow = k >= 2 && k <= 4;  // it throws, or has no processWarning: NoSuchMethodError
        if (k == 5) decodeNested();
        return listeners_[k];
    }

    // ---- calls back from a listener
    //
    // While a native runs, a native called from its listener answers its
    // neutral result (false, 0, null, nothing) and changes nothing: no string
    // converted or made, no warning relayed, no handle field written, no
    // handle registered or withdrawn.

    struct Nested {
        int kind;
        jobject config, pathVector;
        jstring a, b, c, d;
        jint handle;
    };

    void decodeNested() {
        nested_.clear();
        size_t n = in_.ConsumeIntegralInRange<size_t>(1, 4);
        for (size_t i = 0; i < n && in_.remaining_bytes() > 0; ++i) {
            int kind = in_.ConsumeIntegralInRange<int>(0, 15);
            jobject cfg = config(), pv = pathVector();
            jstring a = str(), b = str(), c = str(), d = str();
            nested_.push_back(Nested{kind, cfg, pv, a, b, c, d, pathVectorHandle()});
        }
    }

    // A native of the sub-program, called from the listener; its answer as a number.
    long long runNested(const Nested& n) {
        JNIEnv* e = env();
        jobject rec = listeners_[1];
        auto some = [](jstring s) { return s != nullptr ? 1LL : 0LL; };
        return jvm_.callNative([&]() -> long long {
            switch (n.kind) {
                case 0: return ZC(close)(e, n.config);
                case 1: ZP(destroy)(e, n.pathVector); return 0;
                case 2: return ZC(setDefaultViewListString)(e, n.config, n.a);
                case 3: ZP(bind)(e, n.pathVector, n.a, n.b, n.c, n.d, 1, 1, 0, rec); return 0;
                case 4: return ZP(pushCell)(e, n.pathVector, n.a, n.b, n.c, n.d);
                case 5: return ZP(popCell)(e, n.pathVector);
                case 6: return ZC(save)(e, n.config, rec);
                case 7: return ZC(open)(e, n.config, n.a, n.b, n.c, n.d, rec);
                case 8: return ZC(createNPathVector)(e, n.config);
                case 9: return ZP(copy_1n)(e, n.pathVector);
                case 10: return some(ZC(getTopCellName)(e, n.config));
                case 11: return some(ZP(getCurrentViewBinding)(e, n.pathVector));
                case 12: return ZC(saveAs)(e, n.config, n.a, n.b, n.c, rec);
                case 13: return ZC(setOccurBinding)(e, n.config, n.handle, n.a, n.b, n.c, n.d);
                case 14: return ZC(replaceConstant)(e, n.config, n.a, n.b);
                default: return ZP(popToTop)(e, n.pathVector);
            }
        });
    }

    // What a nested call must leave as it was.
    std::vector<jint> visibleState() {
        std::vector<jint> state;
        for (jobject obj : configs_) state.push_back(jvm_.intField(obj, "id"));
        for (jobject obj : pathVectors_) state.push_back(jvm_.intField(obj, "pathvector"));
        state.push_back(-1);
        for (const ConfigHandleEntry* e = configRegistry.head; e != nullptr; e = e->next) state.push_back(e->handle);
        state.push_back(-1);
        for (const PathVectorSlot* s = pathVectorRegistry.head; s != nullptr; s = s->next) state.push_back(s->handle);
        state.push_back(static_cast<jint>(jvm_.callCount("GetStringUTFChars")));
        state.push_back(static_cast<jint>(jvm_.callCount("NewStringUTF")));
        state.push_back(static_cast<jint>(jvm_.callCount("CallVoidMethod")));
        return state;
    }

    // The calling-back listener's body, for one warning of the outer call.
    void callBack() {
        // A bridge without the refusal would free what the outer call uses:
        // there the listener only records.
        if (callbacks_ >= kMaxCallbacks) return;
        ++callbacks_;
        for (const Nested& n : nested_) {
            std::vector<jint> before = visibleState();
            long long answer = runNested(n);
            if (answer != 0) misuse("a call from a listener answered " + std::to_string(answer) + ", not its neutral result");
            if (visibleState() != before)
                misuse("a call from a listener changed a handle field or a registry, converted a string or relayed a warning");
        }
    }

    // ---- the program's steps

    void learnConfig(jobject obj) {
        jint h = jvm_.intField(obj, "id");
        if (h != 0) configHandles_.push_back(h);
    }
    void learnPathVector(jint h, bool store) {
        if (h == 0) return;
        pathVectorHandles_.push_back(h);
        if (store) jvm_.setIntField(pathVector(), "pathvector", h);
    }

    void step() {
        // 20 kinds of step; 20 to 39 repeat the cheaper ones (not 16 to 19):
        // a deep push costs as much as a hundred other steps.
        int kind = in_.ConsumeIntegralInRange<int>(0, 39);
        if (kind >= 20) kind = (kind - 20) % 16;
        switch (kind) {
            case 0: return configStep();
            case 1: case 2: case 3: return ruleStep();
            case 4: case 5: return constantStep();
            case 6: case 7: return occurrenceStep();
            case 8: return lifecycleStep();
            case 9: case 10: return moveStep();
            case 11: case 12: return contextStep();
            case 13: case 14: return bindStep();
            case 15: return stopStep();
            case 16: {  // a handle field set by Java to any number
                if (in_.ConsumeBool()) {
                    jobject obj = config();
                    jvm_.setIntField(obj, "id", configHandle());
                } else {
                    jobject obj = pathVector();
                    jvm_.setIntField(obj, "pathvector", pathVectorHandle());
                }
                return;
            }
            case 17: {  // the JVM cannot hand out the n-th string of the next call
                unsigned n = in_.ConsumeIntegralInRange<unsigned>(1, 5);
                if (in_.ConsumeBool()) {
                    jvm_.failStringUTFCharsAt(n);
                } else {
                    jvm_.failNewStringUTFAt(n);
                }
                injected_ = true;
                return;
            }
            case 18: {  // deeper than a path vector goes
                jobject pv = pathVector();
                jstring lib = str(), cell = str(), view = str(), inst = str();
                int n = in_.ConsumeIntegralInRange<int>(1, 300);
                // Refused once, refused again: pushing on after a second
                // refusal was most of the time of most programs.
                for (int i = 0, refused = 0; i < n && refused < 2; ++i)
                    if (!call("pushCell", [&] { return ZP(pushCell)(env(), pv, lib, cell, view, inst); })) ++refused;
                return;
            }
            default: {  // the usual way in: open a configuration and walk it
                jobject cfg = config();
                bool mayThrow;
                jstring view = in_.ConsumeBool() ? jvm_.newString("config") : str();
                jstring mode = in_.ConsumeBool() ? jvm_.newString("a") : str();
                jobject l = listener(mayThrow);
                call("open", [&] {
                    return ZC(open)(env(), cfg, jvm_.newString("design"), jvm_.newString("chip"), view, mode, l);
                }, mayThrow);
                learnConfig(cfg);
                learnPathVector(call("createNPathVector", [&] { return ZC(createNPathVector)(env(), cfg); }), true);
                return;
            }
        }
    }

    JNIEnv* env() { return jvm_.env(); }

    void configStep() {
        jobject self = config();
        bool mayThrow;
        switch (in_.ConsumeIntegralInRange<int>(0, 8)) {
            case 0: {
                jstring lib = str(), cell = str(), view = str(), mode = str();
                jobject l = listener(mayThrow);
                call("open", [&] { return ZC(open)(env(), self, lib, cell, view, mode, l); }, mayThrow);
                return learnConfig(self);
            }
            case 1: {
                jstring lib = str(), cell = str(), view = str(), type = in_.ConsumeBool() ? jvm_.newString("config") : str(),
                        mode = str();
                jobject l = listener(mayThrow);
                call("openWithType", [&] { return ZC(openWithType)(env(), self, lib, cell, view, type, mode, l); },
                     mayThrow);
                return learnConfig(self);
            }
            case 2: {
                jstring p = path(), mode = str();
                jobject l = listener(mayThrow);
                call("openPartial", [&] { return ZC(openPartial)(env(), self, p, mode, l); }, mayThrow);
                return learnConfig(self);
            }
            case 3: {
                jobject l = listener(mayThrow);
                wrote_ = true;
                if (call("save", [&] { return ZC(save)(env(), self, l); }, mayThrow)) readsBack(self);
                return;
            }
            case 4: {
                jstring lib = str(), cell = str(), view = str();
                jobject l = listener(mayThrow);
                wrote_ = true;  // even a failed save may leave directories behind
                if (call("saveAs", [&] { return ZC(saveAs)(env(), self, lib, cell, view, l); }, mayThrow))
                    readsBack(self);
                return;
            }
            case 5: call("close", [&] { return ZC(close)(env(), self); }); return;
            case 6:
                call("isModified", [&] { return ZC(isModified)(env(), self); });
                call("isEditable", [&] { return ZC(isEditable)(env(), self); });
                call("isContainingOccur", [&] { return ZC(isContainingOccur)(env(), self); });
                call("getRevision", [&] { return ZC(getRevision)(env(), self); });
                return;
            case 7: {
                jstring s = str();
                callVoid("init", [&] { ZC(init)(env(), zelConfig_->ref(), s); });
                return;
            }
            default:
                call("getLibName", [&] { return ZC(getLibName)(env(), self); });
                call("getCellName", [&] { return ZC(getCellName)(env(), self); });
                call("getViewName", [&] { return ZC(getViewName)(env(), self); });
                call("getTopLibName", [&] { return ZC(getTopLibName)(env(), self); });
                call("getTopCellName", [&] { return ZC(getTopCellName)(env(), self); });
                call("getTopViewName", [&] { return ZC(getTopViewName)(env(), self); });
                call("getNoteString", [&] { return ZC(getNoteString)(env(), self); });
                return;
        }
    }

    // Whatever the natives built is written and read back equal: the file
    // just saved holds the rules of the configuration in memory.
    void readsBack(jobject self) {
        zel::Config* cfg = zel::configOf(lookupConfig(jvm_.intField(self, "id")));
        if (!cfg) misuse("a saved configuration is not registered");
        zel::Config again;
        std::string error;
        if (!zel::readConfig(again, readAll(cfg->fsPath), error))
            misuse("the saved file does not read back: " + error);
        const std::string before = fuzzdump::dump(*cfg), after = fuzzdump::dump(again);
        if (before != after) misuse("the saved file reads back other rules:\n--- saved\n" + before + "--- read\n" + after);
    }

    void ruleStep() {
        jobject self = config();
        switch (in_.ConsumeIntegralInRange<int>(0, 27)) {
            case 0: {
                jstring a = str(), b = str(), c = str();
                call("setTopCellViewName", [&] { return ZC(setTopCellViewName)(env(), self, a, b, c); });
                return;
            }
            case 1: { jstring a = str(); call("setDefaultViewListString", [&] { return ZC(setDefaultViewListString)(env(), self, a); }); return; }
            case 2: { jstring a = str(); call("setDefaultLibListString", [&] { return ZC(setDefaultLibListString)(env(), self, a); }); return; }
            case 3: { jstring a = str(); call("setDefaultStopListString", [&] { return ZC(setDefaultStopListString)(env(), self, a); }); return; }
            case 4:
                call("getDefaultViewListString", [&] { return ZC(getDefaultViewListString)(env(), self); });
                call("getDefaultLibListString", [&] { return ZC(getDefaultLibListString)(env(), self); });
                call("getDefaultStopListString", [&] { return ZC(getDefaultStopListString)(env(), self); });
                return;
            case 5: { jstring a = str(), b = str(); call("getCellViewBinding", [&] { return ZC(getCellViewBinding)(env(), self, a, b); }); return; }
            case 6: { jstring a = str(), b = str(); call("getCellViewList", [&] { return ZC(getCellViewList)(env(), self, a, b); }); return; }
            case 7: { jstring a = str(), b = str(), c = str(); call("replaceCellViewBinding", [&] { return ZC(replaceCellViewBinding)(env(), self, a, b, c); }); return; }
            case 8: { jstring a = str(), b = str(), c = str(); call("replaceCellViewList", [&] { return ZC(replaceCellViewList)(env(), self, a, b, c); }); return; }
            case 9: { jstring a = str(), b = str(); call("deleteCellViewBinding", [&] { return ZC(deleteCellViewBinding)(env(), self, a, b); }); return; }
            case 10: { jstring a = str(), b = str(); call("deleteCellViewList", [&] { return ZC(deleteCellViewList)(env(), self, a, b); }); return; }
            case 11: { jstring a = str(), b = str(), c = str(), d = str(), e = str(); call("replaceInstViewBinding", [&] { return ZC(replaceInstViewBinding)(env(), self, a, b, c, d, e); }); return; }
            case 12: { jstring a = str(), b = str(), c = str(), d = str(), e = str(); call("replaceInstViewList", [&] { return ZC(replaceInstViewList)(env(), self, a, b, c, d, e); }); return; }
            case 13: { jstring a = str(), b = str(), c = str(), d = str(); call("deleteInstViewBinding", [&] { return ZC(deleteInstViewBinding)(env(), self, a, b, c, d); }); return; }
            case 14: { jstring a = str(), b = str(), c = str(), d = str(); call("deleteInstViewList", [&] { return ZC(deleteInstViewList)(env(), self, a, b, c, d); }); return; }
            case 15: { jstring a = str(), b = str(), c = str(), d = str(); call("getObjViewString", [&] { return ZC(getObjViewString)(env(), self, a, b, c, d); }); return; }
            case 16: { jstring a = str(), b = str(), c = str(), d = str(), e = str(); call("setObjViewString", [&] { return ZC(setObjViewString)(env(), self, a, b, c, d, e); }); return; }
            case 17: { jstring a = str(), b = str(), c = str(), d = str(); call("deleteObjViewString", [&] { return ZC(deleteObjViewString)(env(), self, a, b, c, d); }); return; }
            case 18: { jstring a = str(), b = str(), c = str(), d = str(); jboolean v = flag(); call("setStopPointValue", [&] { return ZC(setStopPointValue)(env(), self, a, b, c, d, v); }); return; }
            case 19: { jstring a = str(), b = str(), c = str(), d = str(); jboolean v = flag(); call("setBindToOpen", [&] { return ZC(setBindToOpen)(env(), self, a, b, c, d, v); }); return; }
            case 20: { jstring a = str(), b = str(), c = str(), d = str(), e = str(); call("setInstLibList", [&] { return ZC(setInstLibList)(env(), self, a, b, c, d, e); }); return; }
            case 21: { jstring a = str(), b = str(), c = str(), d = str(); call("deleteInstLibList", [&] { return ZC(deleteInstLibList)(env(), self, a, b, c, d); }); return; }
            case 22: { jstring a = str(), b = str(); call("setCellLibList", [&] { return ZC(setCellLibList)(env(), self, a, b); }); return; }
            case 23: { jstring a = str(); call("deleteCellLibList", [&] { return ZC(deleteCellLibList)(env(), self, a); }); return; }
            case 24: call("deleteNote", [&] { return ZC(deleteNote)(env(), self); }); return;
            case 25: { jstring a = str(); call("replaceNoteLine", [&] { return ZC(replaceNoteLine)(env(), self, a); }); return; }
            case 26: { jstring a = str(); call("addNoteLine", [&] { return ZC(addNoteLine)(env(), self, a); }); return; }
            default: call("getNoteString", [&] { return ZC(getNoteString)(env(), self); }); return;
        }
    }

    void constantStep() {
        jobject self = config();
        switch (in_.ConsumeIntegralInRange<int>(0, 8)) {
            case 0: { jstring a = str(), b = str(); call("replaceConstant", [&] { return ZC(replaceConstant)(env(), self, a, b); }); return; }
            case 1: { jstring a = str(); call("deleteConstant", [&] { return ZC(deleteConstant)(env(), self, a); }); return; }
            case 2: { jstring a = str(); call("evalConstants", [&] { return ZC(evalConstants)(env(), self, a); }); return; }
            case 3: { jstring a = str(); call("resolveConstants", [&] { return ZC(resolveConstants)(env(), self, a); }); return; }
            case 4: callVoid("enumerateConstants", [&] { ZC(enumerateConstants)(env(), self); }); return;
            case 5: callVoid("nextConstant", [&] { ZC(nextConstant)(env(), self); }); return;
            case 6: call("hasMoreConstants", [&] { return ZC(hasMoreConstants)(env(), self); }); return;
            case 7: call("getConstantName", [&] { return ZC(getConstantName)(env(), self); }); return;
            default: call("getConstantValue", [&] { return ZC(getConstantValue)(env(), self); }); return;
        }
    }

    void occurrenceStep() {
        jobject self = config();
        jint pv = pathVectorHandle();
        switch (in_.ConsumeIntegralInRange<int>(0, 2)) {
            case 0: {
                jstring a = str(), b = str(), c = str(), d = str();
                jboolean v = flag();
                call("setOccurStopPointValue", [&] { return ZC(setOccurStopPointValue)(env(), self, pv, a, b, c, d, v); });
                return;
            }
            case 1: {
                jstring a = str(), b = str(), c = str(), d = str();
                call("setOccurBinding", [&] { return ZC(setOccurBinding)(env(), self, pv, a, b, c, d); });
                return;
            }
            default: {
                jstring a = str();
                call("deleteOccurBinding", [&] { return ZC(deleteOccurBinding)(env(), self, pv, a); });
                return;
            }
        }
    }

    void lifecycleStep() {
        switch (in_.ConsumeIntegralInRange<int>(0, 2)) {
            case 0: {
                jobject cfg = config();
                learnPathVector(call("createNPathVector", [&] { return ZC(createNPathVector)(env(), cfg); }), in_.ConsumeBool());
                return;
            }
            case 1: {
                jobject pv = pathVector();
                learnPathVector(call("copy_n", [&] { return ZP(copy_1n)(env(), pv); }), in_.ConsumeBool());
                return;
            }
            default: {
                jobject pv = pathVector();
                callVoid("destroy", [&] { ZP(destroy)(env(), pv); });
                return;
            }
        }
    }

    void moveStep() {
        jobject self = pathVector();
        switch (in_.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: case 1: {
                jstring a = str(), b = str(), c = str(), d = str();
                call("pushCell", [&] { return ZP(pushCell)(env(), self, a, b, c, d); });
                return;
            }
            case 2: call("popCell", [&] { return ZP(popCell)(env(), self); }); return;
            case 3: call("pop", [&] { return ZP(pop)(env(), self); }); return;
            default: call("popToTop", [&] { return ZP(popToTop)(env(), self); }); return;
        }
    }

    void contextStep() {
        jobject self = pathVector();
        switch (in_.ConsumeIntegralInRange<int>(0, 15)) {
            case 0: { jstring a = str(), b = str(), c = str(), d = str(); call("getRawContextInstViewString", [&] { return ZP(getRawContextInstViewString)(env(), self, a, b, c, d); }); return; }
            case 1: { jstring a = str(), b = str(), c = str(), d = str(); call("getContextInstViewString", [&] { return ZP(getContextInstViewString)(env(), self, a, b, c, d); }); return; }
            case 2: { jstring a = str(), b = str(), c = str(), d = str(); call("getRawInheritedContextInstViewString", [&] { return ZP(getRawInheritedContextInstViewString)(env(), self, a, b, c, d); }); return; }
            case 3: { jstring a = str(), b = str(), c = str(), d = str(); call("getInheritedContextInstViewString", [&] { return ZP(getInheritedContextInstViewString)(env(), self, a, b, c, d); }); return; }
            case 4: { jstring a = str(); call("getContextUnInheritedInstViewList", [&] { return ZP(getContextUnInheritedInstViewList)(env(), self, a); }); return; }
            case 5: { jstring a = str(); call("getContextUnInheritedInstViewBinding", [&] { return ZP(getContextUnInheritedInstViewBinding)(env(), self, a); }); return; }
            case 6: { jstring a = str(); call("getContextRawUnInheritedInstViewList", [&] { return ZP(getContextRawUnInheritedInstViewList)(env(), self, a); }); return; }
            case 7:
                call("getContextLibName", [&] { return ZP(getContextLibName)(env(), self); });
                call("getContextCellName", [&] { return ZP(getContextCellName)(env(), self); });
                call("getContextViewName", [&] { return ZP(getContextViewName)(env(), self); });
                call("getContextVectorIndex", [&] { return ZP(getContextVectorIndex)(env(), self); });
                return;
            case 8: {
                jint i = anyInt();
                call("getIndexLibName", [&] { return ZP(getIndexLibName)(env(), self, i); });
                call("getIndexCellName", [&] { return ZP(getIndexCellName)(env(), self, i); });
                call("getIndexViewName", [&] { return ZP(getIndexViewName)(env(), self, i); });
                call("getIndexViewList", [&] { return ZP(getIndexViewList)(env(), self, i); });
                return;
            }
            case 9: call("enumerateContextInstances", [&] { return ZP(enumerateContextInstances)(env(), self); }); return;
            case 10: case 11: call("getContextNextInstance", [&] { return ZP(getContextNextInstance)(env(), self); }); return;
            case 12: case 13: call("isAnyInstRules", [&] { return ZP(isAnyInstRules)(env(), self); }); return;
            default: { jstring a = str(); call("isPartOfOccurPath", [&] { return ZP(isPartOfOccurPath)(env(), self, a); }); return; }
        }
    }

    void bindStep() {
        jobject self = pathVector();
        switch (in_.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: case 1: {
                jstring inst = str(), lib = str(), cell = str(), view = str();
                jboolean a = flag(), b = flag(), c = flag();
                bool mayThrow;
                jobject l = listener(mayThrow);
                callVoid("bind", [&] { ZP(bind)(env(), self, inst, lib, cell, view, a, b, c, l); }, mayThrow);
                return;
            }
            case 2: callVoid("resetCurrentBinding", [&] { ZP(resetCurrentBinding)(env(), self); }); return;
            case 3:
                call("getCurrentLibBinding", [&] { return ZP(getCurrentLibBinding)(env(), self); });
                call("getCurrentCellBinding", [&] { return ZP(getCurrentCellBinding)(env(), self); });
                call("getCurrentViewBinding", [&] { return ZP(getCurrentViewBinding)(env(), self); });
                call("getCurrentLibList", [&] { return ZP(getCurrentLibList)(env(), self); });
                call("getCurrentExpandedViewList", [&] { return ZP(getCurrentExpandedViewList)(env(), self); });
                call("getCurrentViewList", [&] { return ZP(getCurrentViewList)(env(), self); });
                call("getLibSetOnCellBinding", [&] { return ZP(getLibSetOnCellBinding)(env(), self); });
                return;
            case 4:
                call("getLibListBindWhy", [&] { return ZP(getLibListBindWhy)(env(), self); });
                call("isCurrentViewSet", [&] { return ZP(isCurrentViewSet)(env(), self); });
                call("isCurrentViewListSet", [&] { return ZP(isCurrentViewListSet)(env(), self); });
                call("isCurrentOccurBinding", [&] { return ZP(isCurrentOccurBinding)(env(), self); });
                call("isCurrentViewMRU", [&] { return ZP(isCurrentViewMRU)(env(), self); });
                return;
            case 5:
                call("isInstViewBindingUsed", [&] { return ZP(isInstViewBindingUsed)(env(), self); });
                call("isCellViewBindingUsed", [&] { return ZP(isCellViewBindingUsed)(env(), self); });
                call("isLibListInherited", [&] { return ZP(isLibListInherited)(env(), self); });
                call("isViewListInherited", [&] { return ZP(isViewListInherited)(env(), self); });
                return;
            case 6: call("isUnbound", [&] { return ZP(isUnbound)(env(), self); }); return;
            default: {
                jstring inst = str(), libs = str(), views = str(), binding = str();
                jboolean a = flag(), b = flag(), c = flag(), d = flag();
                call("isSameInstRules",
                     [&] { return ZP(isSameInstRules)(env(), self, inst, a, libs, b, views, c, binding, d); });
                return;
            }
        }
    }

    void stopStep() {
        jobject self = pathVector();
        if (in_.ConsumeBool()) {
            call("isAtStop", [&] { return ZP(isAtStop)(env(), self); });
        } else {
            call("getStopWhy", [&] { return ZP(getStopWhy)(env(), self); });
        }
    }

    // Whatever the program left open is closed, as a Java program that ends
    // cleanly would, so that the next input starts from nothing.
    void closeEverything() {
        jobject pv = pathVectors_[0];
        for (int guard = 0; pathVectorRegistry.head != nullptr && guard < 100000; ++guard) {
            jvm_.setIntField(pv, "pathvector", pathVectorRegistry.head->handle);
            callVoid("destroy", [&] { ZP(destroy)(env(), pv); });
        }
        jobject cfg = configs_[0];
        for (int guard = 0; configRegistry.head != nullptr && guard < 100000; ++guard) {
            jint h = configRegistry.head->handle;
            jvm_.setIntField(cfg, "id", h);
            if (!call("close", [&] { return ZC(close)(env(), cfg); })) misuse("close of a registered configuration failed");
        }
    }

    static constexpr size_t kObjects = 3;

    FuzzedDataProvider& in_;
    fakejni::FakeJvm jvm_;
    FakeClassRef zelConfig_ = nullptr;
    FakeClassRef zelPathVector_ = nullptr;
    jobject configs_[kObjects] = {};
    jobject pathVectors_[kObjects] = {};
    jobject listeners_[6] = {};
    std::vector<Nested> nested_;
    int callbacks_ = 0;
    static constexpr int kMaxCallbacks = 8;
    std::vector<jint> configHandles_, pathVectorHandles_;
    int steps_ = 0;
    size_t warnings_ = 0;
    bool injected_ = false;
    bool wrote_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeDesign();
    std::atexit(removeDesign);
    // Once per process, as the Java side does.
    fakejni::FakeJvm jvm;
    fakejni::FakeClass* cls = jvm.defineClass("COM/morvent/zel/ZelConfig");
    jstring file = jvm.newString(design().root + "/kwo.lib");
    jvm.callNative([&] { ZC(init)(jvm.env(), cls->ref(), file); });
    if (!jvm.misuses().empty()) {
        std::fprintf(stderr, "api_fuzz: init misused JNI:\n%s", jvm.formatMisuses().c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Program program(in);
    program.run();
    if (program.wroteDesign()) restoreDesign();
    return 0;
}
