// Demo pictures. Each picture gets a kind (by index), a base hue spread by the golden ratio
// and a brightness that sweeps over the set, so the set covers the colour space evenly.
#include "builder/demo_pictures.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>

#include "builder/colour_match.h"
#include "builder/pack_writer.h"
#include "pack/pack_format.h"

namespace evgpack {

namespace {

constexpr double PI = 3.14159265358979323846;

struct Rgb {
    double r, g, b;  // sRGB 0..1
};

Rgb hsv(double h, double s, double v) {
    h = h - std::floor(h);
    double f = h * 6;
    int i = static_cast<int>(f) % 6;
    double p = v * (1 - s), q = v * (1 - s * (f - std::floor(f))), t = v * (1 - s * (1 - (f - std::floor(f))));
    switch (i) {
        case 0: return {v, t, p};
        case 1: return {q, v, p};
        case 2: return {p, v, t};
        case 3: return {p, q, v};
        case 4: return {t, p, v};
        default: return {v, p, q};
    }
}

Rgb mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Small deterministic generator (xorshift32) for the random parts of a picture.
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed * 2654435761u + 12345u) { next(); }
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double uniform() { return (next() >> 8) / 16777216.0; }
};

struct Style {
    double hue, hue2, sat, light;
    Random* rng;
};

Rgb mandelbrot(double x, double y, const Style& s, double cx, double cy, double zoom) {
    double zr = 0, zi = 0, cr = cx + (x - 0.5) * zoom, ci = cy + (y - 0.5) * zoom;
    int i = 0;
    const int limit = 96;
    for (; i < limit && zr * zr + zi * zi < 16; ++i) {
        double t = zr * zr - zi * zi + cr;
        zi = 2 * zr * zi + ci;
        zr = t;
    }
    if (i == limit) return hsv(s.hue2, s.sat * 0.6, s.light * 0.15);
    double smooth = i + 1 - std::log2(std::log2(zr * zr + zi * zi) / 2);
    double t = smooth / limit;
    return hsv(s.hue + 0.25 * t, s.sat, std::min(1.0, s.light * (0.35 + 1.6 * std::sqrt(t))));
}

Rgb julia(double x, double y, const Style& s, double cr, double ci) {
    double zr = (x - 0.5) * 3.0, zi = (y - 0.5) * 3.0;
    int i = 0;
    const int limit = 64;
    for (; i < limit && zr * zr + zi * zi < 16; ++i) {
        double t = zr * zr - zi * zi + cr;
        zi = 2 * zr * zi + ci;
        zr = t;
    }
    double t = static_cast<double>(i) / limit;
    return mix(hsv(s.hue, s.sat, s.light * 0.25), hsv(s.hue2, s.sat * 0.8, std::min(1.0, s.light * 1.3)), std::sqrt(t));
}

// Heights of a mountain ridge: a few octaves of sines with random phases.
double ridge(double x, double phase, double scale) {
    return scale * (0.5 * std::sin(x * 7 + phase) + 0.25 * std::sin(x * 17 + 2 * phase) +
                    0.12 * std::sin(x * 41 + 3 * phase));
}

Rgb landscape(double x, double y, const Style& s, double p1, double p2, double sun_x) {
    Rgb sky_top = hsv(s.hue, s.sat * 0.7, s.light * 0.8), sky_low = hsv(s.hue + 0.08, s.sat * 0.4, std::min(1.0, s.light * 1.2));
    Rgb c = mix(sky_top, sky_low, y / 0.6);
    double dx = x - sun_x, dy = y - 0.3;
    double sun = std::exp(-(dx * dx + dy * dy) * 400);
    c = mix(c, hsv(s.hue2, 0.5, 1.0), sun);
    double far = 0.45 + ridge(x, p1, 0.08), near = 0.6 + ridge(x, p2, 0.06);
    if (y > far) c = mix(hsv(s.hue + 0.5, s.sat * 0.5, s.light * 0.6), c, 0.3);
    if (y > near) c = hsv(s.hue2 + 0.3, s.sat * 0.8, s.light * (0.25 + 0.3 * (1 - y)));
    if (y > 0.8) {  // water reflecting the sky
        double wave = 0.03 * std::sin(y * 160 + x * 10);
        c = mix(hsv(s.hue, s.sat * 0.6, s.light * 0.5), sky_low, 0.5 + wave);
    }
    return c;
}

Rgb plasma(double x, double y, const Style& s, double a, double b) {
    double v = std::sin(x * 10 + a) + std::sin((y * 10 + b) * 0.7) + std::sin((x + y) * 8) +
               std::sin(std::sqrt((x - 0.5) * (x - 0.5) + (y - 0.5) * (y - 0.5)) * 20 + a);
    return hsv(s.hue + 0.08 * v, s.sat, std::min(1.0, s.light * (0.6 + 0.1 * v)));
}

Rgb rings(double x, double y, const Style& s, double cx, double cy, double freq) {
    double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
    double band = 0.5 + 0.5 * std::sin(d * freq);
    return mix(hsv(s.hue, s.sat, s.light * 0.5), hsv(s.hue2, s.sat * 0.7, std::min(1.0, s.light * 1.1)), band);
}

Rgb tiles(double x, double y, const Style& s, uint32_t seed) {
    int cells = 6 + seed % 5;
    int cx = static_cast<int>(x * cells), cy = static_cast<int>(y * cells);
    Random cell(seed ^ (cx * 73856093u) ^ (cy * 19349663u));
    double h = s.hue + 0.15 * (cell.uniform() - 0.5);
    double fx = x * cells - cx, fy = y * cells - cy;
    double edge = std::min(std::min(fx, 1 - fx), std::min(fy, 1 - fy));
    double shade = edge < 0.06 ? 0.4 : 0.75 + 0.5 * cell.uniform();
    return hsv(h, s.sat * (0.6 + 0.4 * cell.uniform()), std::min(1.0, s.light * shade));
}

}  // namespace

LinearPicture demo_picture(int index, int count) {
    const int n = 240;
    Random rng(static_cast<uint32_t>(index) + 1);
    Style s;
    s.hue = std::fmod(index * 0.6180339887, 1.0);
    s.hue2 = std::fmod(s.hue + 0.3 + 0.4 * rng.uniform(), 1.0);
    // Brightness sweeps dark to light across the set with a second, faster cycle, and a few
    // pictures are nearly grey, so dark, light and neutral colours all get tiles.
    double sweep = count > 1 ? static_cast<double>(index) / (count - 1) : 0.5;
    s.light = 0.25 + 0.75 * std::fmod(sweep + 0.37 * (index % 3), 1.0);
    s.sat = index % 7 == 3 ? 0.12 : 0.45 + 0.5 * rng.uniform();
    s.rng = &rng;
    const int kind = index % 6;
    double p1 = rng.uniform() * 2 * PI, p2 = rng.uniform() * 2 * PI, p3 = rng.uniform();
    static const double spots[][3] = {{-0.745, 0.113, 0.02}, {-0.16, 1.035, 0.05}, {-1.25, 0.02, 0.1},
                                      {0.285, 0.012, 0.04},  {-0.75, 0.0, 2.8},    {-0.1, 0.65, 0.3}};
    const double* spot = spots[(index / 6) % 6];
    double jr = -0.8 + 0.5 * rng.uniform(), ji = 0.156 + 0.3 * (rng.uniform() - 0.5);
    uint32_t seed = rng.next();

    LinearPicture out;
    out.size = n;
    out.rgb.resize(static_cast<size_t>(n) * n * 3);
    for (int py = 0; py < n; ++py) {
        for (int px = 0; px < n; ++px) {
            double x = (px + 0.5) / n, y = (py + 0.5) / n;
            Rgb c;
            switch (kind) {
                case 0: c = mandelbrot(x, y, s, spot[0], spot[1], spot[2] * (0.7 + 0.6 * p3)); break;
                case 1: c = landscape(x, y, s, p1, p2, 0.2 + 0.6 * p3); break;
                case 2: c = plasma(x, y, s, p1, p2); break;
                case 3: c = julia(x, y, s, jr, ji); break;
                case 4: c = rings(x, y, s, 0.2 + 0.6 * p3, 0.3 + 0.4 * rng.uniform(), 30 + 40 * p3); break;
                default: c = tiles(x, y, s, seed); break;
            }
            float* o = &out.rgb[(static_cast<size_t>(py) * n + px) * 3];
            auto lin = [](double v) {
                v = std::clamp(v, 0.0, 1.0);
                return static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
            };
            o[0] = lin(c.r), o[1] = lin(c.g), o[2] = lin(c.b);
        }
    }
    return out;
}

std::vector<uint8_t> demo_pack_bytes(int count, int jobs, int candidates) {
    PackContent content;
    content.author = "Evergreen demo";
    content.thumb_size = PACK_DEFAULT_THUMB_SIZE;
    content.pictures.resize(static_cast<size_t>(count));
    std::atomic<int> next{0};
    auto worker = [&]() {
        for (int i; (i = next.fetch_add(1)) < count;) {
            LinearPicture picture = demo_picture(i, count);
            make_pack_picture(picture, 85, content.thumb_size, content.pictures[static_cast<size_t>(i)]);
            if (i == 0) content.icon = make_icon(picture);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < jobs; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    std::vector<Lab> colours;
    for (const PackPicture& p : content.pictures) colours.push_back(p.colour);
    content.tables = compute_match_tables(colours, DEFAULT_VARIETY, jobs, candidates, DEFAULT_CANDIDATE_BUDGET,
                                          DEFAULT_MIN_CANDIDATES);
    return pack_serialise(content);
}

}  // namespace evgpack
