// The pack menu: the folder scan for packs, the cards (header, record, percentage, panel, icon,
// texts), and pack_open's message screen for a pack that cannot be used.
#include "app/pack_menu.h"

#include <dirent.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/progress.h"
#include "app/viewer_pack.h"
#include "assets/assets.h"
#include "media/files.h"
#include "media/fonts.h"
#include "media/jpeg_decoder.h"
#include "pack/pack_file.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/sprites.h"
#include "runtime/save_store.h"

static_assert(PACK_PATH_SIZE >= SAVE_PATH_SIZE + NAME_SLOT_SIZE,
              "every listed pack must fit the open path");

char name_table[NAME_TABLE_SLOTS][NAME_SLOT_SIZE];
PackCard pack_cards[MAX_CARDS];


// ---- Card headers ----

int pack_header_read(uint8_t card, FILE* file) {
    if (card >= MAX_CARDS || !file) return 0;
    uint8_t bytes[PACK_HEADER_SIZE];
    if (std::fread(bytes, 1, PACK_MAGIC_SIZE, file) != PACK_MAGIC_SIZE) return 0;
    if (!pack_magic_matches(bytes)) return 0;
    const size_t rest = PACK_HEADER_SIZE - PACK_MAGIC_SIZE;
    if (std::fread(bytes + PACK_MAGIC_SIZE, 1, rest, file) != rest) return 0;
    PackHeader header;
    pack_header_decode(bytes, &header);
    PackCard& c = pack_cards[card];
    c.reserved1 = header.reserved1;
    c.data_offset = header.data_offset;
    c.listed_count = header.listed_count;
    c.reserved2 = header.reserved2;
    std::memcpy(c.author, header.author, PACK_AUTHOR_SIZE);
    std::memcpy(c.icon, header.icon, sizeof c.icon);
    return 1;
}

// ---- Discovery ----

void name_copy(const char* source, char* destination) {
    std::memmove(destination, source, std::strlen(source) + 1);
}

static char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' matches any run, '?' any one character; other characters compare case-insensitively,
// so "*.evg" also lists "Trip.EVG".
static bool wildcard_match(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && ascii_lower(*pattern) == ascii_lower(*name))) {
            pattern++;
            name++;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') pattern++;
    return *pattern == '\0';
}

int folder_scan(const char* pattern) {
    // Split "<folder>/<glob>"; no slash means the current folder.
    char folder[NAME_SLOT_SIZE + PACK_PATH_SIZE];
    const char* slash = std::strrchr(pattern, '/');
    const char* glob = slash ? slash + 1 : pattern;
    if (slash) {
        size_t n = static_cast<size_t>(slash - pattern);
        if (n + 2 > sizeof folder) return 0;
        std::memcpy(folder, pattern, n);
        if (n == 0) folder[n++] = '/';
        folder[n] = '\0';
    } else {
        std::strcpy(folder, ".");
    }
    DIR* dir = opendir(folder);
    if (!dir) return 0;
    int count = 0;
    char path[sizeof folder + NAME_SLOT_SIZE + 2];
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        size_t length = std::strlen(name);
        if (length >= NAME_SLOT_SIZE) continue;  // skipped, never truncated
        if (!wildcard_match(glob, name)) continue;
        int n = std::snprintf(path, sizeof path, "%s/%s", folder, name);
        if (n < 0 || n >= static_cast<int>(sizeof path)) continue;
        struct stat st;
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // Insertion into the sorted table; when full, a name after the last one is dropped
        // and otherwise the last one falls off, so the table keeps the first 128 by name.
        int at = count;
        while (at > 0 && std::strcmp(name_table[at - 1], name) > 0) at--;
        if (at >= NAME_TABLE_SLOTS) continue;
        int last = count < NAME_TABLE_SLOTS ? count : NAME_TABLE_SLOTS - 1;
        for (int k = last; k > at; k--) name_copy(name_table[k - 1], name_table[k]);
        name_copy(name, name_table[at]);
        if (count < NAME_TABLE_SLOTS) count++;
    }
    closedir(dir);
    return count;
}

// folder + name into out; false (out empty) when it does not fit.
static bool path_join(char* out, size_t size, const char* folder, const char* name) {
    size_t a = std::strlen(folder), b = std::strlen(name);
    if (a + b + 1 > size) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, folder, a);
    std::memcpy(out + a, name, b + 1);
    return true;
}

int packs_find() {
    char pattern[SAVE_PATH_SIZE + 8];
    std::snprintf(pattern, sizeof pattern, "%s*.%s", data_folder, PACK_EXTENSION);
    int count = folder_scan(pattern);
    if (count > 0) return count;
    char path[SAVE_PATH_SIZE + sizeof DEFAULT_PACK_NAME];
    path_join(path, sizeof path, data_folder, DEFAULT_PACK_NAME);
    FILE* file = file_open_regular(path);  // a FIFO of that name is not waited on
    if (!file) return 0;
    std::fclose(file);
    name_copy(DEFAULT_PACK_NAME, name_table[0]);
    return 1;
}

void pack_failure_print(int status, const char* path, bool header) {
    if (status == PACK_CANNOT_OPEN) {
        std::fprintf(stderr, "evergreen: %s: the pack cannot be opened\n", path);
        return;
    }
    // The screen's sentence as a clause: "The file ends inside its tables." -> "the file ends ...".
    char reason[64];
    std::snprintf(reason, sizeof reason, "%s", pack_status_text(status));
    const size_t n = std::strlen(reason);
    if (n > 0 && reason[n - 1] == '.') reason[n - 1] = '\0';
    if (reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    char picture[32] = "";
    if (viewer_pack.bad_picture >= 0) std::snprintf(picture, sizeof picture, ", picture %d", viewer_pack.bad_picture);
    std::fprintf(stderr, "evergreen: %s: %s (%s%s)\n", path, header ? "invalid image pack" : "not an image pack",
                 reason, picture);
}

// The message screen of a pack that cannot be used: the menu background without the start
// choice, a panel with the file's name and what is wrong, then frames until the pen touches
// the screen.
void pack_failed_screen(int status, const char* path) {
    pack_failure_print(status, path, true);
    if (draw_target)
        jpeg_decode(asset_menu_background, asset_menu_background_size, draw_target, SCREEN_WIDTH, SCREEN_MAX_HEIGHT);
    panel_draw(ERROR_BOX_LEFT, ERROR_BOX_TOP, ERROR_BOX_RIGHT, ERROR_BOX_BOTTOM);
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    char picture[32] = "";
    const int32_t bad = viewer_pack.bad_picture;
    if (bad >= 0) std::snprintf(picture, sizeof picture, "\n(picture %d)", bad);
    char text[NAME_SLOT_SIZE + 160];
    if (status == PACK_CANNOT_OPEN)
        std::snprintf(text, sizeof text, "Error opening file\n%s\n\nTouch screen to exit...", name);
    else
        std::snprintf(text, sizeof text, "Invalid image pack\n%s\n\n%s%s\n\nTouch screen to exit...", name,
                      pack_status_text(status), picture);
    text_layer_create(0);
    font_from_gif(FONT_SHEET, asset_font_sheet, asset_font_sheet_size);
    text_set(0, 0, ERROR_BOX_LEFT + 8, ERROR_BOX_TOP + 8, ERROR_BOX_RIGHT - 8, ERROR_BOX_BOTTOM - 4, text, 0,
             FONT_SHEET);
    quit_hook = [] { std::exit(1); };  // the run ends because of the pack, however dismissed
    do {
        frame_yield();
    } while (!pen_state.pressed);
    quit_hook = nullptr;
}

int pack_open(const char* path, uint32_t data_offset) {
    int status = pack_load(path, data_offset, &viewer_pack);
    if (status == PACK_OK) return 1;
    pack_failed_screen(status, path);
    return 0;
}

// ---- Cards ----

// 24/32 of the way to white per channel (blend_rgb565 towards 0xFFFF with weight 24).
static uint16_t panel_lighten(uint16_t p) { return blend_rgb565(p, 0xFFFF, 24); }

void card_place(uint8_t card) {
    PackCard& c = pack_cards[card % MAX_CARDS];
    c.left = (card % 2 == 0) ? CARD_LEFT_COLUMN : CARD_RIGHT_COLUMN;
    c.right = c.left + CARD_WIDTH;
    c.top = CARD_FIRST_TOP + CARD_ROW_PITCH * (card / 2);
    c.bottom = c.top + CARD_HEIGHT;
}

void panel_draw(int x0, int y0, int x1, int y1) {
    if (!draw_target) return;
    const int width = SCREEN_WIDTH, height = screen_height;
    auto pixel = [&](int x, int y) -> uint16_t* {
        return (x >= 0 && x < width && y >= 0 && y < height) ? &draw_target[y * width + x] : nullptr;
    };
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            if (uint16_t* p = pixel(x, y)) *p = panel_lighten(*p);
        }
    }
    for (int y = y0; y < y1; y++) {
        if (uint16_t* p = pixel(x0, y)) *p = 0;
        if (uint16_t* p = pixel(x1 - 1, y)) *p = 0;
    }
    // The bottom line is drawn on row y1, one below the lightened rows, while the right line
    // lies on the last lightened column.
    for (int x = x0; x < x1; x++) {
        if (uint16_t* p = pixel(x, y0)) *p = 0;
        if (uint16_t* p = pixel(x, y1)) *p = 0;
    }
}

// Bounded copy of a card text field that may lack its terminator.
static void field_text(char* out, const char* field, size_t field_size) {
    size_t n = 0;
    while (n < field_size && field[n]) n++;
    std::memcpy(out, field, n);
    out[n] = '\0';
}

// Cuts a line wider than CARD_TEXT_ROOM pixels to the longest start that fits with "..." after
// it. Widths as the layout counts them: each glyph and one pixel of spacing between glyphs.
static void card_line_fit(char* text, size_t size) {
    const Font* font = font_table[FONT_SHEET];
    if (!font) return;
    auto advance = [font](char ch) { return int(uint8_t(1 + font->glyph_widths[uint8_t(ch)])); };
    int width = -1;  // no spacing after the last glyph
    for (const char* p = text; *p; ++p) width += advance(*p);
    if (width <= CARD_TEXT_ROOM) return;
    const int dots = 3 * advance('.');  // "..." and the spacing before it
    int used = -1;
    size_t keep = 0;
    while (keep + 4 < size && text[keep] && used + advance(text[keep]) + dots <= CARD_TEXT_ROOM)
        used += advance(text[keep++]);
    std::memcpy(text + keep, "...", 4);
}

void card_draw(uint8_t card) {
    if (card >= MAX_CARDS) return;
    const PackCard& c = pack_cards[card];
    panel_draw(c.left, c.top, c.right, c.bottom);
    if (draw_target) {
        for (int y = 0; y < PACK_ICON_EDGE; y++) {
            for (int x = 0; x < PACK_ICON_EDGE; x++) {
                int sx = c.left + CARD_ICON_INSET + x, sy = c.top + CARD_ICON_INSET + y;
                if (sx < 0 || sx >= SCREEN_WIDTH || sy < 0 || sy >= screen_height) continue;
                draw_target[sy * SCREEN_WIDTH + sx] = c.icon[y * PACK_ICON_EDGE + x];
            }
        }
    }
    // Texts are formatted here, never used as formats themselves.
    char name[NAME_SLOT_SIZE];
    field_text(name, name_table[card], NAME_SLOT_SIZE);
    char author[PACK_AUTHOR_SIZE + 1];
    field_text(author, c.author, PACK_AUTHOR_SIZE);
    char by[PACK_AUTHOR_SIZE + 8];
    std::snprintf(by, sizeof by, "By %s", author);
    char images[24] = "";
    if (c.listed_count != 0) std::snprintf(images, sizeof images, "%d images", c.listed_count);
    char viewed[32];
    std::snprintf(viewed, sizeof viewed, "Viewed : %d%%", c.percent);
    char* lines[4] = {name, by, images, viewed};
    const size_t sizes[4] = {sizeof name, sizeof by, sizeof images, sizeof viewed};
    const int16_t left = static_cast<int16_t>(c.left + CARD_TEXT_LEFT);
    for (int k = 0; k < 4; k++) {
        // Each line is laid out in a box one line high and too wide to wrap, so a long name or
        // author is cut with "..." instead of wrapping over the line below.
        const int16_t top = static_cast<int16_t>(c.top + CARD_TEXT_TOP + CARD_LINE_PITCH * k);
        card_line_fit(lines[k], sizes[k]);
        text_set(0, 4 * card + k, left, top, CARD_TEXT_NO_WRAP, static_cast<int16_t>(top + CARD_LINE_PITCH - 1),
                 lines[k], 0, FONT_SHEET);
    }
    // The first three lines are clipped to the card (less its 2-pixel right margin); the
    // viewed line keeps the default clip.
    const uint8_t clip = static_cast<uint8_t>(card + 1);
    set_clip_rect(clip, static_cast<int16_t>(c.left), static_cast<int16_t>(c.top),
                  static_cast<int16_t>(c.right - CARD_TEXT_RIGHT_MARGIN), static_cast<int16_t>(c.bottom));
    if (TextItem* items = text_items[0]) {
        for (int k = 0; k < 3; k++) items[4 * card + k].clip_index = clip;
    }
}

void cards_build(int count) {
    if (count > MAX_CARDS) count = MAX_CARDS;
    for (int i = 0; i < count; i++) {
        PackCard& c = pack_cards[i];
        char path[SAVE_PATH_SIZE + NAME_SLOT_SIZE];
        FILE* file = path_join(path, sizeof path, data_folder, name_table[i]) ? file_open_regular(path) : nullptr;
        if (!file || !pack_header_read(static_cast<uint8_t>(i), file)) {
            c.data_offset = 0;
            c.listed_count = 0;
            std::memset(c.author, 0, sizeof c.author);
            std::strcpy(c.author, "Unknown");
        }
        card_place(static_cast<uint8_t>(i));
        c.record = static_cast<int16_t>(record_find_or_add(name_table[i]));
        c.percent = c.record >= 0 ? state_block.records[c.record].percent : 0;
        card_draw(static_cast<uint8_t>(i));
        if (file) std::fclose(file);
    }
}
