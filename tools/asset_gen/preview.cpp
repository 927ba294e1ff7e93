// Reading the files back rather than reusing the drawings means the sheet shows exactly what
// the program embeds. Key-colour pixels are shown as a grey checkerboard.
#include "preview.h"

#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "asset_list.h"
#include "font_tables.h"
#include "gif_writer.h"
#include "image.h"
#include "media/png_writer.h"

namespace {

std::vector<uint8_t> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t u32(const std::vector<uint8_t>& b, size_t i) {
    return b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24;
}

bool read_gif(const std::string& path, Image* out) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1 && gif->SColorMap;
    if (ok) {
        *out = Image(gif->SWidth, gif->SHeight);
        const SavedImage& im = gif->SavedImages[0];
        for (int y = 0; y < im.ImageDesc.Height; ++y)
            for (int x = 0; x < im.ImageDesc.Width; ++x) {
                GifColorType c = gif->SColorMap->Colors[im.RasterBits[y * im.ImageDesc.Width + x]];
                out->at(x + im.ImageDesc.Left, y + im.ImageDesc.Top) = Rgb{c.Red, c.Green, c.Blue};
            }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool read_jpeg(const std::string& path, Image* out) {
    std::vector<uint8_t> data = slurp(path);
    if (data.empty()) return false;
    jpeg_decompress_struct d;
    jpeg_error_mgr jerr;
    d.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    *out = Image(static_cast<int>(d.output_width), static_cast<int>(d.output_height));
    std::vector<JSAMPLE> row(d.output_width * 3);
    while (d.output_scanline < d.output_height) {
        int y = static_cast<int>(d.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&d, rows, 1);
        for (int x = 0; x < out->width; ++x) out->at(x, y) = Rgb{row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

// A packed built-in font as the runtime sees it: bits, byte offsets (2 x bit index), widths.
struct FontFiles {
    std::vector<uint8_t> bits, offsets, widths;
    int height;
    int width(unsigned char c) const { return static_cast<int8_t>(widths[c]); }
    bool ink(unsigned char c, int x, int y) const {
        uint32_t bit = u32(offsets, c * 4u) / 2 + static_cast<uint32_t>(y * width(c) + x);
        return bits[bit / 8] >> (bit % 8) & 1;
    }
};

FontFiles read_font(const std::string& dir, int n) {
    static const int heights[5] = {6, 8, 9, 12, 14};
    std::string stem = dir + "/font" + std::to_string(n);
    return FontFiles{slurp(stem + "_bits.bin"), slurp(stem + "_offsets.bin"), slurp(stem + "_widths.bin"), heights[n]};
}

int draw_label(Image& img, const FontFiles& f, const std::string& text, int x, int y, Rgb c, int scale = 1) {
    for (unsigned char ch : text) {
        int w = f.width(ch);
        for (int gy = 0; gy < f.height; ++gy)
            for (int gx = 0; gx < w; ++gx)
                if (f.ink(ch, gx, gy)) fill_rect(img, x + gx * scale, y + gy * scale, x + (gx + 1) * scale, y + (gy + 1) * scale, c);
        x += (w + 1) * scale;
    }
    return x;
}

void show_key_as_checker(Image& img) {
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            if (img.at(x, y) == KEY_RGB) img.at(x, y) = ((x / 4 + y / 4) & 1) ? hex(0x8A8A8A) : hex(0x6A6A6A);
}

// Text set with the font sheet the way the picture-font loader reads it: cell k is code k,
// width 1 + the rightmost ink column, space as wide as '!', one pixel of letter spacing.
void draw_sheet_text(Image& img, const Image& sheet, const std::string& text, int x, int y) {
    auto ink = [&](int code, int cx, int cy) { return sheet.at(code % 32 * 8 + cx, code / 32 * 8 + cy) != KEY_RGB; };
    auto width = [&](int code) {
        int w = 0;
        for (int cy = 0; cy < 8; ++cy)
            for (int cx = 0; cx < 8; ++cx)
                if (ink(code, cx, cy) && cx + 1 > w) w = cx + 1;
        return w;
    };
    for (unsigned char ch : text) {
        int code = ch == ' ' ? '!' : ch, w = width(code);
        if (ch != ' ')
            for (int cy = 0; cy < 8; ++cy)
                for (int cx = 0; cx < w; ++cx)
                    if (ink(code, cx, cy) && img.inside(x + cx, y + cy)) img.at(x + cx, y + cy) = Rgb{};
        x += w + 1;
    }
}

// The menu background with the eight pack cards drawn as the pack menu draws them.
Image with_cards(const Image& bg, const Image& font_sheet) {
    Image img = bg;
    for (int i = 0; i < 8; ++i) {
        int left = i % 2 ? 125 : 5, right = left + 110, top = 90 + 60 * (i / 2), bottom = top + 43;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) img.at(x, y) = mix(img.at(x, y), hex(0xFFFFFF), 191);
        for (int y = top; y < bottom; ++y) img.at(left, y) = img.at(right - 1, y) = Rgb{};
        for (int x = left; x < right; ++x) img.at(x, top) = img.at(x, bottom) = Rgb{};
        fill_rect(img, left + 2, top + 2, left + 42, top + 42, hex(0x305080));
        draw_sheet_text(img, font_sheet, i == 0 ? "Default.evg" : "Holiday" + std::to_string(i) + ".evg", left + 43, top + 3);
        draw_sheet_text(img, font_sheet, "By Unknown", left + 43, top + 13);
        draw_sheet_text(img, font_sheet, std::to_string(40 * i + 24) + " images", left + 43, top + 23);
        draw_sheet_text(img, font_sheet, "Viewed : " + std::to_string(i * 14) + "%", left + 43, top + 33);
    }
    return img;
}

}  // namespace

bool write_preview(const std::string& dir, const std::string& png_path) {
    Image sheet(760, 1050, hex(0x30343A));
    FontFiles label = read_font(dir, 2);
    const Rgb ink = hex(0xF0F0F0), dim = hex(0xA8B0B8);

    // Interface graphics at twice their size, frames side by side.
    int x = 8, y = 8, row_height = 0;
    for (const GifAsset& a : GIF_ASSETS) {
        if (std::string(a.file) == "font_sheet.gif") continue;
        Image img;
        if (!read_gif(dir + "/" + a.file, &img)) return false;
        show_key_as_checker(img);
        int frames = img.height / a.frame_height;
        int need = frames * (img.width * 2 + 6);
        if (x + need > sheet.width - 8) x = 8, y += row_height + 8, row_height = 0;
        draw_label(sheet, label, a.file, x, y, ink);
        for (int f = 0; f < frames; ++f) {
            Image frame(img.width, a.frame_height);
            for (int fy = 0; fy < a.frame_height; ++fy)
                for (int fx = 0; fx < img.width; ++fx) frame.at(fx, fy) = img.at(fx, f * a.frame_height + fy);
            int fx = x + f * (img.width * 2 + 6);
            paste(sheet, scale_up(frame, 2), fx, y + 12);
            if (frames > 1) draw_label(sheet, label, std::to_string(f), fx, y + 14 + a.frame_height * 2, dim);
        }
        int h = 12 + a.frame_height * 2 + (frames > 1 ? 12 : 0);
        row_height = h > row_height ? h : row_height;
        x += need + 14;
    }
    y += row_height + 12;

    // Font sheet at twice its size.
    Image fonts, raw_sheet;
    if (!read_gif(dir + "/font_sheet.gif", &fonts)) return false;
    raw_sheet = fonts;
    show_key_as_checker(fonts);
    draw_label(sheet, label, "font_sheet.gif (font 5)", 8, y, ink);
    paste(sheet, scale_up(fonts, 2), 8, y + 12);
    int after_sheet = y + 12 + 128 + 10;

    // Menu background, plain and with the card panels.
    Image bg;
    if (!read_jpeg(dir + "/" + MENU_BACKGROUND_FILE, &bg)) return false;
    y = after_sheet;
    draw_label(sheet, label, "menu_background.jpg", 8, y, ink);
    draw_label(sheet, label, "with the pack cards", 8 + 250, y, dim);
    paste(sheet, bg, 8, y + 12);
    paste(sheet, with_cards(bg, raw_sheet), 8 + 250, y + 12);

    // Built-in fonts 0..4 and the console font, to the right of the background.
    int tx = 8 + 500, ty = after_sheet;
    const std::string sample = "Viewed : 42% By Unknown";
    const std::string latin = "\xe0\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xeb\xec\xed\xee\xef \xf1\xf2\xf3\xf4\xf5 \xf9\xfa\xfb\xfc\xfd";
    for (int n = 0; n < 5; ++n) {
        FontFiles f = read_font(dir, n);
        draw_label(sheet, label, "font " + std::to_string(n), tx, ty, ink);
        ty += 12;
        draw_label(sheet, f, sample, tx, ty, ink, 1);
        ty += f.height + 3;
        draw_label(sheet, f, "AaBbGgJjQq 0123456789 !?", tx, ty, ink, 1);
        ty += f.height + 3;
        draw_label(sheet, f, latin + (n == 4 ? " \xc7\xf6" : ""), tx, ty, ink, 1);
        ty += f.height + 8;
    }

    // The 6 x 6 tiles placed through the character table, white on black.
    std::vector<uint8_t> tiles = slurp(dir + "/console_font.bin"), table = slurp(dir + "/console_char_table.bin");
    if (tiles.size() != static_cast<size_t>(CONSOLE_TILES) * CONSOLE_TILE_BYTES || table.size() != 512) return false;
    // Console: below the backgrounds, doubled.
    tx = 8;
    ty = after_sheet + 12 + 320 + 10;
    draw_label(sheet, label, "console (6 x 6 tiles, doubled)", tx, ty, ink);
    ty += 12;
    const char* lines[] = {"Error opening file Default.evg !", " !\"#$%&'()*+,-./0123456789:;<=>?",
                           "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_", "`abcdefghijklmnopqrstuvwxyz{|}~", "FPS 40.0"};
    for (const char* line : lines) {
        Image row(40 * 6, 6, Rgb{});
        for (int c = 0; line[c] && c < 40; ++c) {
            uint32_t cell = u32(table, static_cast<unsigned char>(line[c]) * 4u);
            if ((cell & 0xFFFFFF) == 0) continue;
            const uint8_t* t = &tiles[(cell & 0xFFF) * CONSOLE_TILE_BYTES + 1];
            bool fx = cell >> 25 & 1, fy = cell >> 26 & 1;
            for (int py = 0; py < 6; ++py)
                for (int px = 0; px < 6; ++px)
                    if (t[(fy ? 5 - py : py) * 6 + (fx ? 5 - px : px)]) row.at(c * 6 + px, py) = hex(0xFFFFFF);
        }
        paste(sheet, scale_up(row, 2), tx, ty);
        ty += 14;
    }
    std::vector<uint16_t> px(sheet.px.size());
    for (size_t i = 0; i < px.size(); ++i) px[i] = to_rgb565(sheet.px[i]);
    return png_write_rgb565(png_path.c_str(), px.data(), sheet.width, sheet.height, sheet.width) == 1;
}
