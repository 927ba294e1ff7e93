// libFuzzer target for the PNG loader: every input goes through the Bitmap builder (with its run
// streams) and the font builder, from the exact-size heap copy libFuzzer provides, so ASan sees
// any read past the end and LeakSanitizer any block a failure path forgets.
#include <cstddef>
#include <cstdint>

#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/png_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap* bitmap = bitmap_from_png(data, size);
    if (bitmap) bitmap_free(bitmap);
    font_from_png(9, data, size);
    fonts_free();
    return 0;
}
