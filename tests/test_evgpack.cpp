// The pack tool: photos in, a pack the viewer opens out; colour tables, orientation, formats,
// bad input, determinism and the inspection commands.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "pack/pack_candidates.h"
#include "pack/pack_file.h"
#include "pack/tile_map.h"
#include "tests/support/check.h"
#include "tests/support/pack_builder.h"
#include "tests/support/png_fixtures.h"
#include "tests/support/temp_dir.h"
#include "builder/pack_quality.h"
#include "render/blend.h"
#include "builder/pack_stats.h"
#include "builder/jpeg_encode.h"
#include "tools/evgpack/cli.h"
#include "builder/colour_match.h"
#include "tools/evgpack/commands.h"
#include "builder/exif.h"
#include "builder/poster.h"
#include "builder/photo_import.h"

using namespace evgpack;

namespace {

// An RGB test photo: the top half `top`, the bottom half `bottom` (8-bit colours).
struct Photo {
    int width, height;
    std::vector<uint8_t> rgb;
};

Photo make_photo(int w, int h, uint32_t top, uint32_t bottom) {
    Photo p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = y < h / 2 ? top : bottom;
            uint8_t* o = &p.rgb[(static_cast<size_t>(y) * w + x) * 3];
            o[0] = c >> 16, o[1] = (c >> 8) & 0xFF, o[2] = c & 0xFF;
        }
    return p;
}

// JPEG writer for the tests: progressive, CMYK (Adobe-inverted) and an EXIF orientation.
std::string jpeg_bytes(const Photo& p, bool progressive = false, bool cmyk = false, int orientation = 0) {
    JpegEncodeOptions options;
    options.quality = 95, options.progressive = progressive, options.cmyk = cmyk;
    if (orientation) {
        // "Exif\0\0", little-endian TIFF header, one directory entry: orientation (SHORT).
        options.app1 = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                        0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0};
    }
    // Adobe CMYK is stored inverted: 255 - C = R when K = 0.
    std::vector<uint8_t> pixels = cmyk ? std::vector<uint8_t>() : p.rgb;
    for (size_t i = 0; cmyk && i < p.rgb.size(); i += 3) pixels.insert(pixels.end(), {p.rgb[i], p.rgb[i + 1], p.rgb[i + 2], 255});
    std::vector<uint8_t> out;
    jpeg_encode(pixels.data(), p.width, p.height, options, out);
    return std::string(out.begin(), out.end());
}

// PNG of a photo: 16-bit RGB, 8-bit palette (two colours, the photo's top and bottom) or 8-bit RGB.
std::string png_bytes(const Photo& p, bool sixteen, bool palette) {
    PngSpec spec{p.width, p.height, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, {}, sixteen ? 16 : 8};
    const uint8_t* last = &p.rgb[p.rgb.size() - 3];
    spec.palette = {{p.rgb[0], p.rgb[1], p.rgb[2]}, {last[0], last[1], last[2]}};
    if (!palette) spec.palette.clear();
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
        if (palette) spec.pixels.push_back(i / 3 / p.width < size_t(p.height / 2) ? 0 : 1);
        for (int k = 0; k < 3 && !palette; ++k) spec.pixels.insert(spec.pixels.end(), sixteen ? 2 : 1, p.rgb[i + k]);
    }
    return png_encode(spec);
}

// Imports the first n bytes (all by default): "" when the photo is taken, else the reason.
std::string import(const std::string& bytes, LinearPicture& pic, size_t n = std::string::npos,
                   PhotoStatus* status = nullptr) {
    std::string error;
    const PhotoStatus s = import_photo(reinterpret_cast<const uint8_t*>(bytes.data()), std::min(n, bytes.size()), pic, error);
    if (status) *status = s;
    return s == PHOTO_OK ? "" : error.empty() ? "(no reason)" : error;
}

// A pixel's 8-bit red and blue as one number, red x 1000 + blue.
int red_blue(const LinearPicture& p, int x, int y) {
    const float* c = &p.rgb[(static_cast<size_t>(y) * p.size + x) * 3];
    return linear_to_srgb(c[0]) * 1000 + linear_to_srgb(c[2]);
}

int run(const std::string& command, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    int argc = static_cast<int>(argv.size());
    if (command == "build") return cmd_build(argc, argv.data());
    if (command == "info") return cmd_info(argc, argv.data());
    if (command == "verify") return cmd_verify(argc, argv.data());
    if (command == "demo") return cmd_demo(argc, argv.data());
    if (command == "poster") return cmd_poster(argc, argv.data());
    return cmd_extract(argc, argv.data());
}

// run() with standard output and error captured into *out and *err when given.
int run_quiet(const std::string& command, std::vector<std::string> args, std::string* out = nullptr,
              std::string* err = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = run(command, std::move(args));
    const std::string o = testing::internal::GetCapturedStdout(), e = testing::internal::GetCapturedStderr();
    if (out) *out = o;
    if (err) *err = e;
    return status;
}

// A folder of `n` small photos of distinct colours.
void write_photos(const TempDir& dir, int n) {
    std::filesystem::create_directories(dir.file("photos"));
    for (int i = 0; i < n; ++i) {
        uint32_t c = (i * 0x3D21A7u + 0x402010u) & 0xFFFFFF;
        char name[32];
        std::snprintf(name, sizeof name, "photos/p%02d.jpg", i);
        write_file(dir.file(name), jpeg_bytes(make_photo(300 + i, 260, c, c ^ 0x808080)));
    }
}

// The two bombs: a PNG declaring 400,000,000 x 1 RGB pixels, and a small progressive JPEG whose
// frame header claims 20000 x 19999.
std::string png_bomb() {
    std::string png = png_bytes(make_photo(1, 1, 0, 0), false, false);
    png_claim_size(png, 400000000, 1);
    return png;
}
std::string jpeg_bomb() {
    std::string j = jpeg_bytes(make_photo(16, 16, 0x808080, 0x404040), true);
    size_t sof = j.find("\xFF\xC2");
    j[sof + 5] = char(19999 >> 8), j[sof + 6] = char(19999 & 0xFF);
    j[sof + 7] = char(20000 >> 8), j[sof + 8] = char(20000 & 0xFF);
    return j;
}

// A photo with fine detail everywhere, so that its JPEG scan data is long.
Photo noisy_photo(int w, int h) {
    Photo p = make_photo(w, h, 0, 0);
    std::mt19937 rng(3);
    for (uint8_t& v : p.rgb) v = static_cast<uint8_t>(rng());
    return p;
}

// Runs `body` in a child process and returns its exit status (-signal when killed). With
// `unprivileged`, the child first gives up all capabilities, so that file permissions bind even
// for root. Root stays user 0 and so still reaches the test's folder through a private TMPDIR
// (mode 0700), which another user could not.
template <typename F>
int in_child(F body, bool unprivileged = false) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct no_capabilities[_LINUX_CAPABILITY_U32S_3] = {};
        if (unprivileged && ::syscall(SYS_capset, &header, no_capabilities) != 0) ::_exit(99);
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Limits the address space to what the process has now plus `extra_mb`; false when it cannot.
bool limit_address_space(unsigned extra_mb) {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (static_cast<rlim_t>(extra_mb) << 20);
    struct rlimit r = {limit, limit};
    return pages != 0 && ::setrlimit(RLIMIT_AS, &r) == 0;
}

}  // namespace

TEST(PhotoImport, ReadsEveryKindAndHonoursOrientation) {
    Photo p = make_photo(320, 240, 0xE00000, 0x0000E0);  // red over blue
    PngSpec laced{320, 240, PNG_COLOR_TYPE_RGB, p.rgb};
    laced.interlaced = true;
    const std::string kinds[] = {jpeg_bytes(p), jpeg_bytes(p, true), jpeg_bytes(p, false, true), png_bytes(p, true, false),
                                 png_bytes(p, false, true), png_encode(laced)};  // baseline, progressive, CMYK, 16-bit, palette, interlaced
    for (const std::string& bytes : kinds) {
        LinearPicture pic;
        ASSERT_EQ(import(bytes, pic), "");
        ASSERT_EQ(pic.size, 240);
        const int top = red_blue(pic, 120, 11), bottom = red_blue(pic, 120, 231);  // odd rows: Adam7's last pass
        EXPECT_TRUE(top > 180000 && top % 1000 < 60 && bottom % 1000 > 180) << top << " " << bottom;
    }
    // Every EXIF orientation, on a photo with four coloured quarters (stored: red green / blue
    // white): the corners as shown, for the pack picture and for a poster's whole-photo target
    // (30 across; rows follow the turned shape).
    Photo quarters{320, 240, std::vector<uint8_t>(320 * 240 * 3)};
    const uint32_t corner_colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    for (int i = 0; i < 320 * 240; ++i) {
        const uint32_t c = corner_colours[(i / 320 >= 120) * 2 + (i % 320 >= 160)];
        quarters.rgb[i * 3] = c >> 16, quarters.rgb[i * 3 + 1] = (c >> 8) & 0xFF, quarters.rgb[i * 3 + 2] = c & 0xFF;
    }
    auto name = [](float r, float g, float b) { return r > 0.5f ? (g > 0.5f ? 'W' : 'R') : g > 0.5f ? 'G' : b > 0.5f ? 'B' : '?'; };
    const char* shown[9] = {"", "RGBW", "GRWB", "WBGR", "BWRG", "RBGW", "BRWG", "WGBR", "GWRB"};
    // Exactly, on a picture of pixel numbers: where pixel (1, 0) comes from (column, row).
    const int from[9][2] = {{}, {1, 0}, {238, 0}, {238, 239}, {1, 239}, {0, 1}, {0, 238}, {239, 238}, {239, 1}};
    for (int o = 1; o <= 8; ++o) {
        LinearPicture numbered{240, std::vector<float>(240 * 240 * 3)};
        for (int i = 0; i < 240 * 240; ++i) numbered.rgb[i * 3 + 2] = static_cast<float>(i);
        orient_picture(numbered, o);
        EXPECT_EQ(numbered.rgb[5], from[o][1] * 240 + from[o][0]) << o;
        const std::string bytes = jpeg_bytes(quarters, false, false, o);
        LinearPicture pic;
        ASSERT_EQ(import(bytes, pic), "");
        std::string corners, poster_corners;
        evgpack::PosterTarget target;
        std::string error;
        ASSERT_TRUE(evgpack::poster_target_photo(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 30, 40, target, error));
        for (int k = 0; k < 4; ++k) {
            const float* f = &pic.rgb[((k / 2 * 200 + 20) * 240 + k % 2 * 200 + 20) * 3];
            corners += name(f[0], f[1], f[2]);
            const int x = k % 2 ? target.width - 3 : 2, y = k / 2 ? target.height - 3 : 2;
            const uint8_t* t = &target.rgb[(y * target.width + x) * 3];
            poster_corners += name(t[0] / 255.0f, t[1] / 255.0f, t[2] / 255.0f);
        }
        EXPECT_EQ(vals(target.width, target.height), vals(30, o >= 5 ? 40 : 23)) << o;  // 22.5 rows round up
        EXPECT_EQ(corners + " " + poster_corners, std::string(shown[o]) + " " + shown[o]) << o;
    }
    // A photo whose shorter side gives 240 pixels at 1/8 scale (rounded up) is decoded so: each
    // 8 x 8 block of black and white stripes becomes its mean, mid grey in sRGB (0.22 linear).
    // A shorter side of 1912 needs 1/4 scale, whose black and white samples are averaged in
    // linear light (0.5).
    for (const auto& [w, h, linear] : {std::array<int, 3>{1913, 1920, 22}, {1920, 1912, 50}}) {
        Photo stripes = make_photo(w, h, 0xFFFFFF, 0xFFFFFF);
        for (size_t i = 0; i < stripes.rgb.size(); ++i) stripes.rgb[i] *= i / 3 % w / 4 % 2;
        LinearPicture pic;
        ASSERT_EQ(import(jpeg_bytes(stripes), pic), "");
        EXPECT_NEAR(pic.rgb[(120 * 240 + 120) * 3], linear / 100.0, 0.02) << w << " " << h;
    }
    // Area averaging in linear light: the centred 360 of 362 columns, every third white from the
    // photo's edge, make 240 whose second of each pair covers one white column and half a black
    // one (2/3) and whose first is black.
    Photo stripes = make_photo(362, 360, 0xFFFFFF, 0xFFFFFF);
    for (size_t i = 0; i < stripes.rgb.size(); ++i) stripes.rgb[i] *= i / 3 % 362 % 3 == 0;
    LinearPicture averaged;
    ASSERT_EQ(import(png_bytes(stripes, false, false), averaged), "");
    for (int x = 0; x < 240; ++x) ASSERT_NEAR(averaged.rgb[(100 * 240 + x) * 3 + 1], x % 2 ? 2 / 3.0 : 0, 1e-5) << x;
    // Turned, 30 across needs 40 rows: refused when at most 39 are allowed.
    evgpack::PosterTarget target;
    std::string error;
    const std::string turned = jpeg_bytes(p, false, false, 6);
    EXPECT_FALSE(evgpack::poster_target_photo(reinterpret_cast<const uint8_t*>(turned.data()), turned.size(), 30, 39, target, error));
}

TEST(PhotoImport, RefusesGarbageAndTruncatedData) {
    LinearPicture pic;
    EXPECT_EQ(import("this is not a picture at all", pic), "not a JPEG or PNG file");
    std::string png = png_bytes(make_photo(64, 64, 0x102030, 0x405060), false, false);
    for (size_t cut : {size_t(8), size_t(40), png.size() / 2}) EXPECT_EQ(import(png, pic, cut).rfind("corrupt PNG data: ", 0), 0u) << cut;
    EXPECT_NE(import(jpeg_bytes(make_photo(64, 64, 0x102030, 0x405060)), pic, 100), "");
    // Cut inside the scan data: libjpeg would fill the rest with grey; the photo is refused.
    const std::string jpeg = jpeg_bytes(noisy_photo(64, 64));
    for (size_t cut : {jpeg.size() / 2, jpeg.size() - 40}) {
        EXPECT_NE(import(jpeg, pic, cut).find("damaged JPEG data"), std::string::npos) << cut;
        EXPECT_NE(jpeg_damage(reinterpret_cast<const uint8_t*>(jpeg.data()), cut), "");
    }
    EXPECT_EQ(jpeg_damage(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()), "");
}

// Headers that claim gigapixels are refused before anything of that size is allocated; the
// build goes on without them, also in a child whose address space is far too small for them.
TEST(PhotoImport, MemoryBombsAreRefusedCheaply) {
    const std::string bombs[] = {png_bomb(), jpeg_bomb()};
    // The JPEG's coefficients: 2500 x 2500 luma blocks and two 1250 x 1250 chroma, 128 bytes each.
    const char* reasons[] = {"photo too large (400000000 x 1", "photo needs 1145 MB to decode (at most 256 MB)"};
    const PhotoStatus statuses[] = {PHOTO_TOO_LARGE, PHOTO_DECODE_TOO_LARGE};  // not corrupt data
    LinearPicture pic;
    for (int k = 0; k < 2; ++k) {
        PhotoStatus status = PHOTO_OK;
        EXPECT_NE(import(bombs[k], pic, std::string::npos, &status).find(reasons[k]), std::string::npos) << import(bombs[k], pic);
        EXPECT_EQ(status, statuses[k]);
    }
    // At the limits' edges (lowered here): a side or a pixel count at its limit is imported, one more is not.
    const PhotoLimits saved = photo_limits;
    photo_limits.side = 64, photo_limits.pixels = 64 * 48;
    const struct { int w, h; bool ok; } edges[] = {{64, 48, true}, {48, 64, true}, {65, 40, false}, {40, 65, false}, {64, 49, false}};
    for (const auto& e : edges) EXPECT_EQ(import(jpeg_bytes(noisy_photo(e.w, e.h)), pic).empty(), e.ok) << e.w << " x " << e.h;
    photo_limits = saved;
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with AddressSanitizer's shadow memory";
#else
    TempDir dir;
    write_photos(dir, 2);
    write_file(dir.file("photos/bomb.png"), bombs[0]);
    write_file(dir.file("photos/bomb.jpg"), bombs[1]);
    const int status = in_child([&] {
        // What the process has now, plus room for the decode budget: far below either bomb.
        if (!limit_address_space(600)) return 98;
        if (!std::freopen("/dev/null", "w", stderr)) return 97;
        return run("build", {"-o", dir.file("pack.evg"), "--quiet", "--jobs", "1", dir.file("photos")});
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(file_exists(dir.file("pack.evg")));
#endif
}

// Sparse packs whose lengths cover gigabytes of thumbnails: a count above 2048, and 2048
// pictures of 255 pixels without their entries, are refused before the thumbnails are allocated.
TEST(EvgpackInfo, SparsePacksAreRefusedBeforeAllocating) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with AddressSanitizer's shadow memory";
#else
    TempDir dir;
    const struct { const char* name; uint16_t count, edge; const char* reason; } packs[] = {
        {"many.evg", 65535, 128, "More than 2048 pictures."}, {"big.evg", 2048, 255, "past the end. (picture 0)"}};
    for (const auto& p : packs) {
        std::string bytes(PACK_THUMBNAILS, '\0');
        put_le16(reinterpret_cast<uint8_t*>(&bytes[PACK_PICTURE_COUNT]), p.count);
        put_le16(reinterpret_cast<uint8_t*>(&bytes[PACK_THUMB_SIZE]), p.edge);
        ASSERT_TRUE(write_file(dir.file(p.name), bytes));
        ASSERT_EQ(::truncate(dir.file(p.name).c_str(), static_cast<off_t>(pack_entries_start(p.count, p.edge))), 0);
        const std::string log = dir.file("log.txt");
        const int status = in_child([&] {
            if (!limit_address_space(100)) return 98;
            if (!std::freopen(log.c_str(), "w", stderr)) return 97;
            return run("info", {dir.file(p.name)});
        });
        EXPECT_EQ(status, 1);
        EXPECT_NE(read_file(log).find(p.reason), std::string::npos) << read_file(log);
    }
#endif
}

TEST(Exif, BoundedOrientationReader) {
    // II, one entry with orientation 8; then cut at every length and big-endian.
    uint8_t le[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(exif_orientation(le, sizeof le), 8);
    for (size_t n = 0; n < sizeof le - 2; ++n) EXPECT_EQ(exif_orientation(le, n), 1) << n;
    uint8_t be[] = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0};
    EXPECT_EQ(exif_orientation(be, sizeof be), 6);
    uint8_t far[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF, 1, 0};
    EXPECT_EQ(exif_orientation(far, sizeof far), 1);
    uint8_t many[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(exif_orientation(many, sizeof many), 1);
    // One entry, not the orientation, followed by bytes that would read as one: not looked at.
    uint8_t past[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0,
                      0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0};
    EXPECT_EQ(exif_orientation(past, sizeof past), 1);
    le[24] = 9;  // out of range
    EXPECT_EQ(exif_orientation(le, sizeof le), 1);
}

TEST(MatchTables, NearestByDeltaE2000OnASmallSet) {
    std::mt19937 rng(5);
    std::vector<Lab> colours;
    for (int i = 0; i < 9; ++i) colours.push_back(rgb565_to_lab(static_cast<uint16_t>(rng())));
    colours.push_back(colours[3]);  // an exact tie: the lower number wins
    // Lists of 8 with no budget but at least 5: best, then the 4 nearest others however far.
    MatchTables t = compute_match_tables(colours, 0, 2, 8, 0.0, 5);
    for (int c = 0; c < 65536; c += 7) {
        Lab lab = rgb565_to_lab(static_cast<uint16_t>(c));
        double best = 1e9, second = 1e9;
        std::vector<double> all;
        for (int i = 0; i < 10; ++i) {
            double d = ciede2000(lab, colours[i]);
            all.push_back(d);
            if (d < best) second = best, best = d;
            else if (d < second) second = d;
        }
        std::sort(all.begin(), all.end());
        const uint16_t* list = &t.candidates[static_cast<size_t>(c) * 8];
        ASSERT_EQ(vals(list[0], list[5]), vals(t.best[c], CANDIDATE_UNUSED)) << c;
        for (int s = 1; s < 5; ++s) ASSERT_LE(ciede2000(lab, colours[list[s]]), all[s] + 1e-3) << c << " " << s;
        ASSERT_LE(ciede2000(lab, colours[t.best[c]]), best + 1e-3) << c;
        ASSERT_LE(ciede2000(lab, colours[t.second[c]]), second + 1e-3) << c;
        ASSERT_NE(t.best[c], t.second[c]);
        ASSERT_NE(t.best[c], 9);  // never the later of two equal pictures
    }
    // The reference formula on published pairs (Sharma, Wu and Dalal's test data): blues, hue
    // angles on either side of the wrap, lightness and chroma apart, and measured colours.
    const double pairs[][7] = {{50, 2.6772, -79.7751, 50, 0, -82.7485, 2.0425},
                               {50, 0, 0, 50, -1, 2, 2.3669},
                               {50, 2.49, -0.001, 50, -2.49, 0.0009, 7.1792},
                               {50, 2.49, -0.001, 50, -2.49, 0.0011, 7.2195},
                               {50, -0.001, 2.49, 50, 0.0011, -2.49, 4.7461},
                               {50, 2.5, 0, 50, 0, -2.5, 4.3065},
                               {50, 2.5, 0, 73, 25, -18, 27.1492},
                               {50, 2.5, 0, 56, -27, -3, 31.903},
                               {50, 2.5, 0, 50, 3.1736, 0.5854, 1.0},
                               {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
                               {22.7233, 20.0904, -46.694, 23.0331, 14.973, -42.5619, 2.0373},
                               {36.4612, 47.858, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146}};
    for (const auto& p : pairs) EXPECT_NEAR(ciede2000(Lab{p[0], p[1], p[2]}, Lab{p[3], p[4], p[5]}), p[6], 1e-4) << p[6];
    // sRGB white, red and blue in CIELAB (D65).
    const struct { double r, g, b, L, a, bb; } known[] = {
        {1, 1, 1, 100, 0, 0}, {1, 0, 0, 53.24, 80.09, 67.20}, {0, 0, 1, 32.30, 79.19, -107.86}};
    for (const auto& k : known) {
        const Lab lab = linear_rgb_to_lab(k.r, k.g, k.b);
        EXPECT_NEAR(lab.L, k.L, 0.01);
        EXPECT_NEAR(lab.a, k.a, 0.01);
        EXPECT_NEAR(lab.b, k.bb, 0.01);
    }
}

// Linear light to the nearest sRGB code across 0..1 (clamped beyond), against the encoding
// formula; every code's linear value encodes back to it.
TEST(Colour, SrgbCurveBothWays) {
    auto encode = [](double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; };
    for (int c = 0; c < 256; ++c) ASSERT_NEAR(255 * encode(srgb_to_linear(uint8_t(c))), c, 1e-9) << c;
    for (int i = -1000; i <= 101000; ++i) {
        const double v = i / 100000.0;
        ASSERT_EQ(linear_to_srgb(v), std::lround(255 * encode(std::clamp(v, 0.0, 1.0)))) << v;
    }
}

// The plain-words verdicts at their thresholds, and the colour family a pack lacks: pictures
// all red while their pixels are dark blue.
TEST(Verdict, ThresholdsAndColourFamilies) {
    const struct { double mean; int fewest; const char* start; } variety[] = {
        {12.0, 6, "variety: good: about 12 "}, {13.0, 5, "variety: fair"}, {8.0, 1, "variety: fair"},
        {7.9, 7, "variety: poor"}};
    for (const auto& v : variety) {
        QualityFigures q;
        q.distinct_points = v.mean, q.fewest_points = v.fewest;
        EXPECT_EQ(variety_verdict(q).rfind(v.start, 0), 0u) << variety_verdict(q);
    }
    const std::vector<uint16_t> best(65536, 0), second(65536, 1);
    const std::vector<Lab> red(2, rgb565_to_lab(0xF800));
    const std::vector<uint16_t> dark_blue(64, 0x0008), own(64, 0xF800);
    EXPECT_EQ(colour_verdict(measure_coverage(best, second, red, dark_blue.data(), 64)),
              "colours: dark blues have few photos: adding photos with those colours will help\n");
    EXPECT_EQ(colour_verdict(measure_coverage(best, second, red, own.data(), 64)).rfind("colours: good", 0), 0u);
    const std::pair<uint16_t, std::string> families[] = {{0x435F, "blues"},       {0xC618, "pale greys"},
                                                         {0x8200, "oranges"},     {0x07E0, "pale greens"},
                                                         {0x8010, "dark purples"}, {0x0410, "turquoises"}};
    for (const auto& [pixel, family] : families) {
        const std::string verdict = colour_verdict(measure_coverage(best, second, red, std::vector<uint16_t>(64, pixel).data(), 64));
        EXPECT_EQ(verdict.rfind("colours: " + family + " have", 0), 0u) << verdict;
    }
}

TEST(MatchTables, VarietySpreadsColoursWithinTheLimit) {
    std::vector<Lab> colours;
    for (int i = 0; i < 40; ++i) colours.push_back(Lab{50 + (i % 5) * 0.3, (i / 5) * 0.4 - 1, 0});
    MatchTables plain = compute_match_tables(colours, 0, 1), varied;
    for (double variety : {0.5, 3.0}) {  // a variety under 1 still spreads
        varied = compute_match_tables(colours, variety, 2);
        int differ = 0;
        for (int c = 0; c < 65536; ++c) {
            Lab lab = rgb565_to_lab(static_cast<uint16_t>(c));
            double nearest = ciede2000(lab, colours[plain.best[c]]);
            ASSERT_LE(ciede2000(lab, colours[varied.best[c]]), nearest + variety + 1e-3);
            ASSERT_NE(varied.best[c], varied.second[c]);
            differ += varied.best[c] != plain.best[c];
        }
        EXPECT_GT(differ, variety > 1 ? 1000 : 0) << variety;
    }
    MatchTables again = compute_match_tables(colours, 3.0, 1);
    EXPECT_TRUE(again.best == varied.best && again.second == varied.second);
    // The pick is a fixed scatter of the colour: the same photos make the same pack in every version.
    EXPECT_EQ(vals(colour_hash(1), colour_hash(0xFFFF)), vals(179721900u, 2646032496u));
}

TEST(EvgpackBuild, PackOpensInTheViewerAndInspects) {
    TempDir dir;
    write_photos(dir, 6);
    // A broken photo whose name would print a fake line and an ESC sequence if shown raw.
    write_file(dir.file("photos/broken\nwrote x: 99 pictures\x1B[2J.jpg"), std::string("\xFF\xD8\xFF\xE0 broken", 10));
    write_file(dir.file("photos/p00-copy.jpg"), read_file(dir.file("photos/p00.jpg")));
    write_file(dir.file("photos/notes.txt"), "not looked at: not named as a photo");
    const std::string out = dir.file("pack.evg");
    std::string warnings;
    const std::string author = "Ann Example, garden photos, 2026";  // 32 bytes, the most a pack holds
    ASSERT_EQ(run_quiet("build", {"-o", out, "--quiet", "--thumb-size", "16", "--jobs", "1", "--author", author + ".", dir.file("photos")},
                        nullptr, &warnings), 0);
    EXPECT_NE(warnings.find("the author name is cut to 32 bytes"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("broken\\nwrote x: 99 pictures\\x1B[2J.jpg"), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find('\x1B'), std::string::npos);
    EXPECT_EQ(warnings.find("notes.txt"), std::string::npos) << warnings;
    EXPECT_EQ(shown("caf\xC3\xA9 \xC2\x9B \xFF\\\x7F"), "caf\xC3\xA9 \\xC2\\x9B \\xFF\\\\\\x7F");  // UTF-8 kept, C1, DEL escaped
    EXPECT_NE(warnings.find("same bytes as"), std::string::npos) << warnings;

    std::string bytes = read_file(out);
    ASSERT_TRUE(pack_magic_matches(reinterpret_cast<const uint8_t*>(bytes.data())));
    PackHeader header;
    pack_header_decode(reinterpret_cast<const uint8_t*>(bytes.data()), &header);
    EXPECT_EQ((std::vector<int>{header.data_offset, header.listed_count}), (std::vector<int>{PACK_HEADER_SIZE, 6}));
    EXPECT_EQ(std::string(header.author, PACK_AUTHOR_SIZE), author);

    // Same bytes with two workers (the author's 32 bytes are not cut); info, verify and extract
    // are run by evgpack_cli.sh.
    const std::string out2 = dir.file("pack2.evg");
    ASSERT_EQ(run_quiet("build", {"-o", out2, "--quiet", "--thumb-size", "16", "--jobs", "2", "--author", author, dir.file("photos")},
                        nullptr, &warnings), 0);
    EXPECT_EQ(vals(read_file(out2) == bytes, warnings.find("cut to") == std::string::npos), vals(1, 1)) << warnings;
    std::string printed;
    EXPECT_EQ(run_quiet("info", {out, "--json"}, &printed), 0);
    EXPECT_NE(printed.find("\"author\": \"" + author + "\""), std::string::npos) << printed;
}

// File names hold any bytes: JSON keeps well-formed UTF-8 and writes each byte of a broken
// sequence as \u00NN; the pack's author is read byte by byte.
TEST(EvgpackBuild, JsonStringsOfAnyBytes) {
    const char* const CASES[][2] = {
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"\\/\n\x7F\xC2\x9B", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\\\"\\\\/\\u000a\\u007f\\u009b"},
        {"\xC0\xAF\xE2\x82 \xF0\x9F\x98", "\\u00c0\\u00af\\u00e2\\u0082 \\u00f0\\u009f\\u0098"},  // overlong, cut short
        {"\x80\xC3\xA9\xA9\xED\xA0\x80\xF4\x90\x80\x80", "\\u0080\xC3\xA9\\u00a9\\u00ed\\u00a0\\u0080\\u00f4\\u0090\\u0080\\u0080"},
    };  // lone continuations, a surrogate and a code above U+10FFFF
    for (const auto& c : CASES) EXPECT_EQ(json_string(c[0]), std::string("\"") + c[1] + "\"") << shown(c[0]);
    EXPECT_EQ(json_string("Jos\xE9 \xC3\xA9", TEXT_LATIN1), "\"Jos\\u00e9 \\u00c3\\u00a9\"");
}

// Sizes such as --cache-limit takes: a plain number is megabytes, K to T with an optional B or
// iB, from 1K to 1024T; anything else is refused with the option's name.
TEST(EvgpackBuild, SizeOptionsInEveryUnitAndAtTheLimits) {
    const struct { const char* text; uint64_t bytes; } sizes[] = {
        {"500", 500ull << 20}, {"0.5m", 512ull << 10}, {"1K", 1024},  {"4GiB", 4ull << 30}, {"2gb", 2ull << 30},
        {"1024T", 1ull << 50}, {"0.9K", 0},            {"1025T", 0}, {"", 0},              {"2XB", 0},
        {"-1G", 0},            {"1e3", 0},             {"inf", 0}};
    for (const auto& s : sizes) {
        uint64_t bytes = 0;
        std::string error;
        EXPECT_EQ(evgpack::parse_size_option("--cache-limit", s.text, bytes, error), s.bytes != 0) << s.text;
        if (s.bytes) EXPECT_EQ(bytes, s.bytes) << s.text;
        else EXPECT_EQ(error.rfind(*s.text ? "--cache-limit takes a size" : "--cache-limit needs a value", 0), 0u) << error;
    }
}

// The summary counts enlarged photos and --min-size skips them; a linked folder is read once
// however many links lead to it, and a link back up is reported as a loop; unused pictures are
// named by number and file, and info --json lists the same numbers.
TEST(EvgpackBuild, SmallPhotosLinkedFoldersAndUnusedPictures) {
    TempDir dir;
    write_photos(dir, 4);
    std::filesystem::create_directories(dir.file("more"));
    write_file(dir.file("more/small1.jpg"), jpeg_bytes(make_photo(100, 150, 0x20C040, 0x20C040)));
    write_file(dir.file("more/small2.png"), png_bytes(make_photo(239, 400, 0xC02040, 0x2040C0), false, false));
    // Three plain grey photos, different bytes, the same picture: without variety ties go to the
    // first two, so the third is never used. Two plain blue ones make a second, smaller group.
    for (int k = 0; k < 5; ++k) {
        const uint32_t plain = k < 3 ? 0x808080 : 0x2040C0;
        write_file(dir.file((k < 3 ? "photos/grey" : "photos/blue") + std::to_string(k) + ".jpg"), jpeg_bytes(make_photo(300 + k, 300, plain, plain)));
    }
    std::filesystem::create_directory_symlink("../more", dir.file("photos/linked"));
    std::filesystem::create_directory_symlink("../more", dir.file("photos/linked-again"));
    std::filesystem::create_directory_symlink("..", dir.file("photos/up"));
    const std::string out = dir.file("pack.evg");
    std::string summary, warnings;
    ASSERT_EQ(run_quiet("build", {"-o", out, "--thumb-size", "8", "--variety", "0", "--jobs", "2", "--keep-similar", dir.file("photos")}, &summary, &warnings), 0);
    EXPECT_NE(summary.find(": 11 pictures"), std::string::npos) << summary;  // 4 + 3 grey + 2 blue + 2 linked
    EXPECT_NE(summary.find("below 240 pixels; --min-size skips such photos): 2\n"), std::string::npos) << summary;
    EXPECT_NE(warnings.find("photos/up: it leads back to"), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find("same bytes"), std::string::npos) << warnings;  // linked-again not read

    size_t at = summary.find("pictures never used by the tables: ");
    ASSERT_NE(at, std::string::npos) << summary;
    const int unused = std::atoi(summary.c_str() + at + 35);
    EXPECT_GE(unused, 1) << summary;
    std::string listed;
    for (size_t line = summary.find("\n  picture ", at); line != std::string::npos;
         line = summary.find("\n  picture ", line + 1)) {
        size_t colon = summary.find(':', line);
        listed += (listed.empty() ? "" : ", ") + summary.substr(line + 11, colon - line - 11);
        EXPECT_EQ(summary.compare(colon + 2, dir.path.size(), dir.path), 0) << summary;  // a source file
    }
    ASSERT_EQ(run_quiet("build", {"-o", out, "--quiet", "--min-size", "240", dir.file("photos")}, nullptr, &warnings), 0);
    EXPECT_NE(warnings.find("skipped 2 photo(s) whose shorter side is below 240 pixels"), std::string::npos) << warnings;
    // Without --keep-similar the greys and the blues are two groups: one of each is kept.
    EXPECT_NE(warnings.find("left out 3 near-duplicate photo(s) of 2 group(s)"), std::string::npos) << warnings;
    auto pack = std::make_unique<OpenPack>();
    ASSERT_EQ(pack_load(out.c_str(), PACK_HEADER_SIZE, pack.get()), PACK_OK);
    EXPECT_EQ(pack->picture_count, 6);
}

// Flat colours in pairs: a flat surface is tiled with its twin (never with itself), so the
// zoom-8 tiles and the 5 x 5 regions show the surface's own colour. Four different colours
// leave every tile far off, and on flat surfaces a region is as far off as each of its tiles.
TEST(EvgpackQuality, FlatPicturesLookLikeTheirTiles) {
    for (bool twins : {true, false}) {
        TempDir dir;
        std::filesystem::create_directories(dir.file("photos"));
        const uint32_t colours[] = {0xC02040, twins ? 0xC02040u : 0x20C040u, 0x2040C0, twins ? 0x2040C0u : 0x808080u};
        for (int i = 0; i < 4; ++i)
            write_file(dir.file("photos/f" + std::to_string(i) + ".jpg"), jpeg_bytes(make_photo(300 + i, 300, colours[i], colours[i])));
        const std::string out = dir.file("pack.evg");
        ASSERT_EQ(run_quiet("build", {"-o", out, "--quiet", "--thumb-size", "8", "--keep-similar", dir.file("photos")}), 0);
        auto pack = std::make_unique<OpenPack>();
        ASSERT_EQ(pack_load(out.c_str(), PACK_HEADER_SIZE, pack.get()), PACK_OK);
        const QualityFigures q = measure_quality(*pack, 4, false, 0, true);
        // Each flat surface's map is one picture everywhere: every count is exact.
        EXPECT_EQ(q.surfaces, 4);
        for (double whole : {q.same_horizontal, q.same_vertical, q.same_two, q.flat_screens, q.distinct_block,
                             q.distinct_screen, q.distinct_points, static_cast<double>(q.fewest_points)})
            EXPECT_DOUBLE_EQ(whole, 1.0);
        if (twins) {
            EXPECT_LT(std::max(q.likeness, q.region_likeness), 0.01);
        } else {
            EXPECT_GT(q.likeness, 5.0);
            EXPECT_NEAR(q.region_likeness, q.likeness, 1e-6);
        }
    }
}

// A surface whose plain map is known: vertical stripes two pixels wide cycling through pictures
// 1 .. 4 (grey levels the tables name), one step on from row 120, the last six rows all picture
// 5. Every figure is counted by hand below. A thumbnail is its picture's grey at even (x, y) and
// a code of picture and place elsewhere: zoom 8 and the likeness sample only even ones, so the
// tiles look like the surface. The sheet shows the surface, then each view's tiles sampled from
// their thumbnails (no lists: with candidates the same).
TEST(EvgpackQuality, FiguresAndSheetOfAKnownMap) {
    static const int level[5] = {0, 64, 128, 192, 255};
    auto idx = [](int x, int y) { return y >= 234 ? 4 : (x / 2 + (y >= 120)) % 4; };
    auto grey = [](int v) { return static_cast<uint16_t>((v >> 3) << 11 | (v >> 2) << 5 | v >> 3); };
    auto thumb = [&](int p, int x, int y) {
        return x % 2 == 0 && y % 2 == 0 && p > 0 ? grey(level[p - 1]) : static_cast<uint16_t>(p << 13 | y << 8 | x << 1 | 1);
    };
    PackSpec spec;
    spec.pictures = 6;
    spec.quality = 100;
    spec.thumb_size_field = 16;
    spec.picture_pixel = [&](int p, int x, int y) { return grey(level[p == 0 ? idx(x, y) : p - 1]); };
    spec.thumb_pixel = thumb;
    spec.best = [](int v) { const int g = v >> 5 & 63; return static_cast<uint16_t>(1 + (g >= 8) + (g >= 24) + (g >= 40) + (g >= 56)); };
    spec.second = [](int) { return static_cast<uint16_t>(0); };
    TempDir dir;
    const std::string path = dir.file("known.evg"), sheet_path = dir.file("sheet.png");
    ASSERT_TRUE(write_file(path, pack_bytes(spec)));
    auto pack = std::make_unique<OpenPack>();
    ASSERT_EQ(pack_load(path.c_str(), PACK_HEADER_SIZE, pack.get()), PACK_OK);
    const QualityFigures q = measure_quality(*pack, 1, false, SPREAD_DIFFUSE, true);
    EXPECT_EQ(vals(q.surfaces, q.fewest_points), vals(1, 4));
    EXPECT_DOUBLE_EQ(q.same_horizontal, (234 * 120 + 6 * 239) / (240.0 * 239));
    EXPECT_DOUBLE_EQ(q.same_vertical, 237 / 239.0);
    EXPECT_DOUBLE_EQ(q.same_two, (6 * 238 + 240 * 238 - 960) / (2.0 * 240 * 238));
    EXPECT_DOUBLE_EQ(q.distinct_block, (46 * 3 + 4 + 1) / 48.0);  // 5 x 5: three stripes, the band
    EXPECT_DOUBLE_EQ(q.distinct_screen, (39 * 3 + 1) / 40.0);     // 6 x 6
    EXPECT_DOUBLE_EQ(q.flat_screens, 1 / 40.0);
    EXPECT_DOUBLE_EQ(q.distinct_points, 4.0);  // the screens at the points straddle four stripes
    EXPECT_LT(std::max(q.likeness, q.region_likeness), 0.5);

    std::string error;
    ASSERT_TRUE(write_quality_sheet(*pack, sheet_path, 2, -1, SPREAD_DIFFUSE, error)) << error;  // pictures 0, 3
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = read_png_rgb(sheet_path, &w, &h);
    ASSERT_EQ(vals(w, h), vals(5 * 240 + 4 * 4, 18 + 2 * (240 + 4 + 18)));
    auto at = [&](int column, int x, int y, int row = 0) {  // a pixel of a row's view as RGB565
        const uint8_t* c = &rgb[(static_cast<size_t>(36 + row * 262 + y) * w + column * 244 + x) * 3];
        return static_cast<uint16_t>((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3);
    };
    for (int y : {10, 130})
        for (int x : {10, 13, 200}) EXPECT_NEAR(at(0, x, y) >> 5 & 63, level[idx(x, y)] >> 2, 2) << x << "," << y;
    // Zoom 40: the centre tile (120, 120) spans 80 .. 119; its thumbnail sampled at j x 16 / 40.
    const struct { int x, y, picture, tx, ty; } zoom40[] = {{0, 0, 4, 0, 0},      {119, 119, 2, 15, 15},
                                                            {200, 45, 2, 0, 2},   {79, 80, 1, 15, 0},
                                                            {239, 239, 3, 15, 15}, {83, 86, 2, 1, 2}};
    for (const auto& z : zoom40)
        for (int column : {2, 4}) EXPECT_EQ(at(column, z.x, z.y), thumb(z.picture, z.tx, z.ty)) << z.x << "," << z.y;
    // Zoom 8, tinted halfway toward the surface pixel: (112, 112) is tile (120, 120) at its corner,
    // (107, 127) tile (119, 121) at (3, 7), thumbnail (6, 14).
    for (int column : {1, 3}) {
        EXPECT_EQ(at(column, 112, 112), blend_rgb565(at(0, 120, 120), thumb(2, 0, 0), 16));
        EXPECT_EQ(at(column, 107, 127), blend_rgb565(at(0, 119, 121), thumb(1, 6, 14), 16));
    }
    // Column names over each column (their black pixels counted), the picture's name over its row,
    // nothing past them.
    auto black_in = [&](int x0, int x1, int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += rgb[(static_cast<size_t>(y) * w + x) * 3] == 0 && rgb[(static_cast<size_t>(y) * w + x) * 3 + 2] == 0;
        return n;
    };
    EXPECT_EQ(vals(black_in(0, 240, 0, 18), black_in(244, 484, 0, 18), black_in(488, 728, 0, 18),
                   black_in(732, 972, 0, 18), black_in(976, 1216, 0, 18)),
              vals(83, 198, 209, 252, 263));
    EXPECT_EQ(vals(black_in(0, 120, 18, 36), black_in(0, 120, 280, 298)), vals(96, 97));  // "picture 0", "picture 3"
    EXPECT_EQ(black_in(120, w, 18, 36) + black_in(120, w, 280, 298), 0);
    EXPECT_NEAR(at(0, 100, 100, 1) >> 5 & 63, 128 >> 2, 1);  // picture 3, flat
}

// evgpack poster: a pack picture or a photo as the target, the report, and refusals that name
// what is wrong.
TEST(EvgpackPoster, TargetsReportAndRefusals) {
    TempDir dir;
    write_photos(dir, 4);
    const std::string pack = dir.file("pack.evg"), out = dir.file("poster.jpg");
    ASSERT_EQ(run_quiet("build", {"-o", pack, "--quiet", "--thumb-size", "8", dir.file("photos")}), 0);
    std::string summary, errors;
    ASSERT_EQ(run_quiet("poster", {pack, "-o", out, "--picture", "3", "--tiles", "12", "--tile-px", "8"}, &summary, &errors), 0);
    EXPECT_EQ(summary.rfind(out + ": 96 x 96 px, 12 x 12 tiles of 8 px, ", 0), 0u) << summary;
    EXPECT_NE(summary.find("\ndistinct pictures per 10 x 10 tiles "), std::string::npos) << summary;
    EXPECT_EQ(read_file(out).compare(0, 3, "\xFF\xD8\xFF"), 0);
    // A 301 x 260 photo, 20 across: 17 rows.
    ASSERT_EQ(run_quiet("poster", {"--quiet", "--photo", dir.file("photos/p01.jpg"), "--tiles", "20", "--tile-px", "8",
                                   "-o", dir.file("photo.png"), "--", pack}, &summary), 0);
    int w = 0, h = 0;
    read_png_rgb(dir.file("photo.png"), &w, &h);
    EXPECT_EQ(vals(summary.size(), w, h), vals(0, 160, 136));
    ASSERT_EQ(run_quiet("poster", {pack, "-o", out, "--tile-px", "8"}, &summary), 0);  // the icon's picture
    EXPECT_EQ(summary.rfind(out + ": 800 x 800 px, 100 x 100 tiles of 8 px", 0), 0u) << summary;
    // Picture 0 is a picture like any other: with the icon showing picture 2, asking for 0 gives 0.
    ASSERT_EQ(run_quiet("build", {"-o", pack, "--quiet", "--thumb-size", "8", "--icon", "2", dir.file("photos")}), 0);
    for (const char* p : {"", "0", "2"}) {
        std::vector<std::string> args = {"--quiet", pack, "-o", dir.file(std::string("p") + p + ".png"), "--tiles", "12"};
        if (*p) args.insert(args.end(), {"--picture", p});
        ASSERT_EQ(run_quiet("poster", args), 0) << p;
    }
    const std::string shown = read_file(dir.file("p.png"));
    EXPECT_EQ(vals(shown == read_file(dir.file("p2.png")), shown == read_file(dir.file("p0.png"))), vals(1, 0));

    const struct { std::vector<std::string> args; int status; const char* error; } refusals[] = {
        {{pack, "-o", out, "--photo", dir.file("photos/p00.jpg"), "--picture", "1"}, 2, "two targets: give one"},
        {{pack, "-o", out, "--picture", "4"}, 1, "--picture 4 is past the last picture"},
        {{pack, "-o", out, "--tiles", "1366"}, 1, "would be 65568 x 48 px; at most 65535 on a side"},
        {{pack, "-o", out, "--photo", dir.file("none.jpg")}, 1, "none.jpg: cannot read: "},
        {{pack, "-o", out, "--photo", pack}, 1, "pack.evg: "},
        {{dir.file("photos/p00.jpg"), "-o", out}, 1, "p00.jpg"},
        {{pack, "-o", out, "--tint", "101"}, 2, "--tint"},
        {{pack, "-o", out, "--tiles"}, 2, "--tiles needs a value"},
        {{pack, "-o", out, "--sharp"}, 2, "unknown option '--sharp'; see 'evgpack poster --help'"},
        {{pack, pack, "-o", out}, 2, "usage: evgpack poster PACK -o OUT.png|OUT.jpg [options]"},
        {{pack}, 2, "usage: evgpack poster PACK"}, {{pack, "-o"}, 2, "usage: evgpack poster PACK"},
    };
    for (const auto& r : refusals) {
        EXPECT_EQ(run_quiet("poster", r.args, &summary, &errors), r.status) << r.args.back();
        EXPECT_NE(errors.find(r.error), std::string::npos) << errors;
    }
}

TEST(EvgpackBuild, RefusalsLeaveNoOutput) {
    TempDir dir;
    write_photos(dir, 1);
    const std::string out = dir.file("pack.evg");
    std::string errors;
    EXPECT_EQ(run_quiet("build", {"-o", out, "--quiet", dir.file("photos")}, nullptr, &errors), 1);  // one picture only
    EXPECT_EQ(run_quiet("build", {"-o", out, dir.file("missing")}), 1);
    EXPECT_EQ(run_quiet("build", {"-o", out, "--quality", "101", dir.file("photos")}), 2);
    EXPECT_EQ(run_quiet("build", {dir.file("photos/p00.jpg")}), 2);  // no -o and no folder to name the pack
    EXPECT_NE(errors.find("fewer than 2 usable pictures"), std::string::npos) << errors;
    EXPECT_FALSE(file_exists(out));
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path)) (void)e, ++entries;
    EXPECT_EQ(entries, 1);  // only the photos folder: no temporary left behind
}

// -o replaces an earlier pack (through a symbolic link: its target), but not a photo or any
// other file unless --force is given.
TEST(EvgpackBuild, OutputReplacesOnlyPacksUnlessForced) {
    TempDir dir;
    write_photos(dir, 2);
    const std::string photo = dir.file("photos/p00.jpg"), photo_bytes = read_file(photo);
    write_file(dir.file("notes.txt"), "keep me");
    std::string errors;
    auto build = [&](const std::string& out, bool force) {
        std::vector<std::string> args = {"-o", out, "--quiet", "--thumb-size", "8", dir.file("photos")};
        if (force) args.insert(args.begin(), "--force");
        return run_quiet("build", args, nullptr, &errors);
    };
    EXPECT_EQ(build(photo, false), 1);
    EXPECT_NE(errors.find("is one of the photos; use --force"), std::string::npos) << errors;
    EXPECT_EQ(build(dir.file("notes.txt"), false), 1);
    EXPECT_NE(errors.find("is not a pack; use --force"), std::string::npos) << errors;
    EXPECT_EQ(read_file(photo), photo_bytes);
    EXPECT_EQ(read_file(dir.file("notes.txt")), "keep me");
    write_file(dir.file("empty.evg"), "");  // an empty file holds nothing to lose
    EXPECT_EQ(build(dir.file("empty.evg"), false), 0) << errors;
    EXPECT_EQ(build(dir.file("notes.txt"), true), 0);
    EXPECT_TRUE(pack_magic_matches(reinterpret_cast<const uint8_t*>(read_file(dir.file("notes.txt")).data())));
    // An older pack behind a link: replaced in place, the link stays a link.
    write_file(dir.file("old.evg"), pack_bytes(PackSpec{}));
    ASSERT_EQ(::symlink("old.evg", dir.file("link.evg").c_str()), 0);
    EXPECT_EQ(build(dir.file("link.evg"), false), 0);
    struct stat st;
    ASSERT_EQ(::lstat(dir.file("link.evg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(dir.file("old.evg")), read_file(dir.file("notes.txt")));
}

// FIFOs among the photos and named on the command line are passed over without waiting, and
// a subfolder that cannot be listed is named in a warning.
TEST(EvgpackBuild, FifosAndUnreadableFoldersAreReported) {
    TempDir dir;
    write_photos(dir, 2);
    ASSERT_EQ(::mkfifo(dir.file("photos/pipe.jpg").c_str(), 0644), 0);  // passed over in a folder
    ASSERT_EQ(::mkfifo(dir.file("named.png").c_str(), 0644), 0);
    std::filesystem::create_directories(dir.file("photos/locked"));
    write_file(dir.file("photos/locked/p.jpg"), read_file(dir.file("photos/p00.jpg")));
    ::chmod(dir.file("photos/locked").c_str(), 0);
    const std::string log = dir.file("log.txt"), out = dir.file("pack.evg");
    const int status = in_child(
        [&] {
            if (!std::freopen(log.c_str(), "w", stderr)) return 97;
            ::alarm(60);  // a blocking open would otherwise hang the test
            return run("build", {"-o", out, "--quiet", "--thumb-size", "8", dir.file("photos"), dir.file("named.png")});
        },
        true);
    ::chmod(dir.file("photos/locked").c_str(), 0755);
    EXPECT_EQ(status, 0);
    const std::string warnings = read_file(log);
    EXPECT_NE(warnings.find("named.png: not a regular file"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("skipping the folder " + dir.file("photos/locked")), std::string::npos) << warnings;
}

TEST(EvgpackVerify, CatchesDamagedPacks) {
    TempDir dir;
    write_photos(dir, 3);
    const std::string out = dir.file("pack.evg");
    // No candidate section, so that the file ends with the last picture's bytes.
    ASSERT_EQ(run_quiet("build", {"-o", out, "--quiet", "--thumb-size", "8", "--candidates", "0", dir.file("photos")}), 0);
    std::string good = read_file(out);
    // A flipped byte in the picture count: the entries no longer fit the file.
    std::string bad = good, report;
    bad[PACK_HEADER_SIZE + PACK_PICTURE_COUNT + 1] ^= 0x40;
    write_file(out, bad);
    EXPECT_EQ(run_quiet("verify", {out}), 1);
    // A picture whose JPEG data is damaged inside an intact entry: its frame header now says
    // progressive, which the viewer's decoder refuses.
    bad = good;
    size_t last_frame = good.rfind("\xFF\xC0");
    ASSERT_NE(last_frame, std::string::npos);
    bad[last_frame + 1] = '\xC2';
    write_file(out, bad);
    EXPECT_EQ(run_quiet("verify", {out}, &report), 1);
    EXPECT_NE(report.find("bytes): unsupported: progressive\n", report.find("picture 2 does not decode (")),
              std::string::npos) << report;
    // A file cut inside the last picture.
    write_file(out, good.substr(0, good.size() - 100));
    EXPECT_EQ(run_quiet("verify", {out}), 1);
    // The last picture's scan cut in half inside its intact entry (an end marker, then zeros).
    bad = good;
    const size_t sos = good.rfind("\xFF\xDA"), eoi = good.rfind("\xFF\xD9");
    ASSERT_LT(sos, eoi);
    const size_t mid = (sos + eoi) / 2;
    std::fill(bad.begin() + static_cast<long>(mid), bad.begin() + static_cast<long>(eoi) + 2, '\0');
    bad[mid] = '\xFF', bad[mid + 1] = '\xD9';
    write_file(out, bad);
    EXPECT_EQ(run_quiet("verify", {out}, &report), 1);
    EXPECT_NE(report.find("picture 2 is damaged"), std::string::npos) << report;

    // A 0-byte picture entry extracts as an empty file.
    PackSpec empty_first;
    empty_first.jpegs = {""};
    write_file(out, pack_bytes(empty_first));
    EXPECT_EQ(run_quiet("extract", {out, dir.file("x")}), 0);
    EXPECT_EQ(file_length(dir.file("x/0000.jpg")), 0);
    EXPECT_GT(file_length(dir.file("x/0001.jpg")), 0);
}

// Grey PNGs, with and without alpha, import as grey photos: dark over light.
TEST(PhotoImport, GreyPngs) {
    for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA}) {
        PngSpec spec{320, 240, type, {}};
        for (int i = 0; i < 320 * 240; ++i) {
            spec.pixels.push_back(i < 320 * 120 ? 40 : 200);
            if (type == PNG_COLOR_TYPE_GRAY_ALPHA) spec.pixels.push_back(255);
        }
        LinearPicture pic;
        ASSERT_EQ(import(png_encode(spec), pic), "") << type;
        EXPECT_EQ(std::make_pair(red_blue(pic, 121, 10), red_blue(pic, 121, 230)), std::make_pair(40040, 200200)) << type;
    }
}
