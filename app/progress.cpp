// Viewing progress: the state block, record lookup and picture_show.
#include "app/progress.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/screen_layout.h"
#include "app/viewer_pack.h"
#include "pack/pack_file.h"
#include "runtime/save_store.h"
#include "runtime/sprites.h"

StateBlock state_block;
int8_t current_record = -1;
int8_t viewed_percent = 0;
Bitmap* digit_strip = nullptr;
uint16_t picture_buffer[PICTURE_PIXELS];

// Views of a pack that has no record (all 64 taken) are counted here for the percentage
// display but never saved.
static PackRecord scratch_record;
static int8_t scratch_owner = -2;  // the current_record value scratch_record was cleared for

void state_load() {
    std::memset(&state_block, 0, sizeof state_block);
    save_register(STATE_SAVE_NAME, &state_block, sizeof state_block);
}

int names_equal(const char* a, const char* b) {
    for (int i = 0; i < RECORD_NAME_SIZE; i++) {
        if (a[i] != b[i]) return 0;
        if (a[i] == '\0') return 1;
    }
    return 1;  // both fill the whole field with the same bytes
}

int record_name_plausible(const PackRecord& record) {
    // Any byte but '/' may be in a file name (control bytes too: "Trip\tSummer.evg" is a pack
    // like any other, whose progress must be kept and merged).
    const char* end = static_cast<const char*>(std::memchr(record.name, '\0', RECORD_NAME_SIZE));
    if (!end || end == record.name) return 0;
    return std::memchr(record.name, '/', static_cast<size_t>(end - record.name)) ? 0 : 1;
}

// 1 when the record's pack file is gone from the data folder (its record may then be reused).
static int record_pack_gone(const PackRecord& record) {
    char path[SAVE_PATH_SIZE + RECORD_NAME_SIZE];
    std::snprintf(path, sizeof path, "%s%s", data_folder, record.name);
    struct stat st;
    return ::stat(path, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// A record of `block` for a new name: the first free one (empty, or a name no file can have,
// as a damaged file leaves), else the first whose pack is no longer in the folder. -1: none.
static int record_claim(StateBlock& block, const char* name, size_t length) {
    int chosen = -1;
    for (int i = 0; i < STATE_RECORDS && chosen < 0; i++) {
        if (!record_name_plausible(block.records[i])) chosen = i;
    }
    for (int i = 0; i < STATE_RECORDS && chosen < 0; i++) {
        if (record_pack_gone(block.records[i])) chosen = i;
    }
    if (chosen < 0) return -1;
    PackRecord& r = block.records[chosen];
    std::memcpy(r.name, name, length + 1);
    r.percent = 0;
    r.reserved = 0;
    std::memset(r.viewed, 0, sizeof r.viewed);
    return chosen;
}

int record_find_or_add(const char* name) {
    // A name that needs more than the field (with its terminator) could only be stored cut
    // short, and would then be confused with another name.
    const void* end = std::memchr(name, '\0', RECORD_NAME_SIZE);
    if (!end) return -1;
    for (int i = 0; i < STATE_RECORDS; i++) {
        if (names_equal(name, state_block.records[i].name)) return i;
    }
    return record_claim(state_block, name, static_cast<size_t>(static_cast<const char*>(end) - name));
}

int viewed_count(const PackRecord& record, uint16_t count) {
    int limit = count < RECORD_VIEWED_PICTURES ? count : RECORD_VIEWED_PICTURES;
    int total = 0;
    for (int n = 0; n < limit; n++) total += (record.viewed[n / 8] >> (n % 8)) & 1;
    return total;
}

static PackRecord& record_in_use() {
    if (current_record >= 0 && current_record < STATE_RECORDS) {
        return state_block.records[current_record];
    }
    if (scratch_owner != current_record) {
        std::memset(&scratch_record, 0, sizeof scratch_record);
        scratch_owner = current_record;
    }
    return scratch_record;
}

// Right-aligned digits: % in slot 20, units 21, tens 22, hundreds 23, position k (0 = the
// sign) DIGIT_PITCH * k left of the sign.
static void digit_sprite(int k, int frame) {
    const int slot = DIGIT_FIRST_SLOT + k;
    sprite_set(slot, digit_strip, DIGIT_WIDTH, DIGIT_HEIGHT,
               static_cast<int16_t>(PERCENT_SIGN_X - DIGIT_PITCH * k), DIGIT_CENTRE_Y);
    if (SpriteTable[slot]) SpriteTable[slot]->frame = static_cast<int16_t>(frame);
}

// The tens and hundreds are shown only while the value has them, so a value that falls (the
// display of another pack) leaves no digit of the last one behind.
static void percent_digits() {
    if (!digit_strip) return;  // nothing to show before the viewer has decoded the strip
    int value = viewed_percent;
    digit_sprite(0, DIGIT_PERCENT_FRAME);
    digit_sprite(1, value % 10);
    for (int k = 2, place = 10; k <= 3; ++k, place *= 10) {
        if (value >= place) digit_sprite(k, (value / place) % 10);
        else if (SpriteTable[DIGIT_FIRST_SLOT + k]) SpriteTable[DIGIT_FIRST_SLOT + k]->active = 0;
    }
}

void picture_show(uint16_t n) {
    PackRecord& record = record_in_use();
    // Pictures from 2048 on are shown but not recorded: their bits would fall on the
    // record's percent and reserved fields. A table entry that names no picture (n at or
    // past the count) is shown black and not recorded either.
    const int count = viewer_pack.picture_count;
    if (n < count && n < RECORD_VIEWED_PICTURES) record.viewed[n / 8] |= static_cast<uint8_t>(1u << (n % 8));
    int percent = 0;
    if (count > 0) percent = viewed_count(record, count) * 100 / count;
    viewed_percent = static_cast<int8_t>(percent);
    record.percent = static_cast<uint8_t>(percent);
    percent_digits();
    picture_read(&viewer_pack, n, picture_buffer);
}

// The state file as another viewer may have left it, folded into our block: the file's records
// are kept, and each of ours is merged into the record of the same name (viewed bits joined) or
// added. The open pack's percent is counted again; for the others the higher one stands, since
// their bits only grow.
static void state_merge(void* block, const uint8_t* disk, uint32_t disk_length) {
    if (disk_length == 0) return;
    StateBlock& mine = *static_cast<StateBlock*>(block);
    static StateBlock merged;
    int moved_current = -1;
    std::memset(&merged, 0, sizeof merged);
    std::memcpy(&merged, disk, disk_length < sizeof merged ? disk_length : sizeof merged);
    for (int i = 0; i < STATE_RECORDS; i++) {
        const PackRecord& ours = mine.records[i];
        if (!record_name_plausible(ours)) continue;
        int j = 0;
        while (j < STATE_RECORDS && !names_equal(ours.name, merged.records[j].name)) j++;
        if (j == STATE_RECORDS) {
            j = record_claim(merged, ours.name, std::strlen(ours.name));
            if (j < 0) continue;  // the file is full of packs still in the folder
            merged.records[j] = ours;
            if (i == current_record) moved_current = j;
            continue;
        }
        if (i == current_record) moved_current = j;
        PackRecord& theirs = merged.records[j];
        for (int k = 0; k < RECORD_VIEWED_BYTES; k++) theirs.viewed[k] |= ours.viewed[k];
        const int count = viewer_pack.picture_count;
        if (i == current_record && count > 0) {
            theirs.percent = static_cast<uint8_t>(viewed_count(theirs, count) * 100 / count);
        } else if (ours.percent > theirs.percent) {
            theirs.percent = ours.percent;
        }
    }
    mine = merged;
    current_record = static_cast<int8_t>(moved_current);
}

int state_save() { return save_write_merged(state_merge); }
