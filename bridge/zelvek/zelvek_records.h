/*
 * Records shared between the configuration library (zelvek) and the JNI
 * bridge.  The bridge reads some fields of these records and fills two blocks
 * for the library; the library lays its records out with these very structs.
 *
 * Every field that the bridge reads stands at a fixed offset in the 32-bit
 * layout the two were first built for.  The words in between belong to the
 * library; they are declared here, pointer-width and named, so that the 32-bit
 * offsets come out exactly and a 64-bit build keeps the same fields in the same
 * order.  The offsets are checked at compile time on 32-bit builds, below.
 */
#ifndef ZELVEK_RECORDS_H
#define ZELVEK_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A byte boolean: 0 is false, any other value true. */
typedef uint8_t ZelBool;

/* Deepest level a path vector holds; pushes beyond it are refused. */
#define ZEL_MAX_DEPTH 256

/*
 * Rule-source codes: which kind of rule supplied a list, a binding or a stop.
 * They stand in the rule fields of BindInfo and in StopRule.code.
 */
enum {
    ZEL_RULE_DEFAULT    = 1,  /* the configuration's default lists */
    ZEL_RULE_LIBRARY    = 5,  /* a library rule: every cell of one library */
    ZEL_RULE_CELL       = 6,  /* a cell rule */
    ZEL_RULE_INSTANCE   = 8,  /* an instance rule (or an object rule on an instance) */
    ZEL_RULE_OCCURRENCE = 13  /* an occurrence rule */
};

/* Bits of BindInfo.flags. */
enum {
    ZEL_BIND_VIEW_MISSING    = 0x2,     /* a binding rule names a view the design lacks */
    ZEL_BIND_BY_RULE         = 0x4,     /* a binding rule (viewBindingRule) chose the view */
    ZEL_BIND_ALT_RULE        = 0x8,     /* altBindingRule supplied the library of the binding */
    ZEL_BIND_LIBLIST_INHERIT = 0x10,    /* the library list comes from the level above */
    ZEL_BIND_VIEWLIST_INHERIT = 0x20,   /* the view list comes from the level above */
    ZEL_BIND_MOST_RECENT     = 0x40000  /* the most recently bound view was taken */
};

/* Bits of the stop-reason mask, one per rule-source code. */
enum {
    ZEL_STOP_DEFAULT    = 0x01,
    ZEL_STOP_INSTANCE   = 0x02,
    ZEL_STOP_OCCURRENCE = 0x04,
    ZEL_STOP_CELL       = 0x08,
    ZEL_STOP_LIBRARY    = 0x10
};

/* A list of strings; an item may be null (see each function). */
typedef struct ZelStringList {
    int32_t count;
    const char* const* items;
} ZelStringList;

typedef struct ConfigRecord ConfigRecord;
typedef struct ConstantEntry ConstantEntry;
typedef struct PathVectorRecord PathVectorRecord;
typedef struct ContextEntry ContextEntry;
typedef struct OccurrenceRecord OccurrenceRecord;
typedef struct OccurrenceInstance OccurrenceInstance;
typedef struct LibraryRuleRecord LibraryRuleRecord;
typedef struct CellRecord CellRecord;
typedef struct CellViewRecord CellViewRecord;
typedef struct InstRuleRecord InstRuleRecord;
typedef struct BindingRecord BindingRecord;
typedef struct BindInfo BindInfo;
typedef struct ResolvedLists ResolvedLists;
typedef struct StopRule StopRule;

/* A word array: null-terminated array of native strings, one word each. */
typedef const char* const* ZelWords;

/* Library, cell and view of a binding; 12 bytes on 32-bit. */
struct BindingRecord {
    const char* libName;   /*  0 */
    const char* cellName;  /*  4 */
    const char* viewName;  /*  8 */
};

/* One configuration.  owner designates the library's own object. */
struct ConfigRecord {
    const char* libName;          /*  0  where the configuration is stored */
    const char* cellName;         /*  4 */
    const char* viewName;         /*  8 */
    const char* topLibName;       /* 12 */
    const char* topCellName;      /* 16 */
    const char* topViewName;      /* 20 */
    const char* defaultLibList;   /* 24 */
    const char* defaultStopList;  /* 28 */
    const char* noteText;         /* 32 */
    const char* filePath;         /* 36 */
    intptr_t revision;            /* 40 */
    intptr_t state;               /* 44  library's flags */
    void* owner;                  /* 48 */
    const char* defaultViewList;  /* 52  read for rule-source code 1 */
    void* reserved56;
    void* reserved60;
    void* reserved64;
    void* reserved68;
    void* reserved72;
    void* reserved76;
    void* reserved80;
    ConstantEntry* constants;     /* 84  first constant, in definition order */
};

struct ConstantEntry {
    const char* name;             /*  0 */
    const char* value;            /*  4 */
    void* owner;                  /*  8 */
    ConstantEntry* next;          /* 12 */
};

/* One level of a path vector. */
struct ContextEntry {
    const char* libName;          /*  0 */
    const char* cellName;         /*  4 */
    const char* viewName;         /*  8 */
    const char* instName;         /* 12  instance through which the next level is entered */
    const char* viewList;         /* 16  view list in effect at this level */
    const char* libList;          /* 20  library list in effect at this level */
    intptr_t listRules;           /* 24  library's: where those lists came from */
    void* owner;                  /* 28 */
    void* reserved32;
    void* reserved36;
    OccurrenceRecord* occurrence; /* 40  occurrence of this path, or null */
    void* reserved44;
    CellRecord* cell;             /* 48  cell rule of this level's cell, or null */
    CellViewRecord* cellView;     /* 52  cell-view rules of this level, or null */
};

/* A path vector: contexts[0] is the top, contexts[depth] the current level. */
struct PathVectorRecord {
    ConfigRecord* config;                  /* 0 */
    int32_t depth;                         /* 4  negative: no current level */
    ContextEntry* contexts[ZEL_MAX_DEPTH]; /* 8 */
    void* owner;
};

/* The occurrence of one path: the occurrence instances recorded under it. */
struct OccurrenceRecord {
    void* owner;                          /* 0 */
    OccurrenceInstance* instances;        /* 4 */
};

/* One occurrence instance under an OccurrenceRecord. */
struct OccurrenceInstance {
    const char* name;                     /*  0  never null */
    OccurrenceRecord* children;           /*  4  occurrences below this one */
    const char* bindLibName;              /*  8 */
    const char* bindCellName;             /* 12 */
    const char* bindViewName;             /* 16 */
    intptr_t stop;                        /* 20 */
    const char* viewList;                 /* 24  read for rule-source code 13 */
    void* owner;                          /* 28 */
    void* reserved32;
    void* reserved36;
    void* reserved40;
    OccurrenceInstance* next;             /* 44 */
};

/* Rules for every cell of one library (rule-source code 5). */
struct LibraryRuleRecord {
    const char* libName;                  /*  0 */
    const char* stopList;                 /*  4 */
    void* owner;                          /*  8 */
    const char* viewList;                 /* 12  read for rule-source code 5 */
};

/* The rules of one cell, of one library or of any library (code 6). */
struct CellRecord {
    const char* libName;                  /*  0  null: the cell in any library */
    const char* cellName;                 /*  4 */
    InstRuleRecord* instRules;            /*  8  instance rules for the cell in any view */
    void* owner;                          /* 12 */
    const char* libList;                  /* 16 */
    intptr_t stop;                        /* 20 */
    const char* viewList;                 /* 24 */
    void* reserved28;
    BindingRecord* viewBinding;           /* 32  viewName at its offset 8 */
    void* reserved36;
    ZelWords libListWords;                /* 40  libList as a word array */
};

/* The rules of one cell view. */
struct CellViewRecord {
    const char* viewName;                 /* 0 */
    InstRuleRecord* instRules;            /* 4 */
    void* owner;
};

/* The rules of one instance (code 8). */
struct InstRuleRecord {
    const char* name;                     /*  0 */
    const char* viewBinding;              /*  4 */
    const char* firstValue;               /*  8  the instance's library list */
    void* owner;                          /* 12 */
    const char* viewList;                 /* 16 */
    intptr_t stop;                        /* 20 */
    const char* bindLibName;              /* 24 */
    const char* bindCellName;             /* 28 */
    const char* bindViewName;             /* 32 */
    void* reserved36;
    InstRuleRecord* next;                 /* 40 */
};

/* How a binding came about; 24 bytes on 32-bit. */
struct BindInfo {
    void* owner;                          /*  0 */
    const void* viewListSource;           /*  4  record kind given by viewListRule */
    const void* bindingSource;            /*  8  record kind given by viewBindingRule */
    void* reserved12;                     /* 12 */
    uint8_t libListRule;                  /* 16 */
    int8_t viewListRule;                  /* 17 */
    int8_t viewBindingRule;               /* 18 */
    int8_t altBindingRule;                /* 19  read only with ZEL_BIND_ALT_RULE */
    uint32_t flags;                       /* 20 */
};

/* The lists a binding resolved, as word arrays. */
struct ResolvedLists {
    ZelWords libWords;                    /* 0 */
    ZelWords expandedViewWords;           /* 4 */
};

/* One matching stop rule; an array of them ends at the first null rule. */
struct StopRule {
    int32_t code;                         /* 0 */
    const void* rule;                     /* 4 */
};

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(__cplusplus) && UINTPTR_MAX == 0xffffffffu
/* The 32-bit layout is the one both sides were built against: pin it. */
#define ZEL_CHECK_OFFSET(rec, field, off) \
    static_assert(offsetof(rec, field) == (off), #rec "." #field " must be at offset " #off)
ZEL_CHECK_OFFSET(ConfigRecord, defaultViewList, 52);
ZEL_CHECK_OFFSET(ConfigRecord, constants, 84);
ZEL_CHECK_OFFSET(ConstantEntry, name, 0);
ZEL_CHECK_OFFSET(ConstantEntry, value, 4);
ZEL_CHECK_OFFSET(ConstantEntry, next, 12);
ZEL_CHECK_OFFSET(PathVectorRecord, config, 0);
ZEL_CHECK_OFFSET(PathVectorRecord, depth, 4);
ZEL_CHECK_OFFSET(PathVectorRecord, contexts, 8);
ZEL_CHECK_OFFSET(ContextEntry, libName, 0);
ZEL_CHECK_OFFSET(ContextEntry, cellName, 4);
ZEL_CHECK_OFFSET(ContextEntry, viewName, 8);
ZEL_CHECK_OFFSET(ContextEntry, instName, 12);
ZEL_CHECK_OFFSET(ContextEntry, occurrence, 40);
ZEL_CHECK_OFFSET(ContextEntry, cell, 48);
ZEL_CHECK_OFFSET(ContextEntry, cellView, 52);
ZEL_CHECK_OFFSET(OccurrenceRecord, instances, 4);
ZEL_CHECK_OFFSET(OccurrenceInstance, name, 0);
ZEL_CHECK_OFFSET(OccurrenceInstance, viewList, 24);
ZEL_CHECK_OFFSET(OccurrenceInstance, next, 44);
ZEL_CHECK_OFFSET(LibraryRuleRecord, viewList, 12);
ZEL_CHECK_OFFSET(CellRecord, instRules, 8);
ZEL_CHECK_OFFSET(CellRecord, viewList, 24);
ZEL_CHECK_OFFSET(CellRecord, viewBinding, 32);
ZEL_CHECK_OFFSET(CellRecord, libListWords, 40);
ZEL_CHECK_OFFSET(CellViewRecord, instRules, 4);
ZEL_CHECK_OFFSET(InstRuleRecord, name, 0);
ZEL_CHECK_OFFSET(InstRuleRecord, firstValue, 8);
ZEL_CHECK_OFFSET(InstRuleRecord, viewList, 16);
ZEL_CHECK_OFFSET(InstRuleRecord, next, 40);
ZEL_CHECK_OFFSET(BindingRecord, libName, 0);
ZEL_CHECK_OFFSET(BindingRecord, cellName, 4);
ZEL_CHECK_OFFSET(BindingRecord, viewName, 8);
ZEL_CHECK_OFFSET(BindInfo, viewListSource, 4);
ZEL_CHECK_OFFSET(BindInfo, bindingSource, 8);
ZEL_CHECK_OFFSET(BindInfo, libListRule, 16);
ZEL_CHECK_OFFSET(BindInfo, viewListRule, 17);
ZEL_CHECK_OFFSET(BindInfo, viewBindingRule, 18);
ZEL_CHECK_OFFSET(BindInfo, altBindingRule, 19);
ZEL_CHECK_OFFSET(BindInfo, flags, 20);
ZEL_CHECK_OFFSET(ResolvedLists, libWords, 0);
ZEL_CHECK_OFFSET(ResolvedLists, expandedViewWords, 4);
ZEL_CHECK_OFFSET(StopRule, code, 0);
ZEL_CHECK_OFFSET(StopRule, rule, 4);
static_assert(sizeof(BindingRecord) == 12, "BindingRecord is a 12-byte block");
static_assert(sizeof(BindInfo) == 24, "BindInfo is a 24-byte block");
static_assert(sizeof(StopRule) == 8, "StopRule elements follow each other every 8 bytes");
#undef ZEL_CHECK_OFFSET
#endif

#endif /* ZELVEK_RECORDS_H */
