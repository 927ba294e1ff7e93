// asset_gen: writes every built-in asset of the runtime into a folder (assets/ of the source
// tree), and with --preview also a PNG contact sheet of what it wrote.
//   asset_gen OUT_DIR [--preview SHEET.png]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asset_list.h"
#include "designs.h"
#include "font_tables.h"
#include "gif_writer.h"
#include "jpeg_writer.h"
#include "preview.h"
#include "render/colour_key.h"

namespace {

std::string out_dir;

void write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = out_dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "asset_gen: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

Image draw_gif_asset(int i) {
    switch (i) {
        case 0: return draw_digit_strip();
        case 1: return draw_auto_button();
        case 2: return draw_exit_button();
        case 3: return draw_surface_button();
        case 4: return draw_speed_button();
        case 5: return draw_title_wordmark();
        case 6: return draw_start_choice();
        case 7: return draw_select_image_title();
        case 8: return draw_size_button();
        case 9: return draw_scroll_bar();
        default: return make_font_sheet();
    }
}

// Quality 90 keeps the heading text clean; the loop lowers it only if some AC value would need
// ten extra bits (the runtime decoder's bit window is refilled to at least 25 bits per symbol).
std::vector<uint8_t> menu_background() {
    Image img = draw_menu_background();
    for (int quality = 90; quality >= 50; quality -= 5) {
        std::vector<uint8_t> jpeg = encode_menu_jpeg(img, quality);
        if (largest_ac_coefficient(jpeg) < 512) return jpeg;
    }
    std::fprintf(stderr, "asset_gen: menu background needs AC values of 512 or more\n");
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const char* preview_path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc)
            preview_path = argv[++i];
        else if (out_dir.empty())
            out_dir = argv[i];
        else
            out_dir.clear(), i = argc;
    }
    if (out_dir.empty()) {
        std::fprintf(stderr, "usage: asset_gen OUT_DIR [--preview SHEET.png]\n");
        return 2;
    }

    for (int i = 0; i < 11; ++i) {
        const GifAsset& a = GIF_ASSETS[i];
        Image img = draw_gif_asset(i);
        if (img.width != a.width || img.height != a.height) {
            std::fprintf(stderr, "asset_gen: %s drawn at the wrong size\n", a.file);
            return 1;
        }
        write_file(a.file, encode_gif(reduce_colours(img, a.key_index)));
    }
    write_file(MENU_BACKGROUND_FILE, menu_background());

    ConsoleFont console = make_console_font();
    write_file("console_font.bin", console.tiles);
    write_file("console_char_table.bin", le_u32(console.char_table, CONSOLE_CODES));
    uint16_t palette[16] = {colour_key, 0xFFFF};  // the console background is transparent
    write_file("console_palette.bin", le_u16(palette, 16));
    // LayerDescription: kind LAYER_TILES (1), format 1, 192 x 54 pixels, tiles 6 x 6.
    const uint32_t description[6] = {1, 1, 192, 54, 6, 6};
    write_file("console_description.bin", le_u32(description, 6));

    for (int n = 0; n < 5; ++n) {
        PackedFont font = make_packed_font(n);
        std::string stem = "font" + std::to_string(n);
        write_file(stem + "_bits.bin", font.bits);
        write_file(stem + "_offsets.bin", le_u32(font.offsets, 256));
        std::vector<uint8_t> widths(font.widths, font.widths + 256);
        write_file(stem + "_widths.bin", widths);
    }

    if (preview_path && !write_preview(out_dir, preview_path)) {
        std::fprintf(stderr, "asset_gen: cannot write %s\n", preview_path);
        return 1;
    }
    return 0;
}
