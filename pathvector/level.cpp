// ZelLevel.bindLevel: every instance of a level bound in one crossing.  A walk
// that asks each answer with a native of its own crosses into the library
// some twenty times an instance, each crossing paying the door (the handle,
// the lock, the field look-up); this native pays it once a level.  It does
// for each instance what bind, the binding queries, isPartOfOccurPath,
// getRawContextInstViewString, pushCell, isAtStop, getStopWhy and popCell do,
// with the same answers, and leaves the slot as that sequence of natives
// would.  The strings answered are gathered in one table, each text once: a
// level's bindings and lists repeat.
#include "COM_morvent_zel_ZelLevel.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "door.h"
#include "pathvector/support.h"

using pathvector::findRuleSource;
using pathvector::RuleSource;
using pathvector::altRuleIs;
using pathvector::chosenByRule;
using pathvector::flagSet;

namespace {

// The layout ZelLevel.java reads: answers[0] is the count bound, then kStride
// ints per instance.
enum Field { kLib, kCell, kView, kLibList, kViewList, kExpanded, kLibSet, kContext, kWhy, kFlags, kStopWhy, kStride };
enum Flag : jint {
    kUnbound = 1,
    kViewSet = 1 << 1,
    kViewListSet = 1 << 2,
    kOccurBinding = 1 << 3,
    kViewMru = 1 << 4,
    kInstViewBindingUsed = 1 << 5,
    kCellViewBindingUsed = 1 << 6,
    kLibListInherited = 1 << 7,
    kViewListInherited = 1 << 8,
    kPartOfOccurPath = 1 << 9,
    kPushed = 1 << 10,
    kAtStop = 1 << 11,
};
enum Option : jint { kCheckDesign = 1, kUseOccurrences = 2, kAllowRecent = 4, kOccurPaths = 8 };

// java.lang.String, looked up once: a walk makes a table a level, and the
// look-up cost as much as a level's binds.  The class is never unloaded.
jclass stringClass(JNIEnv* env) {
    static std::atomic<jclass> cached{nullptr};
    jclass known = cached.load(std::memory_order_acquire);
    if (known != nullptr) return known;
    jclass local = env->FindClass("java/lang/String");
    if (local == nullptr) return nullptr;
    known = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    if (known == nullptr) return nullptr;
    jclass expected = nullptr;
    if (!cached.compare_exchange_strong(expected, known, std::memory_order_acq_rel)) {
        env->DeleteGlobalRef(known);  // another thread was first
        known = expected;
    }
    return known;
}

// The instances as ZelLevel.Instances packs them: for each, its name and its
// master's library, cell and view, each a byte 0 (null) or 1 followed by the
// text in the JVM's modified UTF-8 (what GetStringUTFChars gives) and a NUL.
// Copied in one JNI call, where four strings an instance took sixteen.
bool unpack(JNIEnv* env, jbyteArray packed, jsize from, jsize to, jsize count, std::vector<char>& bytes,
            std::vector<const char*>& out) {
    if (from < 0 || to < from || to > env->GetArrayLength(packed)) return false;
    const jsize size = to - from;
    bytes.resize(static_cast<std::size_t>(size) + 1);
    env->GetByteArrayRegion(packed, from, size, reinterpret_cast<jbyte*>(bytes.data()));
    bytes[static_cast<std::size_t>(size)] = '\0';
    out.assign(static_cast<std::size_t>(count) * 4, nullptr);
    std::size_t at = 0;
    for (const char*& text : out) {
        if (at >= static_cast<std::size_t>(size)) return false;
        if (bytes[at++] == 0) continue;
        text = &bytes[at];
        while (at < static_cast<std::size_t>(size) && bytes[at] != '\0') ++at;
        if (at++ >= static_cast<std::size_t>(size)) return false;  // no NUL of its own
    }
    return at == static_cast<std::size_t>(size);
}

// A hash of a text, one word at a time where it can (FNV-1a over 8 bytes,
// then the odd bytes): the texts are names and word lists, and the library's
// std::hash cost more than the rest of a table's work.
std::uint64_t hashText(const char* text, std::size_t length) {
    constexpr std::uint64_t kPrime = 0x100000001b3ULL;
    std::uint64_t h = 0xcbf29ce484222325ULL ^ length;
    std::size_t k = 0;
    for (; k + 8 <= length; k += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + k, 8);
        h = (h ^ word) * kPrime;
        h ^= h >> 29;
    }
    for (; k < length; ++k) h = (h ^ static_cast<unsigned char>(text[k])) * kPrime;
    return h ^ (h >> 32);
}

// Doubles an open-addressing table of entry ids (-1 free, a power of two in
// size) and places every entry again by its hash.
template <typename Entries>
void growSlots(std::vector<jint>& slots, const Entries& entries) {
    slots.assign(slots.size() * 2, -1);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t id = 0; id < entries.size(); ++id) {
        std::size_t k = static_cast<std::size_t>(entries[id].hash) & mask;
        while (slots[k] >= 0) k = (k + 1) & mask;
        slots[k] = static_cast<jint>(id);
    }
}

// The Java Strings of the texts answered, kept from one call to the next:
// a walk answers the same few dozen names and lists at every level, and
// making a String of each, a level at a time, cost a sixth of the walk.  The
// same object each time also spares the caller's hash maps (a String keeps
// its hash) and comparisons (the same reference).  Keyed on the text alone,
// so nothing a configuration does can make an entry wrong.  Bounded: once
// its texts would pass kLimit bytes (each with its NUL) it starts afresh.
// Process-wide, one lock: a level takes it once.
class KeptStrings {
public:
    static constexpr std::size_t kLimit = 256 * 1024;

    // The String of text (length bytes, NUL-terminated), as a global
    // reference the cache owns; null with an exception pending when the JVM
    // has no room.  Called with mutex() held.
    jstring get(JNIEnv* env, const char* text, std::size_t length, std::uint64_t hash) {
        std::size_t k = static_cast<std::size_t>(hash) & (slots_.size() - 1);
        for (; slots_[k] >= 0; k = (k + 1) & (slots_.size() - 1)) {
            const Entry& e = entries_[static_cast<std::size_t>(slots_[k])];
            if (e.hash == hash && e.length == length && std::memcmp(arena_.data() + e.at, text, length) == 0)
                return e.string;
        }
        if (arena_.size() + length + 1 > kLimit) {
            clear(env);
            k = static_cast<std::size_t>(hash) & (slots_.size() - 1);
        }
        jstring local = toJavaString(env, text);
        if (local == nullptr) return nullptr;
        auto kept = static_cast<jstring>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
        if (kept == nullptr) return nullptr;
        slots_[k] = static_cast<jint>(entries_.size());
        entries_.push_back({hash, arena_.size(), length, kept});
        arena_.append(text, length);
        arena_.push_back('\0');
        if (entries_.size() * 2 > slots_.size()) grow();
        return kept;
    }
    std::mutex& mutex() { return mutex_; }

private:
    struct Entry {
        std::uint64_t hash;
        std::size_t at, length;
        jstring string;
    };

    void clear(JNIEnv* env) {
        for (const Entry& e : entries_) env->DeleteGlobalRef(e.string);
        entries_.clear();
        arena_.clear();
        slots_.assign(kFirstSlots, -1);
    }
    void grow() { growSlots(slots_, entries_); }

    static constexpr std::size_t kFirstSlots = 256;
    std::mutex mutex_;
    std::vector<jint> slots_ = std::vector<jint>(kFirstSlots, -1);  // -1: free; at most half full
    std::vector<Entry> entries_;
    std::string arena_;
};

KeptStrings& keptStrings() {
    static KeptStrings* kept = new KeptStrings;  // never destroyed: natives may run while the process exits
    return *kept;
}

// Each text once; -1 stands for null.  Open addressing over one arena of
// text: a level's few distinct texts cost no allocation each (a map of
// strings allocated a node a text, and hashed and compared more than the
// binds cost).
class StringTable {
public:
    StringTable() : slots_(64, -1) {}

    jint add(const char* text) { return text != nullptr ? add(text, std::strlen(text)) : -1; }
    // A text of a rule record, which stays where it is while the lock is held:
    // known by its address after the first time.
    jint addKept(const char* text) {
        if (text == nullptr) return -1;
        auto found = kept_.find(text);
        if (found != kept_.end()) return found->second;
        const jint id = add(text);
        kept_.emplace(text, id);
        return id;
    }
    // A word list joined by single blanks, as getCurrentLibList answers it.
    // last: the text this field had at the instance before, nearly always the
    // same list again: compared in place, it is neither joined nor hashed.
    jint addWords(ZelWords words, jint& last) {
        if (words == nullptr) return -1;
        if (last >= 0 && sameWords(words, entries_[static_cast<std::size_t>(last)])) return last;
        last = addJoined(words);
        return last;
    }

private:
    struct Entry {
        std::uint64_t hash;
        std::size_t at, length;
    };

    // Whether the words joined by single blanks are the entry's text.  The
    // arena ends each text with a NUL, which no word holds: a text that ends
    // early mismatches there.
    bool sameWords(ZelWords words, const Entry& e) const {
        const char* t = arena_.data() + e.at;
        for (ZelWords w = words; *w != nullptr; ++w) {
            if (w != words && *t++ != ' ') return false;
            for (const char* c = *w; *c != '\0'; ++c, ++t) {
                if (*t != *c) return false;
            }
        }
        return t == arena_.data() + e.at + e.length;
    }

    jint addJoined(ZelWords words) {
        joined_.clear();
        for (ZelWords w = words; *w != nullptr; ++w) {
            if (w != words) joined_ += ' ';
            joined_ += *w;
        }
        return add(joined_.data(), joined_.size());
    }

public:
    // The Java array, of the kept Strings; null with an exception pending
    // when the JVM has no room.
    jobjectArray toJava(JNIEnv* env) const {
        jclass strings = stringClass(env);
        if (strings == nullptr) return nullptr;
        jobjectArray array = env->NewObjectArray(static_cast<jsize>(entries_.size()), strings, nullptr);
        if (array == nullptr) return nullptr;
        KeptStrings& kept = keptStrings();
        std::lock_guard<std::mutex> lock(kept.mutex());
        for (std::size_t k = 0; k < entries_.size(); ++k) {
            const Entry& e = entries_[k];
            jstring s = kept.get(env, arena_.data() + e.at, e.length, e.hash);
            if (s == nullptr) return nullptr;
            env->SetObjectArrayElement(array, static_cast<jsize>(k), s);
        }
        return array;
    }

private:
    jint add(const char* text, std::size_t length) {
        const std::uint64_t hash = hashText(text, length);
        const std::size_t mask = slots_.size() - 1;
        std::size_t k = static_cast<std::size_t>(hash) & mask;
        for (; slots_[k] >= 0; k = (k + 1) & mask) {
            const Entry& e = entries_[static_cast<std::size_t>(slots_[k])];
            if (e.hash == hash && e.length == length && std::memcmp(arena_.data() + e.at, text, length) == 0)
                return slots_[k];
        }
        const jint id = static_cast<jint>(entries_.size());
        entries_.push_back({hash, arena_.size(), length});
        arena_.append(text, length);
        arena_.push_back('\0');
        slots_[k] = id;
        if (entries_.size() * 2 > slots_.size()) grow();
        return id;
    }
    void grow() { growSlots(slots_, entries_); }

    std::vector<jint> slots_;  // -1: free; a power of two, at most half full
    std::vector<Entry> entries_;
    std::string arena_;
    std::string joined_;
    std::unordered_map<const char*, jint> kept_;
};

// bind's library call on the slot, as the bind native makes it.
void bindOne(PathVectorSlot& slot, const char* const* s, jint options) {
    ResolvedLists* lists = nullptr;
    try {
        zelBind3(slot.pathVector, s[0], s[1], s[2], s[3], (options & kCheckDesign) != 0,
                 (options & kUseOccurrences) != 0, (options & kAllowRecent) != 0, slot.binding, &lists, &slot.bindInfo);
    } catch (...) {
        // As after a failed bind: nothing of it may be read.
        *slot.binding = BindingRecord{};
        *slot.ownBindInfo = BindInfo{};
        slot.bindInfo = slot.ownBindInfo;
        slot.resolvedLists = nullptr;
        throw;
    }
    slot.resolvedLists = lists;
}

// The word lists of the instance before, in the table.
struct LastLists {
    jint libList = -1, expanded = -1;
};

// The answers of the bind just made, as the binding queries read them.
void readBinding(const PathVectorSlot& slot, StringTable& table, LastLists& last, jint* out) {
    BindingRecord* b = slot.binding;
    out[kLib] = table.add(b != nullptr ? b->libName : nullptr);
    out[kCell] = table.add(b != nullptr ? b->cellName : nullptr);
    out[kView] = table.add(b != nullptr ? b->viewName : nullptr);
    jint flags = b != nullptr && zelIsOpenBinding(b) ? jint{kUnbound} : jint{0};
    const BindInfo* info = slot.bindInfo;
    const ResolvedLists* lists = slot.resolvedLists;
    out[kLibList] = info != nullptr && lists != nullptr ? table.addWords(lists->libWords, last.libList) : -1;
    out[kExpanded] = lists != nullptr ? table.addWords(lists->expandedViewWords, last.expanded) : -1;
    out[kViewList] = -1;
    out[kLibSet] = -1;
    out[kWhy] = pathvector::kLibListDefault;
    if (info != nullptr) {
        const BindInfo& i = *info;
        if (i.viewListSource != nullptr) {
            const RuleSource* source = findRuleSource(i.viewListRule);
            out[kViewList] = table.addKept(source != nullptr ? source->viewListOf(i.viewListSource) : "");
        }
        const RuleSource* libSource = findRuleSource(i.libListRule);
        out[kWhy] = libSource != nullptr ? libSource->libListWhy : pathvector::kLibListOther;
        if (!flagSet(i, ZEL_BIND_VIEW_MISSING) && i.viewBindingRule == ZEL_RULE_INSTANCE) flags |= kViewSet;
        if (!flagSet(i, ZEL_BIND_VIEWLIST_INHERIT) && i.viewListRule == ZEL_RULE_INSTANCE) flags |= kViewListSet;
        if (i.viewBindingRule == ZEL_RULE_OCCURRENCE || altRuleIs(i, ZEL_RULE_OCCURRENCE)) flags |= kOccurBinding;
        if (flagSet(i, ZEL_BIND_MOST_RECENT)) flags |= kViewMru;
        if (chosenByRule(i, ZEL_RULE_INSTANCE) || altRuleIs(i, ZEL_RULE_INSTANCE)) flags |= kInstViewBindingUsed;
        if (chosenByRule(i, ZEL_RULE_CELL)) flags |= kCellViewBindingUsed;
        if (flagSet(i, ZEL_BIND_LIBLIST_INHERIT)) flags |= kLibListInherited;
        if (flagSet(i, ZEL_BIND_VIEWLIST_INHERIT)) flags |= kViewListInherited;
        if (chosenByRule(i, ZEL_RULE_CELL) || altRuleIs(i, ZEL_RULE_CELL)) {
            const auto* cell = static_cast<const CellRecord*>(i.bindingSource);
            if (cell != nullptr && cell->libListWords != nullptr) out[kLibSet] = table.addKept(cell->libListWords[0]);
        }
    }
    out[kFlags] = flags;
}

// The walk's look below a bound instance: push into its binding, the stop
// rules there, pop.  The slot keeps the stop rules, as isAtStop leaves them.
void lookBelow(PathVectorSlot& slot, const char* inst, jint* out) {
    const BindingRecord& b = *slot.binding;
    out[kStopWhy] = 0;
    const bool pushed = zelPushCell(slot.pathVector, b.libName, b.cellName, b.viewName, inst) != 0;
    slot.cachedCell = nullptr;  // another context is current, refused or not
    slot.cachedCellView = nullptr;
    if (!pushed) return;
    out[kFlags] |= kPushed;
    try {
        slot.stopRules = zelGetAllMatchingStopRules(slot.pathVector);
        if (slot.stopRules != nullptr && slot.stopRules[0].rule != nullptr) out[kFlags] |= kAtStop;
        jint why = 0;
        if (slot.stopRules != nullptr) {
            for (const StopRule* stop = slot.stopRules; stop->rule != nullptr; ++stop) {
                const RuleSource* source = findRuleSource(stop->code);
                if (source != nullptr) why |= source->stopBit;
            }
        }
        out[kStopWhy] = why;
    } catch (...) {
        zelPopCell(slot.pathVector);  // the path vector stays where it stood
        throw;
    }
    zelPopCell(slot.pathVector);
}

// The path vector's slot, its configuration's lock held; null when the
// handle names nothing.  The handle comes as an argument, read from the
// object's field by the Java side: the field look-up that every call of the
// fixed natives pays cost more than a level's binds here.
PathVectorSlot* holdSlot(door::Held& held, jint handle) {
    PathVectorSlot* slot = door::holdPathVector(held, handle);
    return slot != nullptr && slot->pathVector != nullptr ? slot : nullptr;
}

}  // namespace

extern "C" JNIEXPORT jobjectArray JNICALL Java_COM_morvent_zel_ZelLevel_bindLevel(JNIEnv* env, jclass, jint pv,
                                                                                 jbyteArray packed, jint count,
                                                                                 jint options, jintArray answers,
                                                                                 jobject listener) {
    return door::relayed(env, listener, "bindLevel", jobjectArray{nullptr},
                         [&](WarningScope& warnings, door::Held& held) -> jobjectArray {
        if (packed == nullptr || answers == nullptr || count < 0 ||
            env->GetArrayLength(answers) != 1 + static_cast<jlong>(count) * kStride)
            return nullptr;
        PathVectorSlot* slot = holdSlot(held, pv);
        if (slot == nullptr) return nullptr;
        std::vector<char> bytes;
        std::vector<const char*> texts;
        if (!unpack(env, packed, 0, env->GetArrayLength(packed), count, bytes, texts)) return nullptr;
        std::vector<jint> out(1 + static_cast<std::size_t>(count) * kStride, 0);
        StringTable table;
        LastLists last;
        jsize bound = 0;
        while (bound < count) {
            const char* const* s = &texts[static_cast<std::size_t>(bound) * 4];
            jint* answer = &out[1 + static_cast<std::size_t>(bound) * kStride];
            if (bound == 0) {
                warnings.arm(listener);
            } else {
                warnings.armAgain();
            }
            bindOne(*slot, s, options);
            warnings.disarm();
            readBinding(*slot, table, last, answer);
            answer[kContext] = -1;
            if ((options & kOccurPaths) != 0 && zelGetContextOccInst(slot->pathVector, s[0]) != nullptr) {
                answer[kFlags] |= kPartOfOccurPath;
                answer[kContext] = table.add(zelGetRawContextInstViewString(slot->pathVector, s[0], s[1], s[2], s[3]));
            }
            if ((answer[kFlags] & kUnbound) == 0 && slot->binding != nullptr) lookBelow(*slot, s[0], answer);
            ++bound;
            // A listener that threw ends the level here; its exception is thrown on return.
            if (warningRelay.pending != nullptr) break;
        }
        out[0] = bound;
        env->SetIntArrayRegion(answers, 0, static_cast<jsize>(out.size()), out.data());
        return table.toJava(env);
    });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelLevel_enterInstance(JNIEnv* env, jclass, jint pv,
                                                                                  jbyteArray packed, jint start,
                                                                                  jint end, jint options) {
    return door::guarded(jboolean{JNI_FALSE}, [&]() -> jboolean {
        if (packed == nullptr) return JNI_FALSE;
        door::Held held(env);
        PathVectorSlot* slot = holdSlot(held, pv);
        if (slot == nullptr) return JNI_FALSE;
        std::vector<char> bytes;
        std::vector<const char*> texts;
        if (!unpack(env, packed, start, end, 1, bytes, texts)) return JNI_FALSE;
        bindOne(*slot, texts.data(), options);  // no listener: its warnings go nowhere, as bind's without one
        BindingRecord* b = slot->binding;
        if (b == nullptr || zelIsOpenBinding(b)) return JNI_FALSE;
        const bool pushed = zelPushCell(slot->pathVector, b->libName, b->cellName, b->viewName, texts[0]) != 0;
        slot->cachedCell = nullptr;  // another context is current, refused or not
        slot->cachedCellView = nullptr;
        return pathvector::answer(pushed);
    });
}
