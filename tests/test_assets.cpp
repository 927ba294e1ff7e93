// Checks the built-in assets as the runtime will read them: the embedded arrays against the
// files in assets/, the packed fonts and the console tile font. The GIFs are loaded by the
// runtime's own loader in test_bitmap_gif.cpp and the menu JPEG is decoded against libjpeg in
// test_jpeg_decoder.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "support/temp_dir.h"

namespace {

#define EMBEDDED(stem, ext) {#stem ext, asset_##stem, asset_##stem##_size}

TEST(EmbeddedAssets, EveryArrayEqualsItsFile) {
    struct Embedded {
        const char* file;
        const uint8_t* data;
        uint32_t size;
    };
    const Embedded all[] = {
        EMBEDDED(digit_strip, ".gif"), EMBEDDED(auto_button, ".gif"), EMBEDDED(exit_button, ".gif"),
        EMBEDDED(surface_button, ".gif"), EMBEDDED(speed_button, ".gif"), EMBEDDED(title_wordmark, ".gif"),
        EMBEDDED(start_choice, ".gif"), EMBEDDED(select_image_title, ".gif"), EMBEDDED(size_button, ".gif"),
        EMBEDDED(scroll_bar, ".gif"), EMBEDDED(font_sheet, ".gif"), EMBEDDED(menu_background, ".jpg"),
        EMBEDDED(console_font, ".bin"), EMBEDDED(console_char_table, ".bin"), EMBEDDED(console_palette, ".bin"),
        EMBEDDED(console_description, ".bin"), EMBEDDED(font0_bits, ".bin"), EMBEDDED(font0_offsets, ".bin"),
        EMBEDDED(font0_widths, ".bin"), EMBEDDED(font1_bits, ".bin"), EMBEDDED(font1_offsets, ".bin"),
        EMBEDDED(font1_widths, ".bin"), EMBEDDED(font2_bits, ".bin"), EMBEDDED(font2_offsets, ".bin"),
        EMBEDDED(font2_widths, ".bin"), EMBEDDED(font3_bits, ".bin"), EMBEDDED(font3_offsets, ".bin"),
        EMBEDDED(font3_widths, ".bin"), EMBEDDED(font4_bits, ".bin"), EMBEDDED(font4_offsets, ".bin"),
        EMBEDDED(font4_widths, ".bin"),
    };
    for (const Embedded& e : all) {
        std::string bytes = read_file(std::string(EVG_SOURCE_DIR) + "/assets/" + e.file);
        ASSERT_EQ(bytes.size(), e.size) << e.file;
        EXPECT_EQ(0, std::memcmp(bytes.data(), e.data, e.size)) << e.file;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e.data) % 4) << e.file << " is not 4-byte aligned";
    }
}

// ---- Built-in fonts ---------------------------------------------------------------------------

bool covered(int font, int code) {
    if ((code >= 32 && code <= 126) || (code >= 224 && code <= 239) || (code >= 241 && code <= 245) ||
        (code >= 249 && code <= 253))
        return true;
    return font == 4 && (code == 199 || code == 246);
}

TEST(BuiltInFonts, OffsetsFollowWidthsAndEveryCoveredCodeHasInk) {
    for (int f = 0; f < ASSET_FONT_COUNT; ++f) {
        SCOPED_TRACE("font " + std::to_string(f));
        const int h = asset_font_heights[f];
        const uint8_t* bits = asset_font_bits[f];
        uint32_t bit = 0;
        for (int code = 0; code < 256; ++code) {
            int w = static_cast<int8_t>(asset_font_widths[f][code]);
            EXPECT_EQ(2 * bit, asset_u32(asset_font_offsets[f], code)) << "code " << code;
            if (!covered(f, code)) {
                EXPECT_EQ(0, w) << "code " << code;
                continue;
            }
            EXPECT_GT(w, 0) << "code " << code;
            bool ink = false;
            for (int i = 0; i < w * h; ++i, ++bit) {
                ASSERT_LT(bit / 8, *asset_font_bits_size[f]);
                ink |= (bits[bit / 8] >> (bit % 8)) & 1;
            }
            EXPECT_EQ(code != ' ', ink) << "code " << code;
        }
        EXPECT_EQ((bit + 7) / 8, *asset_font_bits_size[f]);
        EXPECT_EQ(256u * 4, asset_font0_offsets_size);
        EXPECT_EQ(256u, asset_font0_widths_size);
    }
}

// ---- Console tile font ------------------------------------------------------------------------

TEST(ConsoleFont, TilesTableAndDescription) {
    ASSERT_EQ(87u * 37, asset_console_font_size);
    for (int t = 0; t < 87; ++t) {
        const uint8_t* tile = asset_console_font + t * 37;
        EXPECT_EQ(0, tile[0]) << "tile " << t << " must not be opaque";
        int ink = 0;
        for (int k = 1; k < 37; ++k) {
            EXPECT_LE(tile[k], 1) << "tile " << t;
            ink += tile[k];
        }
        EXPECT_EQ(t != 0, ink > 0) << "tile " << t;
    }
    ASSERT_EQ(128u * 4, asset_console_char_table_size);
    std::vector<int> uses(87, 0);
    for (int code = 0; code < 128; ++code) {
        uint32_t cell = asset_u32(asset_console_char_table, code);
        if (code <= 32 || code == 127) {
            EXPECT_EQ(0u, cell) << "code " << code;
            continue;
        }
        EXPECT_EQ(0u, cell & ~(0xFFFu | 1u << 25 | 1u << 26)) << "code " << code;
        uint32_t tile = cell & 0xFFF;
        ASSERT_GE(tile, 1u) << "code " << code;
        ASSERT_LE(tile, 86u) << "code " << code;
        ++uses[tile];
    }
    for (int t = 1; t < 87; ++t) EXPECT_GT(uses[t], 0) << "tile " << t << " is never used";
    // Upper and lower case have their own glyphs; letters are drawn unmirrored.
    EXPECT_NE(asset_u32(asset_console_char_table, 'a'), asset_u32(asset_console_char_table, 'A'));
    EXPECT_EQ(0u, asset_u32(asset_console_char_table, 'E') >> 25);

    ASSERT_EQ(32u, asset_console_palette_size);
    EXPECT_EQ(0xF81F, asset_u16(asset_console_palette, 0));
    EXPECT_EQ(0xFFFF, asset_u16(asset_console_palette, 1));
    ASSERT_EQ(24u, asset_console_description_size);
    const uint32_t description[6] = {1, 1, 192, 54, 6, 6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(description[i], asset_u32(asset_console_description, i)) << i;
}

}  // namespace
