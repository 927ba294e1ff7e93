// Checks the built-in assets as the runtime will read them: the embedded arrays against the
// files in assets/, the GIF structure through giflib, the menu JPEG's byte layout, the packed
// fonts and the console tile font.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "assets/assets.h"
#include "support/temp_dir.h"

namespace {

struct Embedded {
    const char* file;
    const uint8_t* data;
    uint32_t size;
};

const std::vector<Embedded>& embedded() {
    static const std::vector<Embedded> all = {
        {"digit_strip.gif", asset_digit_strip, asset_digit_strip_size},
        {"auto_button.gif", asset_auto_button, asset_auto_button_size},
        {"exit_button.gif", asset_exit_button, asset_exit_button_size},
        {"surface_button.gif", asset_surface_button, asset_surface_button_size},
        {"speed_button.gif", asset_speed_button, asset_speed_button_size},
        {"title_wordmark.gif", asset_title_wordmark, asset_title_wordmark_size},
        {"start_choice.gif", asset_start_choice, asset_start_choice_size},
        {"select_image_title.gif", asset_select_image_title, asset_select_image_title_size},
        {"size_button.gif", asset_size_button, asset_size_button_size},
        {"scroll_bar.gif", asset_scroll_bar, asset_scroll_bar_size},
        {"font_sheet.gif", asset_font_sheet, asset_font_sheet_size},
        {"menu_background.jpg", asset_menu_background, asset_menu_background_size},
        {"console_font.bin", asset_console_font, asset_console_font_size},
        {"console_char_table.bin", asset_console_char_table, asset_console_char_table_size},
        {"console_palette.bin", asset_console_palette, asset_console_palette_size},
        {"console_description.bin", asset_console_description, asset_console_description_size},
        {"font0_bits.bin", asset_font0_bits, asset_font0_bits_size},
        {"font0_offsets.bin", asset_font0_offsets, asset_font0_offsets_size},
        {"font0_widths.bin", asset_font0_widths, asset_font0_widths_size},
        {"font1_bits.bin", asset_font1_bits, asset_font1_bits_size},
        {"font1_offsets.bin", asset_font1_offsets, asset_font1_offsets_size},
        {"font1_widths.bin", asset_font1_widths, asset_font1_widths_size},
        {"font2_bits.bin", asset_font2_bits, asset_font2_bits_size},
        {"font2_offsets.bin", asset_font2_offsets, asset_font2_offsets_size},
        {"font2_widths.bin", asset_font2_widths, asset_font2_widths_size},
        {"font3_bits.bin", asset_font3_bits, asset_font3_bits_size},
        {"font3_offsets.bin", asset_font3_offsets, asset_font3_offsets_size},
        {"font3_widths.bin", asset_font3_widths, asset_font3_widths_size},
        {"font4_bits.bin", asset_font4_bits, asset_font4_bits_size},
        {"font4_offsets.bin", asset_font4_offsets, asset_font4_offsets_size},
        {"font4_widths.bin", asset_font4_widths, asset_font4_widths_size},
    };
    return all;
}

TEST(EmbeddedAssets, EveryArrayEqualsItsFile) {
    for (const Embedded& e : embedded()) {
        std::string bytes = read_file(std::string(EVG_SOURCE_DIR) + "/assets/" + e.file);
        ASSERT_EQ(bytes.size(), e.size) << e.file;
        EXPECT_EQ(0, std::memcmp(bytes.data(), e.data, e.size)) << e.file;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e.data) % 4) << e.file << " is not 4-byte aligned";
    }
}

// ---- GIFs -------------------------------------------------------------------------------------

struct GifExpectation {
    const uint8_t* data;
    uint32_t size;
    int width, height, frame_height;
    int key_index;  // -1: no palette entry may be the key colour
};

const GifExpectation GIFS[] = {
    {asset_digit_strip, asset_digit_strip_size, 13, 176, 16, -1},
    {asset_auto_button, asset_auto_button_size, 56, 48, 24, -1},
    {asset_exit_button, asset_exit_button_size, 56, 24, 24, -1},
    {asset_surface_button, asset_surface_button_size, 56, 24, 24, -1},
    {asset_speed_button, asset_speed_button_size, 56, 72, 24, -1},
    {asset_title_wordmark, asset_title_wordmark_size, 99, 25, 25, 176},
    {asset_start_choice, asset_start_choice_size, 129, 61, 61, 79},
    {asset_select_image_title, asset_select_image_title_size, 132, 24, 24, 172},
    {asset_size_button, asset_size_button_size, 56, 120, 24, -1},
    {asset_scroll_bar, asset_scroll_bar_size, 56, 48, 24, -1},
    {asset_font_sheet, asset_font_sheet_size, 256, 64, 64, 0},
};
const int GIF_FRAMES[] = {11, 2, 1, 1, 3, 1, 1, 1, 5, 2, 1};

struct MemoryReader {
    const uint8_t* data;
    uint32_t size, pos;
};

int read_memory(GifFileType* gif, GifByteType* buffer, int count) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(count), r->size - r->pos);
    std::memcpy(buffer, r->data + r->pos, n);
    r->pos += n;
    return static_cast<int>(n);
}

uint16_t rgb565(GifColorType c) {
    return static_cast<uint16_t>((c.Red >> 3) << 11 | (c.Green >> 2) << 5 | (c.Blue >> 3));
}

// The whole GIF read back with giflib; null on any error.
struct SlurpedGif {
    MemoryReader reader;
    GifFileType* gif = nullptr;
    explicit SlurpedGif(const uint8_t* data, uint32_t size) : reader{data, size, 0} {
        int error = 0;
        gif = DGifOpen(&reader, read_memory, &error);
        if (gif && DGifSlurp(gif) != GIF_OK) {
            DGifCloseFile(gif, &error);
            gif = nullptr;
        }
    }
    ~SlurpedGif() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

TEST(InterfaceGifs, StructureSizesFramesAndPalette) {
    for (size_t i = 0; i < sizeof(GIFS) / sizeof(GIFS[0]); ++i) {
        const GifExpectation& e = GIFS[i];
        SCOPED_TRACE("gif " + std::to_string(i));
        ASSERT_EQ(0, std::memcmp(e.data, "GIF89a", 6));
        // Logical screen size, little-endian at bytes 6 and 8: what the runtime's loaders read.
        EXPECT_EQ(e.width, e.data[6] | e.data[7] << 8);
        EXPECT_EQ(e.height, e.data[8] | e.data[9] << 8);
        SlurpedGif g(e.data, e.size);
        ASSERT_NE(nullptr, g.gif);
        EXPECT_EQ(e.width, g.gif->SWidth);
        EXPECT_EQ(e.height, g.gif->SHeight);
        EXPECT_EQ(0, e.height % e.frame_height);
        EXPECT_EQ(GIF_FRAMES[i], e.height / e.frame_height);
        ASSERT_NE(nullptr, g.gif->SColorMap);
        EXPECT_EQ(256, g.gif->SColorMap->ColorCount);
        ASSERT_EQ(1, g.gif->ImageCount);
        const SavedImage& im = g.gif->SavedImages[0];
        EXPECT_EQ(0, im.ImageDesc.Left);
        EXPECT_EQ(0, im.ImageDesc.Top);
        EXPECT_EQ(e.width, im.ImageDesc.Width);
        EXPECT_EQ(e.height, im.ImageDesc.Height);
        EXPECT_FALSE(im.ImageDesc.Interlace);
        EXPECT_EQ(nullptr, im.ImageDesc.ColorMap);

        // Exactly one Graphic Control Extension: delay 0, no transparent index.
        int controls = 0;
        for (int k = 0; k < im.ExtensionBlockCount; ++k) {
            if (im.ExtensionBlocks[k].Function != GRAPHICS_EXT_FUNC_CODE) continue;
            ++controls;
            GraphicsControlBlock gcb;
            ASSERT_EQ(GIF_OK, DGifExtensionToGCB(im.ExtensionBlocks[k].ByteCount, im.ExtensionBlocks[k].Bytes, &gcb));
            EXPECT_EQ(0, gcb.DelayTime);
            EXPECT_EQ(NO_TRANSPARENT_COLOR, gcb.TransparentColor);
        }
        EXPECT_EQ(1, controls);

        // The key colour sits at its index and nowhere else in the palette; pixels use it only
        // in keyed graphics.
        for (int k = 0; k < 256; ++k)
            EXPECT_EQ(k == e.key_index, rgb565(g.gif->SColorMap->Colors[k]) == 0xF81F) << "palette entry " << k;
        bool key_used = false;
        for (int p = 0; p < e.width * e.height; ++p) key_used |= im.RasterBits[p] == e.key_index;
        EXPECT_EQ(e.key_index >= 0, key_used);
    }
}

TEST(InterfaceGifs, FontSheetCellsGiveTheLoaderItsWidths) {
    SlurpedGif g(asset_font_sheet, asset_font_sheet_size);
    ASSERT_NE(nullptr, g.gif);
    const uint8_t* px = g.gif->SavedImages[0].RasterBits;
    auto wanted = [](int c) { return (c >= 33 && c <= 63) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122); };
    int lowest_ink_row = -1;
    for (int code = 0; code < 256; ++code) {
        int cx = code % 32 * 8, cy = code / 32 * 8, width = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                uint8_t v = px[(cy + y) * 256 + cx + x];
                if (v == 0) continue;
                EXPECT_EQ(0x0000, rgb565(g.gif->SColorMap->Colors[v])) << "glyphs are black";
                width = std::max(width, x + 1);
                lowest_ink_row = std::max(lowest_ink_row, y);
            }
        if (!wanted(code)) {
            EXPECT_EQ(0, width) << "cell " << code << " should be empty";
            continue;
        }
        EXPECT_GE(width, 1) << code;
        EXPECT_LE(width, 6) << code;  // the 6-column face: widths 1 to 6, columns 6 and 7 empty
    }
    EXPECT_EQ(7, lowest_ink_row);  // the loader finds height 8
    // The loader's width of a cell is 1 + its rightmost ink column.
    auto width_of = [&](int code) {
        int w = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (px[(code / 32 * 8 + y) * 256 + code % 32 * 8 + x]) w = std::max(w, x + 1);
        return w;
    };
    EXPECT_EQ(1, width_of('!'));  // space takes this width
    EXPECT_EQ(5, width_of('A'));
}

// ---- Menu background JPEG --------------------------------------------------------------------

TEST(MenuBackground, ByteLayoutForTheFixedOffsetReader) {
    const uint8_t* d = asset_menu_background;
    uint32_t n = asset_menu_background_size;
    ASSERT_GT(n, 100u);
    EXPECT_EQ(0xFF, d[0]);
    EXPECT_EQ(0xD8, d[1]);
    // JFIF APP0 with a 16-byte segment, then the baseline frame header at byte 20.
    EXPECT_EQ(0xFF, d[2]);
    EXPECT_EQ(0xE0, d[3]);
    EXPECT_EQ(16, d[4] << 8 | d[5]);
    EXPECT_EQ(0, std::memcmp(d + 6, "JFIF", 5));
    EXPECT_EQ(0xFF, d[20]);
    EXPECT_EQ(0xC0, d[21]);
    EXPECT_EQ(8, d[24]);
    EXPECT_EQ(320, static_cast<int16_t>(d[25] << 8 | d[26]));
    EXPECT_EQ(240, static_cast<int16_t>(d[27] << 8 | d[28]));
    ASSERT_EQ(3, d[29]);
    // Components: id, sampling (H << 4 | V), table. Y 2 x 1, chroma 1 x 1.
    EXPECT_EQ(1, d[30]);
    EXPECT_EQ(0x21, d[31]);
    EXPECT_EQ(2, d[33]);
    EXPECT_EQ(0x11, d[34]);
    EXPECT_EQ(3, d[36]);
    EXPECT_EQ(0x11, d[37]);

    // Walk the segments: Huffman tables two DC and two AC, no restart interval.
    int dc = 0, ac = 0, restart_segments = 0;
    uint32_t pos = 2, scan = 0;
    while (pos + 4 <= n) {
        ASSERT_EQ(0xFF, d[pos]) << "segment at " << pos;
        uint8_t marker = d[pos + 1];
        uint32_t length = d[pos + 2] << 8 | d[pos + 3];
        if (marker == 0xDA) {
            scan = pos + 2 + length;
            break;
        }
        if (marker == 0xDD) ++restart_segments;
        if (marker == 0xC4) {
            for (uint32_t p = pos + 4; p < pos + 2 + length;) {
                uint8_t class_id = d[p];
                (class_id >> 4 ? ac : dc) += 1;
                EXPECT_LE(class_id & 15, 1);
                uint32_t symbols = 0;
                for (int k = 1; k <= 16; ++k) symbols += d[p + k];
                p += 17 + symbols;
            }
        }
        pos += 2 + length;
    }
    ASSERT_GT(scan, 0u);
    EXPECT_EQ(2, dc);
    EXPECT_EQ(2, ac);
    EXPECT_EQ(0, restart_segments);
    // Entropy-coded data: only stuffed 0xFF 0x00 pairs until the end-of-image marker.
    for (uint32_t p = scan; p + 1 < n - 2; ++p)
        if (d[p] == 0xFF) {
            EXPECT_EQ(0x00, d[p + 1]) << "marker inside the scan at " << p;
            ++p;
        }
    EXPECT_EQ(0xFF, d[n - 2]);
    EXPECT_EQ(0xD9, d[n - 1]);
}

TEST(MenuBackground, DecodesAndNoSymbolNeedsMoreThan25Bits) {
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, asset_menu_background, asset_menu_background_size);
    ASSERT_EQ(JPEG_HEADER_OK, jpeg_read_header(&info, TRUE));
    EXPECT_FALSE(info.progressive_mode);
    EXPECT_EQ(240u, info.image_width);
    EXPECT_EQ(320u, info.image_height);
    // AC values below 512 take at most 9 extra bits, so a 16-bit code and its value fit the 25
    // bits a small decoder's window holds before each symbol.
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&info);
    int largest = 0;
    for (int c = 0; c < info.num_components; ++c)
        for (JDIMENSION by = 0; by < info.comp_info[c].height_in_blocks; ++by) {
            JBLOCKARRAY row = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info), coefficients[c], by, 1, FALSE);
            for (JDIMENSION bx = 0; bx < info.comp_info[c].width_in_blocks; ++bx)
                for (int k = 1; k < 64; ++k) largest = std::max(largest, std::abs(static_cast<int>(row[0][bx][k])));
        }
    EXPECT_LT(largest, 512);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
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
