// Viewing progress: record lookup and claiming, the percentage, the viewed bits, and the state
// file (its layout, damaged files, which are untrusted input, and merged saves).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <vector>

#include "pack/pack_file.h"
#include "app/viewer_pack.h"
#include "app/progress.h"
#include "runtime/save_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/check.h"

namespace {

void reset_state() {
    std::memset(&state_block, 0, sizeof state_block);
    current_record = -1;
    viewed_percent = 0;
    pack_close(&viewer_pack);
}

// Loads `bytes` as Evergreen.sav from a scratch folder.
void load_state_file(const TempDir& dir, const std::string& bytes) {
    ASSERT_TRUE(write_file(dir.file("Evergreen.sav"), bytes));
    ASSERT_EQ(1, set_data_folder(dir.path.c_str()));
    state_load();
    set_data_folder("");
}

}  // namespace

TEST(ProgressRecord, FindReusesAndClaimsInOrder) {
    reset_state();
    EXPECT_EQ(0, record_find_or_add("a.evg"));
    EXPECT_EQ(1, record_find_or_add("b.evg"));
    EXPECT_EQ(0, record_find_or_add("a.evg"));
    EXPECT_EQ(2, record_find_or_add("A.evg"));  // case matters
    // Claiming clears percent, the reserved word and the viewed bits, not the last 20 bytes.
    PackRecord& r = state_block.records[3];
    std::memset(&r, 0x5A, sizeof r);
    r.name[0] = '\0';
    EXPECT_EQ(3, record_find_or_add("c.evg"));
    EXPECT_STREQ(r.name, "c.evg");
    EXPECT_EQ(vals(r.percent, r.reserved), vals(0, 0u));
    for (uint8_t b : r.viewed) ASSERT_EQ(b, 0);
    EXPECT_EQ(vals(r.reserved_end[0], r.reserved_end[19]), vals(0x5A, 0x5A));
    EXPECT_EQ(r.name[6], 0x5A);  // bytes after the terminator are left as they were
}

TEST(ProgressRecord, SixtyFifthNameTakesTheRecordOfAPackNoLongerThere) {
    TempDir dir;
    reset_state();
    ASSERT_EQ(1, set_data_folder(dir.path.c_str()));
    char name[16];
    for (int i = 0; i < 64; i++) {
        std::snprintf(name, sizeof name, "p%02d.evg", i);
        ASSERT_TRUE(write_file(dir.file(name), "pack"));
        ASSERT_EQ(i, record_find_or_add(name));
    }
    EXPECT_EQ(-1, record_find_or_add("new.evg"));  // all 64 packs are still in the folder
    EXPECT_EQ(17, record_find_or_add("p17.evg"));
    state_block.records[30].percent = 77;
    std::filesystem::remove(dir.file("p30.evg"));
    EXPECT_EQ(30, record_find_or_add("new.evg"));
    EXPECT_STREQ(state_block.records[30].name, "new.evg");
    EXPECT_EQ(state_block.records[30].percent, 0);
    set_data_folder("");
    // A name that does not fit the field with its terminator gets none.
    reset_state();
    std::string long_name(RECORD_NAME_SIZE, 'x');
    EXPECT_EQ(-1, record_find_or_add(long_name.c_str()));
    EXPECT_EQ(0, record_find_or_add(long_name.substr(0, 511).c_str()));
}

TEST(ProgressRecord, NamesEqualIsBoundedByTheField) {
    EXPECT_EQ(vals(names_equal("abc", "abc"), names_equal("abc", "abcd"), names_equal("abc", "abC"), names_equal("", "")),
              vals(1, 0, 0, 1));
    // Two fields full of 0xFF (no terminator): compared over exactly 512 bytes. ASan catches a
    // read past them since they are separate heap blocks of exactly that size.
    std::vector<char> a(RECORD_NAME_SIZE, '\xFF'), b = a;
    EXPECT_EQ(1, names_equal(a.data(), b.data()));
    b[RECORD_NAME_SIZE - 1] = 0x7F;
    EXPECT_EQ(0, names_equal(a.data(), b.data()));
}

// Percentages round down (33, 66, 100 are shown by the card digit test); the viewed bits are
// little-endian within each byte.
TEST(PictureShow, PercentagesAndViewedBits) {
    reset_state();
    current_record = 0;
    viewer_pack.picture_count = 250;
    for (int n = 0; n < 249; n++) picture_show(static_cast<uint16_t>(n));
    picture_show(7);  // seen again: counts once
    EXPECT_EQ(viewed_percent, 99);
    picture_show(249);
    EXPECT_EQ(viewed_percent, 100);

    reset_state();
    current_record = 5;
    viewer_pack.picture_count = 20;
    picture_show(9);
    EXPECT_EQ(vals(state_block.records[5].viewed[1], state_block.records[5].viewed[0]), vals(0x02, 0x00));
    // A picture that cannot be read is shown black.
    for (uint16_t p : picture_buffer) ASSERT_EQ(p, 0);
}

TEST(PictureShow, HighPicturesAndMissingRecordsLeaveTheBlockAlone) {
    reset_state();
    current_record = 2;
    viewer_pack.picture_count = 6;
    StateBlock before = state_block;
    picture_show(6);  // a table entry naming no picture
    viewer_pack.picture_count = 3000;
    picture_show(2048);
    picture_show(2999);
    picture_show(65535);
    EXPECT_EQ(viewed_percent, 0);
    before.records[2].percent = 0;
    EXPECT_EQ(0, std::memcmp(&before, &state_block, sizeof before));
    picture_show(2047);
    EXPECT_EQ(state_block.records[2].viewed[255], 0x80);
    EXPECT_EQ(state_block.records[2].percent, 0);  // 1 x 100 / 3000

    // No record: the views count for the display only.
    reset_state();
    current_record = -1;
    viewer_pack.picture_count = 4;
    picture_show(0);
    picture_show(1);
    EXPECT_EQ(viewed_percent, 50);
    StateBlock empty = {};
    EXPECT_EQ(0, std::memcmp(&empty, &state_block, sizeof empty));
    // A record number out of range is treated the same way.
    current_record = 64;
    picture_show(0);
    EXPECT_EQ(viewed_percent, 25);
    EXPECT_EQ(0, std::memcmp(&empty, &state_block, sizeof empty));
    // No pack: no division by zero.
    viewer_pack.picture_count = 0;
    picture_show(0);
    EXPECT_EQ(viewed_percent, 0);
}

TEST(StateFile, DamagedFilesLoadWithinTheBlock) {
    TempDir dir;
    std::string full(50944, '\0');
    std::memcpy(&full[0], "one.evg", 8);
    full[768] = 40;
    std::memcpy(&full[796], "two.evg", 8);

    load_state_file(dir, "");
    EXPECT_EQ(state_block.records[0].name[0], 0);

    load_state_file(dir, full.substr(0, 50943));  // short: fills the start only
    EXPECT_EQ(std::string(state_block.records[0].name, 8), std::string("one.evg", 8));
    EXPECT_EQ(state_block.records[0].percent, 40);

    std::string longer = full + "X";  // long: the extra bytes are ignored
    longer[50943] = 0x11;
    load_state_file(dir, longer);
    EXPECT_EQ(state_block.records[63].reserved_end[19], 0x11);
    load_state_file(dir, full + std::string(1 << 20, '\xEE'));
    EXPECT_EQ(state_block.records[63].reserved_end[19], 0);
    EXPECT_EQ(1, record_find_or_add("two.evg"));

    // All 0xFF: no name is terminated, so no record holds a real name and each one is free.
    load_state_file(dir, std::string(50944, '\xFF'));
    EXPECT_EQ(0, record_find_or_add("one.evg"));
    current_record = 0;
    viewer_pack.picture_count = 8;
    picture_show(0);
    EXPECT_EQ(viewed_percent, 12);
    // A '/' in a name: damaged, free; any other name a file can have (control bytes too) is kept.
    std::string odd = full;
    odd[2] = '\n';
    odd[796 + 1] = '/';
    std::memcpy(&odd[2 * 796], "caf\xC3\xA9.evg", 10);
    load_state_file(dir, odd);
    EXPECT_EQ(1, record_find_or_add("x.evg"));
    EXPECT_EQ(3, record_find_or_add("y.evg"));
    EXPECT_EQ(0, record_find_or_add("on\n.evg"));

    // All zeros: every record free.
    load_state_file(dir, std::string(50944, '\0'));
    EXPECT_EQ(0, record_find_or_add("one.evg"));

    // A stored percent above 100 is taken as it is until the pack is viewed again.
    std::string high = full;
    high[768] = static_cast<char>(250);
    load_state_file(dir, high);
    EXPECT_EQ(state_block.records[0].percent, 250);
    current_record = 0;
    viewer_pack.picture_count = 4;
    picture_show(0);
    EXPECT_EQ(viewed_percent, 25);

    // The same name in two records: the first one is used.
    std::string twice = full;
    std::memcpy(&twice[796], "one.evg", 8);
    load_state_file(dir, twice);
    EXPECT_EQ(0, record_find_or_add("one.evg"));
    EXPECT_EQ(2, record_find_or_add("three.evg"));
    reset_state();
}

// Two viewers on one folder: each save joins the viewed bits of the other's under a lock (for
// any name a file can have, here one with a tab).
TEST(StateFile, SavesMergeWithWhatAnotherViewerSaved) {
    TempDir dir;
    reset_state();
    ASSERT_EQ(1, set_data_folder(dir.path.c_str()));
    ASSERT_TRUE(write_file(dir.file("a\tb.evg"), "pack"));
    ASSERT_TRUE(write_file(dir.file("b.evg"), "pack"));
    state_load();
    StateBlock loaded = state_block;  // what a second viewer started with
    // Viewer A: pictures 0 and 1 of a.evg (3 pictures), then exits.
    current_record = static_cast<int8_t>(record_find_or_add("a\tb.evg"));
    viewer_pack.picture_count = 3;
    picture_show(0);
    picture_show(1);
    ASSERT_EQ(1, state_save());
    const StateBlock viewer_a = state_block;  // a.evg at 66%
    // Viewer B, started before A saved: lists b.evg first, views picture 2 of a.evg.
    state_block = loaded;
    record_find_or_add("b.evg");
    current_record = static_cast<int8_t>(record_find_or_add("a\tb.evg"));
    picture_show(2);
    ASSERT_EQ(1, state_save());
    state_load();
    const PackRecord& a = state_block.records[record_find_or_add("a\tb.evg")];
    EXPECT_EQ(vals(a.viewed[0], a.percent), vals(0x07, 100));
    EXPECT_EQ(record_find_or_add("b.evg"), 1);
    EXPECT_EQ(file_length(dir.file("Evergreen.sav")), 50944);
    // A third viewer with A's copy, viewing b.evg: a.evg keeps the file's bits and its 100%.
    state_block = viewer_a;
    current_record = static_cast<int8_t>(record_find_or_add("b.evg"));
    viewer_pack.picture_count = 2;
    picture_show(0);
    ASSERT_EQ(1, state_save());
    state_load();
    set_data_folder("");
    EXPECT_EQ(state_block.records[record_find_or_add("a\tb.evg")].percent, 100);
    EXPECT_EQ(state_block.records[record_find_or_add("b.evg")].percent, 50);
    reset_state();
}

// Viewed bits past the pack's last picture (left by a larger pack of the same name) do not count.
TEST(PictureShow, BitsPastTheLastPictureDoNotCount) {
    PackRecord record{};
    record.viewed[0] = 0x1F;  // pictures 0..4
    EXPECT_EQ(viewed_count(record, 4), 4);
}
