// Viewing progress: the 64-record state block mirrored in Evergreen.sav, finding a pack's record
// by file name, and picture_show (mark viewed, percentage digit sprites, read and decode).
// Called by the pack menu (record_find_or_add), the viewer's start-up and the mosaic.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pack/pack_format.h"

struct Bitmap;

constexpr int RECORD_NAME_SIZE = 512;
constexpr int RECORD_VIEWED_BYTES = 256;
constexpr int RECORD_VIEWED_PICTURES = RECORD_VIEWED_BYTES * 8;  // pictures 0 .. 2047
constexpr int STATE_RECORDS = 64;

// One pack's progress, 796 bytes; its layout is the layout of the state file.
struct PackRecord {
    char name[RECORD_NAME_SIZE];  // file name as listed; empty = free. May lack a terminator
                                  // in a damaged file: always bounded by the field.
    uint8_t viewed[RECORD_VIEWED_BYTES];  // bit n % 8 of byte n / 8: picture n viewed
    uint8_t percent;                      // 0 .. 100 as last computed (a file may hold more)
    uint8_t alignment[3];
    uint32_t reserved;         // set to 0 when the record is claimed; otherwise unused
    uint8_t reserved_end[20];  // never read or set; saved with the block
};
static_assert(sizeof(PackRecord) == 796, "PackRecord is the 796-byte record of Evergreen.sav");
static_assert(offsetof(PackRecord, percent) == 768 && offsetof(PackRecord, reserved_end) == 776,
              "the fields sit where Evergreen.sav has them");

struct StateBlock {
    PackRecord records[STATE_RECORDS];
};
static_assert(sizeof(StateBlock) == 50944, "Evergreen.sav is exactly 50944 bytes");

constexpr char STATE_SAVE_NAME[] = "Evergreen";

extern StateBlock state_block;
extern int8_t current_record;   // the open pack's record; -1: viewed without keeping progress
extern int8_t viewed_percent;   // the open pack's share, as last computed by picture_show
// The decoded current picture, 240 x 240 RGB565 (the mosaic shows it; picture_show fills it).
extern uint16_t picture_buffer[PICTURE_PIXELS];

// The digit strip: 11 frames of 13 x 16 (0 to 9, then %), decoded by the viewer at start-up.
extern Bitmap* digit_strip;
constexpr int DIGIT_WIDTH = 13;
constexpr int DIGIT_HEIGHT = 16;
constexpr int DIGIT_PERCENT_FRAME = 10;
constexpr int DIGIT_FIRST_SLOT = 20;  // slots 20 (%), 21 (units), 22 (tens), 23 (hundreds)

// Registers the block with the save store as "Evergreen" and loads the file when it exists.
void state_load();

// 1 when both names have the same bytes up to and including their terminators; a name without
// a terminator ends at its 512-byte field. Case matters.
int names_equal(const char* a, const char* b);

// The record holding `name`, else a record claimed for it (name copied, percent, reserved
// field and viewed bits cleared): the first free one, where a record whose name no file can
// have (no terminator, or a '/': a damaged file) counts as free; when all 64 hold
// names, the first whose pack file is no longer in data_folder. -1 when none can be had, or
// when the name is too long for the field.
int record_find_or_add(const char* name);

// 1 when the record holds a name a listed pack file can have; 0 for a free or damaged one.
int record_name_plausible(const PackRecord& record);

// Writes the block to Evergreen.sav, merged under a lock with what another viewer may have
// saved meanwhile (viewed bits joined per pack name). 1 on success; on failure
// save_failure_reason() says why and the file keeps its earlier contents.
int state_save();

// Marks picture n viewed in current_record (pictures 0 .. 2047 below the pack's count only; a pack without a record
// counts its views in a scratch record that is not saved), recomputes viewed_percent and the
// record's percent, sets the digit sprites 20 to 23, then reads and decodes picture n into
// picture_buffer (black when it cannot be read).
void picture_show(uint16_t n);

// The count and percentage step of picture_show on their own (also used by tests).
int viewed_count(const PackRecord& record, uint16_t count);
