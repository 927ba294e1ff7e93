// Posters: the target, the tile map over it, the tile images (each used picture prepared once),
// and a writer that holds one row of tiles at a time, so an 11,520 px square poster never needs
// the whole image in memory.
#include "builder/poster.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "builder/band_deflate.h"
#include "builder/colour_match.h"
#include "builder/photo_import.h"
#include "media/rgb565.h"
#include "pack/tile_map.h"

namespace evgpack {

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// sRGB 8-bit to linear light, once.
struct LinearTable {
    float v[256];
    LinearTable() {
        for (int i = 0; i < 256; ++i) v[i] = static_cast<float>(srgb_to_linear(static_cast<uint8_t>(i)));
    }
};
const LinearTable& linear_table() {
    static const LinearTable table;
    return table;
}

// An n x n RGB565 square in linear light, reduced by area averaging to `size` and back to
// 8-bit sRGB. At size n every weight is 1, so the pixels come back unchanged.
std::vector<uint8_t> reduce_rgb565(const uint16_t* pixels, int n, int size) {
    const LinearTable& lin = linear_table();
    LinearPicture in;
    in.size = n;
    in.rgb.resize(static_cast<size_t>(n) * n * 3);
    for (size_t i = 0; i < static_cast<size_t>(n) * n; ++i) {
        uint8_t rgb[3];
        rgb565_unpack(pixels[i], rgb);
        for (int c = 0; c < 3; ++c) in.rgb[i * 3 + c] = lin.v[rgb[c]];
    }
    return picture_to_srgb(reduce_picture(in, size));
}

uint16_t pack565(const uint8_t* rgb) { return rgb565_pack(rgb[0], rgb[1], rgb[2]); }

// ---- Row writers: libpng and libjpeg report errors by longjmp, so every call into them sits
// behind its own setjmp in a function that holds no C++ objects. ----

struct PngSink {
    png_structp png = nullptr;
    png_infop info = nullptr;
};

void png_quiet(png_structp, png_const_charp) {}

bool png_begin(PngSink& s, FILE* file, int width, int height) {
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, png_quiet);
    s.info = s.png ? png_create_info_struct(s.png) : nullptr;
    if (!s.info) return false;
    if (setjmp(png_jmpbuf(s.png))) return false;
    png_init_io(s.png, file);
    png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s.png, s.info);
    return true;
}

// One IDAT chunk of `size` bytes from up to three pieces (the stream's header, a band's deflate
// data, the stream's checksum), any of them empty.
bool png_idat(PngSink& s, const uint8_t* head, size_t head_size, const uint8_t* body, size_t body_size,
              const uint8_t* tail, size_t tail_size) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    static const png_byte IDAT[5] = {'I', 'D', 'A', 'T', '\0'};
    png_write_chunk_start(s.png, IDAT, static_cast<png_uint_32>(head_size + body_size + tail_size));
    if (head_size) png_write_chunk_data(s.png, head, head_size);
    if (body_size) png_write_chunk_data(s.png, body, body_size);
    if (tail_size) png_write_chunk_data(s.png, tail, tail_size);
    png_write_chunk_end(s.png);
    return true;
}

bool png_end(PngSink& s) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    static const png_byte IEND[5] = {'I', 'E', 'N', 'D', '\0'};
    png_write_chunk(s.png, IEND, nullptr, 0);
    return true;
}

struct JpegSink {
    jpeg_compress_struct info;
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    bool created = false;
};

void jpeg_sink_error(j_common_ptr info) {
    JpegSink* sink = static_cast<JpegSink*>(info->client_data);
    std::longjmp(sink->jump, 1);
}

bool jpeg_begin(JpegSink& s, FILE* file, int width, int height) {
    s.info.err = jpeg_std_error(&s.mgr);
    s.mgr.error_exit = jpeg_sink_error;
    s.info.client_data = &s;  // jpeg_create_compress keeps err and client_data
    if (setjmp(s.jump)) return false;
    jpeg_create_compress(&s.info);
    s.created = true;
    jpeg_stdio_dest(&s.info, file);
    s.info.image_width = static_cast<JDIMENSION>(width);
    s.info.image_height = static_cast<JDIMENSION>(height);
    s.info.input_components = 3;
    s.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, POSTER_JPEG_QUALITY, TRUE);
    jpeg_start_compress(&s.info, TRUE);
    return true;
}

bool jpeg_rows(JpegSink& s, JSAMPROW* rows, int count) {
    if (setjmp(s.jump)) return false;
    for (int done = 0; done < count;) {
        const JDIMENSION n = jpeg_write_scanlines(&s.info, rows + done, static_cast<JDIMENSION>(count - done));
        if (n == 0) return false;  // only a suspending destination takes none; ours never suspends
        done += static_cast<int>(n);
    }
    return true;
}

bool jpeg_end(JpegSink& s) {
    if (setjmp(s.jump)) return false;
    jpeg_finish_compress(&s.info);
    return true;
}

// ---- Composing: a row of tiles at a time, on worker threads while the main thread writes the
// row before. ----

// What every row of tiles is made from; read-only while the workers run.
struct Composer {
    const std::vector<uint16_t>* map;
    const PosterTarget* target;
    const std::vector<std::vector<uint8_t>>* tiles;
    const uint8_t* black;
    int width, tile_px, tint;
    size_t pitch;  // bytes from one pixel row of a band to the next
};

// Tile row ty into `out` (tile_px rows, `pitch` bytes apart), each tile moved `tint` percent towards
// its target colour, and each tile's CIEDE2000 from its target into like[ty * width ...].
void compose_band(const Composer& c, int ty, uint8_t* out, double* like) {
    const LinearTable& lin = linear_table();
    const int p = c.tile_px, w = c.width;
    uint8_t shade[3][256];  // tile value -> value as written, for this tile's target colour
    for (int tx = 0; tx < w; ++tx) {
        const size_t at = static_cast<size_t>(ty) * w + tx;
        const uint16_t t = (*c.map)[at];
        const uint8_t* want = &c.target->rgb[at * 3];
        const uint8_t* src = t < c.tiles->size() ? (*c.tiles)[t].data() : c.black;
        // tile + (target - tile) x tint / 100, rounded to nearest: one table a tile (768
        // divisions) instead of one division a channel of each pixel (6,912 at 48 px).
        for (int ch = 0; ch < 3; ++ch)
            for (int v = 0; v < 256; ++v)
                shade[ch][v] = static_cast<uint8_t>(v + ((want[ch] - v) * c.tint + (want[ch] >= v ? 50 : -50)) / 100);
        // Three sums in locals, not an array: stores through `o` may alias an array, which then
        // went to memory and back for every byte (a third of a JPEG poster's time).
        float r = 0, g = 0, b = 0;
        for (int y = 0; y < p; ++y) {
            uint8_t* o = out + y * c.pitch + static_cast<size_t>(tx) * p * 3;
            const uint8_t* in = src + static_cast<size_t>(y) * p * 3;
            for (int i = 0; i < p * 3; i += 3) {
                const uint8_t vr = shade[0][in[i]], vg = shade[1][in[i + 1]], vb = shade[2][in[i + 2]];
                o[i] = vr, o[i + 1] = vg, o[i + 2] = vb;
                r += lin.v[vr], g += lin.v[vg], b += lin.v[vb];
            }
        }
        const double n = static_cast<double>(p) * p;
        like[at] = ciede2000(linear_rgb_to_lab(r / n, g / n, b / n),
                             linear_rgb_to_lab(lin.v[want[0]], lin.v[want[1]], lin.v[want[2]]));
    }
}

// A composed row of tiles and, for a PNG, its rows filtered and deflated. A PNG band's pixel
// rows each follow a byte left for their filter type, so the band is filtered where it is.
struct Band {
    std::vector<uint8_t> pixels, packed, row;  // row: one pixel row as composed
    BandDeflate encoder;
    size_t packed_bytes = 0;
    uint32_t adler = 0;
    int holds = -1;  // the tile row it holds, once complete
};

// The band's pixel rows, each with the Sub filter (a byte less the one 3 before it), as a piece
// of one raw deflate stream (band_deflate: about twice as fast as zlib's level 1 on three
// 4800 x 3600 posters for files 1.3-2.3% larger; zlib's level 1 took a third of the CPU of
// libpng's default level for a file 18% larger). Each band's matches stay inside it, and it ends
// byte-aligned or, the last, with the final block, so the bands laid end to end are one valid
// deflate stream, as parallel gzip tools make them. The stream's Adler-32 is combined from the
// bands' in order.
void deflate_band(Band& b, size_t stride, bool last) {
    const uint8_t* in = b.row.data();
    for (uint8_t* f = b.pixels.data(); f < b.pixels.data() + b.pixels.size(); f += stride + 1) {
        // Through a copy of the row: the loop then reads and writes different rows and is
        // vectorised (in place, it took 8% of a PNG poster's time).
        std::memcpy(b.row.data(), f + 1, stride);
        f[0] = 1;  // Sub
        for (size_t i = 3; i < stride; ++i) f[i + 1] = static_cast<uint8_t>(in[i] - in[i - 3]);
    }
    b.adler = static_cast<uint32_t>(adler32_z(adler32(0, nullptr, 0), b.pixels.data(), b.pixels.size()));
    b.packed_bytes = band_deflate(b.encoder, b.pixels.data(), b.pixels.size(), last, b.packed.data());
}

// Runs fn(0) on a second thread and fn(1) on this one (both on this one when no thread can be
// started), and waits for both.
template <class Fn>
void run_on_two(Fn fn) {
    std::thread helper;
    try {
        helper = std::thread(fn, 0);
    } catch (const std::system_error&) {
        fn(0);
    }
    fn(1);
    if (helper.joinable()) helper.join();
}

bool ends_with(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}

// The distinct pictures per 10 x 10 block and the share of identical neighbours.
void map_variety(const std::vector<uint16_t>& map, int w, int h, PosterReport& report) {
    long same = 0, pairs = 0, blocks = 0;
    double distinct = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x + 1 < w) same += map[y * w + x] == map[y * w + x + 1], ++pairs;
            if (y + 1 < h) same += map[y * w + x] == map[(y + 1) * w + x], ++pairs;
        }
    std::vector<uint16_t> seen;
    for (int by = 0; by + 10 <= h; by += 10)
        for (int bx = 0; bx + 10 <= w; bx += 10) {
            seen.clear();
            for (int y = by; y < by + 10; ++y) seen.insert(seen.end(), &map[y * w + bx], &map[y * w + bx + 10]);
            std::sort(seen.begin(), seen.end());
            distinct += static_cast<double>(std::unique(seen.begin(), seen.end()) - seen.begin());
            ++blocks;
        }
    report.identical_neighbours = pairs ? static_cast<double>(same) / pairs : 0;
    report.distinct_10x10 = blocks ? distinct / blocks : 0;
}

}  // namespace

bool poster_target_photo(const uint8_t* data, size_t size, int across, int max_down, PosterTarget& out,
                         std::string& error) {
    LinearImage image;
    if (import_photo_whole(data, size, across, max_down, image, error) != PHOTO_OK) return false;
    out.width = image.width, out.height = image.height, out.parent = CANDIDATE_UNUSED;
    out.rgb.resize(image.rgb.size());
    for (size_t i = 0; i < out.rgb.size(); ++i) out.rgb[i] = linear_to_srgb(image.rgb[i]);
    return true;
}

void poster_target_picture(OpenPack& pack, uint16_t n, int across, PosterTarget& out) {
    std::vector<uint16_t> pixels(PICTURE_PIXELS);
    picture_read(&pack, n, pixels.data());  // black when it fails, as the viewer shows it
    poster_target_surface(pixels.data(), n, across, out);
}

void poster_target_surface(const uint16_t* surface, uint16_t parent, int across, PosterTarget& out) {
    out.width = out.height = across;
    out.parent = parent;
    out.rgb = reduce_rgb565(surface, PICTURE_EDGE, across);
}

uint16_t poster_icon_picture(const OpenPack& pack, const uint16_t* icon) {
    const int t = pack.thumb_size;
    uint16_t best = 0;
    long long lowest = -1;
    for (int p = 0; p < pack.picture_count; ++p) {
        const uint16_t* thumb = pack.thumbnails + static_cast<size_t>(p) * t * t;
        long long d = 0;
        for (int y = 0; y < PACK_ICON_EDGE; ++y)
            for (int x = 0; x < PACK_ICON_EDGE; ++x) {
                uint8_t a[3], b[3];
                rgb565_unpack(icon[y * PACK_ICON_EDGE + x], a);
                rgb565_unpack(thumb[(y * t / PACK_ICON_EDGE) * t + x * t / PACK_ICON_EDGE], b);
                for (int c = 0; c < 3; ++c) d += (a[c] - b[c]) * (a[c] - b[c]);
            }
        if (lowest < 0 || d < lowest) lowest = d, best = static_cast<uint16_t>(p);
    }
    return best;
}

bool poster_size_ok(long across, long down, long tile_px, std::string& error) {
    const long long w = static_cast<long long>(across) * tile_px, h = static_cast<long long>(down) * tile_px;
    if (across >= 1 && down >= 1 && w <= POSTER_MAX_SIDE && h <= POSTER_MAX_SIDE) return true;
    error = "a poster of " + std::to_string(across) + " x " + std::to_string(down) + " tiles of " +
            std::to_string(tile_px) + " px would be " + std::to_string(w) + " x " + std::to_string(h) +
            " px; at most " + std::to_string(POSTER_MAX_SIDE) + " on a side";
    return false;
}

std::vector<uint16_t> poster_tile_map(const OpenPack& pack, const PosterTarget& target, int choices) {
    const size_t n = static_cast<size_t>(target.width) * target.height;
    std::vector<uint16_t> colours(n), map(n);
    for (size_t i = 0; i < n; ++i) colours[i] = pack565(&target.rgb[i * 3]);
    TileMapScratch scratch;
    const int nearest = std::min<int>(choices, pack.picture_count);
    if (nearest < 3 || !pack.candidates.means) {
        tile_map_build_grid(pack, scratch, colours.data(), target.width, target.height, target.parent, map.data());
        return map;
    }
    // Wider lists: the tiles are split into k x k interleaved grids (a tile's grid is its
    // column and row mod k), the pictures dealt by number into one set per grid, and each
    // colour's list in a grid holds its nearest pictures of that set by mean colour in CIELAB
    // (ranked by the tile rule's own RGB weights, likeness was 1.2 to 1.4 delta E worse on three
    // photos), `nearest` in all grids together. The tile rule maps each grid on its own, so its
    // neighbours, repeats and carried colour are those of the tiles it shows, k apart on the
    // poster. Neighbours on the poster belong to different grids, whose sets share no picture,
    // so they never show the same picture (with one grid, lists of 3 or more let the rule refuse
    // them), and a flat area draws on all `nearest`. A grid's map used about 9 of 16 lanes in a
    // flat area, so lists hold at most 8 and k grows instead. (One whole-poster map per set,
    // each tile taken from its set's map along a diagonal pattern, gave up to 7% fewer
    // distinct pictures for the same likeness.)
    int k = 1;
    while (k * k * 8 < nearest && k < 4) ++k;
    const int phases = k * k;
    const int lanes = (nearest + phases - 1) / phases;
    std::vector<uint16_t> tables(static_cast<size_t>(phases) * 65536 * CANDIDATE_MAX, CANDIDATE_UNUSED);
    std::vector<Lab> mean_lab(pack.picture_count);
    for (uint16_t t = 0; t < pack.picture_count; ++t) {
        const uint64_t m = pack.candidates.means[t];
        mean_lab[t] = linear_rgb_to_lab(srgb_to_linear(static_cast<uint8_t>(m & 0xFF)), srgb_to_linear(static_cast<uint8_t>(m >> 16 & 0xFF)),
                                        srgb_to_linear(static_cast<uint8_t>(m >> 32 & 0xFF)));
    }
    std::vector<bool> listed(65536, false);
    std::vector<std::pair<double, uint16_t>> order;
    for (uint16_t v : colours) {
        if (listed[v]) continue;
        listed[v] = true;
        const Lab want = rgb565_to_lab(v);
        for (int q = 0; q < phases; ++q) {
            order.clear();
            for (int t = q; t < pack.picture_count; t += phases) {
                const Lab& m = mean_lab[static_cast<size_t>(t)];
                order.emplace_back((m.L - want.L) * (m.L - want.L) + (m.a - want.a) * (m.a - want.a) + (m.b - want.b) * (m.b - want.b),
                                   static_cast<uint16_t>(t));
            }
            const size_t count = std::min(order.size(), static_cast<size_t>(lanes));
            std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), order.end());
            for (size_t i = 0; i < count; ++i)
                tables[(static_cast<size_t>(q) * 65536 + v) * CANDIDATE_MAX + i] = order[i].second;
        }
    }
    // The tile rule reads a pack: one that borrows these lists and the pack's own means and
    // tables, and gives the borrowed pointers back before it is destroyed.
    auto wide = std::make_unique<OpenPack>();
    std::memcpy(wide->best_match, pack.best_match, sizeof wide->best_match);
    std::memcpy(wide->second_match, pack.second_match, sizeof wide->second_match);
    wide->picture_count = pack.picture_count;
    wide->candidates.count = CANDIDATE_MAX;
    wide->candidates.version = pack.candidates.version;
    wide->candidates.means = pack.candidates.means;
    wide->candidates.status = CANDIDATES_OK;
    std::vector<uint16_t> part_colours, part_map;
    for (int q = 0; q < phases; ++q) {
        const int x0 = q % k, y0 = q / k;
        const int across = (target.width - x0 + k - 1) / k, down = (target.height - y0 + k - 1) / k;
        if (across < 1 || down < 1) continue;
        part_colours.resize(static_cast<size_t>(across) * down);
        part_map.resize(part_colours.size());
        for (int y = 0; y < down; ++y)
            for (int x = 0; x < across; ++x)
                part_colours[static_cast<size_t>(y) * across + x] = colours[static_cast<size_t>(y0 + y * k) * target.width + x0 + x * k];
        wide->candidates.table = &tables[static_cast<size_t>(q) * 65536 * CANDIDATE_MAX];
        tile_map_build_grid(*wide, scratch, part_colours.data(), across, down, target.parent, part_map.data());
        for (int y = 0; y < down; ++y)
            for (int x = 0; x < across; ++x)
                map[static_cast<size_t>(y0 + y * k) * target.width + x0 + x * k] = part_map[static_cast<size_t>(y) * across + x];
    }
    wide->candidates.table = nullptr, wide->candidates.means = nullptr, wide->candidates.count = 0;
    return map;
}

std::vector<uint8_t> poster_tile_image(OpenPack& pack, uint16_t p, int tile_px, bool* decoded) {
    const int edge = pack.thumb_size;
    if (decoded) *decoded = tile_px > edge;
    if (tile_px <= edge) return reduce_rgb565(pack.thumbnails + static_cast<size_t>(p) * edge * edge, edge, tile_px);
    std::vector<uint16_t> pixels(PICTURE_PIXELS);
    picture_read(&pack, p, pixels.data());  // black when it fails, as the viewer draws it
    return reduce_rgb565(pixels.data(), PICTURE_EDGE, tile_px);
}

PosterReport poster_write(OpenPack& pack, const PosterTarget& target, const PosterOptions& options,
                          PosterMonitor* monitor) {
    PosterReport report;
    const int w = target.width, h = target.height, p = options.tile_px;
    if (!poster_size_ok(w, h, p, report.error)) return report;
    const bool jpeg = ends_with(options.output, ".jpg") || ends_with(options.output, ".jpeg");
    if (!jpeg && !ends_with(options.output, ".png")) {
        report.error = "the poster's name must end in .png, .jpg or .jpeg";
        return report;
    }
    report.width_px = w * p, report.height_px = h * p;

    Clock::time_point start = Clock::now();
    const std::vector<uint16_t> map = poster_tile_map(pack, target, options.choices);
    report.seconds_map = since(start);
    map_variety(map, w, h, report);

    // Each picture the map names, prepared once, the pictures shared between two threads.
    // picture_read goes through the pack's one read buffer, so decoding takes turns: its time
    // is the decode, the rest of the stage's time the resampling. Tiles naming no picture are
    // black, as the viewer draws them.
    start = Clock::now();
    std::vector<std::vector<uint8_t>> tiles(pack.picture_count);
    const std::vector<uint8_t> black(static_cast<size_t>(p) * p * 3, 0);
    std::vector<uint16_t> used;
    {
        std::vector<bool> named(pack.picture_count, false);
        for (uint16_t t : map)
            if (t < pack.picture_count && !named[t]) named[t] = true, used.push_back(t);
    }
    report.pictures_used = static_cast<int>(used.size());
    std::mutex reading;
    run_on_two([&](int half) {
        std::vector<uint16_t> pixels;
        for (size_t i = static_cast<size_t>(half); i < used.size(); i += 2) {
            const uint16_t t = used[i];
            if (p <= pack.thumb_size) {
                tiles[t] = poster_tile_image(pack, t, p);
                continue;
            }
            pixels.resize(PICTURE_PIXELS);
            {
                std::lock_guard<std::mutex> lock(reading);
                const Clock::time_point decode = Clock::now();
                picture_read(&pack, t, pixels.data());
                report.seconds_decode += since(decode);
                ++report.pictures_decoded;
            }
            tiles[t] = reduce_rgb565(pixels.data(), PICTURE_EDGE, p);
        }
    });
    report.seconds_resample = since(start) - report.seconds_decode;

    // The output, through a temporary name in the same folder.
    start = Clock::now();
    std::string temp = options.output + ".tmpXXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        report.error = "cannot create a file next to " + options.output + ": " + std::strerror(errno);
        return report;
    }
    temp = name.data();
    ::fchmod(fd, 0644);
    FILE* file = ::fdopen(fd, "wb");

    // Rows of tiles go through a ring of bands. A JPEG is encoded on this thread while a worker
    // composes the next row of tiles; a PNG's rows are composed and deflated by two workers (one
    // when a band is over 32 MB, to bound the memory) while this thread writes them in order.
    const size_t stride = static_cast<size_t>(w) * p * 3;
    const int workers = jpeg || stride * p > (32u << 20) ? 1 : 2;
    std::vector<Band> bands(static_cast<size_t>(workers) + 1);
    const int ring = static_cast<int>(bands.size());
    for (Band& b : bands) {
        b.pixels.resize((jpeg ? stride : stride + 1) * p);
        if (!jpeg) b.packed.resize(band_deflate_bound(b.pixels.size())), b.row.resize(stride);
    }
    std::vector<double> like(static_cast<size_t>(w) * h);
    const Composer composer{&map, &target, &tiles, black.data(), w, p, std::clamp(options.tint, 0, 100),
                                jpeg ? stride : stride + 1};
    PngSink png;
    auto sink = std::make_unique<JpegSink>();
    bool ok = file && (jpeg ? jpeg_begin(*sink, file, w * p, h * p) : png_begin(png, file, w * p, h * p));

    std::mutex mutex;
    std::condition_variable changed;
    int next = 0, written = 0;
    bool stop = false;
    auto make = [&](int ty) {
        Band& b = bands[static_cast<size_t>(ty % ring)];
        compose_band(composer, ty, b.pixels.data() + (jpeg ? 0 : 1), like.data());
        if (!jpeg) deflate_band(b, stride, ty + 1 == h);
        std::lock_guard<std::mutex> lock(mutex);
        b.holds = ty;
    };
    // A worker takes the next row of tiles only once its band is free (the row of tiles the band
    // held before is written), so a row taken is a row being made.
    auto work = [&]() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return stop || next >= h || written > next - ring; });
            if (stop || next >= h) return;
            const int ty = next++;
            lock.unlock();
            make(ty);
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; ok && k < workers; ++k) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer workers, or none: this thread composes each row itself
        }
    }
    static const uint8_t ZLIB_HEAD[2] = {0x78, 0x01};  // deflate, 32 KB window, fastest level
    uLong adler = 0;
    std::vector<JSAMPROW> rows(static_cast<size_t>(p));
    for (int ty = 0; ok && ty < h; ++ty) {
        Band& b = bands[static_cast<size_t>(ty % ring)];
        // A row no worker has taken yet is made here rather than waited for: on a busy machine
        // the workers may not run for a while (a JPEG poster took a third longer with its
        // worker than without while other programs kept both cores busy).
        std::unique_lock<std::mutex> lock(mutex);
        if (next == ty) {
            next = ty + 1;
            lock.unlock();
            make(ty);
        } else {
            changed.wait(lock, [&] { return b.holds == ty; });
            lock.unlock();
        }
        if (jpeg) {
            for (int y = 0; y < p; ++y) rows[static_cast<size_t>(y)] = b.pixels.data() + y * stride;
            ok = jpeg_rows(*sink, rows.data(), p);
        } else {
            adler = ty == 0 ? b.adler : adler32_combine(adler, b.adler, static_cast<z_off_t>(b.pixels.size()));
            const uint8_t tail[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                                     static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
            ok = png_idat(png, ZLIB_HEAD, ty == 0 ? 2 : 0, b.packed.data(), b.packed_bytes, tail, ty + 1 == h ? 4 : 0);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            written = ty + 1;
        }
        changed.notify_all();
        if (monitor && monitor->rows) monitor->rows(monitor->context, ty + 1, h);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& t : threads) t.join();
    ok = ok && (jpeg ? jpeg_end(*sink) : png_end(png));
    if (sink->created) jpeg_destroy_compress(&sink->info);
    png_destroy_write_struct(&png.png, &png.info);
    // No fsync: a poster is made again in a second, and waiting for the disk took 0.8 s of a
    // 4800 x 3600 JPEG poster that needs 0.25 s of work.
    ok = ok && file && std::fflush(file) == 0;
    if (file ? std::fclose(file) != 0 : ::close(fd) != 0) ok = false;
    if (ok) {
        // A new name only: link fails when it exists, even as a dangling link.
        const int placed = options.exclusive ? ::link(temp.c_str(), options.output.c_str())
                                             : ::rename(temp.c_str(), options.output.c_str());
        if (placed != 0) {
            report.error = "cannot write " + options.output + ": " + std::strerror(errno);
            ok = false;
        }
    } else {
        report.error = "cannot write " + options.output + (errno ? std::string(": ") + std::strerror(errno) : "");
    }
    if (!ok || options.exclusive) ::unlink(temp.c_str());
    report.seconds_write = since(start);
    double like_sum = 0;
    for (double d : like) like_sum += d;
    report.likeness = like_sum / (static_cast<double>(w) * h);
    report.ok = ok;
    return report;
}

}  // namespace evgpack
