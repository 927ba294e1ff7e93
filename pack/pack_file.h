// An open pack as a value: the loader of .evg files (every count and length checked against the
// file before it is trusted), the colour tables, thumbnails, picture entries and candidate lists
// it fills, and picture reads. The viewer keeps one for its screens (app/viewer_pack.h); evgpack's
// commands and the builder open their own. No UI, no SDL.
#pragma once
#include <climits>
#include <cstdint>

#include "pack/pack_candidates.h"
#include "pack/pack_format.h"

// Room for any data folder (see runtime/save_store.h) followed by any name the folder scan
// lists, so that every pack on the menu can be opened.
constexpr int PACK_PATH_SIZE = PATH_MAX + 512;

// Everything read from one pack file. The two colour tables and the read buffer are held inside
// (about 512 KiB in all), so an OpenPack lives on the heap or in static storage, never on a
// thread's stack. Values own their allocations: not copyable; pack_close frees them.
struct OpenPack {
    uint16_t best_match[PACK_TABLE_ENTRIES];
    uint16_t second_match[PACK_TABLE_ENTRIES];
    uint16_t picture_count = 0;
    uint16_t thumb_size = 0;
    uint16_t* thumbnails = nullptr;       // picture_count x thumb_size x thumb_size RGB565
    uint32_t* picture_offsets = nullptr;  // file offset of each picture's JPEG bytes
    uint32_t* picture_sizes = nullptr;    // length of each picture's JPEG bytes
    CandidateLists candidates;            // K, the lists and picture means, or why there are none
    char path[PACK_PATH_SIZE] = "";
    uint32_t data_offset = 0;   // where the data section starts (the card's header says)
    int32_t bad_picture = -1;   // the picture whose entry the last load refused (PACK_ENTRY_*), else -1
    uint8_t read_buffer[PACK_READ_BUFFER_SIZE];  // one picture's JPEG bytes (picture_bytes_read)

    OpenPack() = default;
    OpenPack(const OpenPack&) = delete;
    OpenPack& operator=(const OpenPack&) = delete;
    ~OpenPack();
};

// Why a pack did not load.
enum PackStatus : int {
    PACK_OK = 0,
    PACK_CANNOT_OPEN,       // missing, unreadable, or a path longer than OpenPack::path holds
    PACK_TOO_SHORT,         // the data offset or the tables and counts lie past the end
    PACK_NO_PICTURES,       // picture count 0
    PACK_BAD_THUMB_SIZE,    // thumbnail edge above 255
    PACK_THUMBS_PAST_END,   // the thumbnails run past the end of the file
    PACK_ENTRY_PAST_END,    // a picture entry runs past the end of the file
    PACK_ENTRY_TOO_LONG,    // a picture's JPEG is longer than the read buffer
    PACK_NO_MEMORY,
    PACK_TOO_MANY_PICTURES,  // picture count above PACK_MAX_PICTURES
};

// One line (under 40 characters) saying what is wrong with the pack.
const char* pack_status_text(int status);

// Reads the pack at `path` whose data section starts at `data_offset` into `pack`, checking
// every count and length against the file's size before trusting it. Returns PACK_OK with the
// tables, counts and allocations in place, or the reason it failed with `pack` left empty
// (picture_count 0, bad_picture set for PACK_ENTRY_*). Whatever `pack` held before is freed.
int pack_load(const char* path, uint32_t data_offset, OpenPack* pack);

// Frees the pack's allocations and empties it (picture_count 0, no candidate lists).
void pack_close(OpenPack* pack);

// Reads picture n's JPEG bytes from the pack's file into its read buffer and decodes them into
// `dest` (240 x 240). Returns 1 on success; on any failure (no such picture, the file cannot be
// reopened or has changed, the JPEG does not decode) `dest` is made black and 0 is returned.
int picture_read(OpenPack* pack, uint16_t n, uint16_t* dest);
// The reading half of picture_read: picture n's JPEG bytes into pack->read_buffer. Returns
// their length, or -1 when there is no such picture or the file cannot be read as it was opened.
int32_t picture_bytes_read(OpenPack* pack, uint16_t n);
