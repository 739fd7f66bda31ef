/*
 * The configuration file format (docs/config-format.md): one statement a
 * line, blocks of indented properties, "quoted" text for any name or value,
 * '-' for "no value", '*' for "any library" or "any view", '#' comments.
 */
#include "zelvek/format.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "vek/text.h"

namespace zel {

namespace {

constexpr int kFormatVersion = 1;
// The first line of every file a save writes; read back, it is not a person's.
constexpr std::string_view kHeaderComment = "# zelvek hierarchy configuration";
// The instances of the deepest path a path vector reaches: one below each of
// its levels.
constexpr size_t kMaxOccurrenceDepth = ZEL_MAX_DEPTH;
// The words of a line that the reader keeps: "occurrence", the deepest path,
// and one more to show where a longer line goes wrong.
constexpr size_t kMaxTokens = kMaxOccurrenceDepth + 2;

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

// Where the text goes, and the comments a person wrote that go with it.
struct Out {
    std::string& text;
    const Config& cfg;
    std::vector<RemarkKey>* used;  // the remarks written, when asked
};

// Starts a line: the comment lines that go before it.  The line's remark, or
// null.
const Remark* begin(Out& o, const void* at, int line) {
    if (o.cfg.remarks.empty()) return nullptr;
    auto found = o.cfg.remarks.find(RemarkKey{at, line});
    if (found == o.cfg.remarks.end()) return nullptr;
    if (o.used) o.used->push_back(found->first);
    o.text += found->second.before;
    return &found->second;
}

// Ends a line begun with begin(): the comment at its end, if any.
void finish(Out& o, const Remark* r) {
    if (r) o.text += r->after;
    o.text += '\n';
}

void property(Out& o, const void* at, int line, const char* name, const char* value) {
    if (!value) return;
    const Remark* r = begin(o, at, line);
    o.text += "  ";
    o.text += name;
    token(o.text, value);
    finish(o, r);
}

void flag(Out& o, const void* at, int line, const char* name, intptr_t on) {
    if (!on) return;
    const Remark* r = begin(o, at, line);
    o.text += "  ";
    o.text += name;
    finish(o, r);
}

void triple(Out& o, const void* at, int line, const char* name, const char* a, const char* b, const char* c) {
    const Remark* r = begin(o, at, line);
    o.text += name;
    token(o.text, a);
    token(o.text, b);
    token(o.text, c);
    finish(o, r);
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

void writeInstRules(Out& o, const Cell& cell, const char* view, const InstList& list) {
    for (const InstRule* rule : sortedRules(list)) {
        const InstRuleRecord& r = rule->rec;
        const Remark* remark = begin(o, rule, kStatementLine);
        o.text += "inst";
        anyOr(o.text, cell.rec.libName);
        token(o.text, cell.rec.cellName);
        anyOr(o.text, view);
        token(o.text, r.name);
        finish(o, remark);
        property(o, rule, kViewBindingLine, "view-binding", r.viewBinding);
        property(o, rule, kViewsLine, "views", r.viewList);
        property(o, rule, kLibsLine, "libs", r.firstValue);
        flag(o, rule, kStopLine, "stop", r.stop);
        if (r.bindLibName || r.bindCellName || r.bindViewName)
            triple(o, rule, kBindLine, "  bind", r.bindLibName, r.bindCellName, r.bindViewName);
    }
}

void writeCell(Out& o, const Cell& cell) {
    const CellRecord& r = cell.rec;
    if (cell.holdsCellRule()) {
        const Remark* remark = begin(o, &cell, kStatementLine);
        o.text += "cell";
        anyOr(o.text, r.libName);
        token(o.text, r.cellName);
        finish(o, remark);
        const BindingRecord& b = cell.binding;
        if (b.libName || b.cellName) {
            triple(o, &cell, kViewBindingLine, "  bind", b.libName, b.cellName, b.viewName);
        } else {
            property(o, &cell, kViewBindingLine, "view-binding", b.viewName);
        }
        property(o, &cell, kViewsLine, "views", r.viewList);
        property(o, &cell, kLibsLine, "libs", r.libList);
        flag(o, &cell, kStopLine, "stop", r.stop);
    }
    if (cell.anyView.linkedCount) writeInstRules(o, cell, nullptr, cell.anyView);
    std::vector<const CellView*> views;
    for (const auto& entry : cell.views)
        if (entry.second->insts.linkedCount) views.push_back(entry.second.get());
    std::sort(views.begin(), views.end(),
              [](const CellView* a, const CellView* b) { return std::strcmp(a->rec.viewName, b->rec.viewName) < 0; });
    for (const CellView* v : views) writeInstRules(o, cell, v->rec.viewName, v->insts);
}

void writeOccurrences(Out& o, const OccList& list, std::vector<const char*>& path) {
    std::vector<const Occ*> occs;
    for (const OccurrenceInstance* oi = list.rec.instances; oi; oi = oi->next)
        occs.push_back(static_cast<const Occ*>(oi->owner));
    std::sort(occs.begin(), occs.end(),
              [](const Occ* a, const Occ* b) { return std::strcmp(a->rec.name, b->rec.name) < 0; });
    for (const Occ* occ : occs) {
        path.push_back(occ->rec.name);
        const OccurrenceInstance& r = occ->rec;
        // A node that holds nothing is implied by the paths below it; one
        // that a comment heads is written for the comment's sake.
        const bool commented = !o.cfg.remarks.empty() && o.cfg.remarks.count(RemarkKey{occ, kStatementLine});
        if (occ->holdsRule() || !occ->below.rec.instances || commented) {
            const Remark* remark = begin(o, occ, kStatementLine);
            o.text += "occurrence";
            for (const char* name : path) token(o.text, name);
            finish(o, remark);
            if (r.bindLibName || r.bindCellName || r.bindViewName)
                triple(o, occ, kBindLine, "  bind", r.bindLibName, r.bindCellName, r.bindViewName);
            flag(o, occ, kStopLine, "stop", r.stop);
            property(o, occ, kViewsLine, "views", r.viewList);
        }
        writeOccurrences(o, occ->below, path);
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

    // The text of a file, in pieces cut anywhere.  A line is worked on once
    // it is whole; only that line is held besides what is kept.
    bool feed(std::string_view piece) {
        while (!piece.empty()) {
            const size_t end = piece.find('\n');
            if (end == std::string_view::npos) {
                carry_.append(piece);
                return true;
            }
            if (carry_.empty()) {
                if (!take(piece.substr(0, end))) return false;
            } else {
                carry_.append(piece.substr(0, end));
                if (!take(carry_)) return false;
                carry_.clear();
            }
            piece.remove_prefix(end + 1);
        }
        return true;
    }

    bool finish() {
        if (!carry_.empty() && !take(carry_)) return false;
        if (!headerSeen_) {
            lineNo_ = 1;
            line_ = {};
            return fail(1, "expected 'zelvek-config " + std::to_string(kFormatVersion) +
                               "' as the first statement; this is not a configuration file");
        }
        if (pendingComment_) cfg_.endRemark = pending_;
        return true;
    }

private:
    bool take(std::string_view line) {
        line_ = line;
        if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
        ++lineNo_;
        if (lineNo_ == 1) {
            if (line_.substr(0, 3) == "\xEF\xBB\xBF") line_.remove_prefix(3);
            if (line_ == kHeaderComment) return true;  // a save's own first line, not a person's
        }
        return readLine();
    }

    // A line of no statement: a comment line is kept with the blank lines
    // around it for the statement or property that follows.
    void keepCommentLine() {
        if (commentAt_ == std::string_view::npos) {
            pending_ += '\n';
            return;
        }
        pending_ += withoutReturns(line_);
        pending_ += '\n';
        pendingComment_ = true;
    }

    // The line just read takes the comment lines above it and the comment
    // at its own end.
    void keepRemarks() {
        const bool trailing = commentAt_ != std::string_view::npos;
        // A line written twice is saved once, with its last value: the comment
        // at the end of the last one goes with it.
        auto known = cfg_.remarks.find(mark_);
        if (pendingComment_ || trailing || known != cfg_.remarks.end()) {
            Remark& r = known != cfg_.remarks.end() ? known->second : cfg_.remarks[mark_];
            if (pendingComment_) r.before += pending_;
            r.after = trailing ? std::string(withoutReturns(line_.substr(lastEnd_))) : std::string();
            // The last of a repeated line said nothing: no remark is left,
            // as none would be read back.
            if (r.before.empty() && r.after.empty()) cfg_.remarks.erase(mark_);
        }
        pending_.clear();
        pendingComment_ = false;
    }

    // A line read back loses one '\r' at its end: written without them, the
    // text reads back the same.
    static std::string_view withoutReturns(std::string_view text) {
        while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        return text;
    }

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
        commentAt_ = std::string_view::npos;
        lastEnd_ = 0;
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
            if (c == '#') {
                commentAt_ = i;
                break;
            }
            // No statement takes more words than an occurrence: the words past
            // those are not stored, so a line of millions of words costs its
            // bytes alone.  The one past the limit says where the line went wrong.
            if (count_ == kMaxTokens) break;
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
            lastEnd_ = i;
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
        if (tokens_.empty()) {
            keepCommentLine();
            return true;
        }
        bool indented = line_[0] == ' ' || line_[0] == '\t';
        bool ok;
        if (!headerSeen_) {
            ok = readHeader(indented);
        } else if (indented) {
            ok = readProperty();
        } else {
            block_ = Block::None;
            ok = readStatement();
        }
        if (ok) keepRemarks();
        return ok;
    }

    bool readHeader(bool indented) {
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
        mark_ = RemarkKey{&cfg_.remarks, kStatementLine};
        return end(2, "the format version");
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
            mark_ = RemarkKey{top ? &r.topLibName : &r.libName, kStatementLine};
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
            mark_ = RemarkKey{&r.revision, kStatementLine};
            return end(2, "the revision");
        }
        if (kw == "default-views" || kw == "default-libs" || kw == "default-stops") {
            if (!wordOrNone(1, "a list in quotes") || !end(2, "the list")) return false;
            const char*& field = kw == "default-views" ? r.defaultViewList
                                 : kw == "default-libs" ? r.defaultLibList
                                                        : r.defaultStopList;
            setText(field, value(1));
            mark_ = RemarkKey{&field, kStatementLine};
            return true;
        }
        if (kw == "constant") {
            if (!word(1, "a constant name") || !word(2, "the constant's value", true) || !end(3, "the value"))
                return false;
            defineConstant(cfg_, tokens_[1].text, tokens_[2].text.c_str());
            mark_ = RemarkKey{cfg_.constants.find(tokens_[1].text)->second.get(), kStatementLine};
            return true;
        }
        if (kw == "note") {
            if (!word(1, "a note line", true) || !end(2, "the note line")) return false;
            mark_ = RemarkKey{&cfg_.note, static_cast<int>(cfg_.note.size())};
            appendNoteLine(cfg_, tokens_[1].text);
            return true;
        }
        if (kw == "library") {
            if (!word(1, "a library name") || !end(2, "the library name")) return false;
            lib_ = &libRuleFor(cfg_, tokens_[1].text);
            mark_ = RemarkKey{lib_, kStatementLine};
            block_ = Block::Library;
            return true;
        }
        if (kw == "cell") {
            if (!wordOrAny(1, "a library name") || !word(2, "a cell name") || !end(3, "the cell name")) return false;
            cell_ = &cellFor(cfg_, nameOrAny(1), tokens_[2].text);
            mark_ = RemarkKey{cell_, kStatementLine};
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
            mark_ = RemarkKey{inst_, kStatementLine};
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
            mark_ = RemarkKey{occ_, kStatementLine};
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
        mark_ = RemarkKey{propertyOwner(), propertyLine(kw)};
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

    const void* propertyOwner() const {
        switch (block_) {
            case Block::Library: return lib_;
            case Block::Cell: return cell_;
            case Block::Inst: return inst_;
            case Block::Occurrence: return occ_;
            case Block::None: break;
        }
        return nullptr;
    }

    // A cell holds a view binding or an object binding, never both: one line.
    int propertyLine(const std::string& kw) const {
        if (kw == "views") return kViewsLine;
        if (kw == "libs") return kLibsLine;
        if (kw == "stop") return kStopLine;
        if (kw == "stops") return kStopsLine;
        if (kw == "view-binding") return kViewBindingLine;
        return block_ == Block::Cell ? kViewBindingLine : kBindLine;
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
    std::string carry_;                // the start of a line cut between two pieces
    // Comments: where the line's comment starts (npos: none), where its last
    // word ends, the line the remarks go with, and the lines held for the
    // next statement.
    size_t commentAt_ = std::string_view::npos;
    size_t lastEnd_ = 0;
    RemarkKey mark_;
    std::string pending_;
    bool pendingComment_ = false;
};

}  // namespace

std::string writeConfig(const Config& cfg, intptr_t revision, std::vector<RemarkKey>* used) {
    const ConfigRecord& r = cfg.rec;
    std::string text;
    text.reserve(64 * (cfg.cells.size() + cfg.constants.size() + 16));
    Out o{text, cfg, used};
    text += kHeaderComment;
    text += '\n';
    const Remark* header = begin(o, &cfg.remarks, kStatementLine);
    text += "zelvek-config " + std::to_string(kFormatVersion);
    finish(o, header);
    triple(o, &r.libName, kStatementLine, "location", r.libName, r.cellName, r.viewName);
    const Remark* rev = begin(o, &r.revision, kStatementLine);
    text += "revision " + std::to_string(revision);
    finish(o, rev);
    if (r.topLibName || r.topCellName || r.topViewName)
        triple(o, &r.topLibName, kStatementLine, "top", r.topLibName, r.topCellName, r.topViewName);
    auto line = [&](const void* at, int which, const char* name, const char* value) {
        if (!value) return;
        const Remark* remark = begin(o, at, which);
        text += name;
        token(text, value);
        finish(o, remark);
    };
    line(&r.defaultViewList, kStatementLine, "default-views", r.defaultViewList);
    line(&r.defaultLibList, kStatementLine, "default-libs", r.defaultLibList);
    line(&r.defaultStopList, kStatementLine, "default-stops", r.defaultStopList);
    for (const ConstantEntry* c = r.constants; c; c = c->next) {
        const Remark* remark = begin(o, c->owner, kStatementLine);
        text += "constant";
        token(text, c->name);
        token(text, c->value);
        finish(o, remark);
    }
    for (size_t i = 0; i < cfg.note.size(); ++i) line(&cfg.note, static_cast<int>(i), "note", cfg.note[i].c_str());

    std::vector<const LibRule*> libs;
    for (const auto& entry : cfg.libRules)
        if (entry.second->rec.viewList || entry.second->rec.stopList) libs.push_back(entry.second.get());
    std::sort(libs.begin(), libs.end(),
              [](const LibRule* a, const LibRule* b) { return std::strcmp(a->rec.libName, b->rec.libName) < 0; });
    for (const LibRule* lib : libs) {
        line(lib, kStatementLine, "library", lib->rec.libName);
        property(o, lib, kViewsLine, "views", lib->rec.viewList);
        property(o, lib, kStopsLine, "stops", lib->rec.stopList);
    }

    std::vector<const Cell*> cells;
    cells.reserve(cfg.cells.size());
    for (const auto& entry : cfg.cells)
        if (entry.second->live()) cells.push_back(entry.second.get());
    std::sort(cells.begin(), cells.end(), [](const Cell* a, const Cell* b) {
        if (!sameText(a->rec.libName, b->rec.libName)) return before(a->rec.libName, b->rec.libName);
        return std::strcmp(a->rec.cellName, b->rec.cellName) < 0;
    });
    for (const Cell* cell : cells) writeCell(o, *cell);

    std::vector<const char*> path;
    writeOccurrences(o, cfg.occRoot, path);
    text += cfg.endRemark;
    return text;
}

void keepRemarksOf(Config& cfg, const std::vector<RemarkKey>& written) {
    if (written.size() == cfg.remarks.size()) return;
    std::unordered_map<RemarkKey, Remark, RemarkKeyHash> kept;
    for (const RemarkKey& key : written) {
        auto found = cfg.remarks.find(key);
        if (found != cfg.remarks.end()) kept.emplace(key, std::move(found->second));
    }
    cfg.remarks.swap(kept);
}

bool readConfig(Config& cfg, std::string_view text, std::string& error) {
    // A cell block takes two lines at least: room for that many avoids rehashing.
    cfg.cells.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) / 4);
    Reader reader(cfg, error);
    return reader.feed(text) && reader.finish();
}

bool readConfig(Config& cfg, const std::function<bool(std::string_view&)>& next, std::string& error) {
    Reader reader(cfg, error);
    std::string_view piece;
    while (next(piece)) {
        if (piece.empty()) return reader.finish();
        if (!reader.feed(piece)) return false;
    }
    return false;
}

}  // namespace zel
