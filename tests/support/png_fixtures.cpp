#include "tests/support/png_fixtures.h"

#include <zlib.h>

#include <csetjmp>

std::string png_encode(const PngSpec& s) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
        },
        nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.colour_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y)
        rows.push_back(const_cast<png_bytep>(s.pixels.data()) + y * (s.pixels.size() / s.height));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void png_claim_size(std::string& png, uint32_t width, uint32_t height) {
    // Signature (8), IHDR length and type (8), then width and height big-endian; the CRC at 29
    // covers the type and the 13 data bytes.
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) png[at + k] = char(v >> (24 - 8 * k));
    };
    put32(16, width);
    put32(20, height);
    put32(29, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17)));
}
