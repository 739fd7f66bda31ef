// Encodings at the boundary: modified UTF-8 inside, standard UTF-8 on disk.
#include <gtest/gtest.h>

#include <string>

#include "vek/text.h"

namespace {

using std::string;

struct ModifiedCase {
    const char* what;
    string in;
    string out;
};

TEST(TextTest, ToModifiedUtf8) {
    const ModifiedCase cases[] = {
        {"ascii passes", "cell_1 a", "cell_1 a"},
        {"two-byte passes", "gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},
        {"three-byte passes", "\xE2\x82\xAC", "\xE2\x82\xAC"},
        {"NUL byte becomes C0 80", string("a\0b", 3), "a\xC0\x80" "b"},
        {"modified NUL passes", "a\xC0\x80", "a\xC0\x80"},
        {"four-byte becomes a surrogate pair", "\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},
        {"surrogate pair passes", "\xED\xA0\xBD\xED\xB8\x80", "\xED\xA0\xBD\xED\xB8\x80"},
        {"lone surrogate passes", "\xED\xA0\x80x", "\xED\xA0\x80x"},
        {"stray continuation byte", "a\x80" "b", "a\xEF\xBF\xBD" "b"},
        {"truncated sequence", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong form", "\xE0\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"invalid lead byte", "\xFF", "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(vek::toModifiedUtf8(c.in), c.out) << c.what;
}

// Told eight bytes at a time: a NUL or a high byte anywhere in a word or in
// the bytes after the last whole word.
TEST(TextTest, PlainAsciiAtEveryPlace) {
    for (size_t size = 0; size <= 17; ++size) {
        const string plain(size, '~');
        EXPECT_TRUE(vek::isPlainAscii(plain)) << size;
        for (size_t at = 0; at < size; ++at) {
            for (char bad : {'\0', '\x80', '\xFF'}) {
                string text = plain;
                text[at] = bad;
                EXPECT_FALSE(vek::isPlainAscii(text)) << size << " " << at << " " << int(bad);
            }
        }
    }
}

TEST(TextTest, CodePointsOfModifiedUtf8) {
    const string text = "a\xC0\x80\xC3\xBC\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80\xED\xB0\x80";
    std::vector<uint32_t> got;
    for (size_t i = 0; i < text.size();) got.push_back(vek::nextCodePoint(text, i));
    EXPECT_EQ(got, (std::vector<uint32_t>{'a', 0, 0xFC, 0x20AC, 0x1F600, 0xDC00}));
}

TEST(TextTest, AppendEncodings) {
    struct Case {
        uint32_t cp;
        string standard, modified;
    } cases[] = {
        {0, string(1, '\0'), "\xC0\x80"},
        {'x', "x", "x"},
        {0x7FF, "\xDF\xBF", "\xDF\xBF"},
        {0xFFFF, "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80", "\xED\xA0\x80\xED\xB0\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF", "\xED\xAF\xBF\xED\xBF\xBF"},
    };
    for (const auto& c : cases) {
        string s, m;
        vek::appendUtf8(s, c.cp);
        vek::appendModifiedUtf8(m, c.cp);
        EXPECT_EQ(s, c.standard) << c.cp;
        EXPECT_EQ(m, c.modified) << c.cp;
    }
}

TEST(TextTest, FileSystemNames) {
    string out;
    ASSERT_TRUE(vek::toFileSystemName("\xED\xA0\xBD\xED\xB8\x80-cell", out));
    EXPECT_EQ(out, "\xF0\x9F\x98\x80-cell");
    ASSERT_TRUE(vek::toFileSystemName("plain", out));
    EXPECT_EQ(out, "plain");
    EXPECT_FALSE(vek::toFileSystemName("a\xC0\x80" "b", out));
}

}  // namespace
