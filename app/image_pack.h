// Image packs (.evg): the file format, the folder scan, the pack menu cards, and the open pack
// (colour tables, thumbnails, picture entries). The pack menu, the mosaic, the Select Image
// screen and picture_show read from here; evgpack writes packs with the same definitions.
#pragma once
#include <cstdint>
#include <cstdio>

// ---- File format (all numbers little-endian, offsets from the start of the file) ----

// Optional header: the ten characters below, of which only the first 8 are compared.
constexpr char PACK_MAGIC[11] = "EVERGREEN ";
constexpr int PACK_MAGIC_SIZE = 10;
constexpr int PACK_MAGIC_COMPARED = 8;

constexpr int PACK_ICON_EDGE = 40;
constexpr int PACK_ICON_PIXELS = PACK_ICON_EDGE * PACK_ICON_EDGE;
constexpr int PACK_AUTHOR_SIZE = 32;

// Header field offsets; the header is 3250 bytes.
constexpr int PACK_HEADER_RESERVED1 = 10;
constexpr int PACK_HEADER_DATA_OFFSET = 12;
constexpr int PACK_HEADER_LISTED_COUNT = 14;
constexpr int PACK_HEADER_RESERVED2 = 16;
constexpr int PACK_HEADER_AUTHOR = 18;
constexpr int PACK_HEADER_ICON = 50;
constexpr int PACK_HEADER_SIZE = PACK_HEADER_ICON + PACK_ICON_PIXELS * 2;  // 3250

// Data section, offsets relative to the data offset: two 65536-entry u16 colour tables, the
// u16 picture count N and thumbnail edge T (0 means 64), N thumbnails of T x T RGB565, then N
// picture entries (u32 length L, then L bytes of baseline JPEG of a 240 x 240 picture).
constexpr int PACK_TABLE_ENTRIES = 65536;
constexpr int PACK_TABLE_BYTES = PACK_TABLE_ENTRIES * 2;            // 131072
constexpr int PACK_BEST_MATCH = 0;
constexpr int PACK_SECOND_MATCH = PACK_TABLE_BYTES;                 // 131072
constexpr int PACK_PICTURE_COUNT = 2 * PACK_TABLE_BYTES;            // 262144
constexpr int PACK_THUMB_SIZE = PACK_PICTURE_COUNT + 2;             // 262146
constexpr int PACK_THUMBNAILS = PACK_THUMB_SIZE + 2;                // 262148
constexpr int PACK_DEFAULT_THUMB_SIZE = 64;                         // what a stored 0 means
constexpr int PACK_MAX_THUMB_SIZE = 255;  // the mosaic's step tables are bytes
constexpr int PACK_ENTRY_LENGTH_SIZE = 4;

constexpr int PICTURE_EDGE = 240;
constexpr int PICTURE_PIXELS = PICTURE_EDGE * PICTURE_EDGE;
// One picture's JPEG bytes are read into a buffer of this size; longer entries are refused.
constexpr uint32_t PACK_READ_BUFFER_SIZE = 262144;

// The header as fields. Encoded byte by byte (pack_header_encode/decode), never by memcpy of
// the struct, so the layout does not depend on the compiler.
struct PackHeader {
    char magic[PACK_MAGIC_SIZE];
    uint16_t reserved1;
    uint16_t data_offset;   // 0: the data section starts at offset 0
    uint16_t listed_count;  // shown on the card only
    uint16_t reserved2;
    char author[PACK_AUTHOR_SIZE];  // NUL-terminated when shorter than 32 bytes
    uint16_t icon[PACK_ICON_PIXELS];
};

// Little-endian helpers for the format's numbers.
inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void pack_header_encode(const PackHeader& header, uint8_t out[PACK_HEADER_SIZE]);
void pack_header_decode(const uint8_t in[PACK_HEADER_SIZE], PackHeader* header);
// 1 when the first 8 bytes are those of the magic (bytes 8 and 9 are not compared).
int pack_magic_matches(const uint8_t* bytes);

// Size of a data section with n pictures of t x t thumbnails, up to the first picture entry.
inline uint64_t pack_entries_start(uint32_t n, uint32_t t) {
    return PACK_THUMBNAILS + static_cast<uint64_t>(n) * t * t * 2;
}

// ---- Discovery ----

constexpr int NAME_TABLE_SLOTS = 128;
constexpr int NAME_SLOT_SIZE = 512;
constexpr int MAX_CARDS = 8;
constexpr int PACK_PATH_SIZE = 256;
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

// The pixel buffer the viewer draws into, 240 pixels per row and screen_height rows: the pixels
// of background layer 15 during the menus, the Framebuffer while viewing.
extern uint16_t* draw_target;

// ---- The open pack ----

extern uint16_t best_match[PACK_TABLE_ENTRIES];
extern uint16_t second_match[PACK_TABLE_ENTRIES];
extern uint16_t picture_count;
extern uint16_t thumb_size;
extern uint16_t* thumbnails;         // picture_count x thumb_size x thumb_size RGB565
extern uint32_t* picture_offsets;    // file offset of each picture's JPEG bytes
extern uint32_t* picture_sizes;      // length of each picture's JPEG bytes
extern char pack_path[PACK_PATH_SIZE];
extern uint32_t pack_data_offset;    // set from the chosen card before pack_open
extern uint8_t pack_read_buffer[PACK_READ_BUFFER_SIZE];
// The decoded current picture, 240 x 240 RGB565 (the mosaic shows it; picture_show fills it).
extern uint16_t picture_buffer[PICTURE_PIXELS];

// Why a pack did not load.
enum PackStatus : int {
    PACK_OK = 0,
    PACK_CANNOT_OPEN,       // missing, unreadable, or a path longer than pack_path holds
    PACK_TOO_SHORT,         // the data offset or the tables and counts lie past the end
    PACK_NO_PICTURES,       // picture count 0
    PACK_BAD_THUMB_SIZE,    // thumbnail edge above 255
    PACK_THUMBS_PAST_END,   // the thumbnails run past the end of the file
    PACK_ENTRY_PAST_END,    // a picture entry runs past the end of the file
    PACK_ENTRY_TOO_LONG,    // a picture's JPEG is longer than the read buffer
    PACK_NO_MEMORY,
};

// One line (under 40 characters) saying what is wrong with the pack.
const char* pack_status_text(int status);
// The picture whose entry was refused by the last pack_load (PACK_ENTRY_*), else -1.
extern int32_t pack_bad_picture;

// Reads the pack at `path` from pack_data_offset, checking every count and length against the
// file's size before trusting it. Returns PACK_OK with the tables, counts and allocations in
// place, or the reason it failed with the open pack left empty (picture_count 0). No screen.
int pack_load(const char* path);

// pack_load, and on failure the message screen ("Error opening file %s !" for a file that does
// not open, "Invalid image pack %s !" and the reason for one that is not a valid pack) waiting
// for a tap. Returns 1 on success, 0 on failure.
int pack_open(const char* path);

// Frees the open pack's allocations and empties it (tests, fuzzing; the viewer never closes).
void pack_close();

// Reads picture n's JPEG bytes from pack_path into the read buffer and decodes them into
// `dest` (240 x 240). Returns 1 on success; on any failure (no such picture, the file cannot be
// reopened or has changed, the JPEG does not decode) `dest` is made black and 0 is returned.
int picture_read(uint16_t n, uint16_t* dest);
// The reading half of picture_read: picture n's JPEG bytes into pack_read_buffer. Returns their
// length, or -1 when there is no such picture or the file cannot be read as it was opened.
int32_t picture_bytes_read(uint16_t n);
