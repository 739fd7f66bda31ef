#include "vek/text.h"

#include <cstdint>
#include <cstring>

namespace vek {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

bool isHighSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool isLowSurrogate(uint32_t cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }

void appendThreeBytes(std::string& out, uint32_t cp) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

}  // namespace

bool isPlainAscii(std::string_view text) {
    // Eight bytes at a time: names pass through here on every call that
    // takes one.  A word fails when a byte has its high bit set or is zero.
    constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    const char* p = text.data();
    size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (((w | ((w - kOnes) & ~w)) & kHigh) != 0) return false;
    }
    for (; n != 0; ++p, --n) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == 0 || b >= 0x80) return false;
    }
    return true;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        appendThreeBytes(out, cp);
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendModifiedUtf8(std::string& out, uint32_t cp) {
    if (cp == 0) {
        out += "\xC0\x80";
    } else if (cp >= 0x10000) {
        cp -= 0x10000;
        appendThreeBytes(out, 0xD800 + (cp >> 10));
        appendThreeBytes(out, 0xDC00 + (cp & 0x3FF));
    } else {
        appendUtf8(out, cp);
    }
}

std::string toModifiedUtf8(std::string_view bytes) {
    if (isPlainAscii(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    const size_t n = bytes.size();
    size_t i = 0;
    auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        unsigned char b = at(i);
        if (b < 0x80) {
            appendModifiedUtf8(out, b);
            ++i;
            continue;
        }
        if (b == 0xC0 && i + 1 < n && at(i + 1) == 0x80) {  // modified UTF-8's NUL
            out += "\xC0\x80";
            i += 2;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && isContinuation(at(i + 1))) {
            out.append(bytes.substr(i, 2));
            i += 2;
            continue;
        }
        if (b >= 0xE0 && b <= 0xEF && i + 2 < n && isContinuation(at(i + 1)) && isContinuation(at(i + 2))) {
            uint32_t cp = ((b & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
            if (cp >= 0x800) {  // surrogates included: they are how modified UTF-8 spells pairs
                out.append(bytes.substr(i, 3));
                i += 3;
                continue;
            }
        }
        if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && isContinuation(at(i + 1)) && isContinuation(at(i + 2)) &&
            isContinuation(at(i + 3))) {
            uint32_t cp = ((b & 0x07u) << 18) | ((at(i + 1) & 0x3Fu) << 12) | ((at(i + 2) & 0x3Fu) << 6) |
                          (at(i + 3) & 0x3Fu);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                appendModifiedUtf8(out, cp);
                i += 4;
                continue;
            }
        }
        appendModifiedUtf8(out, 0xFFFD);
        ++i;
    }
    return out;
}

uint32_t nextCodePoint(std::string_view text, size_t& i) {
    auto at = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    if (b < 0xE0) {
        uint32_t cp = ((b & 0x1Fu) << 6) | (at(i + 1) & 0x3Fu);
        i += 2;
        return cp;
    }
    if (b < 0xF0) {
        uint32_t cp = ((b & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
        i += 3;
        if (isHighSurrogate(cp) && at(i) == 0xED) {
            uint32_t low = ((at(i) & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
            if (isLowSurrogate(low)) {
                i += 3;
                return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return cp;
    }
    // Not produced by toModifiedUtf8; decode it rather than stall.
    uint32_t cp = ((b & 0x07u) << 18) | ((at(i + 1) & 0x3Fu) << 12) | ((at(i + 2) & 0x3Fu) << 6) |
                  (at(i + 3) & 0x3Fu);
    i += 4;
    return cp;
}

bool toFileSystemName(std::string_view mutf8, std::string& out) {
    out.clear();
    if (isPlainAscii(mutf8)) {
        out.assign(mutf8);
        return mutf8.find('\0') == std::string_view::npos;
    }
    std::string text = toModifiedUtf8(mutf8);
    size_t i = 0;
    while (i < text.size()) {
        uint32_t cp = nextCodePoint(text, i);
        if (cp == 0) return false;
        appendUtf8(out, cp);
    }
    return true;
}

}  // namespace vek
