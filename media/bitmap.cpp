#include "media/bitmap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

Bitmap* bitmap_registry[BITMAP_REGISTRY_SIZE];
uint16_t bitmap_count = 0;

namespace {

void release_blocks(Bitmap* bitmap) {
    std::free(bitmap->pixels);
    std::free(bitmap->palette);
    if (bitmap->opaque == 0) {
        std::free(bitmap->runs);
        std::free(bitmap->row_offsets);
    }
    std::free(bitmap);
}

// The run stream is addressed by 16-bit offsets and read with a 16-bit position, so the whole
// stream, guard bytes included, must fit in 65536 bytes.
constexpr size_t RUN_STREAM_MAX = 65536;
constexpr int RUN_GUARD_BYTES = 4;

// Appends one run count, split into parts of at most 255 joined by zero-length runs of the
// other kind, so the skip/draw alternation is kept. Returns false when the stream is full.
bool put_run(uint8_t* stream, size_t& length, int32_t count) {
    while (count > 255) {
        if (length + 2 > RUN_STREAM_MAX - RUN_GUARD_BYTES) return false;
        stream[length++] = 255;
        stream[length++] = 0;
        count -= 255;
    }
    if (length + 1 > RUN_STREAM_MAX - RUN_GUARD_BYTES) return false;
    stream[length++] = static_cast<uint8_t>(count);
    return true;
}

}  // namespace

int bitmap_free(Bitmap* bitmap) {
    if (bitmap == nullptr) return 0;
    // Drop the entry (keeping the order of the others) so that bitmap_free_all never releases
    // it a second time.
    for (int i = bitmap_count - 1; i >= 0; --i) {
        if (bitmap_registry[i] != bitmap) continue;
        std::memmove(&bitmap_registry[i], &bitmap_registry[i + 1],
                     sizeof(Bitmap*) * (bitmap_count - 1 - i));
        --bitmap_count;
        bitmap_registry[bitmap_count] = nullptr;
        break;
    }
    release_blocks(bitmap);
    return 0;
}

void bitmap_free_all() {
    for (int i = 0; i < bitmap_count; ++i) {
        release_blocks(bitmap_registry[i]);
        bitmap_registry[i] = nullptr;
    }
    bitmap_count = 0;
}

int bitmap_register(Bitmap* bitmap) {
    if (bitmap_count >= BITMAP_REGISTRY_SIZE) {
        std::fprintf(stderr, "bitmap: cannot register more than %d bitmaps at once\n",
                     BITMAP_REGISTRY_SIZE);
        return 0;
    }
    bitmap_registry[bitmap_count++] = bitmap;
    return 1;
}

int bitmap_encode_runs(Bitmap* bitmap, const uint8_t* indices, int32_t w, int32_t h) {
    uint8_t* stream = static_cast<uint8_t*>(std::malloc(RUN_STREAM_MAX));
    uint16_t* offsets = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * (h > 0 ? h : 1)));
    if (stream == nullptr || offsets == nullptr) {
        std::free(stream);
        std::free(offsets);
        return 0;
    }
    size_t length = 0;
    bool fits = true;
    for (int32_t r = 0; r < h && fits; ++r) {
        offsets[r] = static_cast<uint16_t>(length);
        const uint8_t* row = indices + static_cast<size_t>(r) * w;
        bool skip = true;  // every row starts with a skip count, 0 if it starts visible
        int32_t x = 0;
        while (fits) {
            int32_t end = x;
            while (end < w && (row[end] == 0) == skip) ++end;
            fits = put_run(stream, length, end - x);
            x = end;
            if (x >= w) break;
            skip = !skip;
        }
    }
    if (!fits) {
        std::fprintf(stderr, "bitmap: %d x %d image has too many transparency runs\n", w, h);
        std::free(stream);
        std::free(offsets);
        return 0;
    }
    std::memset(stream + length, 0xFF, RUN_GUARD_BYTES);
    length += RUN_GUARD_BYTES;
    uint8_t* runs = static_cast<uint8_t*>(std::malloc(length));
    if (runs == nullptr) {
        std::free(stream);
        std::free(offsets);
        return 0;
    }
    std::memcpy(runs, stream, length);
    std::free(stream);
    bitmap->runs = runs;
    bitmap->row_offsets = offsets;
    return 1;
}
