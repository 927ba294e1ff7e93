#include <gtest/gtest.h>

#include <cstring>

#include "media/console_print.h"
#include "render/console.h"

namespace {

// A stand-in character table: the cell for a printable code is the code itself, so a test can
// read the characters back; codes below 33 are blank as in the real table.
constexpr uint32_t kTableSize = 128;
uint32_t table[kTableSize];

class ConsolePrint : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t c = 0; c < kTableSize; ++c) table[c] = c < 33 ? 0 : c;
        saved_ = {console_layer, console_columns, console_rows, console_char_table,
                  console_char_count};
        console_layer = 0;
        console_columns = 40;
        console_rows = 53;
        console_char_table = table;
        console_char_count = kTableSize;
        console_colour = 0;
        std::memset(console_cells, 0xAB, sizeof console_cells);  // untouched cells stand out
    }
    void TearDown() override {
        console_layer = saved_.layer;
        console_columns = saved_.columns;
        console_rows = saved_.rows;
        console_char_table = saved_.table;
        console_char_count = saved_.count;
    }
    // The characters of row r from column c on (code 0 for a blank cell, '?' for untouched).
    static std::string row_text(int r, int c, int n) {
        std::string s;
        for (int k = 0; k < n; ++k) {
            uint32_t cell = console_cells[r * 40 + c + k];
            s += cell == 0xABABABABu ? '?' : (cell & 0xFFFFFF) ? char(cell & 0xFF) : '_';
        }
        return s;
    }
    struct Saved {
        int8_t layer;
        uint16_t columns, rows;
        const uint32_t* table;
        uint32_t count;
    } saved_;
};

TEST_F(ConsolePrint, IntegersPaddingHexAndFloat) {
    console_print(0, 0, "%d  ", 40);
    EXPECT_EQ(row_text(0, 0, 5), "40__?");  // two blanks, nothing beyond
    console_print(0, 1, "%02d|%02d|%03d", 7, 123, -5);
    EXPECT_EQ(row_text(1, 0, 12), "07|123|00-5?");
    console_print(0, 2, "%x.%x.%x", 255u, 0u, 0xDEADBEEFu);
    EXPECT_EQ(row_text(2, 0, 13), "FF..DEADBEEF?");  // 0 prints nothing
    console_print(0, 3, "%f2|%f |%f0x", 2.25, -3.75, 1.5);
    // "%f " consumes the space; "%f0" prints no decimals and consumes the '0'.
    EXPECT_EQ(row_text(3, 0, 13), "2.25|-3.|1.x?");
    console_print(0, 4, "%d %d", -2147483647 - 1, 0);
    EXPECT_EQ(row_text(4, 0, 14), "-2147483648_0?");
}

TEST_F(ConsolePrint, StringsPercentAndColour) {
    console_print(3, 0, "%s=%q%", "ab");
    EXPECT_EQ(row_text(0, 0, 9), "???ab=%q%");
    console_print(0, 1, "a%c2b%c5c");
    EXPECT_EQ(console_cells[40 + 0] >> 27, 0u);
    EXPECT_EQ(console_cells[40 + 1] >> 27, 2u);
    EXPECT_EQ(console_cells[40 + 2] >> 27, 5u);
    EXPECT_EQ(row_text(1, 0, 4), "abc?");
    EXPECT_EQ(console_colour, 0);  // restored after the call
    console_print(0, 2, "x%c");    // ends right after "%c": stops, reads nothing beyond
    EXPECT_EQ(row_text(2, 0, 2), "x?");
}

TEST_F(ConsolePrint, LineFeedsAndBounds) {
    console_print(2, 5, "ab\ncd/nef");
    EXPECT_EQ(row_text(5, 2, 3), "ab?");
    EXPECT_EQ(row_text(6, 2, 3), "cd?");
    EXPECT_EQ(row_text(7, 2, 3), "ef?");
    // A line of 45 characters runs into the next row; the line feed then skips that row too.
    std::string long_line(45, 'z');
    console_print(0, 10, "%s\nq", long_line.c_str());
    EXPECT_EQ(row_text(11, 0, 6), "zzzzz?");
    EXPECT_EQ(row_text(12, 0, 2), "q?");
    // The last row is written, anything past it is dropped.
    console_print(38, 52, "abcdef");
    EXPECT_EQ(row_text(52, 38, 2), "ab");
    EXPECT_EQ(console_cells[53 * 40], 0xABABABABu);
    // Codes outside the character table print blank cells.
    console_print(0, 20, "\xC3x");
    EXPECT_EQ(row_text(20, 0, 3), "_x?");
}

TEST_F(ConsolePrint, NothingWithoutConsole) {
    console_layer = -1;
    console_print(0, 0, "%d", 5);
    EXPECT_EQ(console_cells[0], 0xABABABABu);
}

}  // namespace
