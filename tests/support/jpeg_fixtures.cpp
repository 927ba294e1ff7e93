// libjpeg is driven through its error manager with setjmp: every object that lives across the
// setjmp point is trivially destructible or constructed before it, so the longjmp skips nothing.
#include "tests/support/jpeg_fixtures.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "builder/jpeg_encode.h"

namespace {

struct ErrorJump {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void error_exit(j_common_ptr info) {
    longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

void silent(j_common_ptr, int) {}

uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Smooth value noise in 0..1 on a grid of `cell` pixels.
double value_noise(int x, int y, int cell, uint32_t seed) {
    int gx = x / cell, gy = y / cell;
    double fx = static_cast<double>(x % cell) / cell, fy = static_cast<double>(y % cell) / cell;
    auto corner = [&](int cx, int cy) {
        return (hash32(seed * 0x9E3779B9U ^ static_cast<uint32_t>(cx) * 73856093U ^
                       static_cast<uint32_t>(cy) * 19349663U) & 0xFFFF) / 65535.0;
    };
    double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    double top = corner(gx, gy) * (1 - sx) + corner(gx + 1, gy) * sx;
    double bottom = corner(gx, gy + 1) * (1 - sx) + corner(gx + 1, gy + 1) * sx;
    return top * (1 - sy) + bottom * sy;
}

uint8_t to_byte(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

// width x height RGB888 pixels, row-major.
std::vector<uint8_t> make_photo_rgb(int width, int height, uint32_t seed) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    double phase = (hash32(seed) & 1023) / 163.0;
    // A few hard-edged discs, like objects against a background.
    struct Disc { double cx, cy, r; double col[3]; } discs[4];
    for (int i = 0; i < 4; ++i) {
        uint32_t h = hash32(seed * 31 + static_cast<uint32_t>(i));
        discs[i] = {static_cast<double>(h % static_cast<uint32_t>(width)),
                    static_cast<double>((h >> 8) % static_cast<uint32_t>(height)),
                    8.0 + (h >> 16) % 40,
                    {static_cast<double>(h & 255), static_cast<double>((h >> 5) & 255),
                     static_cast<double>((h >> 11) & 255)}};
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sky = 0.5 + 0.5 * std::sin(x * 0.021 + phase) * std::cos(y * 0.017 - phase);
            double texture = value_noise(x, y, 12, seed) * 0.6 + value_noise(x, y, 3, seed + 7) * 0.4;
            double c[3] = {40 + 170 * sky + 40 * (texture - 0.5),
                           60 + 120 * (1 - sky) + 70 * (texture - 0.5),
                           90 + 100 * (static_cast<double>(y) / height) + 50 * (texture - 0.5)};
            for (const Disc& d : discs) {
                double dx = x - d.cx, dy = y - d.cy;
                if (dx * dx + dy * dy < d.r * d.r)
                    for (int k = 0; k < 3; ++k) c[k] = d.col[k] + 30 * (texture - 0.5);
            }
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            for (int k = 0; k < 3; ++k) p[k] = to_byte(c[k]);
        }
    }
    return rgb;
}

}  // namespace

std::vector<uint8_t> make_test_jpeg(int width, int height, const JpegFixtureOptions& options,
                                    uint32_t seed) {
    JpegEncodeOptions encode;
    encode.quality = options.quality;
    encode.grey = options.components == 1;
    encode.luma_h = options.luma_h;
    encode.luma_v = options.luma_v;
    encode.restart_interval = options.restart_interval;
    std::vector<uint8_t> result;
    jpeg_encode(make_photo_rgb(width, height, seed).data(), width, height, encode, result);
    return result;
}

bool libjpeg_decode_rgb(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>* rgb, int* width,
                        int* height) {
    jpeg_decompress_struct info;
    ErrorJump error;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = error_exit;
    error.mgr.emit_message = silent;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    *width = static_cast<int>(info.output_width);
    *height = static_cast<int>(info.output_height);
    rgb->assign(static_cast<size_t>(*width) * *height * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &(*rgb)[static_cast<size_t>(info.output_scanline) * *width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

long jpeg_find_marker(const std::vector<uint8_t>& jpeg, uint8_t code) {
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
        if (jpeg[pos + 1] == code) return static_cast<long>(pos);
        if (jpeg[pos + 1] == 0xDA) return -1;
        pos += 2 + (static_cast<size_t>(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
    }
    return -1;
}
