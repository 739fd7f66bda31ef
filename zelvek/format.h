/* The configuration file: its canonical writer and its reader. */
#ifndef ZELVEK_FORMAT_H
#define ZELVEK_FORMAT_H

#include <string>
#include <string_view>

#include "zelvek/internal.h"

namespace zel {

// The file that holds a configuration inside its view directory.
constexpr const char* kConfigFileName = "config.zel";

// The canonical text of the configuration, recording `revision`.
std::string writeConfig(const Config& cfg, intptr_t revision);

// Fills a new, empty configuration from the text of a file.  On failure the
// answer is false and `error` reads "LINE:COLUMN: what was expected".
bool readConfig(Config& cfg, std::string_view text, std::string& error);

}  // namespace zel

#endif  // ZELVEK_FORMAT_H
