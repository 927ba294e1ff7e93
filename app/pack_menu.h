// The pack menu: discovery of the packs in the data folder, the menu cards, the panel they are
// drawn on, and pack_open (pack_load into the viewer's pack with a message screen when the pack
// cannot be used). The viewer's start-up calls these; the pack format itself is in pack/.
#pragma once
#include <cstdint>
#include <cstdio>

#include "app/screen_layout.h"
#include "pack/pack_format.h"

// ---- Discovery ----

constexpr int NAME_TABLE_SLOTS = 128;
constexpr int NAME_SLOT_SIZE = 512;
constexpr int MAX_CARDS = 8;
constexpr char PACK_EXTENSION[] = "evg";
constexpr char DEFAULT_PACK_NAME[] = "Default.evg";

// File names found by the folder scan, name only, NUL-terminated.
extern char name_table[NAME_TABLE_SLOTS][NAME_SLOT_SIZE];

// Lists the regular files matching `pattern` ("<folder>/*.evg"; the folder part may be empty
// for the current folder). Literal characters compare case-insensitively; names are sorted by
// byte order and the first 128 kept; a name that does not fit a slot is skipped. Returns the
// number of names stored, 0 when the folder cannot be listed.
int folder_scan(const char* pattern);

// Copies a NUL-terminated text including its terminator.
void name_copy(const char* source, char* destination);

// The menu's discovery: folder_scan of "<data_folder>*.evg"; when that finds nothing and
// "<data_folder>Default.evg" opens, name slot 0 becomes "Default.evg" and the count is 1.
// Returns the number of packs (not capped at 8); 0 means the no-pack screen.
int packs_find();

// ---- Pack menu cards ----

struct PackCard {
    uint16_t reserved1;
    uint16_t data_offset;   // 0 when the header is missing
    uint16_t reserved2;
    uint16_t listed_count;  // 0 when the header is missing
    char author[PACK_AUTHOR_SIZE];  // "Unknown" when the header is missing
    uint16_t icon[PACK_ICON_PIXELS];
    int32_t left, right, top, bottom;
    int16_t record;   // PackRecord index, -1 when none could be had
    int16_t percent;  // the record's viewed percentage when the menu was built
};

extern PackCard pack_cards[MAX_CARDS];

// Reads the header of the file (just opened, at offset 0) into card i. Returns 1 when the magic
// matched and the whole header was read, 0 otherwise (the card is then left untouched; a file
// shorter than the magic, or one whose header is cut short, counts as having none).
int pack_header_read(uint8_t card, FILE* file);

// Builds and draws cards 0 .. min(count, 8) - 1 from name_table: header, box, record and
// percentage, panel, icon, text items and clip rectangles. Text layer 0 and font 5 must exist.
void cards_build(int count);

// Card i's box from its number: two columns of four rows.
void card_place(uint8_t card);

// Draws card i into draw_target and text layer 0 (items 4i .. 4i + 3, clip rectangle i + 1).
void card_draw(uint8_t card);

// A light panel with a black frame: rows y0 .. y1 - 1 and columns x0 .. x1 - 1 lightened 24/32
// towards white, black columns x0 and x1 - 1, black rows y0 and y1 (one below the lightened
// area). Pixels outside the 240 x screen_height target are not touched.
void panel_draw(int x0, int y0, int x1, int y1);


// pack_load of the pack at `path` (data section at `data_offset`, from its card) into
// viewer_pack (app/viewer_pack.h); on failure pack_failed_screen. Returns 1 on success, 0 on
// failure.
int pack_open(const char* path, uint32_t data_offset);

// A pack that could not be used (pack_load's `status`, viewer_pack.bad_picture): one line on
// standard error, then the message screen ("Error opening file %s !" for a file that does not
// open, "Invalid image pack %s !" and the reason for one that is not a valid pack) until a tap.
// The run then ends with status 1: Escape or the close button on the screen end it at once.
void pack_failed_screen(int status, const char* path);

// "evergreen: PATH: " and what is wrong, as one line on standard error; `header` false says the
// file is no pack at all rather than a damaged one.
void pack_failure_print(int status, const char* path, bool header);
