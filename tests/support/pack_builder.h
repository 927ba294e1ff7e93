// Writes small, valid image packs in code for tests (and fuzz seeds): a few pictures, small
// thumbnails, tiny baseline JPEGs from libjpeg-turbo's encoder. The layout comes from
// app/image_pack.h, so tests can also cut or patch a pack at known offsets.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/pack_file.h"

struct PackSpec {
    int pictures = 3;
    uint16_t thumb_size_field = 8;  // written as is: 0 stands for 64
    bool header = true;
    uint16_t data_offset = PACK_HEADER_SIZE;  // with a header: where the data section goes
                                              // (below 3250 the header overlays its start)
    int listed_count = -1;                    // -1: the picture count
    std::string author = "Tester";            // up to 32 bytes; 32 means no terminator
    uint16_t icon_colour = 0x07E0;
    // Pixel of picture p at (x, y), 240 x 240; default: a solid pack_test_colour(p).
    std::function<uint16_t(int p, int x, int y)> picture_pixel;
    // Pixel of thumbnail p at (x, y); default: a solid pack_test_colour(p).
    std::function<uint16_t(int p, int x, int y)> thumb_pixel;
    // Table entries for colour v; default best v % N, second (v + 1) % N.
    std::function<uint16_t(int v)> best, second;
    // JPEG bytes used instead of encoding picture p (entries beyond the vector are encoded).
    std::vector<std::string> jpegs;
    int quality = 90;
};

// Where things ended up in the built file (byte offsets from its start).
struct PackLayout {
    size_t data_start = 0;      // best_match
    size_t counts_start = 0;    // picture_count, thumb_size
    size_t thumbs_start = 0;
    size_t entries_start = 0;   // first length field
    std::vector<size_t> entry_starts;  // each picture's length field
    std::vector<size_t> jpeg_sizes;
    size_t total = 0;
};

// A distinct, easily told-apart colour for picture p.
uint16_t pack_test_colour(int p);

std::string pack_bytes(const PackSpec& spec, PackLayout* layout = nullptr);
bool pack_write(const std::string& path, const PackSpec& spec, PackLayout* layout = nullptr);

// Baseline JPEG of RGB565 pixels (each channel widened to 8 bits first).
std::string pack_jpeg_encode(const uint16_t* pixels, int width, int height, int quality = 90);
std::string pack_jpeg_solid(uint16_t colour, int width = PICTURE_EDGE, int height = PICTURE_EDGE);
