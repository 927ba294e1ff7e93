// Terminal-safe text: escapes for control characters and bytes that are not UTF-8.
#include "builder/printable.h"

#include <cstdint>
#include <cstdio>

namespace evgpack {

// Length of the UTF-8 sequence at s[i] (2 to 4) when it is well formed and not a C1 control
// (U+0080 to U+009F, which terminals act on); 0 otherwise.
static size_t utf8_printable(const std::string& s, size_t i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t code = b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        code = code << 6 | (c & 0x3F);
    }
    const uint32_t lowest[] = {0, 0, 0xA0, 0x800, 0x10000};  // also rules out overlong forms
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
        if (size_t n = b >= 0x80 ? utf8_printable(text, i) : 0) {
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

}  // namespace evgpack
