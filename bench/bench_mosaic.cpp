// One mosaic frame at the zooms the viewer passes through, and one magnified-surface frame,
// against memcpy of the 240 x 240 picture area (the floor for touching every pixel once).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/mosaic.h"
#include "app/progress.h"
#include "runtime/framebuffer.h"
#include "tests/support/viewer_fixture.h"

namespace {

// A 64-picture pack with 64 x 64 thumbnails and a varied surface, loaded once.
struct BenchPack {
    TempDir dir;
    BenchPack() {
        PackSpec spec;
        spec.pictures = 64;
        spec.thumb_size_field = 64;
        spec.thumb_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(p * 977 + x * 31 + y); };
        spec.picture_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(p * 1021 + x * 7 + y * 3); };
        open_test_pack(dir, spec);
        reset_viewer_state();
        for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
        parent_picture = 0;
    }
};

BenchPack& pack() {
    static BenchPack p;
    return p;
}

void BM_MemcpyPictureArea(benchmark::State& state) {
    std::vector<uint16_t> src(PICTURE_PIXELS, 0x1234);
    for (auto _ : state) {
        std::memcpy(Framebuffer, src.data(), PICTURE_PIXELS * sizeof(uint16_t));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyPictureArea);

void BM_MosaicRender(benchmark::State& state) {
    pack();
    zoom = static_cast<uint16_t>(state.range(0));
    const int16_t offset = static_cast<int16_t>(-zoom / 2);
    mosaic_render(120, 120, offset, offset);  // decodes the centre picture once above zoom 40
    for (auto _ : state) {
        zoom = static_cast<uint16_t>(state.range(0));
        mosaic_render(120, 120, offset, offset);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MosaicRender)->Arg(2)->Arg(8)->Arg(16)->Arg(40)->Arg(41)->Arg(120)->Arg(240);

void BM_SurfaceZoomView(benchmark::State& state) {
    pack();
    zoom = 1;
    centre_col = 60, centre_row = 180;
    for (auto _ : state) {
        surface_zoom_view(static_cast<uint16_t>(state.range(0)));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SurfaceZoomView)->Arg(192);

}  // namespace

BENCHMARK_MAIN();
