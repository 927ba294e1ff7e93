// A typical viewer frame through compose (an opaque full-screen RGB565 layer, five 56 x 24
// button sprites, four 13 x 16 digit sprites, a fade at level 16) against memcpy of one
// framebuffer, the physical floor, in the same run. The ratio is printed as a counter.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"

namespace {

struct IndexedBitmap {
    std::vector<uint8_t> indices;
    std::vector<uint16_t> palette = std::vector<uint16_t>(256);
    Bitmap bitmap{};
    IndexedBitmap(int w, int h) : indices(w * h) {
        for (int i = 0; i < w * h; ++i) indices[i] = static_cast<uint8_t>(i * 7);
        for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i * 0x0841);
        bitmap.pixels = indices.data();
        bitmap.palette = palette.data();
        bitmap.kind = BITMAP_INDEXED8;
        bitmap.opaque = 1;
        bitmap.width = w;
        bitmap.height = h;
    }
};

void BM_MemcpyFramebuffer(benchmark::State& state) {
    static uint16_t source[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];
    for (auto _ : state) {
        std::memcpy(Framebuffer, source, sizeof(source));
        benchmark::ClobberMemory();
    }
}

void BM_ComposeViewerFrame(benchmark::State& state) {
    sprites_init();
    background_fill = 0;  // the viewer turns it off; the layer covers the screen
    layer_create_rgb565(15, 240, 320, 1);
    for (int i = 0; i < 240 * 320; ++i) layer_rgb565(15)[i] = static_cast<uint16_t>(i * 31);
    IndexedBitmap button(56, 24), digits(13, 16 * 11);
    for (int i = 0; i < 5; ++i) sprite_set(10 + i, &button.bitmap, 56, 24, 30 + 45 * i, 300);
    for (int i = 0; i < 4; ++i) {
        sprite_set(20 + i, &digits.bitmap, 13, 16, 180 + 13 * i, 12);
        SpriteTable[20 + i]->frame = static_cast<int16_t>(i);
    }
    fade_level = static_cast<uint8_t>(state.range(0));
    for (auto _ : state) {
        compose(0, 1023);
        benchmark::ClobberMemory();
    }
    sprite_table_clear();
    layer_free_all();
}

}  // namespace

BENCHMARK(BM_MemcpyFramebuffer);
BENCHMARK(BM_ComposeViewerFrame)->Arg(16)->Arg(32);  // fade level 16, and no fade

// Runs both, then reports compose / memcpy from the same process run.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    struct Collect : benchmark::ConsoleReporter {
        // CPU time: on a shared machine wall time also counts the time the run was not scheduled.
        double memcpy_time = 0, faded = 0, unfaded = 0;
        void ReportRuns(const std::vector<Run>& runs) override {
            for (const Run& r : runs) {
                const std::string name = r.benchmark_name();
                if (name.find("Memcpy") != std::string::npos) memcpy_time = r.GetAdjustedCPUTime();
                if (name.find("Compose") != std::string::npos && name.find("/16") != std::string::npos)
                    faded = r.GetAdjustedCPUTime();
                if (name.find("Compose") != std::string::npos && name.find("/32") != std::string::npos)
                    unfaded = r.GetAdjustedCPUTime();
            }
            ConsoleReporter::ReportRuns(runs);
        }
    } reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.memcpy_time > 0) {
        std::printf("compose viewer frame (fade 16) / memcpy framebuffer: %.2fx\n",
                    reporter.faded / reporter.memcpy_time);
        std::printf("compose viewer frame (no fade) / memcpy framebuffer: %.2fx\n",
                    reporter.unfaded / reporter.memcpy_time);
    }
    benchmark::Shutdown();
    return 0;
}
