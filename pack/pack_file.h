// The open pack: the viewer's loader of .evg files (every count and length checked against the
// file before it is trusted), the colour tables, thumbnails and picture entries it fills, and
// picture reads. evgpack's inspection commands use the same loader. No UI, no SDL: the message
// screen for a pack that fails is pack_open in app/pack_menu.h.
#pragma once
#include <cstdint>

#include "pack/pack_format.h"

// Room for any data folder (see runtime/save_store.h) followed by any name the folder scan
// lists, so that every pack on the menu can be opened.
constexpr int PACK_PATH_SIZE = 260 + 512;

extern uint16_t best_match[PACK_TABLE_ENTRIES];
extern uint16_t second_match[PACK_TABLE_ENTRIES];
extern uint16_t picture_count;
extern uint16_t thumb_size;
extern uint16_t* thumbnails;         // picture_count x thumb_size x thumb_size RGB565
extern uint32_t* picture_offsets;    // file offset of each picture's JPEG bytes
extern uint32_t* picture_sizes;      // length of each picture's JPEG bytes
extern char pack_path[PACK_PATH_SIZE];
extern uint32_t pack_data_offset;    // set from the chosen card before pack_load
extern uint8_t pack_read_buffer[PACK_READ_BUFFER_SIZE];

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

// Frees the open pack's allocations and empties it (tests, fuzzing; the viewer never closes).
void pack_close();

// Reads picture n's JPEG bytes from pack_path into the read buffer and decodes them into
// `dest` (240 x 240). Returns 1 on success; on any failure (no such picture, the file cannot be
// reopened or has changed, the JPEG does not decode) `dest` is made black and 0 is returned.
int picture_read(uint16_t n, uint16_t* dest);
// The reading half of picture_read: picture n's JPEG bytes into pack_read_buffer. Returns their
// length, or -1 when there is no such picture or the file cannot be read as it was opened.
int32_t picture_bytes_read(uint16_t n);
