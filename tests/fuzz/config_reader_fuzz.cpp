// libFuzzer target: any bytes as the text of a configuration file.
//
// Whatever the reader accepts must survive a save and a reopen unchanged:
// saved without a change it is the same bytes (but for the location and
// revision lines, which a save writes when the file lacks them), the text
// written reads back, writes the same text again, and the rules read back, with the comments kept beside each
// line, are those first read (compared through a dump of the library's records
// that does not go through the writer, so a writer that drops a rule or moves
// a comment cannot hide it).  Whatever it refuses
// must say where and why in text a JVM can take (modified UTF-8), since that
// text reaches the Java listener.  Crashes, leaks and undefined behaviour are
// the sanitizers' to report.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config_dump.h"
#include "fake_jni.h"
#include "zelvek/format.h"
#include "zelvek/internal.h"

namespace {

bool isModifiedUtf8(const std::string& s) {
    return fakejni::invalidModifiedUtf8At(s) == std::string::npos;
}

// The text without its location and revision statements: a save writes them
// when the file has none.
std::string withoutPlace(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol == std::string_view::npos ? text.size() : eol + 1);
        text.remove_prefix(line.size());
        if (line.substr(0, 9) != "location " && line.substr(0, 9) != "revision ") out.append(line);
    }
    return out;
}

[[noreturn]] void finding(const char* what, const std::string& a, const std::string& b = {}) {
    std::fprintf(stderr, "config_reader_fuzz: %s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(), b.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    zel::Config first;
    if (!zel::readConfig(first, text, error)) {
        // "LINE:COLUMN: what was expected", in text the Java listener can take.
        size_t colon = error.find(':');
        size_t second = colon == std::string::npos ? colon : error.find(':', colon + 1);
        if (colon == 0 || second == std::string::npos || second == colon + 1 ||
            error.find_first_not_of("0123456789") != colon ||
            error.find_first_not_of("0123456789", colon + 1) != second || error.size() < second + 3)
            finding("a refusal that does not say where", error);
        if (!isModifiedUtf8(error)) finding("a refusal that a JVM cannot take as a string", error);
        return 0;
    }
    const std::string saved = zel::writeConfig(first, first.rec.revision);
    // A line written after a last line without its line end ends it; a place
    // statement left out above may have been that last line.
    const std::string unchanged = withoutPlace(text);
    std::string written = withoutPlace(saved);
    if (!unchanged.empty() && unchanged.back() != '\n' && !written.empty() && written.back() == '\n') written.pop_back();
    if (written != unchanged) finding("saved unchanged, the file changes", std::string(text), saved);
    zel::Config again;
    if (!zel::readConfig(again, saved, error)) finding(("the saved text does not read back: " + error).c_str(), saved);
    const std::string resaved = zel::writeConfig(again, again.rec.revision);
    if (resaved != saved) finding("a second save writes other text", saved, resaved);
    const std::string before = fuzzdump::dump(first), after = fuzzdump::dump(again);
    if (before != after) finding("the rules read back differ from the rules read", before, after);
    return 0;
}
