// Test pictures for the JPEG decoder and the pack tools: photographic-looking RGB content
// (gradients, texture, hard edges) encoded with libjpeg in any sampling, quality and restart
// setting, and libjpeg's own decode as the reference.
#pragma once
#include <cstdint>
#include <vector>

struct JpegFixtureOptions {
    int quality = 85;
    int components = 3;        // 3 = YCbCr, 1 = greyscale
    int luma_h = 2;            // luma sampling factors; chroma is always 1 x 1
    int luma_v = 2;
    int restart_interval = 0;  // in MCUs, 0 = none
};

// A width x height baseline JPEG of a picture made from `seed` (different seeds give different
// pictures). Empty on failure.
std::vector<uint8_t> make_test_jpeg(int width, int height, const JpegFixtureOptions& options,
                                    uint32_t seed = 1);

// Decodes with libjpeg into RGB888 (ISLOW transform, chroma samples replicated as the viewer's
// decoder does). Returns false when libjpeg refuses the data.
bool libjpeg_decode_rgb(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>* rgb, int* width,
                        int* height);

// Offset of the first marker 0xFF `code` in a file (scanning segment by segment up to the
// scan), or -1. Handy for patching header fields in hostile-input tests.
long jpeg_find_marker(const std::vector<uint8_t>& jpeg, uint8_t code);
