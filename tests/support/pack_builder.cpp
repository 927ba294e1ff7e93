// Test pack writer: lays out header, tables, counts, thumbnails and JPEG entries.
#include "tests/support/pack_builder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "media/rgb565.h"
#include "builder/jpeg_encode.h"

uint16_t pack_test_colour(int p) {
    // Spread the pictures over hue-like corners and steps so neighbours differ clearly.
    static const uint16_t base[8] = {0xF800, 0x07E0, 0x001F, 0xFFE0, 0xF81F, 0x07FF, 0xFC00, 0x8410};
    uint16_t c = base[p % 8];
    int shade = (p / 8) % 4;  // darken in steps for more than 8 pictures
    uint16_t r = static_cast<uint16_t>((c >> 11) >> shade), g = static_cast<uint16_t>(((c >> 5) & 63) >> shade),
             b = static_cast<uint16_t>((c & 31) >> shade);
    return static_cast<uint16_t>(r << 11 | g << 5 | b);
}

std::string pack_jpeg_encode(const uint16_t* pixels, int width, int height, int quality) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; i++) rgb565_unpack(pixels[i], &rgb[3 * i]);
    JpegEncodeOptions options;
    options.quality = quality;
    std::vector<uint8_t> jpeg;
    jpeg_encode(rgb.data(), width, height, options, jpeg);
    return std::string(jpeg.begin(), jpeg.end());
}

std::string pack_jpeg_solid(uint16_t colour, int width, int height) {
    std::vector<uint16_t> pixels(static_cast<size_t>(width) * height, colour);
    return pack_jpeg_encode(pixels.data(), width, height);
}

std::string pack_bytes(const PackSpec& spec, PackLayout* layout) {
    const int n = spec.pictures;
    const int edge = spec.thumb_size_field ? spec.thumb_size_field : PACK_DEFAULT_THUMB_SIZE;
    const size_t data_at = spec.header ? spec.data_offset : 0;

    std::string data(PACK_THUMBNAILS, '\0');
    uint8_t* d = reinterpret_cast<uint8_t*>(&data[0]);
    for (int v = 0; v < PACK_TABLE_ENTRIES; v++) {
        uint16_t best = spec.best ? spec.best(v) : static_cast<uint16_t>(n ? v % n : 0);
        uint16_t second = spec.second ? spec.second(v) : static_cast<uint16_t>(n ? (v + 1) % n : 0);
        put_le16(d + PACK_BEST_MATCH + 2 * v, best);
        put_le16(d + PACK_SECOND_MATCH + 2 * v, second);
    }
    put_le16(d + PACK_PICTURE_COUNT, static_cast<uint16_t>(n));
    put_le16(d + PACK_THUMB_SIZE, spec.thumb_size_field);

    std::string thumbs(static_cast<size_t>(n) * edge * edge * 2, '\0');
    uint8_t* t = reinterpret_cast<uint8_t*>(&thumbs[0]);
    for (int p = 0; p < n; p++) {
        for (int y = 0; y < edge; y++) {
            for (int x = 0; x < edge; x++) {
                uint16_t c = spec.thumb_pixel ? spec.thumb_pixel(p, x, y) : pack_test_colour(p);
                put_le16(t + 2 * ((static_cast<size_t>(p) * edge + y) * edge + x), c);
            }
        }
    }
    data += thumbs;

    PackLayout lay;
    lay.data_start = data_at;
    lay.counts_start = data_at + PACK_PICTURE_COUNT;
    lay.thumbs_start = data_at + PACK_THUMBNAILS;
    lay.entries_start = data_at + data.size();
    std::vector<uint16_t> pixels(PICTURE_PIXELS);
    for (int p = 0; p < n; p++) {
        std::string jpeg;
        if (p < static_cast<int>(spec.jpegs.size())) {
            jpeg = spec.jpegs[p];
        } else {
            for (int y = 0; y < PICTURE_EDGE; y++) {
                for (int x = 0; x < PICTURE_EDGE; x++) {
                    pixels[y * PICTURE_EDGE + x] =
                        spec.picture_pixel ? spec.picture_pixel(p, x, y) : pack_test_colour(p);
                }
            }
            jpeg = pack_jpeg_encode(pixels.data(), PICTURE_EDGE, PICTURE_EDGE, spec.quality);
        }
        lay.entry_starts.push_back(data_at + data.size());
        lay.jpeg_sizes.push_back(jpeg.size());
        uint8_t length[4];
        put_le32(length, static_cast<uint32_t>(jpeg.size()));
        data.append(reinterpret_cast<char*>(length), 4);
        data += jpeg;
    }

    std::string file(data_at, '\0');
    file += data;
    if (spec.header) {
        PackHeader header = {};
        std::memcpy(header.magic, PACK_MAGIC, PACK_MAGIC_SIZE);
        header.data_offset = spec.data_offset;
        header.listed_count = static_cast<uint16_t>(spec.listed_count < 0 ? n : spec.listed_count);
        std::memcpy(header.author, spec.author.data(),
                    spec.author.size() < PACK_AUTHOR_SIZE ? spec.author.size() : PACK_AUTHOR_SIZE);
        for (uint16_t& pixel : header.icon) pixel = spec.icon_colour;
        uint8_t bytes[PACK_HEADER_SIZE];
        pack_header_encode(header, bytes);
        if (file.size() < PACK_HEADER_SIZE) file.resize(PACK_HEADER_SIZE, '\0');
        std::memcpy(&file[0], bytes, PACK_HEADER_SIZE);
    }
    lay.total = file.size();
    if (layout) *layout = lay;
    return file;
}

bool pack_write(const std::string& path, const PackSpec& spec, PackLayout* layout) {
    std::string bytes = pack_bytes(spec, layout);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
