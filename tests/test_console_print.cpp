#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/console_print.h"
#include "render/console.h"
#include "tests/support/check.h"

namespace {

// Stand-in character table: a printable code's cell is the code itself, codes below 33 blank.
uint32_t table[128];

class ConsolePrint : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t c = 0; c < 128; ++c) table[c] = c < 33 ? 0 : c;
        console_layer = 0, console_columns = 40, console_rows = 53, console_colour = 0;
        console_char_table = table, console_char_count = 128;
        std::memset(console_cells, 0xAB, sizeof console_cells);  // untouched cells stand out
    }
    void TearDown() override { console_layer = -1; }
    // Row r from column c: the character, '_' for a blank cell, '?' for an untouched one.
    static std::string row(int r, int c, int n) {
        std::string s;
        for (int k = 0; k < n; ++k) {
            uint32_t cell = console_cells[r * 40 + c + k];
            s += cell == 0xABABABABu ? '?' : (cell & 0xFFFFFF) ? char(cell & 0xFF) : '_';
        }
        return s;
    }
};

TEST_F(ConsolePrint, Conversions) {
    console_print(0, 0, "%d %d ", 40, 0);  // zero has no sign
    EXPECT_EQ(row(0, 0, 6), "40_0_?");
    console_print(0, 1, "%02d|%02d|%03d|%02d", 7, 123, -5, 0);  // pad count ignores the sign
    EXPECT_EQ(row(1, 0, 15), "07|123|00-5|00?");
    console_print(0, 2, "%x.%x.%x", 255u, 0u, 0xDEADBEEFu);  // 0 prints nothing
    EXPECT_EQ(row(2, 0, 13), "FF..DEADBEEF?");
    console_print(0, 3, "%f2|%f |%f0x|%f1|%f:", 2.25, -3.75, 1.5, 0.0, 1.5);  // the character after %f is eaten
    EXPECT_EQ(row(3, 0, 20), "2.25|-3.|1.x|0.0|1.?");
    console_print(3, 4, "%d %s=%q%", -2147483647 - 1, "ab");
    EXPECT_EQ(row(4, 3, 19), "-2147483648_ab=%q%?");
}

TEST_F(ConsolePrint, ColourIsPerCallAndTheFormatEndIsRespected) {
    console_print(0, 0, "a%c2b%c5c");
    EXPECT_EQ(vals(console_cells[0] >> 27, console_cells[1] >> 27, console_cells[2] >> 27, console_colour),
              vals(0u, 2u, 5u, 0));
    console_print(0, 1, "x%c");  // ends right after "%c": nothing read beyond the terminator
    EXPECT_EQ(row(1, 0, 2), "x?");
}

TEST_F(ConsolePrint, LineFeedsAndBounds) {
    console_print(2, 5, "an\ncd/nef");  // an 'n' without '/' is a letter
    EXPECT_EQ(row(5, 2, 3) + row(6, 2, 3) + row(7, 2, 3), "an?cd?ef?");
    // 45 characters run into the next row; the line feed then skips that row too.
    console_print(0, 10, "%s\nq", std::string(45, 'z').c_str());
    EXPECT_EQ(row(11, 0, 6) + row(12, 0, 2), "zzzzz?q?");
    console_print(38, 52, "abcdef");  // the last cells are written, nothing past them
    EXPECT_EQ(row(52, 38, 2), "ab");
    EXPECT_EQ(console_cells[53 * 40], 0xABABABABu);
    console_char_count = 100;  // a code beyond the table prints a blank cell
    console_print(0, 20, "cd\xC3x");
    EXPECT_EQ(row(20, 0, 5), "c___?");
    console_layer = -1;
    console_print(0, 30, "%d", 5);
    EXPECT_EQ(row(30, 0, 1), "?");
}

}  // namespace
