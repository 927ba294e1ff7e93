// Pack tool throughput: 12-megapixel camera-sized JPEGs turned into pack pictures per second
// (two workers, as on this two-core machine), and the colour tables for 2048 pictures.
#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "tools/evgpack/colour_match.h"
#include "tools/evgpack/pack_writer.h"
#include "tools/evgpack/photo_import.h"

using namespace evgpack;

namespace {

// A 4000 x 3000 photo-like JPEG: smooth gradients, texture and edges, quality 90, 4:2:0.
std::vector<uint8_t> camera_jpeg(int seed) {
    const int w = 4000, h = 3000;
    std::mt19937 rng(seed);
    std::vector<uint8_t> row(w * 3);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&c, &buf, &len);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    double phase = seed * 0.7;
    while (c.next_scanline < c.image_height) {
        int y = c.next_scanline;
        for (int x = 0; x < w; ++x) {
            double v = 0.5 + 0.3 * std::sin(x * 0.002 + phase) * std::cos(y * 0.003) + 0.1 * std::sin(x * 0.05 + y * 0.07);
            int noise = static_cast<int>(rng() % 17) - 8;
            bool edge = ((x / 500) + (y / 400)) % 2;
            row[x * 3 + 0] = static_cast<uint8_t>(std::clamp(static_cast<int>(255 * v) + noise + (edge ? 30 : 0), 0, 255));
            row[x * 3 + 1] = static_cast<uint8_t>(std::clamp(static_cast<int>(200 * v) + noise, 0, 255));
            row[x * 3 + 2] = static_cast<uint8_t>(std::clamp(static_cast<int>(255 * (1 - v)) + noise, 0, 255));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buf, buf + len);
    std::free(buf);
    return out;
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
