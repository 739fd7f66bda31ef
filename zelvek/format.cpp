/*
 * The configuration file format (docs/config-format.md): one statement a
 * line, blocks of indented properties, "quoted" text for any name or value,
 * '-' for "no value", '*' for "any library" or "any view", '#' comments.
 */
#include "zelvek/format.h"

#include <algorithm>
#include <cstring>

#include "vek/text.h"

namespace zel {

namespace {

constexpr int kFormatVersion = 1;
// The instances of the deepest path a path vector reaches: one below each of
// its levels.
constexpr size_t kMaxOccurrenceDepth = ZEL_MAX_DEPTH;

// ---- writing ----------------------------------------------------------------

bool isSpecial(uint32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || (cp >= 0xD800 && cp <= 0xDFFF) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF;
}

bool isSpaceLike(uint32_t cp) {
    return cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

// Whether a name can stand unquoted and read back the same.
bool canBeBare(std::string_view s) {
    if (s.empty() || s[0] == '#' || s == "-" || s == "*") return false;
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b <= 0x20 || b == 0x7F || b == '"' || b == '\\') return false;
            ++i;
            continue;
        }
        uint32_t cp = vek::nextCodePoint(s, i);
        if (isSpecial(cp) || isSpaceLike(cp)) return false;
    }
    return true;
}

void appendStandard(std::string& out, std::string_view s) {
    if (vek::isPlainAscii(s)) {
        out.append(s);
        return;
    }
    size_t i = 0;
    while (i < s.size()) vek::appendUtf8(out, vek::nextCodePoint(s, i));
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp = vek::nextCodePoint(s, i);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (isSpecial(cp)) {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "\\u{%X}", static_cast<unsigned>(cp));
                    out += hex;
                } else {
                    vek::appendUtf8(out, cp);
                }
        }
    }
    out += '"';
}

// A blank and one token: '-' for no value, the name bare when it can be.
void token(std::string& out, const char* s) {
    out += ' ';
    if (!s) {
        out += '-';
    } else if (canBeBare(s)) {
        appendStandard(out, s);
    } else {
        appendQuoted(out, s);
    }
}

void anyOr(std::string& out, const char* s) {
    if (s) {
        token(out, s);
    } else {
        out += " *";
    }
}

void property(std::string& out, const char* name, const char* value) {
    if (!value) return;
    out += "  ";
    out += name;
    token(out, value);
    out += '\n';
}

void triple(std::string& out, const char* name, const char* a, const char* b, const char* c) {
    out += name;
    token(out, a);
    token(out, b);
    token(out, c);
    out += '\n';
}

bool before(const char* a, const char* b) {
    if (!a || !b) return a == nullptr && b != nullptr;  // "any" first
    return std::strcmp(a, b) < 0;
}

std::vector<const InstRule*> sortedRules(const InstList& list) {
    std::vector<const InstRule*> rules;
    rules.reserve(list.linkedCount);
    for (const InstRuleRecord* r = *list.head; r; r = r->next) rules.push_back(static_cast<const InstRule*>(r->owner));
    std::sort(rules.begin(), rules.end(),
              [](const InstRule* a, const InstRule* b) { return std::strcmp(a->rec.name, b->rec.name) < 0; });
    return rules;
}

void writeInstRules(std::string& out, const Cell& cell, const char* view, const InstList& list) {
    for (const InstRule* rule : sortedRules(list)) {
        const InstRuleRecord& r = rule->rec;
        out += "inst";
        anyOr(out, cell.rec.libName);
        token(out, cell.rec.cellName);
        anyOr(out, view);
        token(out, r.name);
        out += '\n';
        property(out, "view-binding", r.viewBinding);
        property(out, "views", r.viewList);
        property(out, "libs", r.firstValue);
        if (r.stop) out += "  stop\n";
        if (r.bindLibName || r.bindCellName || r.bindViewName)
            triple(out, "  bind", r.bindLibName, r.bindCellName, r.bindViewName);
    }
}

void writeCell(std::string& out, const Cell& cell) {
    const CellRecord& r = cell.rec;
    if (cell.holdsCellRule()) {
        out += "cell";
        anyOr(out, r.libName);
        token(out, r.cellName);
        out += '\n';
        const BindingRecord& b = cell.binding;
        if (b.libName || b.cellName) {
            triple(out, "  bind", b.libName, b.cellName, b.viewName);
        } else {
            property(out, "view-binding", b.viewName);
        }
        property(out, "views", r.viewList);
        property(out, "libs", r.libList);
        if (r.stop) out += "  stop\n";
    }
    if (cell.anyView.linkedCount) writeInstRules(out, cell, nullptr, cell.anyView);
    std::vector<const CellView*> views;
    for (const auto& entry : cell.views)
        if (entry.second->insts.linkedCount) views.push_back(entry.second.get());
    std::sort(views.begin(), views.end(),
              [](const CellView* a, const CellView* b) { return std::strcmp(a->rec.viewName, b->rec.viewName) < 0; });
    for (const CellView* v : views) writeInstRules(out, cell, v->rec.viewName, v->insts);
}

void writeOccurrences(std::string& out, const OccList& list, std::vector<const char*>& path) {
    std::vector<const Occ*> occs;
    for (const OccurrenceInstance* o = list.rec.instances; o; o = o->next) occs.push_back(static_cast<const Occ*>(o->owner));
    std::sort(occs.begin(), occs.end(),
              [](const Occ* a, const Occ* b) { return std::strcmp(a->rec.name, b->rec.name) < 0; });
    for (const Occ* occ : occs) {
        path.push_back(occ->rec.name);
        const OccurrenceInstance& r = occ->rec;
        // A node that holds nothing is implied by the paths below it.
        if (occ->holdsRule() || !occ->below.rec.instances) {
            out += "occurrence";
            for (const char* name : path) token(out, name);
            out += '\n';
            if (r.bindLibName || r.bindCellName || r.bindViewName)
                triple(out, "  bind", r.bindLibName, r.bindCellName, r.bindViewName);
            if (r.stop) out += "  stop\n";
            property(out, "views", r.viewList);
        }
        writeOccurrences(out, occ->below, path);
        path.pop_back();
    }
}

// ---- reading ----------------------------------------------------------------

struct Token {
    enum Kind { Word, None, Any } kind = Word;
    std::string text;
    int column = 0;
};

int columnOf(std::string_view line, size_t offset) {
    int column = 1;
    for (size_t i = 0; i < offset && i < line.size(); ++i)
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
    return column;
}

const char* describe(const Token& t) {
    switch (t.kind) {
        case Token::None: return "'-'";
        case Token::Any: return "'*'";
        default: return nullptr;
    }
}

class Reader {
public:
    Reader(Config& cfg, std::string& error) : cfg_(cfg), error_(error) {}

    bool read(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        // A cell block takes two lines at least: room for that many avoids rehashing.
        cfg_.cells.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) / 4);
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            line_ = text.substr(pos, end - pos);
            if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
            ++lineNo_;
            if (!readLine()) return false;
            pos = end + 1;
        }
        if (!headerSeen_) {
            lineNo_ = 1;
            line_ = {};
            return fail(1, "expected 'zelvek-config " + std::to_string(kFormatVersion) +
                               "' as the first statement; this is not a configuration file");
        }
        rebuildNote(cfg_);
        return true;
    }

private:
    bool fail(int column, const std::string& what) {
        error_ = std::to_string(lineNo_) + ":" + std::to_string(column) + ": " + what;
        return false;
    }

    int endColumn() const { return columnOf(line_, line_.size()); }

    // Token objects are reused from line to line so their text keeps its room.
    Token& nextToken() {
        if (count_ == pool_.size()) pool_.emplace_back();
        Token& t = pool_[count_++];
        t.kind = Token::Word;
        t.text.clear();
        return t;
    }

    bool tokenize() {
        count_ = 0;
        size_t i = 0;
        const size_t n = line_.size();
        // Columns are counted on from the previous token: counting each from
        // the start of the line made a long line of many words quadratic.
        size_t counted = 0;
        int column = 1;
        while (i < n) {
            char c = line_[i];
            if (c == ' ' || c == '\t') {
                ++i;
                continue;
            }
            if (c == '#') break;
            Token& t = nextToken();
            for (; counted < i; ++counted)
                if ((static_cast<unsigned char>(line_[counted]) & 0xC0) != 0x80) ++column;
            t.column = column;
            if (c == '"') {
                if (!quoted(i, t)) return false;
            } else {
                size_t start = i;
                while (i < n && line_[i] != ' ' && line_[i] != '\t') {
                    if (line_[i] == '"')
                        return fail(columnOf(line_, i), "a quote inside a name; put the whole name in quotes");
                    ++i;
                }
                std::string_view bare = line_.substr(start, i - start);
                if (bare == "-") {
                    t.kind = Token::None;
                } else if (bare == "*") {
                    t.kind = Token::Any;
                } else if (vek::isPlainAscii(bare)) {
                    t.text.assign(bare);
                } else {
                    t.text = vek::toModifiedUtf8(bare);
                }
            }
        }
        tokens_ = Tokens{pool_.data(), count_};
        return true;
    }

    bool quoted(size_t& i, Token& t) {
        const size_t n = line_.size();
        ++i;
        size_t chunk = i;
        auto flush = [&](size_t upTo) {
            std::string_view raw = line_.substr(chunk, upTo - chunk);
            if (vek::isPlainAscii(raw)) {
                t.text.append(raw);
            } else {
                t.text += vek::toModifiedUtf8(raw);
            }
        };
        while (i < n) {
            char c = line_[i];
            if (c == '"') {
                flush(i);
                ++i;
                if (i < n && line_[i] != ' ' && line_[i] != '\t')
                    return fail(columnOf(line_, i), "expected a blank after the closing quote");
                return true;
            }
            if (c != '\\') {
                ++i;
                continue;
            }
            flush(i);
            size_t at = i;
            if (i + 1 >= n) break;
            char e = line_[i + 1];
            i += 2;
            switch (e) {
                case '"': t.text += '"'; break;
                case '\\': t.text += '\\'; break;
                case 'n': t.text += '\n'; break;
                case 't': t.text += '\t'; break;
                case 'r': t.text += '\r'; break;
                case 'u': {
                    size_t close = line_.find('}', i);
                    if (i >= n || line_[i] != '{' || close == std::string_view::npos || close == i + 1 ||
                        close - i - 1 > 6)
                        return fail(columnOf(line_, at), "expected \\u{HEX} with 1 to 6 hexadecimal digits");
                    uint32_t cp = 0;
                    for (size_t k = i + 1; k < close; ++k) {
                        char h = line_[k];
                        int digit = (h >= '0' && h <= '9')   ? h - '0'
                                    : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                                    : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                             : -1;
                        if (digit < 0)
                            return fail(columnOf(line_, at), "expected \\u{HEX} with 1 to 6 hexadecimal digits");
                        cp = cp * 16 + static_cast<uint32_t>(digit);
                    }
                    if (cp > 0x10FFFF) return fail(columnOf(line_, at), "\\u{...} beyond U+10FFFF");
                    vek::appendModifiedUtf8(t.text, cp);
                    i = close + 1;
                    break;
                }
                default:
                    return fail(columnOf(line_, at),
                                "unknown escape; use \\\" \\\\ \\n \\t \\r or \\u{HEX} inside quotes");
            }
            chunk = i;
        }
        return fail(t.column, "unterminated quoted text; end it with \"");
    }

    // The token at index k as a name; `what` says what was expected there.
    bool word(size_t k, const char* what, bool allowEmpty = false) {
        if (k >= tokens_.size()) return fail(endColumn(), std::string("expected ") + what);
        const Token& t = tokens_[k];
        if (t.kind != Token::Word)
            return fail(t.column, std::string("expected ") + what + ", not " + describe(t));
        if (!allowEmpty && t.text.empty()) return fail(t.column, std::string("expected ") + what + ", not an empty name");
        return true;
    }

    bool wordOrNone(size_t k, const char* what) {
        if (k >= tokens_.size()) return fail(endColumn(), std::string("expected ") + what + " or '-'");
        const Token& t = tokens_[k];
        if (t.kind == Token::Any) return fail(t.column, std::string("expected ") + what + " or '-', not '*'");
        return true;
    }

    bool wordOrAny(size_t k, const char* what) {
        if (k < tokens_.size() && tokens_[k].kind == Token::Any) return true;
        return word(k, (std::string(what) + " or '*'").c_str());
    }

    bool end(size_t count, const char* after) {
        if (tokens_.size() <= count) return true;
        return fail(tokens_[count].column, std::string("unexpected text after ") + after + "; the line ends there");
    }

    const char* value(size_t k) const { return tokens_[k].kind == Token::Word ? tokens_[k].text.c_str() : nullptr; }
    const std::string* nameOrAny(size_t k) const {
        return tokens_[k].kind == Token::Word ? &tokens_[k].text : nullptr;
    }

    bool readLine() {
        if (!tokenize()) return false;
        if (tokens_.empty()) return true;
        bool indented = line_[0] == ' ' || line_[0] == '\t';
        if (!headerSeen_) {
            const std::string expected = "zelvek-config";
            if (indented || tokens_[0].kind != Token::Word || tokens_[0].text != expected)
                return fail(tokens_[0].column, "expected 'zelvek-config " + std::to_string(kFormatVersion) +
                                                   "' as the first statement; this is not a configuration file");
            if (!word(1, "the format version")) return false;
            if (tokens_[1].text != std::to_string(kFormatVersion))
                return fail(tokens_[1].column, "format version " + q(tokens_[1].text) +
                                                   " is not one this library reads (it reads " +
                                                   std::to_string(kFormatVersion) + "); use a newer library");
            headerSeen_ = true;
            return end(2, "the format version");
        }
        if (indented) return readProperty();
        block_ = Block::None;
        return readStatement();
    }

    bool readStatement() {
        const Token& first = tokens_[0];
        const std::string& kw = first.text;
        if (first.kind != Token::Word) return fail(first.column, "expected a statement, not " + std::string(describe(first)));
        ConfigRecord& r = cfg_.rec;
        if (kw == "location" || kw == "top") {
            if (!wordOrNone(1, "a library name") || !wordOrNone(2, "a cell name") || !wordOrNone(3, "a view name") ||
                !end(4, "the view name"))
                return false;
            bool top = kw == "top";
            setText(top ? r.topLibName : r.libName, value(1));
            setText(top ? r.topCellName : r.cellName, value(2));
            setText(top ? r.topViewName : r.viewName, value(3));
            return true;
        }
        if (kw == "revision") {
            if (!word(1, "a revision number")) return false;
            const std::string& digits = tokens_[1].text;
            if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos ||
                std::stoll(digits) > INT32_MAX)
                return fail(tokens_[1].column, "expected a revision number from 0 to 2147483647");
            r.revision = static_cast<intptr_t>(std::stoll(digits));
            return end(2, "the revision");
        }
        if (kw == "default-views" || kw == "default-libs" || kw == "default-stops") {
            if (!wordOrNone(1, "a list in quotes") || !end(2, "the list")) return false;
            const char*& field = kw == "default-views" ? r.defaultViewList
                                 : kw == "default-libs" ? r.defaultLibList
                                                        : r.defaultStopList;
            setText(field, value(1));
            return true;
        }
        if (kw == "constant") {
            if (!word(1, "a constant name") || !word(2, "the constant's value", true) || !end(3, "the value"))
                return false;
            defineConstant(cfg_, tokens_[1].text, tokens_[2].text.c_str());
            return true;
        }
        if (kw == "note") {
            if (!word(1, "a note line", true) || !end(2, "the note line")) return false;
            cfg_.note.push_back(tokens_[1].text);
            return true;
        }
        if (kw == "library") {
            if (!word(1, "a library name") || !end(2, "the library name")) return false;
            lib_ = &libRuleFor(cfg_, tokens_[1].text);
            block_ = Block::Library;
            return true;
        }
        if (kw == "cell") {
            if (!wordOrAny(1, "a library name") || !word(2, "a cell name") || !end(3, "the cell name")) return false;
            cell_ = &cellFor(cfg_, nameOrAny(1), tokens_[2].text);
            block_ = Block::Cell;
            return true;
        }
        if (kw == "inst") {
            if (!wordOrAny(1, "a library name") || !word(2, "a cell name") || !wordOrAny(3, "a view name") ||
                !word(4, "an instance name") || !end(5, "the instance name"))
                return false;
            // Rules of one cell come together in a file: reuse the last look-ups.
            const std::string* lib = nameOrAny(1);
            const std::string& cellName = tokens_[2].text;
            if (!lastCell_ || !sameText(lastCell_->rec.libName, lib ? lib->c_str() : nullptr) ||
                cellName != lastCell_->rec.cellName) {
                lastCell_ = &cellFor(cfg_, lib, cellName);
                lastView_ = nullptr;
            }
            InstList* list = &lastCell_->anyView;
            if (tokens_[3].kind != Token::Any) {
                if (!lastView_ || tokens_[3].text != lastView_->rec.viewName)
                    lastView_ = &cellViewFor(*lastCell_, tokens_[3].text);
                list = &lastView_->insts;
            }
            inst_ = &instFor(*list, tokens_[4].text);
            block_ = Block::Inst;
            return true;
        }
        if (kw == "occurrence") {
            if (!word(1, "the first instance name of the occurrence")) return false;
            // No walk goes deeper than a path vector; the writer and the
            // occurrences' own clean-up recurse once a level.
            if (tokens_.size() - 1 > kMaxOccurrenceDepth)
                return fail(tokens_[kMaxOccurrenceDepth + 1].column,
                            "an occurrence path of more than " + std::to_string(kMaxOccurrenceDepth) +
                                " instances; no walk of the hierarchy goes that deep");
            OccList* list = &cfg_.occRoot;
            Occ* occ = nullptr;
            for (size_t k = 1; k < tokens_.size(); ++k) {
                if (!word(k, "an instance name")) return false;
                occ = &occFor(cfg_, *list, tokens_[k].text);
                linkOcc(*occ);
                list = &occ->below;
            }
            occ_ = occ;
            block_ = Block::Occurrence;
            return true;
        }
        return fail(first.column, "unknown statement " + q(kw) +
                                      "; expected location, revision, top, default-views, default-libs, "
                                      "default-stops, constant, note, library, cell, inst or occurrence");
    }

    bool readProperty() {
        const Token& first = tokens_[0];
        if (block_ == Block::None)
            return fail(first.column, "an indented property outside a block; start it with library, cell, inst or "
                                      "occurrence, or remove the indentation");
        const std::string& kw = first.text;
        bool known = first.kind == Token::Word;
        auto one = [&](const char*& field) {
            if (!wordOrNone(1, "a value") || !end(2, "the value")) return false;
            setText(field, value(1));
            return true;
        };
        auto bind = [&](const char*& lib, const char*& cell, const char*& view) {
            if (!wordOrNone(1, "a library name") || !wordOrNone(2, "a cell name") || !wordOrNone(3, "a view name") ||
                !end(4, "the view name"))
                return false;
            setText(lib, value(1));
            setText(cell, value(2));
            setText(view, value(3));
            return true;
        };
        switch (block_) {
            case Block::Library:
                if (known && kw == "views") return one(lib_->rec.viewList);
                if (known && kw == "stops") return one(lib_->rec.stopList);
                return unknownProperty("a library", "views or stops");
            case Block::Cell: {
                Cell& c = *cell_;
                bool ok = true;
                if (known && kw == "view-binding") {
                    if (!wordOrNone(1, "a view name") || !end(2, "the view name")) return false;
                    setCellBinding(c, nullptr, nullptr, value(1));
                } else if (known && kw == "bind") {
                    ok = bind(c.binding.libName, c.binding.cellName, c.binding.viewName);
                    afterChange(c);
                } else if (known && kw == "views") {
                    ok = one(c.rec.viewList);
                } else if (known && kw == "libs") {
                    if (!wordOrNone(1, "a library list") || !end(2, "the list")) return false;
                    setLibList(c, value(1));
                } else if (known && kw == "stop") {
                    if (!end(1, "stop")) return false;
                    c.rec.stop = 1;
                } else {
                    return unknownProperty("a cell", "view-binding, bind, views, libs or stop");
                }
                return ok;
            }
            case Block::Inst: {
                InstRuleRecord& r = inst_->rec;
                bool ok;
                if (known && kw == "view-binding") {
                    ok = one(r.viewBinding);
                } else if (known && kw == "views") {
                    ok = one(r.viewList);
                } else if (known && kw == "libs") {
                    ok = one(r.firstValue);
                } else if (known && kw == "stop") {
                    ok = end(1, "stop");
                    r.stop = 1;
                } else if (known && kw == "bind") {
                    ok = bind(r.bindLibName, r.bindCellName, r.bindViewName);
                } else {
                    return unknownProperty("an inst", "view-binding, views, libs, stop or bind");
                }
                afterChange(*inst_);
                return ok;
            }
            case Block::Occurrence: {
                OccurrenceInstance& r = occ_->rec;
                bool ok;
                if (known && kw == "bind") {
                    ok = bind(r.bindLibName, r.bindCellName, r.bindViewName);
                } else if (known && kw == "stop") {
                    ok = end(1, "stop");
                    r.stop = 1;
                } else if (known && kw == "views") {
                    ok = one(r.viewList);
                } else {
                    return unknownProperty("an occurrence", "bind, stop or views");
                }
                afterChange(*occ_);
                return ok;
            }
            case Block::None: break;
        }
        return false;
    }

    bool unknownProperty(const char* block, const char* expected) {
        const Token& t = tokens_[0];
        std::string shown = t.kind == Token::Word ? q(t.text) : describe(t);
        return fail(t.column, "unknown property " + shown + " in " + block + " block; expected " + expected);
    }

    enum class Block { None, Library, Cell, Inst, Occurrence };

    Config& cfg_;
    std::string& error_;
    std::string_view line_;
    int lineNo_ = 0;
    bool headerSeen_ = false;
    // The tokens of the current line: a view of the first count_ of pool_.
    struct Tokens {
        Token* first = nullptr;
        size_t n = 0;
        size_t size() const { return n; }
        bool empty() const { return n == 0; }
        Token& operator[](size_t k) const { return first[k]; }
    };
    std::vector<Token> pool_;
    size_t count_ = 0;
    Tokens tokens_;
    Block block_ = Block::None;
    LibRule* lib_ = nullptr;
    Cell* cell_ = nullptr;
    InstRule* inst_ = nullptr;
    Occ* occ_ = nullptr;
    Cell* lastCell_ = nullptr;
    CellView* lastView_ = nullptr;
};

}  // namespace

std::string writeConfig(const Config& cfg, intptr_t revision) {
    const ConfigRecord& r = cfg.rec;
    std::string out;
    out.reserve(64 * (cfg.cells.size() + cfg.constants.size() + 16));
    out += "# zelvek hierarchy configuration\n";
    out += "zelvek-config " + std::to_string(kFormatVersion) + "\n";
    triple(out, "location", r.libName, r.cellName, r.viewName);
    out += "revision " + std::to_string(revision) + "\n";
    if (r.topLibName || r.topCellName || r.topViewName) triple(out, "top", r.topLibName, r.topCellName, r.topViewName);
    auto line = [&](const char* name, const char* value) {
        if (!value) return;
        out += name;
        token(out, value);
        out += '\n';
    };
    line("default-views", r.defaultViewList);
    line("default-libs", r.defaultLibList);
    line("default-stops", r.defaultStopList);
    for (const ConstantEntry* c = r.constants; c; c = c->next) {
        out += "constant";
        token(out, c->name);
        token(out, c->value);
        out += '\n';
    }
    for (const std::string& note : cfg.note) line("note", note.c_str());

    std::vector<const LibRule*> libs;
    for (const auto& entry : cfg.libRules)
        if (entry.second->rec.viewList || entry.second->rec.stopList) libs.push_back(entry.second.get());
    std::sort(libs.begin(), libs.end(),
              [](const LibRule* a, const LibRule* b) { return std::strcmp(a->rec.libName, b->rec.libName) < 0; });
    for (const LibRule* lib : libs) {
        line("library", lib->rec.libName);
        property(out, "views", lib->rec.viewList);
        property(out, "stops", lib->rec.stopList);
    }

    std::vector<const Cell*> cells;
    cells.reserve(cfg.cells.size());
    for (const auto& entry : cfg.cells)
        if (entry.second->live()) cells.push_back(entry.second.get());
    std::sort(cells.begin(), cells.end(), [](const Cell* a, const Cell* b) {
        if (!sameText(a->rec.libName, b->rec.libName)) return before(a->rec.libName, b->rec.libName);
        return std::strcmp(a->rec.cellName, b->rec.cellName) < 0;
    });
    for (const Cell* cell : cells) writeCell(out, *cell);

    std::vector<const char*> path;
    writeOccurrences(out, cfg.occRoot, path);
    return out;
}

bool readConfig(Config& cfg, std::string_view text, std::string& error) { return Reader(cfg, error).read(text); }

}  // namespace zel
