// The image pack file format (.evg): layout constants, the optional header and its byte coding.
// Shared by the viewer's loader (pack/pack_file.h) and evgpack's writer; no UI, no SDL.
#pragma once
#include <cstdint>

#include "media/byte_cursor.h"

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
// The most pictures a pack may hold: viewing progress records 2048 pictures and Select Image
// lays out no more. Larger counts are refused before anything is allocated.
constexpr int PACK_MAX_PICTURES = 2048;

// Every picture of a pack is PICTURE_EDGE x PICTURE_EDGE pixels: the width of the device screen
// and the edge of the viewer's picture area.
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

void pack_header_encode(const PackHeader& header, uint8_t out[PACK_HEADER_SIZE]);
void pack_header_decode(const uint8_t in[PACK_HEADER_SIZE], PackHeader* header);
// 1 when the first 8 bytes are those of the magic (bytes 8 and 9 are not compared).
int pack_magic_matches(const uint8_t* bytes);

// Size of a data section with n pictures of t x t thumbnails, up to the first picture entry.
inline uint64_t pack_entries_start(uint32_t n, uint32_t t) {
    return PACK_THUMBNAILS + static_cast<uint64_t>(n) * t * t * 2;
}
