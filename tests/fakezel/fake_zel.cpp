#include "fake_zel.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <type_traits>
#include <utility>

namespace fakezel {

FakeLibrary& fake() {
    static FakeLibrary instance;
    return instance;
}

std::vector<const char*> FakeLibrary::liveCopies() const {
    std::vector<const char*> live;
    for (const auto& copy : copies_) live.push_back(copy.get());
    return live;
}

std::size_t FakeLibrary::count(const std::string& fn) const {
    std::size_t n = 0;
    for (const Call& call : calls) n += call.fn == fn ? 1 : 0;
    return n;
}

const Call* FakeLibrary::last(const std::string& fn) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->fn == fn) return &*it;
    return nullptr;
}

std::vector<const Call*> FakeLibrary::callsOf(const std::string& fn) const {
    std::vector<const Call*> found;
    for (const Call& call : calls)
        if (call.fn == fn) found.push_back(&call);
    return found;
}

std::vector<std::string> FakeLibrary::names() const {
    std::vector<std::string> fns;
    for (const Call& call : calls) fns.push_back(call.fn);
    return fns;
}

std::string FakeLibrary::formatCalls() const {
    std::ostringstream out;
    for (const Call& call : calls) {
        out << call.fn << '(';
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            const Arg& arg = call.args[i];
            if (i > 0) out << ", ";
            switch (arg.kind) {
                case Arg::String:
                    if (arg.isNull) out << "null";
                    else out << '"' << arg.str << "\"@" << arg.ptr;
                    break;
                case Arg::Pointer: out << arg.ptr; break;
                case Arg::Int: out << arg.i; break;
            }
        }
        out << ")\n";
    }
    return out.str();
}

void FakeLibrary::warn(const char* text) const {
    if (handler != nullptr) handler(warningSeverity, text);
}

void FakeLibrary::reset() {
    calls.clear();
    hooks = Hooks{};
    handler = nullptr;
    warningsDuring.clear();
    warningSeverity = 1;
    copiesMade = copiesFreed = 0;
    problems.clear();
    copies_.clear();
}

const char* Arena::str(const std::string& s) {
    char* copy = array<char>(s.size() + 1);
    std::memcpy(copy, s.c_str(), s.size() + 1);
    return copy;
}

ZelWords Arena::words(std::initializer_list<const char*> ws) {
    const char** words = array<const char*>(ws.size() + 1);
    std::size_t i = 0;
    for (const char* w : ws) words[i++] = copyOrNull(w);
    words[i] = nullptr;
    return words;
}

StopRule* Arena::stops(std::initializer_list<StopRule> rules) {
    StopRule* array = this->array<StopRule>(rules.size() + 1);
    std::size_t i = 0;
    for (const StopRule& rule : rules) array[i++] = rule;
    array[i] = StopRule{0, nullptr};
    return array;
}

ContextEntry* Arena::context(const char* lib, const char* cell, const char* view, const char* inst) {
    auto* entry = make<ContextEntry>();
    entry->libName = copyOrNull(lib);
    entry->cellName = copyOrNull(cell);
    entry->viewName = copyOrNull(view);
    entry->instName = copyOrNull(inst);
    return entry;
}

PathVectorRecord* Arena::pathVector(ConfigRecord* config, std::initializer_list<ContextEntry*> levels) {
    if (levels.size() > ZEL_MAX_DEPTH) std::abort();  // more than a path vector can hold
    auto* record = make<PathVectorRecord>();
    record->config = config;
    record->depth = static_cast<int32_t>(levels.size()) - 1;
    std::size_t i = 0;
    for (ContextEntry* level : levels) record->contexts[i++] = level;
    return record;
}

namespace {

Arg record(const char* s) {
    Arg arg;
    arg.kind = Arg::String;
    arg.ptr = s;
    arg.isNull = s == nullptr;
    if (s != nullptr) arg.str = s;
    return arg;
}

// Output buffers and copies to free: their bytes are not the caller's input.
Arg record(char* p) {
    Arg arg;
    arg.kind = Arg::Pointer;
    arg.ptr = p;
    return arg;
}

template <class T>
Arg record(T* p) {
    Arg arg;
    arg.kind = Arg::Pointer;
    arg.ptr = p;
    return arg;
}

template <class R, class... P>
Arg record(R (*f)(P...)) {
    Arg arg;
    arg.kind = Arg::Pointer;
    arg.ptr = reinterpret_cast<const void*>(f);
    return arg;
}

template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
Arg record(T value) {
    Arg arg;
    arg.kind = Arg::Int;
    arg.i = static_cast<long long>(value);
    return arg;
}

// Records the call, emits the warnings scripted for it, and hands the hook
// (copied: it may replace itself) the arguments.  Without a hook: R{}.
template <class R, class... P, class... A>
R invoke(const char* name, const std::function<R(P...)>& hook, A... args) {
    FakeLibrary& lib = fake();
    lib.calls.push_back(Call{name, {record(args)...}});
    auto scripted = lib.warningsDuring.find(name);
    if (scripted != lib.warningsDuring.end()) {
        const std::vector<std::string> texts = scripted->second;
        for (const std::string& text : texts) lib.warn(text.c_str());
    }
    std::function<R(P...)> run = hook;
    if (run) return run(args...);
    if constexpr (!std::is_void_v<R>) return R{};
}

}  // namespace
}  // namespace fakezel

#define FAKEZEL_DEFINE(R, name, params, args) \
    extern "C" R name params { return fakezel::invoke(#name, fakezel::fake().hooks.name, FAKEZEL_EXPAND args); }
#define FAKEZEL_EXPAND(...) __VA_ARGS__
FAKEZEL_PLAIN_FUNCTIONS(FAKEZEL_DEFINE)

extern "C" void zelSetErrorHandler(ZelErrorHandler handler) {
    fakezel::fake().handler = handler;
    fakezel::invoke("zelSetErrorHandler", fakezel::fake().hooks.zelSetErrorHandler, handler);
}

extern "C" char* kwoCopyString(const char* text) {
    fakezel::FakeLibrary& lib = fakezel::fake();
    auto copyItself = [&lib](const char* t) -> char* {
        if (t == nullptr) return nullptr;
        std::size_t size = std::strlen(t) + 1;
        // malloc, as the real one: the bridge may hand it to free().
        char* copy = static_cast<char*>(std::malloc(size));
        if (copy == nullptr) std::abort();
        std::memcpy(copy, t, size);
        lib.copies_.emplace_back(copy);
        ++lib.copiesMade;
        return copy;
    };
    std::function<char*(const char*)> hook = lib.hooks.kwoCopyString ? lib.hooks.kwoCopyString : copyItself;
    return fakezel::invoke("kwoCopyString", hook, text);
}

extern "C" void kwoFreeString(char* copy) {
    fakezel::FakeLibrary& lib = fakezel::fake();
    auto freeIt = [&lib](char* c) {
        if (c == nullptr) return;
        for (auto it = lib.copies_.begin(); it != lib.copies_.end(); ++it) {
            if (it->get() == c) {
                lib.copies_.erase(it);
                ++lib.copiesFreed;
                return;
            }
        }
        std::ostringstream problem;
        problem << "kwoFreeString(" << static_cast<const void*>(c)
                << "): not a live copy of kwoCopyString (freed twice, or never handed out)";
        lib.problems.push_back(problem.str());
    };
    std::function<void(char*)> hook = lib.hooks.kwoFreeString ? lib.hooks.kwoFreeString : freeIt;
    fakezel::invoke("kwoFreeString", hook, copy);
}

// Not recorded: the bridge asks it only to name a thread in a message.
extern "C" void vekDescribeThread(char* buffer, int32_t size) {
    if (buffer != nullptr && size > 0) std::snprintf(buffer, static_cast<std::size_t>(size), "%s", "'test'");
}
