// libFuzzer target for the JPEG decoder. libFuzzer hands over an exact-size heap copy of each
// input, so AddressSanitizer catches any read past the end, as would happen inside a pack where
// the next picture follows. The destination size is varied by the input's length so small,
// odd and picture-sized destinations are all exercised.
#include <cstddef>
#include <cstdint>

#include "media/jpeg_decoder.h"

namespace {
uint16_t destination[240 * 320];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int sizes[4][2] = {{240, 240}, {240, 320}, {17, 9}, {100, 100}};
    const int* wh = sizes[size & 3];
    jpeg_decode(data, size, destination, wh[0], wh[1]);
    int width = 0, height = 0;
    jpeg_picture_size(data, size, &width, &height);
    jpeg_check_signature(data, size);
    return 0;
}
