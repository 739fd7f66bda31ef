/*
 * The library-access layer: library definitions (vek), string copies, and
 * the setup-file search (kwoCommon).
 */
#include "zelvek/vek.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "vek/libraries.h"
#include "vek/platform.h"
#include "vek/text.h"

namespace os = vek::os;

namespace {

struct Definitions {
    std::mutex mutex;
    std::unordered_map<std::string, std::string> directories;  // library name -> directory
    std::vector<std::string> problems;
    std::vector<std::string> allProblems;  // of the last load, kept for those who ask later
};

Definitions& definitions() {
    static Definitions defs;
    return defs;
}

bool isDirectory(const std::string& path) { return os::kindOf(path) == os::FileKind::Directory; }

bool isRegularFile(const std::string& path) { return os::kindOf(path) == os::FileKind::Regular; }

std::string directoryOf(const std::string& file) {
    size_t slash = os::lastSeparator(file);
    if (slash == std::string::npos) return os::currentDirectory();
    if (slash == 0) return file.substr(0, 1);
    std::string dir = file.substr(0, slash);
    if (!os::isAbsolute(dir)) dir = os::currentDirectory() + "/" + dir;
    return dir;
}

std::string resolveAgainst(const std::string& baseDir, const std::string& path) {
    if (os::isAbsolute(path)) return path;
    return baseDir + "/" + path;
}

std::string shown(const std::string& path) { return vek::toModifiedUtf8(path); }

// Splits a definitions line into words: blanks separate, "..." quotes (with
// \" and \\ inside), # starts a comment.  False on an unterminated quote.
bool splitWords(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        std::string word;
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < line.size()) d = line[i++];
                word += d;
            }
            if (!closed) return false;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class DefinitionsReader {
public:
    DefinitionsReader(Definitions& defs) : defs_(defs) {}

    void read(const std::string& file, const std::string& from) {
        if (stack_.size() >= 32) {
            problem(from + "INCLUDE nesting deeper than 32 files at " + shown(file) +
                    "; look for files that include each other");
            return;
        }
        const std::string key = os::realPath(file);
        for (const std::string& open : stack_) {
            if (open == key) {
                problem(from + "library definitions file " + shown(file) +
                        " includes itself; remove the INCLUDE that closes the loop");
                return;
            }
        }
        // A file included twice (each of two files including a third, and so
        // on down: a diamond) is read once: again would double every
        // definition and warning at each level.
        if (!done_.insert(key).second) return;
        std::string trouble;
        std::string text;
        os::FileKind kind = os::kindOf(file);
        if (kind == os::FileKind::Missing) {
            trouble = os::describe(os::lastError());
        } else if (kind != os::FileKind::Regular) {
            trouble = "not a regular file";
        } else {
            os::File in = os::openForReading(file);
            if (!in.valid() || !os::readRest(in, text)) trouble = "cannot open it";
        }
        if (!trouble.empty()) {
            problem(from + "cannot read the library definitions file " + shown(file) + ": " +
                    vek::toModifiedUtf8(trouble) + "; check the path");
            return;
        }
        stack_.push_back(key);
        const std::string baseDir = directoryOf(file);
        std::string line;
        int lineNumber = 0;
        std::vector<std::string> words;
        std::istringstream in(text);
        while (std::getline(in, line)) {
            ++lineNumber;
            const std::string where = shown(file) + ":" + std::to_string(lineNumber) + ": ";
            if (!splitWords(line, words)) {
                problem(where + "unterminated quote; close it with \"");
                continue;
            }
            if (words.empty()) continue;
            const std::string keyword = upper(words[0]);
            if (keyword == "DEFINE") {
                if (words.size() != 3) {
                    problem(where + "DEFINE takes a library name and a directory; write DEFINE <name> <directory>");
                    continue;
                }
                define(where, vek::toModifiedUtf8(words[1]), resolveAgainst(baseDir, words[2]));
            } else if (keyword == "INCLUDE") {
                if (words.size() != 2) {
                    problem(where + "INCLUDE takes one file name; write INCLUDE <file>");
                    continue;
                }
                read(resolveAgainst(baseDir, words[1]), where);
            } else {
                problem(where + "unknown keyword " + vek::quoted(vek::toModifiedUtf8(words[0])) +
                        "; use DEFINE or INCLUDE, or # for a comment");
            }
        }
        stack_.pop_back();
    }

private:
    void define(const std::string& where, const std::string& name, const std::string& directory) {
        std::string why;
        if (!vek::isPathComponent(name.c_str(), &why)) {
            problem(where + "library name " + vek::quoted(name) + " refused: " + why);
            return;
        }
        auto found = defs_.directories.find(name);
        if (found != defs_.directories.end()) {
            problem(where + "library " + vek::quoted(name) + " is defined again; the definition " +
                    shown(directory) + " replaces " + shown(found->second) + " (remove one of the DEFINE lines)");
        }
        if (!isDirectory(directory)) {
            problem(where + "library " + vek::quoted(name) + ": directory " + shown(directory) +
                    " does not exist; create it or correct the DEFINE line");
        }
        defs_.directories[name] = directory;
    }

    void problem(const std::string& text) { defs_.problems.push_back(text); }

    Definitions& defs_;
    std::vector<std::string> stack_;
    std::unordered_set<std::string> done_;  // files read in this load
};

}  // namespace

namespace vek {

bool libraryDirectory(std::string_view name, std::string& directory) {
    Definitions& defs = definitions();
    std::lock_guard<std::mutex> lock(defs.mutex);
    auto found = defs.directories.find(std::string(name));
    if (found == defs.directories.end()) return false;
    directory = found->second;
    return true;
}

bool cellViewExists(std::string_view lib, std::string_view cell, std::string_view view) {
    std::string dir, cellName, viewName;
    std::string libName(lib);
    if (!isPathComponent(libName.c_str(), nullptr) || !isPathComponent(std::string(cell).c_str(), nullptr) ||
        !isPathComponent(std::string(view).c_str(), nullptr))
        return false;
    if (!libraryDirectory(lib, dir) || !toFileSystemName(cell, cellName) || !toFileSystemName(view, viewName))
        return false;
    return isDirectory(dir + "/" + cellName + "/" + viewName);
}

bool cellExists(std::string_view lib, std::string_view cell) {
    std::string dir, cellName;
    std::string libName(lib);
    if (!isPathComponent(libName.c_str(), nullptr) || !isPathComponent(std::string(cell).c_str(), nullptr)) return false;
    if (!libraryDirectory(lib, dir) || !toFileSystemName(cell, cellName)) return false;
    return isDirectory(dir + "/" + cellName);
}

std::vector<std::string> libraryListing() {
    Definitions& defs = definitions();
    std::vector<std::pair<std::string, std::string>> sorted;
    {
        std::lock_guard<std::mutex> lock(defs.mutex);
        sorted.assign(defs.directories.begin(), defs.directories.end());
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> items;
    for (const auto& entry : sorted) {
        items.push_back(entry.first);
        items.push_back(shown(entry.second));
    }
    return items;
}

std::vector<std::string> definitionProblems() {
    Definitions& defs = definitions();
    std::lock_guard<std::mutex> lock(defs.mutex);
    return defs.allProblems;
}

std::vector<std::string> takeDefinitionProblems() {
    Definitions& defs = definitions();
    std::lock_guard<std::mutex> lock(defs.mutex);
    std::vector<std::string> taken;
    taken.swap(defs.problems);
    return taken;
}

bool isPathComponent(const char* name, std::string* why) {
    const char* reason = nullptr;
    if (name == nullptr) {
        reason = "no name given";
    } else if (*name == '\0') {
        reason = "the name is empty";
    } else if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        reason = "\".\" and \"..\" do not name a directory of their own";
    } else if (std::strchr(name, '/') || std::strchr(name, '\\')) {
        reason = "a name may not hold \"/\" or \"\\\"";
    } else if (std::strstr(name, "\xC0\x80")) {
        reason = "a name may not hold a NUL character";
    }
    if (reason && why) *why = reason;
    return reason == nullptr;
}

std::string quoted(std::string_view name) { return "'" + toModifiedUtf8(name) + "'"; }

}  // namespace vek

extern "C" {

int mipInitialize(int32_t* state) {
    if (state) *state = 0;
    return 0;
}

int mipSearch(int32_t where, const char* name, char* buffer, int32_t size) {
    (void)where;  // every search covers the same places
    if (name == nullptr || *name == '\0' || buffer == nullptr || size <= 0) return 1;
    std::string fileName;
    if (!vek::toFileSystemName(name, fileName)) return 1;
    std::vector<std::string> places;
    {
        std::stringstream parts(os::environment("ZEL_SETUP_PATH"));
        std::string dir;
        while (std::getline(parts, dir, os::kSearchPathSeparator))
            if (!dir.empty()) places.push_back(dir);
    }
    places.push_back(os::currentDirectory());
    if (std::string home = os::homeDirectory(); !home.empty()) places.push_back(home);
    for (const std::string& dir : places) {
        std::string path = dir + "/" + fileName;
        if (!isRegularFile(path)) continue;
        // The first place that holds the file answers, whether or not it fits.
        if (path.size() + 1 > static_cast<size_t>(size)) return 2;
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return 0;
    }
    return 1;
}

int vekInitialize(const char* path, VekInitCallback callback, int32_t* state) {
    (void)callback;  // nothing to report back to the caller
    Definitions& defs = definitions();
    std::lock_guard<std::mutex> lock(defs.mutex);
    defs.directories.clear();
    defs.problems.clear();
    if (path != nullptr) {
        std::string file;
        if (!vek::toFileSystemName(path, file)) {
            defs.problems.push_back("the library definitions path holds a NUL character; give a file name");
        } else {
            DefinitionsReader(defs).read(file, "");
        }
    }
    defs.allProblems = defs.problems;
    if (state) *state = static_cast<int32_t>(defs.directories.size());
    return defs.problems.empty() ? 0 : 1;
}

char* kwoCopyString(const char* text) {
    if (text == nullptr) return nullptr;
    size_t length = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(length));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}

void kwoFreeString(char* copy) { std::free(copy); }

void vekDescribeThread(char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return;
    const std::string text = os::describeThisThread();
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // extern "C"
