// The recording fake of the configuration library and the library-access
// layer.  It defines, with C linkage, every function of zelvek/zelvek.h and
// zelvek/vek.h, so that the bridge's objects link against it in the unit tests.
//
// Each call is recorded with its arguments (strings by pointer and by value, so
// a test can tell a null pointer from "" and see which native string came in),
// then the warnings scripted for that function are emitted through the handler
// the bridge installed, then the test's hook (if any) supplies the result.
// Without a hook a function returns null / 0; kwoCopyString makes a real malloc
// copy and kwoFreeString frees one, both counted.
//
// Records the hooks hand out are built in an Arena: zero-initialised, at stable
// addresses, each its own exact-sized allocation (so AddressSanitizer sees a
// read past the end), freed with the Arena.
#ifndef ZEL_TESTS_FAKE_ZEL_H
#define ZEL_TESTS_FAKE_ZEL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

// X(result, name, (parameters), (argument names)) for every function whose
// default is "return null / 0".
#define FAKEZEL_PLAIN_FUNCTIONS(X) \
    X(ConfigRecord*, zelOpen, (const char* lib, const char* cell, const char* view, const char* mode), (lib, cell, \
      view, mode)) \
    X(ConfigRecord*, zelOpenWithType, (const char* lib, const char* cell, const char* view, const char* viewType, \
      const char* mode), (lib, cell, view, viewType, mode)) \
    X(ConfigRecord*, zelOpenPartialConfig, (const char* path, const char* mode), (path, mode)) \
    X(ZelBool, zelSave, (ConfigRecord* config), (config)) \
    X(ZelBool, zelSaveAs, (ConfigRecord* config, const char* lib, const char* cell, const char* view), (config, \
      lib, cell, view)) \
    X(ZelBool, zelClose, (ConfigRecord* config), (config)) \
    X(int, zelConfigIsModified, (ConfigRecord* config), (config)) \
    X(int, zelConfigIsEditable, (ConfigRecord* config), (config)) \
    X(int, zelConfigHasOccRules, (ConfigRecord* config), (config)) \
    X(ZelBool, zelSetTopCellViewName, (ConfigRecord* config, const char* lib, const char* cell, const char* view), \
      (config, lib, cell, view)) \
    X(ZelBool, zelSetDefaultViewListString, (ConfigRecord* config, const char* viewList), (config, viewList)) \
    X(ZelBool, zelSetDefaultLibListString, (ConfigRecord* config, const char* libList), (config, libList)) \
    X(ZelBool, zelSetDefaultStopListString, (ConfigRecord* config, const char* stopList), (config, stopList)) \
    X(const char*, zelGetDefaultViewListString, (ConfigRecord* config), (config)) \
    X(const char*, zelGetDefaultLibListString, (ConfigRecord* config), (config)) \
    X(const char*, zelGetDefaultStopListString, (ConfigRecord* config), (config)) \
    X(const char*, zelGetTopLibName, (ConfigRecord* config), (config)) \
    X(const char*, zelGetTopCellName, (ConfigRecord* config), (config)) \
    X(const char*, zelGetTopViewName, (ConfigRecord* config), (config)) \
    X(const char*, zelGetLibName, (ConfigRecord* config), (config)) \
    X(const char*, zelGetCellName, (ConfigRecord* config), (config)) \
    X(const char*, zelGetViewName, (ConfigRecord* config), (config)) \
    X(int32_t, zelGetRevision, (ConfigRecord* config), (config)) \
    X(CellRecord*, zelFindCell, (ConfigRecord* config, const char* lib, const char* cell), (config, lib, cell)) \
    X(CellViewRecord*, zelFindCellCellView, (ConfigRecord* config, CellRecord* cell, const char* view), (config, \
      cell, view)) \
    X(InstRuleRecord*, zelFindCellInst, (ConfigRecord* config, CellRecord* cell, const char* inst), (config, cell, \
      inst)) \
    X(InstRuleRecord*, zelFindCellViewInst, (ConfigRecord* config, CellViewRecord* cellView, const char* inst), \
      (config, cellView, inst)) \
    X(const char*, zelGetInstViewBinding, (InstRuleRecord* rule), (rule)) \
    X(ZelBool, zelReplaceCellViewBinding, (ConfigRecord* config, const char* lib, const char* cell, \
      const char* view), (config, lib, cell, view)) \
    X(ZelBool, zelReplaceCellViewList, (ConfigRecord* config, const char* lib, const char* cell, \
      const char* viewList), (config, lib, cell, viewList)) \
    X(ZelBool, zelDeleteCellViewBinding, (ConfigRecord* config, const char* lib, const char* cell), (config, lib, \
      cell)) \
    X(ZelBool, zelDeleteCellViewList, (ConfigRecord* config, const char* lib, const char* cell), (config, lib, \
      cell)) \
    X(ZelBool, zelReplaceInstViewBinding, (ConfigRecord* config, const char* lib, const char* cell, \
      const char* view, const char* inst, const char* viewName), (config, lib, cell, view, inst, viewName)) \
    X(ZelBool, zelReplaceInstViewList, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst, const char* viewList), (config, lib, cell, view, inst, viewList)) \
    X(ZelBool, zelDeleteInstViewBinding, (ConfigRecord* config, const char* lib, const char* cell, \
      const char* view, const char* inst), (config, lib, cell, view, inst)) \
    X(ZelBool, zelDeleteInstViewList, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst), (config, lib, cell, view, inst)) \
    X(ZelBool, zelReplaceConst, (ConfigRecord* config, const char* name, const char* value), (config, name, value)) \
    X(ZelBool, zelDeleteConst, (ConfigRecord* config, const char* name), (config, name)) \
    X(const char*, zelEvalConstants, (ConfigRecord* config, const char* text), (config, text)) \
    X(const char*, zelResolveConstants, (ConfigRecord* config, const char* text), (config, text)) \
    X(ZelBool, zelDeleteNote, (ConfigRecord* config), (config)) \
    X(ZelBool, zelReplaceNoteLine, (ConfigRecord* config, const char* line), (config, line)) \
    X(ZelBool, zelAddNoteLine, (ConfigRecord* config, const char* line), (config, line)) \
    X(const char*, zelGetNoteString, (ConfigRecord* config), (config)) \
    X(ZelBool, zelSetObjStop, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst, ZelBool value), (config, lib, cell, view, inst, value)) \
    X(ZelBool, zelSetObjBinding, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst, const char* bindLib, const char* bindCell, const char* bindView), (config, lib, cell, view, \
      inst, bindLib, bindCell, bindView)) \
    X(ZelBool, zelDeleteObjBinding, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst), (config, lib, cell, view, inst)) \
    X(ZelBool, zelSetObjLibListStr, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst, const char* libList), (config, lib, cell, view, inst, libList)) \
    X(ZelBool, zelDeleteObjLibList, (ConfigRecord* config, const char* lib, const char* cell, const char* view, \
      const char* inst), (config, lib, cell, view, inst)) \
    X(ZelBool, zelReplaceCellLibList, (ConfigRecord* config, const char* cell, const char* libList), (config, cell, \
      libList)) \
    X(ZelBool, zelDeleteCellLibList, (ConfigRecord* config, const char* lib, const char* cell), (config, lib, cell)) \
    X(OccurrenceInstance*, zelGetContextOccInst, (PathVectorRecord* pathVector, const char* inst), (pathVector, \
      inst)) \
    X(OccurrenceInstance*, zelFindOrCreateOccInst, (ConfigRecord* config, OccurrenceInstance* parent, \
      const char* lib, const char* cell, const char* view, const char* inst), (config, parent, lib, cell, view, \
      inst)) \
    X(ZelBool, zelReplaceOccInstStop, (OccurrenceInstance* occurrence, ZelBool value), (occurrence, value)) \
    X(ZelBool, zelReplaceOccInstBinding, (OccurrenceInstance* occurrence, const char* lib, const char* cell, \
      const char* view), (occurrence, lib, cell, view)) \
    X(ZelBool, zelDeleteOccInstBinding, (OccurrenceInstance* occurrence), (occurrence)) \
    X(PathVectorRecord*, zelCreatePathVector, (ConfigRecord* config), (config)) \
    X(PathVectorRecord*, zelCopyPathVector, (PathVectorRecord* pathVector), (pathVector)) \
    X(void, zelDestroyPathVector, (PathVectorRecord* pathVector), (pathVector)) \
    X(ZelBool, zelPushCell, (PathVectorRecord* pathVector, const char* lib, const char* cell, const char* view, \
      const char* inst), (pathVector, lib, cell, view, inst)) \
    X(ZelBool, zelPopCell, (PathVectorRecord* pathVector), (pathVector)) \
    X(ZelBool, zelPop, (PathVectorRecord* pathVector), (pathVector)) \
    X(ZelBool, zelPopToTop, (PathVectorRecord* pathVector), (pathVector)) \
    X(const char*, zelGetRawContextInstViewString, (PathVectorRecord* pathVector, const char* inst, \
      const char* masterLib, const char* masterCell, const char* masterView), (pathVector, inst, masterLib, \
      masterCell, masterView)) \
    X(const char*, zelGetContextInstViewString, (PathVectorRecord* pathVector, const char* inst, \
      const char* masterLib, const char* masterCell, const char* masterView), (pathVector, inst, masterLib, \
      masterCell, masterView)) \
    X(const char*, zelGetRawInheritedContextInstViewString, (PathVectorRecord* pathVector, const char* inst, \
      const char* masterLib, const char* masterCell, const char* masterView), (pathVector, inst, masterLib, \
      masterCell, masterView)) \
    X(const char*, zelGetInheritedContextInstViewString, (PathVectorRecord* pathVector, const char* inst, \
      const char* masterLib, const char* masterCell, const char* masterView), (pathVector, inst, masterLib, \
      masterCell, masterView)) \
    X(const char*, zelGetContextUnInheritedInstViewList, (PathVectorRecord* pathVector, const char* inst), \
      (pathVector, inst)) \
    X(const char*, zelGetContextUnInheritedInstViewBinding, (PathVectorRecord* pathVector, const char* inst), \
      (pathVector, inst)) \
    X(const char*, zelGetContextRawUnInheritedInstViewList, (PathVectorRecord* pathVector, const char* inst), \
      (pathVector, inst)) \
    X(const char*, zelGetContextLibName, (PathVectorRecord* pathVector), (pathVector)) \
    X(const char*, zelGetContextCellName, (PathVectorRecord* pathVector), (pathVector)) \
    X(const char*, zelGetContextViewName, (PathVectorRecord* pathVector), (pathVector)) \
    X(const char*, zelGetIndexLibName, (PathVectorRecord* pathVector, int32_t index), (pathVector, index)) \
    X(const char*, zelGetIndexCellName, (PathVectorRecord* pathVector, int32_t index), (pathVector, index)) \
    X(const char*, zelGetIndexViewName, (PathVectorRecord* pathVector, int32_t index), (pathVector, index)) \
    X(const char*, zelGetIndexViewList, (PathVectorRecord* pathVector, int32_t index), (pathVector, index)) \
    X(int32_t, zelGetContextVectorIndex, (PathVectorRecord* pathVector), (pathVector)) \
    X(int, zelBind3, (PathVectorRecord* pathVector, const char* inst, const char* masterLib, \
      const char* masterCell, const char* masterView, ZelBool checkDesign, ZelBool useOccurrences, \
      ZelBool allowRecent, BindingRecord* binding, ResolvedLists** lists, BindInfo** info), (pathVector, inst, \
      masterLib, masterCell, masterView, checkDesign, useOccurrences, allowRecent, binding, lists, info)) \
    X(ZelBool, zelIsOpenBinding, (BindingRecord* binding), (binding)) \
    X(StopRule*, zelGetAllMatchingStopRules, (PathVectorRecord* pathVector), (pathVector)) \
    X(const ZelStringList*, zelListRules, (ConfigRecord* config), (config)) \
    X(ZelBool, zelSetRule, (ConfigRecord* config, const char* kind, const ZelStringList* scope, \
      const char* property, const ZelStringList* values), (config, kind, scope, property, values)) \
    X(ZelBool, zelRemoveRule, (ConfigRecord* config, const char* kind, const ZelStringList* scope, \
      const char* property), (config, kind, scope, property)) \
    X(ZelBool, zelSetRuleComment, (ConfigRecord* config, const char* kind, const ZelStringList* scope, \
      const char* property, const char* comment), (config, kind, scope, property, comment)) \
    X(ZelStringList*, zelListLibraries, (int32_t which), (which)) \
    X(void, zelFreeStringList, (ZelStringList* list), (list)) \
    X(int, mipInitialize, (int32_t* state), (state)) \
    X(int, mipSearch, (int32_t where, const char* name, char* buffer, int32_t size), (where, name, buffer, size)) \
    X(int, vekInitialize, (const char* path, VekInitCallback callback, int32_t* state), (path, callback, state)) \
    /* end */

// The three whose default does something.
#define FAKEZEL_SPECIAL_FUNCTIONS(X) \
    X(void, zelSetErrorHandler, (ZelErrorHandler handler), (handler)) \
    X(char*, kwoCopyString, (const char* text), (text)) \
    X(void, kwoFreeString, (char* copy), (copy)) \
    /* end */

#define FAKEZEL_FUNCTIONS(X) FAKEZEL_PLAIN_FUNCTIONS(X) FAKEZEL_SPECIAL_FUNCTIONS(X)

namespace fakezel {

// One recorded argument.
struct Arg {
    enum Kind { Pointer, String, Int } kind = Int;
    const void* ptr = nullptr;  // Pointer and String: the pointer value as passed (null for a null string)
    bool isNull = false;        // String: passed as a null pointer
    std::string str;            // String: its bytes when not null
    long long i = 0;            // Int (also byte booleans)
};

struct Call {
    std::string fn;
    std::vector<Arg> args;
};

// One hook per function, named like it and with its signature.
struct Hooks {
#define FAKEZEL_HOOK(R, name, params, args) std::function<R params> name;
    FAKEZEL_FUNCTIONS(FAKEZEL_HOOK)
#undef FAKEZEL_HOOK
};

struct FakeLibrary {
    std::vector<Call> calls;            // every call of the 87 functions, in order
    Hooks hooks;
    ZelErrorHandler handler = nullptr;  // what zelSetErrorHandler installed last
    // fn -> texts emitted through `handler` (if set) at the start of each call
    // of fn, after it is recorded and before its hook runs.
    std::map<std::string, std::vector<std::string>> warningsDuring;
    int warningSeverity = 1;            // the severity those warnings (and warn) carry
    long copiesMade = 0, copiesFreed = 0;  // kwoCopyString / kwoFreeString bookkeeping
    // What the bridge got wrong in its dealings with the fake (e.g. a
    // kwoFreeString of a pointer kwoCopyString never handed out); BridgeTest
    // expects none.
    std::vector<std::string> problems;

    std::vector<const char*> liveCopies() const;  // copies made and not yet freed, oldest first

    std::size_t count(const std::string& fn) const;
    const Call* last(const std::string& fn) const;    // null if never called
    std::vector<const Call*> callsOf(const std::string& fn) const;
    std::vector<std::string> names() const;           // fn of every call, in order
    std::string formatCalls() const;                  // one call per line, for failure messages
    void warn(const char* text) const;                // call `handler` as the library would (no-op if none)
    // Clears calls, hooks, warningsDuring, counters, problems and `handler`;
    // frees the copies still live.
    void reset();

    // Internal: the live kwoCopyString results (malloc'd, as the real ones).
    struct FreeCopy {
        void operator()(char* p) const { std::free(p); }
    };
    std::vector<std::unique_ptr<char, FreeCopy>> copies_;
};

FakeLibrary& fake();  // the process-wide instance

// Records built in test memory.
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    const char* str(const std::string& s);  // an owned NUL-terminated copy

    template <class T>
    T* make() {  // value-initialised record (T{}), owned
        T* record = new T{};
        blocks_.emplace_back(record, [](void* p) { delete static_cast<T*>(p); });
        return record;
    }

    // Owned null-terminated array; the strings are copied, a null element stays null.
    ZelWords words(std::initializer_list<const char*> ws);
    // Owned array of the rules with a {0, nullptr} terminator appended.
    StopRule* stops(std::initializer_list<StopRule> rules);
    // Strings copied (null stays null).
    ContextEntry* context(const char* lib, const char* cell, const char* view, const char* inst);
    // contexts[i] = the i-th level, depth = levels - 1 (so no levels gives -1).
    PathVectorRecord* pathVector(ConfigRecord* config, std::initializer_list<ContextEntry*> levels);

private:
    const char* copyOrNull(const char* s) { return s != nullptr ? str(s) : nullptr; }
    template <class T>
    T* array(std::size_t n) {
        T* a = new T[n]{};
        blocks_.emplace_back(a, [](void* p) { delete[] static_cast<T*>(p); });
        return a;
    }

    std::vector<std::unique_ptr<void, void (*)(void*)>> blocks_;
};

}  // namespace fakezel

#endif
