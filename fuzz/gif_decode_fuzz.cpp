// libFuzzer target for GIF loading: every input goes through the Bitmap builder (key remap and
// run streams) and both layer loaders, from the exact-size heap copy libFuzzer provides, so ASan
// sees any read past the end and LeakSanitizer any block a failure path forgets. A timed frame
// in the input makes the decoder yield one frame, so the runtime is started once, headless.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/bitmap.h"
#include "media/gif.h"
#include "render/layers.h"
#include "runtime/host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        if (runtime_init() != 0) std::abort();
        set_frame_rate(1000);
        return true;
    }();
    (void)started;
    Bitmap* bitmap = bitmap_from_gif(data, size);
    if (bitmap) bitmap_free(bitmap);
    layer_from_gif_indexed(1, data, size);
    layer_from_gif_rgb565(2, data, size);
    layer_free(1);
    layer_free(2);
    return 0;
}
