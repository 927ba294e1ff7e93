// Pack tool throughput: 12-megapixel camera-sized JPEGs turned into pack pictures per second
// (two workers, as on this two-core machine), and the colour tables for 2048 pictures.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "tests/support/jpeg_fixtures.h"
#include "builder/colour_match.h"
#include "builder/pack_writer.h"
#include "builder/photo_import.h"

using namespace evgpack;

namespace {

// A 4000 x 3000 photo-like JPEG (gradients, texture and edges), quality 90, 4:2:0.
std::vector<uint8_t> camera_jpeg(int seed) {
    JpegFixtureOptions options;
    options.quality = 90;
    return make_test_jpeg(4000, 3000, options, static_cast<uint32_t>(seed + 1));
}

const std::vector<std::vector<uint8_t>>& camera_photos() {
    static std::vector<std::vector<uint8_t>> photos = [] {
        std::vector<std::vector<uint8_t>> p;
        for (int i = 0; i < 6; ++i) p.push_back(camera_jpeg(i));
        return p;
    }();
    return photos;
}

void BM_PhotosPerSecond12MP(benchmark::State& state) {
    const auto& photos = camera_photos();
    const int workers = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::atomic<size_t> next{0};
        auto work = [&]() {
            for (size_t i; (i = next.fetch_add(1)) < photos.size();) {
                LinearPicture picture;
                std::string error;
                PackPicture out;
                import_photo(photos[i].data(), photos[i].size(), picture, error);
                make_pack_picture(picture, 85, 64, out);
                benchmark::DoNotOptimize(out.jpeg.data());
            }
        };
        std::vector<std::thread> pool;
        for (int t = 1; t < workers; ++t) pool.emplace_back(work);
        work();
        for (auto& t : pool) t.join();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(photos.size()));
    state.SetLabel("items/s = photos per second");
}
BENCHMARK(BM_PhotosPerSecond12MP)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MatchTables2048(benchmark::State& state) {
    std::mt19937 rng(3);
    std::vector<Lab> colours;
    for (int i = 0; i < 2048; ++i) colours.push_back(rgb565_to_lab(static_cast<uint16_t>(rng())));
    for (auto _ : state) {
        MatchTables t = compute_match_tables(colours, state.range(0) / 10.0, 2);  // variety in tenths
        benchmark::DoNotOptimize(t.best.data());
    }
}
BENCHMARK(BM_MatchTables2048)
    ->Arg(0)
    ->Arg(static_cast<int>(DEFAULT_VARIETY * 10))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
