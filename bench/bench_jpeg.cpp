// Decode speed of the JPEG decoder against libjpeg-turbo in its fastest comparable setting
// (RGB565 output, fast integer transform, replicated chroma, no dither, one decompressor per
// picture as a viewer would). Prints microseconds per picture and the ratio ours / libjpeg.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "media/jpeg_decoder.h"
#include "tests/support/jpeg_fixtures.h"

namespace {

struct PictureSet {
    std::vector<std::vector<uint8_t>> files;
    int width, height;
};

const PictureSet& photos_240() {
    static PictureSet set = [] {
        PictureSet s{{}, 240, 240};
        JpegFixtureOptions o;  // 4:2:0, quality 85
        for (uint32_t seed = 1; seed <= 8; ++seed) s.files.push_back(make_test_jpeg(240, 240, o, seed));
        return s;
    }();
    return set;
}

// The built-in menu background when the assets are there, else an equivalent 240 x 320 file
// with Y sampled 2 x 1.
const PictureSet& menu_background() {
    static PictureSet set = [] {
        PictureSet s{{}, 240, 320};
        std::ifstream in(std::string(EVG_SOURCE_DIR) + "/assets/menu_background.jpg", std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.empty()) {
            JpegFixtureOptions o;
            o.luma_h = 2;
            o.luma_v = 1;
            bytes = make_test_jpeg(240, 320, o, 42);
            std::printf("menu background: generated 240x320 2x1 picture (%zu bytes)\n", bytes.size());
        } else {
            std::printf("menu background: assets/menu_background.jpg (%zu bytes)\n", bytes.size());
        }
        s.files.push_back(bytes);
        return s;
    }();
    return set;
}

void decode_ours(benchmark::State& state, const PictureSet& set) {
    std::vector<uint16_t> out(static_cast<size_t>(set.width) * set.height);
    size_t i = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& f = set.files[i++ % set.files.size()];
        benchmark::DoNotOptimize(jpeg_decode(f.data(), f.size(), out.data(), set.width, set.height));
        benchmark::ClobberMemory();
    }
}

struct ErrorJump {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
void error_exit(j_common_ptr info) { longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }

void libjpeg_rgb565(const std::vector<uint8_t>& file, uint16_t* out, int width) {
    jpeg_decompress_struct info;
    ErrorJump error;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = error_exit;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB565;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.dither_mode = JDITHER_NONE;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(out + static_cast<size_t>(info.output_scanline) * width);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

void decode_libjpeg(benchmark::State& state, const PictureSet& set) {
    std::vector<uint16_t> out(static_cast<size_t>(set.width) * set.height);
    size_t i = 0;
    for (auto _ : state) {
        libjpeg_rgb565(set.files[i++ % set.files.size()], out.data(), set.width);
        benchmark::ClobberMemory();
    }
}

void BM_Ours_240x240_420(benchmark::State& s) { decode_ours(s, photos_240()); }
void BM_Libjpeg_240x240_420(benchmark::State& s) { decode_libjpeg(s, photos_240()); }
void BM_Ours_Menu_240x320_2x1(benchmark::State& s) { decode_ours(s, menu_background()); }
void BM_Libjpeg_Menu_240x320_2x1(benchmark::State& s) { decode_libjpeg(s, menu_background()); }
BENCHMARK(BM_Ours_240x240_420)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libjpeg_240x240_420)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ours_Menu_240x320_2x1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libjpeg_Menu_240x320_2x1)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> us;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                us[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* pairs[][3] = {{"240x240 4:2:0 q85", "BM_Ours_240x240_420", "BM_Libjpeg_240x240_420"},
                              {"menu 240x320 2x1", "BM_Ours_Menu_240x320_2x1", "BM_Libjpeg_Menu_240x320_2x1"}};
    for (const auto& p : pairs) {
        auto a = reporter.us.find(p[1]), b = reporter.us.find(p[2]);
        if (a == reporter.us.end() || b == reporter.us.end()) continue;
        std::printf("%s: ours %.1f us, libjpeg-turbo %.1f us, ratio %.2f\n", p[0], a->second,
                    b->second, a->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}
