// One mosaic frame at the zooms the viewer passes through, and one magnified-surface frame,
// against memcpy of the 240 x 240 picture area (the floor for touching every pixel once); and
// the once-per-surface tile map over 16 candidates per colour, to compare with the zoom-8 frame
// (the goal is at most 2 ms for the map).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/mosaic.h"
#include "pack/pack_candidates.h"
#include "pack/tile_map.h"
#include "app/progress.h"
#include "render/framebuffer.h"
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

// The same pictures with a 16-candidate section; colour v lists v % 64, then 15 others. Arguments:
// the spread rule and the section version (1: the rule of older packs, 2: the current one).
void BM_TileMapBuild(benchmark::State& state) {
    static TempDir dir;
    static OpenPack packs[3];
    static TileMapScratch scratch;
    static bool loaded = [] {
        for (uint16_t version : {CANDIDATE_VERSION_1, CANDIDATE_VERSION_2, CANDIDATE_VERSION}) {
            PackSpec spec;
            spec.pictures = 64;
            spec.thumb_size_field = 64;
            spec.thumb_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(p * 977 + x * 31 + y); };
            constexpr int k = CANDIDATE_MAX;
            std::vector<uint16_t> lists(static_cast<size_t>(k) * 65536);
            for (int v = 0; v < 65536; ++v)
                for (int s = 0; s < k; ++s) lists[static_cast<size_t>(v) * k + s] = static_cast<uint16_t>((v + 5 * s) % 64);
            std::string bytes = pack_bytes(spec), section(candidate_section_size(k), '\0');
            candidates_encode(k, lists.data(), reinterpret_cast<uint8_t*>(&section[0]), version);
            const std::string path = dir.file("candidates" + std::to_string(version) + ".evg");
            OpenPack& candidates_pack = packs[version - 1];
            if (!write_file(path, bytes + section) ||
                pack_load(path.c_str(), PACK_HEADER_SIZE, &candidates_pack) != PACK_OK ||
                candidates_pack.candidates.count != k)
                return false;
        }
        return true;
    }();
    if (!loaded) {
        state.SkipWithError("candidate pack did not load");
        return;
    }
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
    for (auto _ : state) {
        tile_map_build(packs[state.range(1) - 1], scratch, surface_image, 0, tile_map, static_cast<int>(state.range(0)));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TileMapBuild)
    ->Args({SPREAD_DIFFUSE, CANDIDATE_VERSION_1})
    ->Args({SPREAD_NOISE, CANDIDATE_VERSION_1})
    ->Args({SPREAD_DIFFUSE, CANDIDATE_VERSION_2})
    ->Args({SPREAD_NOISE, CANDIDATE_VERSION_2})
    ->Args({SPREAD_DIFFUSE, CANDIDATE_VERSION})
    ->Args({SPREAD_NOISE, CANDIDATE_VERSION})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
