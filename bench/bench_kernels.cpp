// Kernel speed against the references on a 240 x 320 RGB565 frame, all in one run so that the
// ratios printed at the end compare like with like on a noisy machine:
//   blit_rgb565 copy vs memcpy; blit_rgb565 blend vs SDL per-surface alpha; blit_rgb565_runs vs
//   SDL's RLE colour-key blit; a rotated, doubled 64 x 64 sprite vs SDL_gfx rotozoomSurface.
#include <benchmark/benchmark.h>

#include <SDL/SDL.h>
#include <SDL/SDL_rotozoom.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "render/kernels.h"
#include "render/framebuffer.h"

namespace {

constexpr int W = SCREEN_WIDTH, H = 320;

std::vector<uint16_t> picture() {
    std::vector<uint16_t> p(W * H);
    std::mt19937 rng(1);
    for (auto& v : p) v = static_cast<uint16_t>(rng() & 0xFFFE);
    return p;
}

// A picture with about 20% colour-key pixels in short horizontal blobs, plus its run stream.
struct KeyedPicture {
    std::vector<uint16_t> pixels;
    Bitmap runs{};
    KeyedPicture() : pixels(picture()) {
        std::mt19937 rng(2);
        std::vector<uint8_t> mask(W * H, 1);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W;) {
                const int len = 4 + static_cast<int>(rng() % 20);
                const bool key = rng() % 5 == 0;
                for (int i = 0; i < len && x < W; ++i, ++x)
                    if (key) {
                        pixels[y * W + x] = colour_key;
                        mask[y * W + x] = 0;
                    }
            }
        bitmap_encode_runs(&runs, mask.data(), W, H);
    }
};

SDL_Surface* surface16(const uint16_t* pixels) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, W, H, 16, 0xF800, 0x07E0, 0x001F, 0);
    if (pixels) std::memcpy(s->pixels, pixels, sizeof(uint16_t) * W * H);
    return s;
}

// ---- 1. Full-screen copy ----

void BM_memcpy_frame(benchmark::State& state) {
    const std::vector<uint16_t> src = picture();
    for (auto _ : state) {
        std::memcpy(Framebuffer, src.data(), sizeof(uint16_t) * W * H);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_memcpy_frame);

void BM_blit_rgb565_copy(benchmark::State& state) {
    const std::vector<uint16_t> src = picture();
    for (auto _ : state) {
        blit_rgb565(src.data(), W, H, 0, 0, 32);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_blit_rgb565_copy);

// ---- 2. Full-screen blend ----

void BM_SDL_alpha96(benchmark::State& state) {
    const std::vector<uint16_t> src = picture();
    SDL_Surface* s = surface16(src.data());
    SDL_Surface* d = surface16(nullptr);
    SDL_SetAlpha(s, SDL_SRCALPHA, 96);
    for (auto _ : state) {
        SDL_BlitSurface(s, nullptr, d, nullptr);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
}
BENCHMARK(BM_SDL_alpha96);

void BM_blit_rgb565_blend12(benchmark::State& state) {
    const std::vector<uint16_t> src = picture();
    for (auto _ : state) {
        blit_rgb565(src.data(), W, H, 0, 0, 12);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_blit_rgb565_blend12);

// ---- 3. Keyed full-screen picture ----

void BM_SDL_colour_key_rle(benchmark::State& state) {
    KeyedPicture k;
    SDL_Surface* s = surface16(k.pixels.data());
    SDL_Surface* d = surface16(nullptr);
    SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, colour_key);
    SDL_BlitSurface(s, nullptr, d, nullptr);  // the first blit builds the RLE form
    for (auto _ : state) {
        SDL_BlitSurface(s, nullptr, d, nullptr);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
}
BENCHMARK(BM_SDL_colour_key_rle);

void BM_blit_rgb565_runs(benchmark::State& state) {
    KeyedPicture k;
    for (auto _ : state) {
        blit_rgb565_runs(k.pixels.data(), k.runs.runs, k.runs.row_offsets, W, H, 0, 0, 32);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_blit_rgb565_runs);

// ---- 4. Rotated and scaled sprite: 64 x 64, 30 degrees, twice the size ----

constexpr int SPRITE = 64;
constexpr int32_t ANGLE_30 = 43;  // 30 degrees in 512ths of a turn, rounded

std::vector<uint8_t> sprite_indices() {
    std::vector<uint8_t> s(SPRITE * SPRITE);
    std::mt19937 rng(3);
    for (auto& v : s) v = static_cast<uint8_t>(rng() % 8 == 0 ? 0 : rng());
    return s;
}

void BM_SDLgfx_rotozoom(benchmark::State& state) {
    const std::vector<uint8_t> idx = sprite_indices();
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, SPRITE, SPRITE, 8, 0, 0, 0, 0);
    for (int y = 0; y < SPRITE; ++y)
        std::memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch, idx.data() + y * SPRITE, SPRITE);
    for (auto _ : state) {
        SDL_Surface* r = rotozoomSurface(s, 30.0, 2.0, SMOOTHING_OFF);
        benchmark::DoNotOptimize(r);
        SDL_FreeSurface(r);
    }
    SDL_FreeSurface(s);
}
BENCHMARK(BM_SDLgfx_rotozoom);

void BM_rotozoom_indexed_keyed(benchmark::State& state) {
    const std::vector<uint8_t> idx = sprite_indices();
    uint16_t palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i * 257);
    current_clip = 0;
    for (auto _ : state) {
        rotozoom_indexed_keyed(idx.data(), palette, SPRITE, SPRITE, 88, 128, 32, ANGLE_30, 2048);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_rotozoom_indexed_keyed);

// Collects the time per iteration of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) ns[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    screen_height = H;
    active_clips[0] = ClipRect{0, 0, W - 1, H - 1};
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* reference, const char* label) {
        if (!reporter.ns.count(ours) || !reporter.ns.count(reference)) return;
        const double r = reporter.ns[ours] / reporter.ns[reference];
        std::printf("%-44s %8.2f us vs %8.2f us: %.2fx the reference time (%.2fx faster)\n", label,
                    reporter.ns[ours] / 1000.0, reporter.ns[reference] / 1000.0, r, 1.0 / r);
    };
    std::printf("\nRatios of CPU time per call (ours / reference):\n");
    ratio("BM_blit_rgb565_copy", "BM_memcpy_frame", "blit_rgb565 copy vs memcpy");
    ratio("BM_blit_rgb565_blend12", "BM_SDL_alpha96", "blit_rgb565 blend 12 vs SDL alpha 96");
    ratio("BM_blit_rgb565_runs", "BM_SDL_colour_key_rle", "blit_rgb565_runs vs SDL RLE colour key");
    ratio("BM_rotozoom_indexed_keyed", "BM_SDLgfx_rotozoom", "rotozoom 64x64 30deg x2 vs SDL_gfx");
    benchmark::Shutdown();
    return 0;
}
