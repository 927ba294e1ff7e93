#include "media/gif.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/rgb565.h"
#include "render/layers.h"

// Decoder scratch shared by every decode pass (so passes must not overlap).
uint16_t gif_colour_table[256];
void (*gif_timed_frame_hook)() = nullptr;

namespace {

uint8_t gif_output_mode = GIF_OUTPUT_INDICES;

// One image row as the library hands it over. GIF widths are 16-bit, so any row fits; rows are
// then clipped to the canvas. 64 KiB.
uint8_t gif_line[65536];

inline uint16_t to_rgb565(const GifColorType& c) { return rgb565_pack(c.Red, c.Green, c.Blue); }

// Sides 1..32767 (users read them as signed 16-bit) and at most GIF_MAX_PIXELS in all.
bool canvas_size_ok(int32_t w, int32_t h) {
    if (w < 1 || h < 1 || w > BITMAP_MAX_SIDE || h > BITMAP_MAX_SIDE ||
        static_cast<int64_t>(w) * h > GIF_MAX_PIXELS) {
        std::fprintf(stderr, "gif: a %d x %d canvas is not loaded\n", w, h);
        return false;
    }
    return true;
}

}  // namespace

int gif_memory_read(GifFileType* gif_file, GifByteType* buffer, int count) {
    GifMemorySource* source = static_cast<GifMemorySource*>(gif_file->UserData);
    if (count <= 0) return 0;
    const size_t available = static_cast<size_t>(source->end - source->position);
    const size_t n = std::min(static_cast<size_t>(count), available);
    std::memcpy(buffer, source->position, n);
    source->position += n;
    return static_cast<int>(n);
}

int gif_screen_size(const uint8_t* gif, size_t length, int32_t* width, int32_t* height) {
    if (gif == nullptr || length < 13) return 0;
    *width = gif[6] | gif[7] << 8;
    *height = gif[8] | gif[9] << 8;
    return 1;
}

int gif_decode(const uint8_t* gif, size_t length, void* destination, uint16_t* palette_out,
               uint8_t mode, int16_t stride) {
    int32_t screen_w = 0, screen_h = 0;
    if (destination == nullptr || stride <= 0 || !gif_screen_size(gif, length, &screen_w, &screen_h))
        return 0;
    gif_output_mode = mode;
    // Entries past the GIF's colour map would otherwise keep colours of an earlier decode, and
    // the RGB565 layer loader reads all 256 to find the key colour.
    if (gif_output_mode == GIF_OUTPUT_RGB565) std::memset(gif_colour_table, 0, sizeof(gif_colour_table));
    uint16_t* palette = gif_output_mode == GIF_OUTPUT_RGB565 ? gif_colour_table : palette_out;

    GifMemorySource source{gif, gif + length};
    int error = 0;
    GifFileType* file = DGifOpen(&source, gif_memory_read, &error);
    if (file == nullptr) return 0;

    int result = 1;
    bool done = false;
    while (!done) {
        GifRecordType type;
        if (DGifGetRecordType(file, &type) == GIF_ERROR) {
            // A byte that introduces no record has been consumed: skip it and read on (each
            // such byte uses up one byte of the data, so this ends). Running out of data is
            // still an error.
            if (file->Error == D_GIF_ERR_WRONG_RECORD) continue;
            result = 0;
            break;
        }
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(file) == GIF_ERROR) {
                result = 0;
                done = true;
                break;
            }
            const ColorMapObject* map = file->Image.ColorMap ? file->Image.ColorMap : file->SColorMap;
            if (map != nullptr && palette != nullptr) {
                const int count = std::min(map->ColorCount, 256);
                for (int i = 0; i < count; ++i) palette[i] = to_rgb565(map->Colors[i]);
            }
            const int iw = file->Image.Width, ih = file->Image.Height;
            const int left = file->Image.Left, top = file->Image.Top;
            // Columns of the image that land on the canvas.
            const int visible = left < stride ? std::min(iw, stride - left) : 0;
            auto place = [&](int y) {
                const int row = top + y;
                if (row >= screen_h || visible <= 0) return;
                const size_t at = static_cast<size_t>(row) * stride + left;
                if (gif_output_mode == GIF_OUTPUT_RGB565) {
                    uint16_t* out = static_cast<uint16_t*>(destination) + at;
                    for (int i = 0; i < visible; ++i) out[i] = gif_colour_table[gif_line[i]];
                } else {
                    std::memcpy(static_cast<uint8_t*>(destination) + at, gif_line, visible);
                }
            };
            bool ok = iw > 0 && ih > 0;
            if (ok && file->Image.Interlace) {
                static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4 && ok; ++pass)
                    for (int y = start[pass]; y < ih && ok; y += step[pass]) {
                        ok = DGifGetLine(file, gif_line, iw) != GIF_ERROR;
                        if (ok) place(y);
                    }
            } else {
                for (int y = 0; y < ih && ok; ++y) {
                    ok = DGifGetLine(file, gif_line, iw) != GIF_ERROR;
                    if (ok) place(y);
                }
            }
            if (!ok) {
                result = 0;
                done = true;
            }
            break;
        }
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(file, &code, &block) == GIF_ERROR) {
                result = 0;
                done = true;
                break;
            }
            // Graphic Control Extension: block[0] is its length, the delay is bytes 2 and 3.
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 3 &&
                (block[2] | block[3] << 8) != 0) {
                // A timed frame: show what is decoded so far and stop before the next image.
                if (gif_timed_frame_hook) gif_timed_frame_hook();
                done = true;
                break;
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(file, &block) == GIF_ERROR) {
                    result = 0;
                    done = true;
                    break;
                }
            }
            break;
        }
        case TERMINATE_RECORD_TYPE:
            done = true;
            break;
        default:
            break;
        }
    }
    DGifCloseFile(file, &error);
    return result;
}

Bitmap* bitmap_from_gif(const uint8_t* gif, size_t length) {
    int32_t w = 0, h = 0;
    if (!gif_screen_size(gif, length, &w, &h)) {
        std::fprintf(stderr, "gif: data too short for a GIF header\n");
        return nullptr;
    }
    if (!canvas_size_ok(w, h)) return nullptr;
    Bitmap* bitmap = static_cast<Bitmap*>(std::calloc(1, sizeof(Bitmap)));
    if (bitmap == nullptr) return nullptr;
    bitmap->opaque = 1;  // no run blocks to release until they exist
    // Cleared, so pixels that no image of the GIF covers are index 0 rather than stale memory.
    uint8_t* pixels = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(w) * h, 1));
    uint16_t* palette = static_cast<uint16_t*>(std::calloc(256, sizeof(uint16_t)));
    bitmap->pixels = pixels;
    bitmap->palette = palette;
    bitmap->kind = BITMAP_INDEXED8;
    bitmap->width = w;
    bitmap->height = h;
    if (pixels == nullptr || palette == nullptr ||
        !gif_decode(gif, length, pixels, palette, GIF_OUTPUT_INDICES, static_cast<int16_t>(w))) {
        if (pixels != nullptr && palette != nullptr) std::fprintf(stderr, "gif: unreadable data\n");
        bitmap_free(bitmap);
        return nullptr;
    }
    int key = -1;
    for (int i = 0; i < 256 && key < 0; ++i)
        if (palette[i] == colour_key) key = i;
    if (key >= 0) {
        if (key != 0) {
            // Make index 0 the transparent one: swap entries 0 and key, and the pixels with them.
            uint8_t remap[256];
            for (int i = 0; i < 256; ++i) remap[i] = static_cast<uint8_t>(i);
            remap[0] = static_cast<uint8_t>(key);
            remap[key] = 0;
            std::swap(palette[0], palette[key]);
            const size_t count = static_cast<size_t>(w) * h;
            for (size_t i = 0; i < count; ++i) pixels[i] = remap[pixels[i]];
        }
        if (!bitmap_encode_runs(bitmap, pixels, w, h)) {
            bitmap_free(bitmap);
            return nullptr;
        }
        bitmap->opaque = 0;
    }
    if (!bitmap_register(bitmap)) {
        bitmap_free(bitmap);
        return nullptr;
    }
    return bitmap;
}

namespace {

bool layer_size_from_gif(const uint8_t* gif, size_t length, int32_t* w, int32_t* h) {
    if (!gif_screen_size(gif, length, w, h)) {
        std::fprintf(stderr, "gif: data too short for a GIF header\n");
        return false;
    }
    return canvas_size_ok(*w, *h);
}

uint8_t opaque_unless_keyed(const uint16_t* colours) {
    for (int i = 0; i < 256; ++i)
        if (colours[i] == colour_key) return 0;
    return 1;
}

}  // namespace

int layer_from_gif_indexed(int layer, const uint8_t* gif, size_t length) {
    int32_t w = 0, h = 0;
    if (!layer_size_from_gif(gif, length, &w, &h)) return 0;
    if (!layer_create_indexed(layer, static_cast<int16_t>(w), static_cast<int16_t>(h), 1)) return 0;
    LayerSlot& slot = LayerTable[layer];
    if (!gif_decode(gif, length, slot.pixels, slot.palette, GIF_OUTPUT_INDICES, static_cast<int16_t>(w))) {
        std::fprintf(stderr, "gif: unreadable data\n");
        layer_free(layer);
        return 0;
    }
    slot.opaque = opaque_unless_keyed(slot.palette);
    return 1;
}

int layer_from_gif_rgb565(int layer, const uint8_t* gif, size_t length) {
    int32_t w = 0, h = 0;
    if (!layer_size_from_gif(gif, length, &w, &h)) return 0;
    if (!layer_create_rgb565(layer, static_cast<int16_t>(w), static_cast<int16_t>(h), 1)) return 0;
    LayerSlot& slot = LayerTable[layer];
    // Black where no image of the GIF lands, instead of whatever the new block held.
    std::memset(slot.pixels, 0, sizeof(uint16_t) * static_cast<size_t>(w) * h);
    if (!gif_decode(gif, length, slot.pixels, nullptr, GIF_OUTPUT_RGB565, static_cast<int16_t>(w))) {
        std::fprintf(stderr, "gif: unreadable data\n");
        layer_free(layer);
        return 0;
    }
    slot.opaque = opaque_unless_keyed(gif_colour_table);
    return 1;
}
