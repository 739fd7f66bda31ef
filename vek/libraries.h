/*
 * The design libraries that the library-definitions file names, for the
 * configuration library.  Names are modified UTF-8, directories file-system
 * bytes.
 */
#ifndef VEK_LIBRARIES_H
#define VEK_LIBRARIES_H

#include <string>
#include <string_view>
#include <vector>

namespace vek {

// The directory of library `name`; false when no such library is defined.
bool libraryDirectory(std::string_view name, std::string& directory);

// Whether a cell view exists in the design: its directory is there.
bool cellViewExists(std::string_view lib, std::string_view cell, std::string_view view);
// Whether a library holds a cell: its directory is there.
bool cellExists(std::string_view lib, std::string_view cell);

// The problems met while reading the definitions, each once: the first caller
// after vekInitialize takes them all.
std::vector<std::string> takeDefinitionProblems();

// The libraries defined, sorted by name: name, directory, name, ...
std::vector<std::string> libraryListing();
// Every problem of the last reading of the definitions (takeDefinitionProblems
// takes them once; these stay).
std::vector<std::string> definitionProblems();

// Whether `name` can name a directory inside a library directory: not null,
// not empty, not "." or "..", no "/", "\\" or NUL.  `why` says what is wrong.
bool isPathComponent(const char* name, std::string* why);

// Quotes a name for a message: 'name', as valid modified UTF-8.
std::string quoted(std::string_view name);

}  // namespace vek

#endif  // VEK_LIBRARIES_H
