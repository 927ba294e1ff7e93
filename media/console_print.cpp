// The console printer. Cells are (colour number << 27) | the character table's cell for the code;
// a write lands at row * columns + column and is dropped once that index passes the console's
// last cell, so long lines flow into the following rows and nothing runs off the end.
#include "media/console_print.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>

#include "render/console.h"

namespace {

struct Printer {
    int64_t origin;  // the start column given by the caller
    int64_t col;     // columns written on the current row so far
    int64_t row;

    void put(uint8_t code) const {
        int64_t limit = int64_t(console_rows) * console_columns;
        if (limit > CONSOLE_CELL_CAPACITY) limit = CONSOLE_CELL_CAPACITY;
        int64_t index = row * console_columns + origin + col;
        if (index < limit) {
            uint32_t glyph = (console_char_table && code < console_char_count)
                                 ? console_char_table[code] : 0;
            console_cells[index] = (uint32_t(console_colour) << 27) | glyph;
        }
    }
    void put_advance(uint8_t code) { put(code); ++col; }
    void line_feed() {
        // A row that ran past the right edge continued on the next row(s); skip those too.
        row += (console_columns ? col / console_columns : 0) + 1;
        col = 0;
    }
};

// Decimal digits of a magnitude into `out` (most significant first); returns their count (>= 1).
int decimal_digits(uint64_t magnitude, char out[24]) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    for (int k = 0; k < n; ++k) out[k] = reversed[n - 1 - k];
    return n;
}

bool is_conversion_letter(char c) {
    return c == 'c' || c == 's' || c == 'x' || c == 'd' || c == 'f';
}

}  // namespace

void console_print(uint16_t column, uint16_t row, const char* format, ...) {
    if (console_layer == -1 || !format) return;
    const uint8_t saved_colour = console_colour;
    Printer p{column, 0, row};
    va_list args;
    va_start(args, format);
    const char* f = format;
    char digits[24];
    while (*f) {
        const char c = *f;
        if (c == '\n' || (c == '/' && f[1] == 'n')) {
            p.line_feed();
            f += (c == '\n') ? 1 : 2;
            continue;
        }
        if (c != '%') {
            p.put_advance(uint8_t(c));
            ++f;
            continue;
        }
        const char k = f[1];
        if (k == 'c') {
            // "%cD": colour number D - '0' for the rest of this call. A format ending right after
            // "%c" stops here instead of reading past its terminator.
            if (!f[2]) break;
            console_colour = uint8_t(f[2] - '0');
            f += 3;
        } else if (k == 's') {
            const char* s = va_arg(args, const char*);
            if (s)
                for (; *s; ++s) p.put_advance(uint8_t(*s));
            f += 2;
        } else if (k == 'x') {
            uint32_t v = va_arg(args, uint32_t);
            bool started = false;
            for (int shift = 28; shift >= 0; shift -= 4) {
                uint32_t nibble = (v >> shift) & 0xF;
                if (!nibble && !started) continue;
                started = true;
                p.put_advance(uint8_t(nibble < 10 ? '0' + nibble : 'A' + nibble - 10));
            }
            f += 2;
        } else if (k == 'd') {
            int32_t v = va_arg(args, int32_t);
            if (v < 0) p.put_advance('-');
            int n = decimal_digits(v < 0 ? uint64_t(-int64_t(v)) : uint64_t(v), digits);
            for (int d = 0; d < n; ++d) p.put_advance(uint8_t(digits[d]));
            f += 2;
        } else if (k == 'f') {
            double v = va_arg(args, double);
            double magnitude = std::fabs(v);
            // The integer part truncates toward zero; NaN and values beyond 64 bits print 0 and
            // the largest 64-bit magnitude instead of overflowing the conversion.
            if (!(magnitude == magnitude)) magnitude = 0;
            uint64_t whole = magnitude >= 1.8e19 ? UINT64_MAX : uint64_t(magnitude);
            if (v < 0) p.put_advance('-');
            int n = decimal_digits(whole, digits);
            for (int d = 0; d < n; ++d) p.put_advance(uint8_t(digits[d]));
            p.put_advance('.');
            const char places = f[2];
            double fraction = magnitude >= 1.8e19 ? 0 : magnitude - double(whole);
            if (places > '0' && places <= '9') {
                for (int d = 0; d < places - '0'; ++d) {
                    fraction *= 10;
                    int digit = int(fraction);
                    fraction -= digit;
                    p.put_advance(uint8_t('0' + digit));
                }
            }
            // The character after "%f" is consumed whatever it is, but never the terminator.
            f += places ? 3 : 2;
        } else if (k && k != ' ' && !is_conversion_letter(k) && f[2] && f[2] != ' ' &&
                   f[3] == 'd') {
            // "%PWd": pad character P repeated up to width W, then the signed number.
            int32_t v = va_arg(args, int32_t);
            int n = decimal_digits(v < 0 ? uint64_t(-int64_t(v)) : uint64_t(v), digits);
            for (int pad = (f[2] - '0') - n; pad > 0; --pad) p.put_advance(uint8_t(k));
            if (v < 0) p.put_advance('-');
            for (int d = 0; d < n; ++d) p.put_advance(uint8_t(digits[d]));
            f += 4;
        } else {
            // Not a conversion: the '%' prints itself and the next character is read normally.
            p.put_advance('%');
            ++f;
        }
    }
    va_end(args);
    console_colour = saved_colour;
}
