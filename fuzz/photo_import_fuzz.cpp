// libFuzzer target: a user's photo as evgpack build reads it (JPEG or PNG through libjpeg-turbo
// and libpng, the size and memory limits, the crop and the reduction to 240 x 240), and the
// damage check that evgpack verify runs on pack pictures. A picture that is accepted must come
// out 240 x 240 with finite values.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builder/photo_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The same checks at a smaller scale: a header may claim up to 512 x 512 pixels, so that
    // no input spends long on made-up rows (the full limits allow 400 megapixels).
    evgpack::photo_limits.pixels = 512 * 512;
    evgpack::photo_limits.side = 2048;
    evgpack::photo_limits.decode_bytes = 4u << 20;
    evgpack::LinearPicture picture;
    std::string error;
    if (evgpack::import_photo(data, size, picture, error) == evgpack::PHOTO_OK) {
        if (picture.size != evgpack::PICTURE_SIZE || picture.rgb.size() != 240u * 240 * 3) std::abort();
        for (float v : picture.rgb)
            if (!std::isfinite(v)) std::abort();
    } else if (error.empty()) {
        std::abort();  // every refusal says why
    }
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) evgpack::jpeg_damage(data, size);
    return 0;
}
