// The embedded asset arrays against the files in assets/. Their contents are checked where the
// runtime reads them: fonts in test_fonts.cpp, the console font in test_layers.cpp, the GIFs in
// test_bitmap_gif.cpp, the menu JPEG by the card tests and the whole-program tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/assets.h"
#include "support/temp_dir.h"

namespace {

#define EMBEDDED(stem, ext) {#stem ext, asset_##stem, asset_##stem##_size}

TEST(EmbeddedAssets, EveryArrayEqualsItsFile) {
    const struct Embedded { const char* file; const uint8_t* data; uint32_t size; } all[] = {
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
        EXPECT_TRUE(read_file(std::string(EVG_SOURCE_DIR) + "/assets/" + e.file) == std::string(e.data, e.data + e.size)) << e.file;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e.data) % 4) << e.file << " is not 4-byte aligned";
    }
}

}  // namespace
