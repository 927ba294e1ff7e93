// Image packs: header coding, folder scan, the open pack and picture reads, and the menu cards.
#include "app/image_pack.h"

#include <dirent.h>
#include <sys/stat.h>
#include <cstdlib>
#include <cstring>

#include "app/pack_candidates.h"
#include "app/progress.h"
#include "media/console_print.h"
#include "media/jpeg_decoder.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/console.h"
#include "runtime/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/sprites.h"
#include "runtime/files.h"
#include "runtime/save_store.h"

char name_table[NAME_TABLE_SLOTS][NAME_SLOT_SIZE];
PackCard pack_cards[MAX_CARDS];
uint16_t* draw_target = nullptr;

uint16_t best_match[PACK_TABLE_ENTRIES];
uint16_t second_match[PACK_TABLE_ENTRIES];
uint16_t picture_count = 0;
uint16_t thumb_size = 0;
uint16_t* thumbnails = nullptr;
uint32_t* picture_offsets = nullptr;
uint32_t* picture_sizes = nullptr;
char pack_path[PACK_PATH_SIZE];
uint32_t pack_data_offset = 0;
uint8_t pack_read_buffer[PACK_READ_BUFFER_SIZE];
uint16_t picture_buffer[PICTURE_PIXELS];
int32_t pack_bad_picture = -1;

// ---- Header coding ----

void pack_header_encode(const PackHeader& header, uint8_t out[PACK_HEADER_SIZE]) {
    std::memcpy(out, header.magic, PACK_MAGIC_SIZE);
    put_le16(out + PACK_HEADER_RESERVED1, header.reserved1);
    put_le16(out + PACK_HEADER_DATA_OFFSET, header.data_offset);
    put_le16(out + PACK_HEADER_LISTED_COUNT, header.listed_count);
    put_le16(out + PACK_HEADER_RESERVED2, header.reserved2);
    std::memcpy(out + PACK_HEADER_AUTHOR, header.author, PACK_AUTHOR_SIZE);
    for (int i = 0; i < PACK_ICON_PIXELS; i++) put_le16(out + PACK_HEADER_ICON + 2 * i, header.icon[i]);
}

void pack_header_decode(const uint8_t in[PACK_HEADER_SIZE], PackHeader* header) {
    std::memcpy(header->magic, in, PACK_MAGIC_SIZE);
    header->reserved1 = get_le16(in + PACK_HEADER_RESERVED1);
    header->data_offset = get_le16(in + PACK_HEADER_DATA_OFFSET);
    header->listed_count = get_le16(in + PACK_HEADER_LISTED_COUNT);
    header->reserved2 = get_le16(in + PACK_HEADER_RESERVED2);
    std::memcpy(header->author, in + PACK_HEADER_AUTHOR, PACK_AUTHOR_SIZE);
    for (int i = 0; i < PACK_ICON_PIXELS; i++) header->icon[i] = get_le16(in + PACK_HEADER_ICON + 2 * i);
}

int pack_magic_matches(const uint8_t* bytes) {
    return std::memcmp(bytes, PACK_MAGIC, PACK_MAGIC_COMPARED) == 0 ? 1 : 0;
}

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
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    std::fclose(file);
    name_copy(DEFAULT_PACK_NAME, name_table[0]);
    return 1;
}

// ---- The open pack ----

void pack_close() {
    std::free(thumbnails);
    std::free(picture_offsets);
    std::free(picture_sizes);
    thumbnails = nullptr;
    picture_offsets = nullptr;
    picture_sizes = nullptr;
    picture_count = 0;
    thumb_size = 0;
    candidates_close();
}

const char* pack_status_text(int status) {
    switch (status) {
        case PACK_OK: return "OK";
        case PACK_CANNOT_OPEN: return "The file cannot be opened.";
        case PACK_TOO_SHORT: return "The file ends inside its tables.";
        case PACK_NO_PICTURES: return "The pack holds no pictures.";
        case PACK_BAD_THUMB_SIZE: return "Thumbnail size above 255.";
        case PACK_THUMBS_PAST_END: return "Thumbnails run past the end.";
        case PACK_ENTRY_PAST_END: return "A picture runs past the end.";
        case PACK_ENTRY_TOO_LONG: return "A picture is too large to read.";
        case PACK_NO_MEMORY: return "Not enough memory for the pack.";
        default: return "Unknown error.";
    }
}

// n little-endian 16-bit values into host order; `to` may be the same memory as `from`.
static void le16_to_host(uint16_t* to, const uint8_t* from, size_t n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (static_cast<const void*>(to) != from) std::memcpy(to, from, n * 2);
#else
    for (size_t i = 0; i < n; i++) to[i] = get_le16(from + 2 * i);
#endif
}

static int pack_fail(FILE* file, int status) {
    if (file) std::fclose(file);
    pack_close();
    return status;
}

int pack_load(const char* path) {
    pack_close();
    pack_bad_picture = -1;
    size_t path_length = std::strlen(path);
    if (path_length >= PACK_PATH_SIZE) {
        pack_path[0] = '\0';
        return PACK_CANNOT_OPEN;
    }
    std::memcpy(pack_path, path, path_length + 1);
    FILE* file = std::fopen(pack_path, "rb");
    if (!file) return PACK_CANNOT_OPEN;
    int64_t size = file_size(file);
    if (size < 0) return pack_fail(file, PACK_CANNOT_OPEN);
    const uint64_t file_end = static_cast<uint64_t>(size);

    // Tables and counts must lie inside the file before any of them is trusted.
    const uint64_t data = pack_data_offset;
    if (data + PACK_THUMBNAILS > file_end) return pack_fail(file, PACK_TOO_SHORT);
    static uint8_t tables[PACK_THUMBNAILS];  // 256 KiB staging for the little-endian tables
    if (std::fseek(file, static_cast<long>(data), SEEK_SET) != 0 ||
        std::fread(tables, 1, PACK_THUMBNAILS, file) != PACK_THUMBNAILS) {
        return pack_fail(file, PACK_TOO_SHORT);
    }
    uint16_t count = get_le16(tables + PACK_PICTURE_COUNT);
    uint32_t edge = get_le16(tables + PACK_THUMB_SIZE);
    if (edge == 0) edge = PACK_DEFAULT_THUMB_SIZE;
    if (count == 0) return pack_fail(file, PACK_NO_PICTURES);
    if (edge > PACK_MAX_THUMB_SIZE) return pack_fail(file, PACK_BAD_THUMB_SIZE);
    const uint64_t thumb_bytes = static_cast<uint64_t>(count) * edge * edge * 2;
    uint64_t pos = data + pack_entries_start(count, edge);
    if (pos > file_end) return pack_fail(file, PACK_THUMBS_PAST_END);

    thumbnails = static_cast<uint16_t*>(std::malloc(static_cast<size_t>(thumb_bytes)));
    picture_offsets = static_cast<uint32_t*>(std::malloc(count * sizeof(uint32_t)));
    picture_sizes = static_cast<uint32_t*>(std::malloc(count * sizeof(uint32_t)));
    if (!thumbnails || !picture_offsets || !picture_sizes) return pack_fail(file, PACK_NO_MEMORY);
    if (std::fread(thumbnails, 1, static_cast<size_t>(thumb_bytes), file) != thumb_bytes) {
        return pack_fail(file, PACK_THUMBS_PAST_END);
    }
    le16_to_host(thumbnails, reinterpret_cast<const uint8_t*>(thumbnails), static_cast<size_t>(thumb_bytes / 2));

    // Walk the entries: each length field and its bytes inside the file (and its offset
    // representable in 32 bits), each JPEG no longer than the read buffer.
    for (uint32_t i = 0; i < count; i++) {
        uint8_t length_bytes[PACK_ENTRY_LENGTH_SIZE];
        if (pos + PACK_ENTRY_LENGTH_SIZE > file_end ||
            std::fseek(file, static_cast<long>(pos), SEEK_SET) != 0 ||
            std::fread(length_bytes, 1, PACK_ENTRY_LENGTH_SIZE, file) != PACK_ENTRY_LENGTH_SIZE) {
            pack_bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, PACK_ENTRY_PAST_END);
        }
        uint32_t length = get_le32(length_bytes);
        uint64_t start = pos + PACK_ENTRY_LENGTH_SIZE;
        if (start + length > file_end || start + length > 0xFFFFFFFFull) {
            pack_bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, PACK_ENTRY_PAST_END);
        }
        if (length > PACK_READ_BUFFER_SIZE) {
            pack_bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, PACK_ENTRY_TOO_LONG);
        }
        picture_offsets[i] = static_cast<uint32_t>(start);
        picture_sizes[i] = length;
        pos = start + length;
    }
    le16_to_host(best_match, tables + PACK_BEST_MATCH, PACK_TABLE_ENTRIES);
    le16_to_host(second_match, tables + PACK_SECOND_MATCH, PACK_TABLE_ENTRIES);
    picture_count = count;
    thumb_size = static_cast<uint16_t>(edge);
    // Readers of the original layout stop at the last entry; an optional candidate section may
    // follow, checked against the tables just read.
    candidates_load(file, pos, file_end);
    std::fclose(file);
    return PACK_OK;
}


int32_t picture_bytes_read(uint16_t n) {
    if (n >= picture_count || !picture_offsets || !picture_sizes) return -1;
    // The pack is reopened for every picture; it may have changed or gone since pack_open,
    // so the read is checked again (the lengths were bounded by the read buffer there).
    uint32_t length = picture_sizes[n];
    if (length > PACK_READ_BUFFER_SIZE) return -1;
    FILE* file = std::fopen(pack_path, "rb");
    if (!file) return -1;
    bool ok = std::fseek(file, static_cast<long>(picture_offsets[n]), SEEK_SET) == 0 &&
              std::fread(pack_read_buffer, 1, length, file) == length;
    std::fclose(file);
    return ok ? static_cast<int32_t>(length) : -1;
}

int picture_read(uint16_t n, uint16_t* dest) {
    // The decoder leaves pixels outside whole MCUs untouched (a picture of the wrong size);
    // they start black rather than keep the previous picture, as does a picture that fails.
    std::memset(dest, 0, PICTURE_PIXELS * sizeof(uint16_t));
    int32_t length = picture_bytes_read(n);
    if (length < 0) return 0;
    if (jpeg_decode(pack_read_buffer, static_cast<size_t>(length), dest, PICTURE_EDGE, PICTURE_EDGE)) {
        return 1;
    }
    std::memset(dest, 0, PICTURE_PIXELS * sizeof(uint16_t));
    return 0;
}

// The message screen of a pack that cannot be used: console lines from row 2, then frames
// until the pen touches the screen.
static void pack_error_screen(int status, const char* path) {
    console_init(0);
    if (status == PACK_CANNOT_OPEN) {
        console_print(0, 2, "Error opening file %s !", path);
    } else {
        console_print(0, 2, "Invalid image pack %s !", path);
        console_print(0, 3, "%s", pack_status_text(status));
        if (pack_bad_picture >= 0) console_print(0, 4, "(picture %d)", pack_bad_picture);
    }
    do {
        frame_yield();
    } while (!pen_state.pressed);
}

int pack_open(const char* path) {
    int status = pack_load(path);
    if (status == PACK_OK) return 1;
    pack_error_screen(status, path);
    return 0;
}

// ---- Cards ----

// 24/32 of the way to white per channel (blend_rgb565 towards 0xFFFF with weight 24).
static uint16_t panel_lighten(uint16_t p) { return blend_rgb565(p, 0xFFFF, 24); }

void card_place(uint8_t card) {
    PackCard& c = pack_cards[card % MAX_CARDS];
    c.left = (card % 2 == 0) ? 5 : 125;
    c.right = c.left + 110;
    c.top = 90 + 60 * (card / 2);
    c.bottom = c.top + 43;
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

void card_draw(uint8_t card) {
    if (card >= MAX_CARDS) return;
    const PackCard& c = pack_cards[card];
    panel_draw(c.left, c.top, c.right, c.bottom);
    if (draw_target) {
        for (int y = 0; y < PACK_ICON_EDGE; y++) {
            for (int x = 0; x < PACK_ICON_EDGE; x++) {
                int sx = c.left + 2 + x, sy = c.top + 2 + y;
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
    const char* lines[4] = {name, by, images, viewed};
    const int16_t left = static_cast<int16_t>(c.left + 43);
    for (int k = 0; k < 4; k++) {
        text_set(0, 4 * card + k, left, static_cast<int16_t>(c.top + 3 + 10 * k), SCREEN_WIDTH,
                 SCREEN_MAX_HEIGHT, lines[k], 0, 5, text_alpha, text_letter_spacing,
                 text_line_spacing, text_align, text_clip, 1000);
    }
    // The first three lines are clipped to the card (less its 2-pixel right margin); the
    // viewed line keeps the default clip.
    const uint8_t clip = static_cast<uint8_t>(card + 1);
    set_clip_rect(clip, static_cast<int16_t>(c.left), static_cast<int16_t>(c.top),
                  static_cast<int16_t>(c.right - 2), static_cast<int16_t>(c.bottom));
    if (TextItem* items = text_items[0]) {
        for (int k = 0; k < 3; k++) items[4 * card + k].clip_index = clip;
    }
}

void cards_build(int count) {
    if (count > MAX_CARDS) count = MAX_CARDS;
    for (int i = 0; i < count; i++) {
        PackCard& c = pack_cards[i];
        char path[SAVE_PATH_SIZE + NAME_SLOT_SIZE];
        FILE* file = path_join(path, sizeof path, data_folder, name_table[i]) ? std::fopen(path, "rb") : nullptr;
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
