// present_frame against a plain per-pixel copy (16-bit stores: four per device pixel doubled,
// one in 1:1), both on the dummy driver's software surface, flip included.
#include <benchmark/benchmark.h>

#include <SDL/SDL.h>

#include <cstdlib>
#include <cstring>

#include "render/framebuffer.h"
#include "runtime/host.h"

namespace {

void open_window(uint8_t doubled) {
    static bool started = false;
    if (!started) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (host_init() != 0) std::abort();
        for (int i = 0; i < SCREEN_WIDTH * SCREEN_MAX_HEIGHT; ++i)
            Framebuffer[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
        started = true;
    }
    host_window.surface = SDL_SetVideoMode(doubled ? 480 : 240, doubled ? 640 : 320, 16,
                                           SDL_HWSURFACE | SDL_RESIZABLE | SDL_DOUBLEBUF);
    host_window.pixel_double = doubled;
}

void present_per_pixel() {
    SDL_Surface* s = host_window.surface;
    SDL_LockSurface(s);
    uint8_t* base = static_cast<uint8_t*>(s->pixels);
    for (int y = 0; y < screen_height; ++y) {
        const uint16_t* src = Framebuffer + y * SCREEN_WIDTH;
        if (host_window.pixel_double) {
            auto* top = reinterpret_cast<uint16_t*>(base + 2 * y * s->pitch);
            auto* bottom = reinterpret_cast<uint16_t*>(base + (2 * y + 1) * s->pitch);
            for (int x = 0; x < SCREEN_WIDTH; ++x) {
                top[2 * x] = top[2 * x + 1] = src[x];
                bottom[2 * x] = bottom[2 * x + 1] = src[x];
            }
        } else {
            auto* row = reinterpret_cast<uint16_t*>(base + y * s->pitch);
            for (int x = 0; x < SCREEN_WIDTH; ++x) row[x] = src[x];
        }
    }
    SDL_UnlockSurface(s);
    SDL_Flip(s);
}

void BM_present_frame(benchmark::State& state) {
    open_window(static_cast<uint8_t>(state.range(0)));
    for (auto _ : state) present_frame();
    benchmark::DoNotOptimize(host_window.surface->pixels);
}

void BM_present_per_pixel_reference(benchmark::State& state) {
    open_window(static_cast<uint8_t>(state.range(0)));
    for (auto _ : state) present_per_pixel();
    benchmark::DoNotOptimize(host_window.surface->pixels);
}

}  // namespace

BENCHMARK(BM_present_frame)->Arg(1)->Arg(0);
BENCHMARK(BM_present_per_pixel_reference)->Arg(1)->Arg(0);
BENCHMARK_MAIN();
