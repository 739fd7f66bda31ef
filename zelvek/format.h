/* The configuration file: its canonical writer and its reader. */
#ifndef ZELVEK_FORMAT_H
#define ZELVEK_FORMAT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <string_view>

#include "zelvek/internal.h"

namespace zel {

// The file that holds a configuration inside its view directory.
constexpr const char* kConfigFileName = "config.zel";

// The largest configuration file read or written (64 MiB; a million rules
// take some 54 MB).  A larger file is refused before it is read, so that no
// file can exhaust the memory of the program that opens it.
constexpr uint64_t kMaxConfigFileSize = uint64_t(64) << 20;

// The text of the configuration, recording `revision`, with the comments a
// person wrote beside the lines they go with; `used`, when given, receives the
// remarks written.  A configuration of no file yet is written in the
// canonical form.
// A configuration read from a file (or saved to one) is written in the shape of
// that file: its lines that still say the same are written byte for byte,
// those of rules that changed are made anew, those of rules gone are left out
// with their comments, and new rules go after the last of their kind (a sorted
// file stays sorted).  `layout`, when given, receives the layout of the text.
std::string writeConfig(const Config& cfg, intptr_t revision, std::vector<RemarkKey>* used = nullptr,
                        Layout* layout = nullptr);

// After a save: the text written is the file's shape from now on.
void keepLayout(Config& cfg, Layout&& layout);

// Every rule and setting in the order writeConfig writes them, into
// cfg.listing (zelListRules).
void listRules(Config& cfg);

// After a save: forgets the comments of lines that were not written (their
// rule is gone, and a rule made again later starts without them).
void keepRemarksOf(Config& cfg, const std::vector<RemarkKey>& written);

// Fills a new, empty configuration from the text of a file.  On failure the
// answer is false and `error` reads "LINE:COLUMN: what was expected".
bool readConfig(Config& cfg, std::string_view text, std::string& error);

// The same, the text handed in piece by piece: `next` sets the next piece
// (empty at the end of the file) and answers false when the text cannot be
// had, which ends the reading with false and `error` untouched.
bool readConfig(Config& cfg, const std::function<bool(std::string_view&)>& next, std::string& error);

}  // namespace zel

#endif  // ZELVEK_FORMAT_H
