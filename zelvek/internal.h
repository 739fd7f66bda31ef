/*
 * zelvek's own objects behind the shared records.
 *
 * Each record the bridge reads is the first member of one of these objects
 * and its `owner` word points back at the object.  Records are never moved or
 * freed while their configuration lives: a rule that loses its last value is
 * unlinked from its chain and kept, empty, so that a pointer the bridge holds
 * stays valid; the same name brings it back.  Strings in records are malloc'd
 * copies in modified UTF-8 owned by the record.
 */
#ifndef ZELVEK_INTERNAL_H
#define ZELVEK_INTERNAL_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zelvek/zelvek.h"

namespace zel {

// ---- strings --------------------------------------------------------------

// The text as valid modified UTF-8 (a caller may hand anything in).
std::string norm(const char* text);
// Replaces a record's string by a copy of value (null clears).  A setter
// mostly hands in what the field holds already, which is kept as it is: the
// field holds modified UTF-8, which norm() leaves unchanged, so a value equal
// to it byte for byte is already what norm() would make of it.  Inline, so
// that such a call costs one compare.
void replaceText(const char*& field, const char* value);
inline void setText(const char*& field, const char* value) {
    if (field != nullptr && value != nullptr && std::strcmp(field, value) == 0) return;
    replaceText(field, value);
}
void setText(const char*& field, const std::string& value);
void clearText(const char*& field);
bool sameText(const char* a, const char* b);

// ---- warnings -------------------------------------------------------------

enum Severity { kWarning = 1, kError = 2 };
void warn(const std::string& text, int severity = kWarning);
// 'name' as it goes into a message.
std::string q(std::string_view name);
std::string q(const char* name);

// ---- saving ---------------------------------------------------------------

// Test seam, null in normal use.  When set, a save calls it before each step of
// writing the file ("write", "flush", "rename"); a non-zero answer fails that
// step with it as errno.  Only tests set it: a failing fsync, or a
// process that dies between the write and the rename, cannot be brought about
// from outside on demand.
using SaveStepHook = int (*)(const char* step);
extern SaveStepHook saveStepHook;

// How often a read was tried again after a stale NFS handle (for figures).
extern std::atomic<unsigned long> staleRetries;

// Test seams as well: how long a save waits for another save's lock (10 s),
// and whether a folder counts as shared over the network (-1: as the system
// says; 0 or 1: as if it were not, or were).  A step "open" of the hook
// fails the open of a file being read; "checked" comes after the check of
// the file a save replaces.
extern std::chrono::milliseconds saveLockWait;
extern int networkFolderSeam;
// What the name of a temporary file of process pid of this host, begun at
// start, says of its writer: "<host>.<pid>.<place>-<start>".
std::string tempWriterName(long pid, uint64_t start);

// The largest revision a file may hold: the reader takes no more.
constexpr intptr_t kMaxRevision = INT32_MAX;

// ---- comments -------------------------------------------------------------

// What a person wrote around one line of a file: the comment lines before it
// (with the blank lines among and around them), and a comment at the end of
// the line itself.  A save writes them back with that line.
struct Remark {
    std::string before;   // whole lines, each ended by '\n'
    std::string after;    // from the blanks before '#' to the end of the line
};

// Which line a remark belongs to: a rule object (or, for the settings, the
// field of the record), and its statement or one of its properties.  Note
// lines are keyed by the note and the line's index, the "zelvek-config" line
// by Config::remarks itself.
enum RemarkLine : int {
    kStatementLine = -1,
    kViewBindingLine = -2,  // a cell's view-binding or bind: it holds one of them
    kBindLine = -3,
    kViewsLine = -4,
    kLibsLine = -5,
    kStopLine = -6,
    kStopsLine = -7,
};

struct RemarkKey {
    const void* at = nullptr;
    int line = kStatementLine;
    bool operator==(const RemarkKey& o) const { return at == o.at && line == o.line; }
};

struct RemarkKeyHash {
    size_t operator()(const RemarkKey& k) const {
        return std::hash<const void*>()(k.at) ^ (static_cast<size_t>(k.line) * static_cast<size_t>(0x9E3779B9u));
    }
};

// ---- the file's shape ------------------------------------------------------

// One line of the file a configuration was read from or last saved to.  A
// save writes a line that still says what it said byte for byte, so that a
// hand-written file keeps its order, spacing and comments (format.cpp).
struct LayoutLine {
    size_t offset = 0;      // in Layout::text
    uint32_t length = 0;    // without its '\n' ('\r' included)
    uint32_t afterAt = 0;   // where its own comment starts, blanks before it included; length when none
    RemarkKey key;          // the statement or property it holds; at null: a comment or blank line
    uint64_t said = 0;      // hash of what its key's line said when this text was read; 0: nothing
};

struct Layout {
    bool known = false;        // false: no file yet; a save writes the canonical form
    bool finalNewline = true;  // the last line ended with '\n'
    std::string text;          // the lines, each ended by '\n'
    std::vector<LayoutLine> lines;
};

// The rules and settings listed in file order (zelListRules), kept until the
// next listing of the same configuration.
struct Listing {
    std::vector<std::string> texts;
    std::vector<const char*> items;
    ZelStringList list{};
};

// ---- rules ----------------------------------------------------------------

struct Config;
struct Cell;
struct InstList;

struct InstRule {
    InstRuleRecord rec{};
    InstList* list = nullptr;
    InstRule* prev = nullptr;
    bool linked = false;
    ~InstRule();
    bool holdsRule() const;
};

// One chain of instance rules: a cell's (any view) or a cell view's.
struct InstList {
    InstRuleRecord** head = nullptr;
    InstRule* tail = nullptr;
    size_t linkedCount = 0;
    Cell* cell = nullptr;
    bool ofView = false;
    std::unordered_map<std::string, std::unique_ptr<InstRule>> byName;
};

struct CellView {
    CellViewRecord rec{};
    InstList insts;
    ~CellView();
};

struct Cell {
    CellRecord rec{};
    Config* config = nullptr;
    BindingRecord binding{};          // rec.viewBinding designates it while it holds a name
    std::string wordText;             // rec.libList split into NUL-separated words
    std::vector<const char*> words;   // rec.libListWords
    InstList anyView;
    std::unordered_map<std::string, std::unique_ptr<CellView>> views;
    size_t liveViews = 0;
    ~Cell();
    bool holdsCellRule() const;
    bool live() const { return holdsCellRule() || anyView.linkedCount > 0 || liveViews > 0; }
};

struct LibRule {
    LibraryRuleRecord rec{};
    ~LibRule();
};

struct Constant {
    ConstantEntry rec{};
    Constant* prev = nullptr;
    bool linked = false;
    ~Constant();
};

struct Occ;

// The occurrence instances under one occurrence (or under the top cell).
struct OccList {
    OccurrenceRecord rec{};
    Occ* node = nullptr;              // the occurrence this list lies under; null at the top
    Occ* tail = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Occ>> byName;
};

struct Occ {
    OccurrenceInstance rec{};
    Config* config = nullptr;
    OccList* list = nullptr;          // the list it belongs to
    OccList below;
    Occ* prev = nullptr;
    bool linked = false;
    bool counted = false;             // counted in Config::occRules
    ~Occ();
    bool holdsRule() const;
};

struct PathVector;

// The binding last made for a cell through a configuration (allowRecent);
// an empty view: none yet.
struct RecentBinding {
    std::string lib, cell, view;
};

// What binding needs of one master cell (by the cellKey of its library and
// name), found once per edit instead of on every bind: its cell rules, for
// its library and for any library, and its library's rule (bind.cpp).
// Records are never freed while the configuration lives, and every edit
// moves Config::edits, which tells these look-ups are stale.
struct Master {
    const CellRecord* cells[2] = {};   // the library's first, then any library's
    int cellCount = 0;
    const LibraryRuleRecord* libRule = nullptr;
    uint64_t lookedUpAt = 0;           // Config::edits + 1 while the above hold
    RecentBinding recent;
    // Whether the design holds this cell in a library and view, for those
    // asked so far (answers stay while the configuration is open).
    struct Seen {
        std::string lib, view;
        bool exists = false;
    };
    std::vector<Seen> seen;
};

// The content of its file as a configuration read it or last wrote it.  A
// save writes over that content only: another program's save changes it.
struct FileContent {
    bool known = false;   // false: this configuration neither read nor wrote its file
    uint64_t size = 0;
    uint64_t hash = 0;
};

enum ConfigFlags : intptr_t { kEditable = 1, kModified = 2, kClosed = 4, kInLibrary = 8 };

struct Config {
    ConfigRecord rec{};
    std::string fsPath;               // the file, as the file system names it; empty: none yet
    FileContent seen;                 // of fsPath
    std::unordered_map<std::string, std::unique_ptr<Cell>> cells;
    std::unordered_map<std::string, std::unique_ptr<LibRule>> libRules;
    std::unordered_map<std::string, std::unique_ptr<Constant>> constants;
    Constant* constantTail = nullptr;
    std::vector<std::string> note;
    std::string noteText;             // the lines joined; rec.noteText points into it
    OccList occRoot;
    size_t occRules = 0;
    std::vector<PathVector*> pathVectors;
    std::string resolved, evaluated;  // answers of the constant functions
    // Whether a cell or cell view exists in the design, as first looked up
    // while this configuration is open (bind.cpp).
    std::unordered_map<std::string, bool> designSeen;
    // Per master cell asked to bind (cellKey of its library and name).
    std::unordered_map<std::string, Master> masters;
    uint64_t recentWrites = 0;        // counts the changes of any Master::recent
    // Rule texts split into words once their constants are expanded (bind.cpp),
    // by the address of the text; the text is kept to tell a string that took
    // the place of a freed one.  Every edit empties it: constants may change.
    struct Words {
        std::string text;
        std::vector<std::string> words;
    };
    std::unordered_map<const char*, Words> wordsOf;
    // Counts the times an entry of wordsOf was dropped or rewritten: the same
    // entry at the same count holds the same words.
    uint64_t wordsGeneration = 0;
    // The key of the master cell of the bind under way (bind.cpp), built in
    // a buffer that stays.
    std::string masterKey;
    std::string scratchKey;           // built for one look-up, so that none allocates
    uint64_t edits = 0;               // counts edited(): tells a level's look-ups still hold
    // Comments a person wrote into the file, by the line they go with, and
    // those after the last statement.
    std::unordered_map<RemarkKey, Remark, RemarkKeyHash> remarks;
    std::string endRemark;
    // The file as read or last saved, line by line: what a save keeps.
    Layout layout;
    std::unique_ptr<Listing> listing;
    Config();
    ~Config();
    bool has(ConfigFlags f) const { return (rec.state & f) != 0; }
    void set(ConfigFlags f, bool on) { rec.state = on ? (rec.state | f) : (rec.state & ~intptr_t(f)); }
};

inline Config* configOf(ConfigRecord* rec) { return rec ? static_cast<Config*>(rec->owner) : nullptr; }

// Key of a cell rule: lib null means the cell in any library.
std::string cellKey(const std::string* lib, const std::string& cell);

// cellKey from the names as the records hold them, for a look-up; lib null
// means the cell in any library.
std::string cellLookupKey(const char* lib, std::string_view cell);
// The same key built in cfg.scratchKey, whose buffer stays: valid until the
// next use of scratchKey.
const std::string& scratchCellKey(Config& cfg, const char* lib, std::string_view cell);
// The same key built in key.
const std::string& cellKeyIn(std::string& key, const char* lib, std::string_view cell);

// Look-ups and creation.  find* give null for a record that holds no rule.
Cell* findCell(Config& cfg, const std::string* lib, const std::string& cell);
Cell* findCellNamed(Config& cfg, const char* lib, std::string_view cell);
Cell& cellFor(Config& cfg, const std::string* lib, const std::string& cell);
CellView& cellViewFor(Cell& cell, const std::string& view);
InstRule& instFor(InstList& list, const std::string& inst);

// After a rule's values changed: link or unlink it, keep derived fields.
void afterChange(InstRule& rule);
void afterChange(Cell& cell);
void setLibList(Cell& cell, const char* libList);
void setCellBinding(Cell& cell, const char* lib, const char* cellName, const char* view);

LibRule& libRuleFor(Config& cfg, const std::string& lib);

// Constants and the note.
void defineConstant(Config& cfg, const std::string& name, const char* value);
// The note changes only at its end; rec.noteText follows at the cost of the
// line itself, whatever the length of the note.
void appendNoteLine(Config& cfg, std::string line);
void dropLastNoteLine(Config& cfg);
void clearNote(Config& cfg);
// Replaces every $(NAME) in text; false, with a warning, when it cannot.
bool resolveConstants(const Config& cfg, const std::string& text, std::string& out);

// Occurrences.
Occ& occFor(Config& cfg, OccList& list, const std::string& name);
void linkOcc(Occ& occ);
void afterChange(Occ& occ);

// Every edit: the configuration is modified and path vectors see the change.
void edited(Config& cfg);
// An edit of what no level of a path vector points at (top cell, defaults,
// constants, the note): the configuration is modified, the levels stand.
void editedSettings(Config& cfg);

// The same bytes, all of them plain ASCII: what norm() would make of value is
// then what field holds.
bool samePlainText(const char* field, const char* value);

// Frees a configuration that is closed and walked by no path vector.
void releaseIfUnused(Config* cfg);

// ---- path vectors ---------------------------------------------------------

// Where a list in effect at a level comes from: a rule-source code and the
// record that holds the list (read afresh, so a level follows edits).
struct ListSource {
    int8_t code = 0;
    const void* source = nullptr;
    bool inherited = false;   // taken over from the level above
};

struct Level {
    ContextEntry entry{};
    uint64_t serial = 0;      // tells a level from one pushed later at the same depth
    ListSource viewList, libList;
    // The rule objects of this level's cell, for its library ([0]) and for
    // any library ([1]), and of its view in each; null where there is none.
    // Kept with entry.cell and entry.cellView (refreshLevels): objects are
    // never freed while the configuration lives, and every edit refreshes.
    Cell* cells[2] = {};
    CellView* views[2] = {};
    // The library rule of the level's library, or null (the stop list of
    // isAtStop); looked up with cells and views.
    LibRule* libRule = nullptr;
    // The instance rules of the instance through which the level was entered
    // (its stop points), most specific first; valid while enteredAt is
    // Config::edits + 1, since every edit may link or unlink one.
    const InstRuleRecord* enteredBy[4] = {};
    int enteredByCount = 0;
    uint64_t enteredAt = 0;
    // Whether the level's view is in the default stop list and in its
    // library's stop list: valid while stopListsAt is
    // Config::wordsGeneration + 1 (every edit moves that) and the names stand;
    // a level pushed again with the same names keeps them.
    bool inDefaultStops = false, inLibraryStops = false;
    uint64_t stopListsAt = 0;
    // The block of entry.instName while no instance is entered (after a pop),
    // taken again by the next push: a walk enters and leaves all the time.
    char* spareInst = nullptr;
    // Config::edits when cells and views were looked up for the names the
    // level holds; a level pushed again with the same names keeps them.
    bool lookedUp = false;
    uint64_t lookedUpAt = 0;
    // The names are plain ASCII (null counts): a name the same byte for byte
    // is then what norm() would make of it.
    bool plainNames = false;
    ~Level();
};

struct BindState;  // binding and stop answers of one path vector (bind.cpp)
void releaseBindState(BindState* state);

struct PathVector {
    PathVectorRecord rec{};
    Config* config = nullptr;
    std::vector<std::unique_ptr<Level>> levels;
    // Levels popped, kept for the next pushes with their names: a walk pushes
    // and pops the same cells over and over.  Unreachable from the record.
    std::vector<std::unique_ptr<Level>> spare;
    BindState* bind = nullptr;
    uint64_t nextSerial = 1;
    // Where it stands in its configuration's pathVectors, so that leaving
    // takes no search: a program may drop a hundred thousand at once.
    size_t listIndex = 0;
    ~PathVector();
};

inline PathVector* pathVectorOf(PathVectorRecord* rec) {
    return rec ? static_cast<PathVector*>(rec->owner) : nullptr;
}
// The current level, or null.
ContextEntry* currentEntry(PathVectorRecord* rec);
// Points every level's cell, cellView and occurrence at the records in force.
void refreshLevels(PathVector& pv);
// The same for the deepest level alone, when the levels above are up to date.
void refreshDeepest(PathVector& pv);
// The lists in effect at a level about to be pushed for instance `inst` of
// the current level (bind.cpp): those of the last bind when it bound that
// instance here, else the lists a bind of it would resolve.
// True when it also tells, in below, the occurrence list the new level lies
// under (null: none), as refreshDeepest would find it once inst is entered.
bool listsForPush(PathVector& pv, const char* inst, const char* lib, const char* cell, Level& level,
                  OccList*& below);

}  // namespace zel

#endif  // ZELVEK_INTERNAL_H
