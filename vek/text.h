/*
 * Text encodings at the library's boundaries.
 *
 * Inside the libraries every string is modified UTF-8, the form the JVM hands
 * out and takes back (NUL as C0 80, supplementary characters as surrogate
 * pairs of three bytes each).  Files hold standard UTF-8 and file-system names
 * are standard UTF-8 bytes, so text is converted where it crosses to disk.
 */
#ifndef VEK_TEXT_H
#define VEK_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace vek {

// Any bytes as valid modified UTF-8.  Modified UTF-8 passes unchanged;
// standard four-byte sequences become surrogate pairs; a NUL byte becomes
// C0 80; a byte that starts no valid sequence becomes U+FFFD.
std::string toModifiedUtf8(std::string_view bytes);

// True when every byte is ASCII and not NUL: such text reads the same in
// every encoding used here.
bool isPlainAscii(std::string_view text);

// Appends one code point: standard UTF-8 (four bytes for supplementary
// characters, surrogates in the three-byte form) or modified UTF-8.
void appendUtf8(std::string& out, uint32_t cp);
void appendModifiedUtf8(std::string& out, uint32_t cp);

// Decodes the code point at text[i] of valid modified UTF-8 (as
// toModifiedUtf8 gives) and advances i.  A surrogate pair gives one
// supplementary code point; a lone surrogate gives its own value.
uint32_t nextCodePoint(std::string_view text, size_t& i);

// A name for the file system: standard UTF-8.  False when the text holds a
// NUL character, which no file name can.
bool toFileSystemName(std::string_view mutf8, std::string& out);

}  // namespace vek

#endif  // VEK_TEXT_H
