// PNG loading through libpng 1.6. libpng reports errors by longjmp back to the setjmp point in
// png_load, so every block that must be released on an error is held in a volatile local that is
// freed after the jump. Nothing with a destructor lives in that function.
#include "media/png_loader.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/rgb565.h"

int16_t png_width;
int16_t png_height;
uint8_t png_has_alpha;
uint8_t png_opaque;
int png_error_code;

namespace {

constexpr int32_t MAX_SIDE = 32767;        // sizes are read back as signed 16-bit numbers
constexpr size_t MAX_RUN_STREAM = 65536;   // row offsets and the kernels' read position are 16-bit

uint8_t png_row_buffer[PNG_ROW_BUFFER_SIZE];

inline uint16_t to_rgb565(const uint8_t* p) { return rgb565_pack(p[0], p[1], p[2]); }

// Converts one decoded row (3 or 4 bytes per pixel) into the pixel block and the alpha plane.
void convert_row(const uint8_t* row, uint16_t* pixels, uint8_t* alpha, int32_t width) {
    const int channels = alpha ? 4 : 3;
    for (int32_t x = 0; x < width; ++x, row += channels) {
        uint16_t c = to_rgb565(row);
        pixels[x] = c;
        if (c == colour_key) png_opaque = 0;
        if (alpha) {
            uint8_t a = uint8_t((row[3] + 4) >> 3);  // 0..255 -> 0..32
            alpha[x] = a;
            if (a != 32) png_opaque = 0;
        }
    }
}

// A bounded byte writer for the run stream.
struct RunWriter {
    uint8_t* data;
    size_t length;
    bool overflow;
    void put(uint32_t count) {
        if (length >= MAX_RUN_STREAM) {
            overflow = true;
            return;
        }
        data[length++] = uint8_t(count);
    }
};

// Pixel classes of the run streams: 0 skip, 1 translucent (alpha pictures only), 2 drawn.
inline int pixel_class(const uint16_t* pixels, const uint8_t* alpha, size_t i) {
    if (pixels[i] == colour_key) return 0;
    if (!alpha) return 2;
    return alpha[i] == 0 ? 0 : alpha[i] == 32 ? 2 : 1;
}

// Builds the run stream of a keyed picture: skip/draw pairs for RGB565, skip/translucent/opaque
// triples with an alpha plane. Counts above 255 are split by a zero count of the next kind.
// Returns 0 when the stream would not fit 16-bit offsets (or memory runs out).
int encode_runs(Bitmap* b) {
    const int32_t w = b->width, h = b->height;
    const auto* pixels = static_cast<const uint16_t*>(b->pixels);
    const uint8_t* alpha = b->kind == BITMAP_RGB565_ALPHA ? b->alpha : nullptr;
    RunWriter out{static_cast<uint8_t*>(std::malloc(MAX_RUN_STREAM)), 0, false};
    auto* offsets = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * size_t(h)));
    if (!out.data || !offsets) {
        std::free(out.data);
        std::free(offsets);
        return 0;
    }
    for (int32_t r = 0; r < h && !out.overflow; ++r) {
        if (out.length > 0xFFFF) {
            out.overflow = true;
            break;
        }
        offsets[r] = uint16_t(out.length);
        const size_t row = size_t(r) * size_t(w);
        int32_t x = 0;
        if (!alpha) {
            int want = 0;  // pairs begin with a skip count
            while (true) {
                uint32_t n = 0;
                while (x < w && n < 255 && (pixel_class(pixels, nullptr, row + x) == 0) == (want == 0)) {
                    ++x;
                    ++n;
                }
                out.put(n);
                if (x >= w) break;
                want = want == 0 ? 2 : 0;
            }
        } else {
            // Triples are always written whole; each count stops at the row end.
            while (x < w) {
                for (int want = 0; want <= 2; ++want) {
                    uint32_t n = 0;
                    while (x < w && n < 255 && pixel_class(pixels, alpha, row + x) == want) {
                        ++x;
                        ++n;
                    }
                    out.put(n);
                }
            }
        }
    }
    for (int k = 0; k < 4; ++k) out.put(0xFF);
    if (out.overflow) {
        std::free(out.data);
        std::free(offsets);
        return 0;
    }
    auto* runs = static_cast<uint8_t*>(std::malloc(out.length));
    if (!runs) {
        std::free(out.data);
        std::free(offsets);
        return 0;
    }
    std::memcpy(runs, out.data, out.length);
    std::free(out.data);
    b->runs = runs;
    b->row_offsets = offsets;
    return 1;
}

}  // namespace

void png_memory_read(png_struct_def* png, uint8_t* out, size_t count) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    size_t left = source->position < source->length ? source->length - source->position : 0;
    size_t n = count < left ? count : left;
    if (n) std::memcpy(out, source->data + source->position, n);
    source->position += count;
    // libpng expects every request filled; a short read is truncated data.
    if (n < count) png_error(png, "PNG data end early");
}

uint16_t* png_load(const uint8_t* data, size_t length) {
    png_width = png_height = 0;
    png_has_alpha = 0;
    png_opaque = 0;
    png_error_code = 0;
    if (!data || length < 8 || png_sig_cmp(data, 0, 8) != 0) {
        png_error_code = 1;
        return nullptr;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        png_error_code = 2;
        return nullptr;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        png_error_code = 3;
        return nullptr;
    }
    PngSource source{data, length, 8};
    // Written between setjmp and a possible longjmp, hence volatile.
    uint16_t* volatile block = nullptr;
    uint8_t* volatile interlaced_rows = nullptr;
    volatile int stage = 4;
    if (setjmp(png_jmpbuf(png))) {
        std::free(block);
        std::free(interlaced_rows);
        png_destroy_read_struct(&png, &info, nullptr);
        png_error_code = stage;
        png_width = png_height = 0;
        return nullptr;
    }
    png_set_read_fn(png, &source, png_memory_read);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);

    const int bit_depth = png_get_bit_depth(png, info);
    const int colour_type = png_get_color_type(png, info);
    // Deflate packs at most 1032 bytes into one (a 258-byte match in two 1-bit codes), so a
    // header that promises more filtered image bytes than the data could hold is refused before
    // the picture is allocated.
    const uint64_t filtered = uint64_t(png_get_image_height(png, info)) *
                              (uint64_t(png_get_rowbytes(png, info)) + 1);
    if (filtered > uint64_t(length) * 1032 + 1024) {
        stage = 6;
        png_error(png, "picture larger than its data");
    }
    if (bit_depth == 16) png_set_strip_16(png);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (bit_depth < 8) png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_expand(png);
    if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4)) png_error(png, "unexpected pixel layout");
    if (width < 1 || height < 1 || width > uint32_t(MAX_SIDE) || height > uint32_t(MAX_SIDE) ||
        row_bytes > sizeof png_row_buffer) {
        stage = 6;
        png_error(png, "picture too large");
    }
    const bool with_alpha = channels == 4;
    const size_t area = size_t(width) * height;
    stage = 7;
    block = static_cast<uint16_t*>(std::malloc(area * (with_alpha ? 3 : 2)));
    if (!block) png_error(png, "out of memory");
    if (passes > 1) {
        // Interlaced rows arrive in seven passes that fill in each other's pixels, so they are
        // collected in a whole-picture buffer and converted at the end.
        interlaced_rows = static_cast<uint8_t*>(std::calloc(height, row_bytes));
        if (!interlaced_rows) png_error(png, "out of memory");
    }
    png_width = int16_t(width);
    png_height = int16_t(height);
    png_has_alpha = with_alpha ? 1 : 0;
    png_opaque = 1;

    stage = 5;
    uint16_t* pixels = block;
    uint8_t* alpha = with_alpha ? reinterpret_cast<uint8_t*>(pixels + area) : nullptr;
    if (passes > 1) {
        for (int pass = 0; pass < passes; ++pass)
            for (uint32_t y = 0; y < height; ++y)
                png_read_row(png, interlaced_rows + size_t(y) * row_bytes, nullptr);
        for (uint32_t y = 0; y < height; ++y)
            convert_row(interlaced_rows + size_t(y) * row_bytes, pixels + size_t(y) * width,
                        alpha ? alpha + size_t(y) * width : nullptr, int32_t(width));
        std::free(interlaced_rows);
        interlaced_rows = nullptr;
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            png_read_row(png, png_row_buffer, nullptr);
            convert_row(png_row_buffer, pixels + size_t(y) * width,
                        alpha ? alpha + size_t(y) * width : nullptr, int32_t(width));
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    png_error_code = 0;
    return pixels;
}

Bitmap* bitmap_from_png(const uint8_t* data, size_t length) {
    uint16_t* block = png_load(data, length);
    if (!block) return nullptr;
    auto* b = static_cast<Bitmap*>(std::calloc(1, sizeof(Bitmap)));
    if (!b) {
        std::free(block);
        png_error_code = 7;
        return nullptr;
    }
    b->pixels = block;
    b->kind = png_has_alpha ? BITMAP_RGB565_ALPHA : BITMAP_RGB565;
    b->width = png_width;
    b->height = png_height;
    b->opaque = png_opaque;
    if (png_has_alpha)
        b->alpha = reinterpret_cast<uint8_t*>(block + size_t(png_width) * size_t(png_height));
    if (!b->opaque && !encode_runs(b)) {
        std::free(block);
        std::free(b);
        png_error_code = 6;  // the run stream would pass the 16-bit offsets
        return nullptr;
    }
    if (!bitmap_register(b)) {
        bitmap_free(b);
        return nullptr;
    }
    return b;
}

int font_from_png(uint8_t font, const uint8_t* data, size_t length) {
    uint16_t* block = png_load(data, length);
    if (!block) return 0;
    int ok;
    if (png_has_alpha) {
        const auto* alpha =
            reinterpret_cast<const uint8_t*>(block + size_t(png_width) * size_t(png_height));
        ok = font_from_alpha_picture(font, block, alpha, png_width, png_height);
    } else {
        ok = font_from_picture(font, block, png_width, png_height);
    }
    std::free(block);
    return ok;
}
