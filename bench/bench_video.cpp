// The video encoder on a recorded journey: every frame of EVG_VIDEO_FRAMES (raw 240 x 320 RGB565
// screens, as scripts/video_measure.sh captures them) through webp_video_add at 3x, 720 x 960.
// Reports the encode CPU time per frame (mean, 99th percentile, worst) against the 25 ms frame
// period, and the file's bytes per second of video. Skipped when the variable is not set.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/webp_video.h"

namespace {

constexpr int WIDTH = 240, HEIGHT = 320, SCALE = 3, FRAME_MS = 25;

// CPU time of this thread in ms: on a shared machine the wall clock mostly measures the other
// processes, while the budget question is whether one core can keep up.
double thread_ms() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void encode_journey(benchmark::State& state) {
    const char* path = std::getenv("EVG_VIDEO_FRAMES");
    std::vector<uint16_t> frames;
    if (FILE* file = path ? std::fopen(path, "rb") : nullptr) {
        std::vector<uint16_t> screen(WIDTH * HEIGHT);
        while (std::fread(screen.data(), 2, screen.size(), file) == screen.size())
            frames.insert(frames.end(), screen.begin(), screen.end());
        std::fclose(file);
    }
    const size_t count = frames.size() / (WIDTH * HEIGHT);
    if (count == 0) {
        state.SkipWithError("set EVG_VIDEO_FRAMES to a file of raw screens (scripts/video_measure.sh)");
        return;
    }
    const std::string out = std::string(path) + ".bench.webp";
    std::vector<double> ms(count);
    for (auto _ : state) {
        WebpVideo* video = webp_video_open(WIDTH, HEIGHT, SCALE, FRAME_MS);
        for (size_t i = 0; i < count; ++i) {
            const double start = thread_ms();
            webp_video_add(video, frames.data() + i * WIDTH * HEIGHT, static_cast<uint32_t>(i));
            ms[i] = thread_ms() - start;
        }
        char error[256];
        if (!webp_video_finish(video, static_cast<uint32_t>(count), out.c_str(), error, sizeof error))
            state.SkipWithError(error);
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double t : ms) sum += t;
    state.counters["frames"] = static_cast<double>(count);
    state.counters["mean_ms"] = sum / count;
    state.counters["p99_ms"] = sorted[count * 99 / 100];
    state.counters["max_ms"] = sorted.back();
    state.counters["over_25ms"] = static_cast<double>(count - (std::lower_bound(sorted.begin(), sorted.end(), 25.0) - sorted.begin()));
    FILE* file = std::fopen(out.c_str(), "rb");
    long size = 0;
    if (file && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (file) std::fclose(file);
    state.counters["KB_per_s"] = size / 1024.0 / (count * FRAME_MS / 1000.0);
    std::remove(out.c_str());
}
BENCHMARK(encode_journey)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
