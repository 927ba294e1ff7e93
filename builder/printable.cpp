// Terminal-safe and JSON-safe text: escapes for control characters and bytes that are not UTF-8.
#include "builder/printable.h"

#include <cstdint>
#include <cstdio>

namespace evgpack {

// Length of the UTF-8 sequence of 2 to 4 bytes at s[i] when it is well formed (no overlong form,
// no surrogate, nothing above U+10FFFF), and its code point in `code`; 0 otherwise.
static size_t utf8_sequence(const std::string& s, size_t i, uint32_t& code) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    code = b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        code = code << 6 | (c & 0x3F);
    }
    const uint32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};  // rules out overlong forms
    if (code < lowest[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

std::string shown(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        // C1 controls (U+0080 to U+009F) are escaped too: terminals act on them.
        uint32_t code = 0;
        if (size_t n = b >= 0x80 ? utf8_sequence(text, i, code) : 0; n && code >= 0xA0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        char escaped[8];
        if (b == '\n') std::snprintf(escaped, sizeof escaped, "\\n");
        else if (b == '\t') std::snprintf(escaped, sizeof escaped, "\\t");
        else if (b == '\\') std::snprintf(escaped, sizeof escaped, "\\\\");
        else std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
        out += escaped;
        ++i;
    }
    return out;
}

std::string json_string(const std::string& text, TextBytes bytes) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        // A C1 control in UTF-8 becomes its own code point escaped, which reads back the same.
        uint32_t code = 0;
        const size_t n = bytes == TEXT_UTF8 && b >= 0x80 ? utf8_sequence(text, i, code) : 0;
        if (n && code >= 0xA0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", n ? code : b);
        out += escaped;
        i += n ? n : 1;
    }
    return out + "\"";
}

}  // namespace evgpack
