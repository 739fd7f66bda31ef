/* Constants, their references $(NAME), and the note. */
#include "zelvek/internal.h"

using namespace zel;

namespace {

// Longest text a resolution may grow to; past it the constants are taken to
// explode (each doubling the text) rather than to mean anything.
constexpr size_t kMaxResolved = 16u << 20;

const Constant* linkedConstant(const Config& cfg, const std::string& name) {
    auto found = cfg.constants.find(name);
    if (found == cfg.constants.end() || !found->second->linked) return nullptr;
    return found->second.get();
}

// Replaces every $(NAME) again and again until none is left.  False (with a
// warning) for an unknown name, a cycle or a runaway size.
bool resolve(const Config& cfg, std::string text, std::string& out) {
    const size_t maxPasses = cfg.constants.size() + 2;
    for (size_t pass = 0;; ++pass) {
        std::string next;
        std::vector<std::string> used;
        size_t i = 0;
        while (i < text.size()) {
            size_t start = text.find("$(", i);
            if (start == std::string::npos) {
                next.append(text, i, std::string::npos);
                break;
            }
            next.append(text, i, start - i);
            size_t close = text.find(')', start + 2);
            std::string name = close == std::string::npos ? std::string() : text.substr(start + 2, close - start - 2);
            // Not a reference: unclosed, empty, or holding an inner one that
            // this pass resolves first.
            if (name.empty() || name.find("$(") != std::string::npos) {
                next += '$';
                i = start + 1;
                continue;
            }
            const Constant* c = linkedConstant(cfg, name);
            if (!c) {
                warn("unknown constant " + q(name) + " in $(" + name + "); define it with a constant rule or " +
                     "correct the reference");
                return false;
            }
            next += c->rec.value;
            used.push_back(name);
            i = close + 1;
            if (next.size() > kMaxResolved) {
                warn("constants grow past " + std::to_string(kMaxResolved) + " bytes while resolving $(" + name +
                     "); look for constants that repeat each other");
                return false;
            }
        }
        if (used.empty()) {
            out.swap(next);
            return true;
        }
        if (pass >= maxPasses) {
            std::string names;
            for (const std::string& n : used) names += (names.empty() ? "" : ", ") + q(n);
            warn("constants refer to each other in a cycle (through " + names +
                 "); change one of them so that the references end");
            return false;
        }
        text.swap(next);
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string asWordList(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        if (i == text.size()) break;
        if (!out.empty()) out += ' ';
        while (i < text.size() && !isBlank(text[i])) out += text[i++];
    }
    return out;
}

}  // namespace

namespace zel {

bool resolveConstants(const Config& cfg, const std::string& text, std::string& out) {
    if (text.find("$(") == std::string::npos) {
        out = text;
        return true;
    }
    return resolve(cfg, text, out);
}

}  // namespace zel

extern "C" {

ZelBool zelReplaceConst(ConfigRecord* config, const char* name, const char* value) {
    Config* cfg = configOf(config);
    if (!cfg || !name || !*name) return 0;
    defineConstant(*cfg, norm(name), value);
    editedSettings(*cfg);
    return 1;
}

ZelBool zelDeleteConst(ConfigRecord* config, const char* name) {
    Config* cfg = configOf(config);
    if (!cfg || !name || !linkedConstant(*cfg, norm(name))) return 0;
    defineConstant(*cfg, norm(name), nullptr);
    editedSettings(*cfg);
    return 1;
}

const char* zelResolveConstants(ConfigRecord* config, const char* text) {
    Config* cfg = configOf(config);
    if (!cfg || !text) return nullptr;
    std::string out;
    if (!resolve(*cfg, norm(text), out)) return nullptr;
    cfg->resolved.swap(out);
    return cfg->resolved.c_str();
}

const char* zelEvalConstants(ConfigRecord* config, const char* text) {
    Config* cfg = configOf(config);
    if (!cfg || !text) return nullptr;
    std::string out;
    if (!resolve(*cfg, norm(text), out)) return nullptr;
    cfg->evaluated = asWordList(out);
    return cfg->evaluated.c_str();
}

ZelBool zelDeleteNote(ConfigRecord* config) {
    Config* cfg = configOf(config);
    if (!cfg || cfg->note.empty()) return 0;
    clearNote(*cfg);
    editedSettings(*cfg);
    return 1;
}

ZelBool zelReplaceNoteLine(ConfigRecord* config, const char* line) {
    Config* cfg = configOf(config);
    if (!cfg) return 0;
    dropLastNoteLine(*cfg);
    if (line) appendNoteLine(*cfg, norm(line));
    editedSettings(*cfg);
    return 1;
}

ZelBool zelAddNoteLine(ConfigRecord* config, const char* line) {
    Config* cfg = configOf(config);
    if (!cfg || !line) return 0;
    appendNoteLine(*cfg, norm(line));
    editedSettings(*cfg);
    return 1;
}

const char* zelGetNoteString(ConfigRecord* config) {
    Config* cfg = configOf(config);
    return cfg ? cfg->rec.noteText : nullptr;
}

}  // extern "C"
