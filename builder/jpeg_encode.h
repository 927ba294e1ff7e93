// libjpeg's baseline (or progressive) encoder set up in one place for evgpack's pack pictures,
// the asset generator's menu background and the test fixtures. Errors come back as `false`,
// never as an exit: libjpeg's error jump stays inside jpeg_encode.
#pragma once
#include <cstdint>
#include <vector>

struct JpegEncodeOptions {
    int quality = 85;             // 1-100 (clamped)
    bool cmyk = false;            // input is 4 bytes a pixel, Adobe CMYK (stored inverted)
    bool grey = false;            // store one greyscale component (input stays RGB)
    int luma_h = 2, luma_v = 2;   // luma sampling of a YCbCr file; chroma is always 1 x 1
    int restart_interval = 0;     // in MCUs, 0 = none
    bool optimize_coding = false; // Huffman tables fitted to the picture (smaller, still baseline)
    bool progressive = false;
    // One APP1 segment written right after the headers (an EXIF block), when not empty.
    std::vector<uint8_t> app1;
};

// Encodes width x height pixels (RGB888, or CMYK with options.cmyk), row-major and tightly
// packed, into `out`. Returns false (out empty) when libjpeg refuses.
bool jpeg_encode(const uint8_t* pixels, int width, int height, const JpegEncodeOptions& options,
                 std::vector<uint8_t>& out);
