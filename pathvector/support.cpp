#include "pathvector/support.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "zelvek/vek.h"

namespace pathvector {

ContextEntry* currentContext(const PathVectorRecord* pathVector) {
    const int32_t depth = pathVector->depth;
    // The record holds ZEL_MAX_DEPTH levels; a depth beyond them names none.
    if (depth < 0 || depth >= ZEL_MAX_DEPTH) return nullptr;
    return pathVector->contexts[depth];
}

char* joinWords(ZelWords words) {
    if (words == nullptr) return nullptr;
    // Joined on the stack when it fits (lists are short), so the one heap
    // block is kwoCopyString's copy; one pass, each word measured once.  A
    // list that outgrows the stack is joined whole in a string instead.
    char small[256];
    std::string large;
    char* text = small;
    std::size_t capacity = sizeof small, used = 0;
    for (ZelWords w = words; *w != nullptr; ++w) {
        const std::size_t n = std::strlen(*w);
        const std::size_t need = used + 1 + n + 1;  // a blank, the word, the NUL
        if (need > capacity) {
            if (text == small) large.assign(small, used);
            large.resize(std::max(need, 2 * capacity));
            text = large.data();
            capacity = large.size();
        }
        if (w != words) text[used++] = ' ';
        std::memcpy(text + used, *w, n);
        used += n;
    }
    text[used] = '\0';
    return kwoCopyString(text);
}

jstring javaWordList(JNIEnv* env, ZelWords words) {
    char* joined = joinWords(words);
    jstring list = toJavaString(env, joined);
    if (joined != nullptr) kwoFreeString(joined);
    return list;
}

namespace {

template <typename Record>
const char* viewListField(const void* source) {
    return static_cast<const Record*>(source)->viewList;
}

const char* defaultViewList(const void* source) {
    return static_cast<const ConfigRecord*>(source)->defaultViewList;
}

// Which record a code's viewListSource designates follows the code; the record
// types carry the field at the offset the library agreed to.
constexpr RuleSource kRuleSources[] = {
    {ZEL_RULE_DEFAULT, kLibListDefault, defaultViewList, ZEL_STOP_DEFAULT},
    {ZEL_RULE_LIBRARY, kLibListOther, viewListField<LibraryRuleRecord>, ZEL_STOP_LIBRARY},
    {ZEL_RULE_CELL, kLibListCell, viewListField<CellRecord>, ZEL_STOP_CELL},
    {ZEL_RULE_INSTANCE, kLibListInstance, viewListField<InstRuleRecord>, ZEL_STOP_INSTANCE},
    {ZEL_RULE_OCCURRENCE, kLibListOther, viewListField<OccurrenceInstance>, ZEL_STOP_OCCURRENCE},
};

}  // namespace

const RuleSource* findRuleSource(int code) {
    for (const RuleSource& source : kRuleSources)
        if (source.code == code) return &source;
    return nullptr;
}

}  // namespace pathvector
