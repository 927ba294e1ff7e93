// PNG writing through libpng 1.6. libpng reports errors by longjmp, so this file keeps every
// object it owns in plain locals that are released after the setjmp point.
#include "media/png_writer.h"

#include "media/rgb565.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>
#include <csetjmp>
#include <cstdio>
#include <vector>

// `path` opened for writing; with `exclusive` only as a new file (O_EXCL, never through a link).
static FILE* open_for_writing(const char* path, bool exclusive) {
    if (!exclusive) return std::fopen(path, "wb");
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* file = ::fdopen(fd, "wb");
    if (!file) ::close(fd), std::remove(path);
    return file;
}

// The PNG into an open file; the only function here with a setjmp point.
static bool png_write_stream(FILE* file, const uint16_t* pixels, int width, int height, int stride) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            const uint16_t* src = pixels + static_cast<size_t>(y) * stride;
            for (int x = 0; x < width; ++x) rgb565_unpack(src[x], &row[static_cast<size_t>(x) * 3]);
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return ok;
}

static int png_write_file(const char* path, bool exclusive, const uint16_t* pixels, int width, int height,
                          int stride) {
    if (width <= 0 || height <= 0 || stride < width || !pixels) return 0;
    FILE* file = open_for_writing(path, exclusive);
    if (!file) return 0;
    bool ok = png_write_stream(file, pixels, width, height, stride);
    if (std::fclose(file) != 0) ok = false;
    if (!ok) std::remove(path);
    return ok ? 1 : 0;
}

int png_write_rgb565(const char* path, const uint16_t* pixels, int width, int height, int stride) {
    return png_write_file(path, false, pixels, width, height, stride);
}

int png_write_rgb565_new(const char* path, const uint16_t* pixels, int width, int height, int stride) {
    return png_write_file(path, true, pixels, width, height, stride);
}
