// Glyph data for the runtime's fonts. The misc-fixed faces are monospaced; the packed fonts and
// the font sheet cut every glyph to its ink so that the text layout, which adds its own letter
// spacing, sets them proportionally.
#include "font_tables.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pixel_font.h"

namespace {

void fail(const std::string& what) {
    std::fprintf(stderr, "asset_gen: %s\n", what.c_str());
    std::exit(1);
}

const char* const PACKED_FACES[5] = {"4x6", "5x8", "6x9", "6x12", "7x14"};
const int PACKED_HEIGHTS[5] = {6, 8, 9, 12, 14};

}  // namespace

bool packed_font_covers(int n, int code) {
    if (code >= 32 && code <= 126) return true;
    if (code >= 224 && code <= 239) return true;
    if (code >= 241 && code <= 245) return true;
    if (code >= 249 && code <= 253) return true;
    return n == 4 && (code == 199 || code == 246);
}

PackedFont make_packed_font(int n) {
    PixelFont face = load_pixel_font(PACKED_FACES[n]);
    if (face.cell_height != PACKED_HEIGHTS[n]) fail(std::string("unexpected height of ") + PACKED_FACES[n]);
    PackedFont out;
    out.height = face.cell_height;
    uint32_t bit = 0;
    auto put = [&](bool on) {
        if (bit / 8 >= out.bits.size()) out.bits.push_back(0);
        if (on) out.bits[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
        ++bit;
    };
    for (int code = 0; code < 256; ++code) {
        out.offsets[code] = bit * 2;
        if (!packed_font_covers(n, code)) continue;
        if (code == ' ') {
            // A blank glyph half a cell wide: the layout adds the letter spacing after it.
            int w = (face.cell_width + 1) / 2;
            out.widths[code] = static_cast<int8_t>(w);
            for (int i = 0; i < w * out.height; ++i) put(false);
            continue;
        }
        if (!face.present[code]) fail(std::string(PACKED_FACES[n]) + " lacks code " + std::to_string(code));
        PixelGlyph g = trim_columns(face.glyphs[code]);
        if (g.width == 0) fail(std::string(PACKED_FACES[n]) + " has no ink for code " + std::to_string(code));
        out.widths[code] = static_cast<int8_t>(g.width);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) put(g.at(x, y));
    }
    return out;
}

namespace {

using Tile = std::vector<uint8_t>;  // 36 indices

Tile console_tile(const PixelGlyph& g) {
    Tile t(CONSOLE_TILE * CONSOLE_TILE, 0);
    // The 4 x 6 cell goes to tile columns 1..4: ink lands in columns 1..3 and a character cell
    // keeps blank columns on both sides.
    for (int y = 0; y < CONSOLE_TILE && y < g.height; ++y)
        for (int x = 0; x < g.width && x + 1 < CONSOLE_TILE; ++x) t[y * CONSOLE_TILE + x + 1] = g.at(x, y) ? 1 : 0;
    return t;
}

Tile flipped(const Tile& t, bool fx, bool fy) {
    Tile out(t.size());
    for (int y = 0; y < CONSOLE_TILE; ++y)
        for (int x = 0; x < CONSOLE_TILE; ++x)
            out[y * CONSOLE_TILE + x] = t[(fy ? CONSOLE_TILE - 1 - y : y) * CONSOLE_TILE + (fx ? CONSOLE_TILE - 1 - x : x)];
    return out;
}

constexpr uint32_t FLIP_X = 1u << 25;
constexpr uint32_t FLIP_Y = 1u << 26;

}  // namespace

ConsoleFont make_console_font() {
    PixelFont face = load_pixel_font("4x6");
    ConsoleFont out;
    out.tiles.assign(static_cast<size_t>(CONSOLE_TILES) * CONSOLE_TILE_BYTES, 0);
    for (uint32_t& c : out.char_table) c = 0;
    std::vector<Tile> tiles;  // tiles[i] is tile i + 1

    // 94 printable characters but 86 glyph tiles: a character that is exactly another tile
    // flipped shares it (w is m upside down); then the right-hand partners below reuse their
    // left-hand glyph mirrored, one column off from their own design, which reads the same.
    struct Reuse {
        char from, to;
        uint32_t flips;
    };
    const Reuse reuses[] = {{'(', ')', FLIP_X}, {'/', '\\', FLIP_X}, {'<', '>', FLIP_X}, {'[', ']', FLIP_X},
                            {'{', '}', FLIP_X}, {'b', 'd', FLIP_X},  {'b', 'q', FLIP_X | FLIP_Y}};
    for (int code = 33; code < 127; ++code) {
        if (!face.present[code]) fail("4x6 lacks code " + std::to_string(code));
        Tile t = console_tile(face.glyphs[code]);
        uint32_t cell = 0;
        for (size_t i = 0; i < tiles.size() && !cell; ++i)
            for (int f = 0; f < 4 && !cell; ++f)
                if (flipped(tiles[i], f & 1, f & 2) == t)
                    cell = static_cast<uint32_t>(i + 1) | ((f & 1) ? FLIP_X : 0) | ((f & 2) ? FLIP_Y : 0);
        for (const Reuse& r : reuses)
            if (!cell && code == r.to) cell = out.char_table[static_cast<int>(r.from)] ^ r.flips;
        if (!cell) {
            tiles.push_back(t);
            cell = static_cast<uint32_t>(tiles.size());
        }
        out.char_table[code] = cell;
    }
    if (tiles.size() != CONSOLE_TILES - 1)
        fail("console font needs " + std::to_string(tiles.size()) + " glyph tiles, has room for 86");
    for (size_t i = 0; i < tiles.size(); ++i) {
        uint8_t* rec = &out.tiles[(i + 1) * CONSOLE_TILE_BYTES];
        rec[0] = 0;  // not opaque: index 0 shows what lies behind
        for (int k = 0; k < CONSOLE_TILE * CONSOLE_TILE; ++k) rec[1 + k] = tiles[i][k];
    }
    return out;
}

Image make_font_sheet() {
    // 6x9 is 9 rows high with an empty top row for nearly all of these codes: dropping that row
    // leaves capitals of 6 rows and two rows of descender in an 8 x 8 cell.
    PixelFont face = load_pixel_font("6x9");
    Image sheet(256, 64, KEY_RGB);
    auto wanted = [](int c) { return (c >= 33 && c <= 63) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122); };
    for (int code = 0; code < 256; ++code) {
        if (!wanted(code)) continue;
        PixelGlyph g = trim_columns(face.glyphs[code]);
        if (g.width == 0 || g.width > 7) fail("font sheet glyph " + std::to_string(code) + " does not fit 7 columns");
        bool top_row = false, bottom_row = false;
        for (int x = 0; x < g.width; ++x) top_row |= g.at(x, 0), bottom_row |= g.at(x, 8);
        // A glyph that reaches the top row moves up one when it has no descender; one that uses
        // all nine rows (the dollar sign) loses the tip of its stem.
        int first = top_row && !bottom_row ? 0 : 1;
        int cx = (code % 32) * 8, cy = (code / 32) * 8;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < g.width; ++x)
                if (g.at(x, first + y)) sheet.at(cx + x, cy + y) = Rgb{0, 0, 0};
    }
    return sheet;
}

std::vector<uint8_t> le_u32(const uint32_t* values, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i)
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(values[i] >> (8 * b)));
    return out;
}

std::vector<uint8_t> le_u16(const uint16_t* values, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i)
        for (int b = 0; b < 2; ++b) out.push_back(static_cast<uint8_t>(values[i] >> (8 * b)));
    return out;
}
