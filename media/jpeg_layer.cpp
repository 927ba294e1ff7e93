// A JPEG straight into a background layer (the menu background). Kept apart from the decoder
// so that the decoder builds without the layer module, for tools that have no screen.
#include <cstring>

#include "media/jpeg_decoder.h"
#include "render/layers.h"

int jpeg_to_layer(int layer, const uint8_t* data, size_t length) {
    if (layer < 0 || layer >= LAYER_COUNT) return 0;
    int width = 0, height = 0;
    if (jpeg_picture_size(data, length, &width, &height) != JPEG_OK) return 0;
    if (width > INT16_MAX || height > INT16_MAX) return 0;
    if (!layer_create_rgb565(layer, static_cast<int16_t>(width), static_cast<int16_t>(height), 1))
        return 0;
    // Pixels outside the whole MCUs are never drawn: start from black, not from whatever the
    // allocation held.
    uint16_t* pixels = layer_rgb565(layer);
    std::memset(pixels, 0, static_cast<size_t>(width) * height * sizeof *pixels);
    if (jpeg_decode(data, length, pixels, width, height) != JPEG_OK) {
        layer_free(layer);
        return 0;
    }
    return 1;
}
