// CIELAB and CIEDE2000 for the pack tool. The table search compares every RGB565 colour with
// every picture (65536 x up to 2048 pairs), so the per-pair distance is a branch-free float
// routine over arrays that the compiler turns into SIMD code; the double-precision reference
// is kept for statistics and tests.
#include "builder/colour_match.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "media/rgb565.h"
#include "pack/pack_candidates.h"

namespace evgpack {

namespace {

constexpr double PI = 3.14159265358979323846;

// The sRGB transfer curve: an encoded value in 0 .. 1 to linear light.
double srgb_decode(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

struct LinearTable {
    double v[256];
    LinearTable() {
        for (int i = 0; i < 256; ++i) v[i] = srgb_decode(i / 255.0);
    }
};
const LinearTable linear_table;

double lab_f(double t) {
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3 * delta * delta) + 4.0 / 29.0;
}

}  // namespace

double srgb_to_linear(uint8_t v) { return linear_table.v[v]; }

namespace {

// Linear-light values halfway between consecutive 8-bit sRGB codes: the code of a linear value
// is the number of midpoints at or below it (the same as rounding the exact curve's value).
// `below[i]` counts the midpoints at or below i / 4096, where the count for any value from there
// on starts; the closest midpoints (near black) are 1/3294 apart, so a step holds at most one.
constexpr int SRGB_STEPS = 4096;
struct SrgbMidpoints {
    double v[255];
    uint8_t below[SRGB_STEPS];  // 4 KB
    SrgbMidpoints() {
        for (int k = 0; k < 255; ++k) v[k] = srgb_decode((k + 0.5) / 255.0);
        for (int i = 0; i < SRGB_STEPS; ++i)
            below[i] = static_cast<uint8_t>(std::upper_bound(v, v + 255, double(i) / SRGB_STEPS) - v);
    }
};
const SrgbMidpoints srgb_midpoints;

}  // namespace

uint8_t linear_to_srgb(double v) {
    // A table step and a comparison or two instead of a pow per value: the reduction calls this
    // for every channel (the 8-step binary search it replaces was a sixth of a JPEG poster's CPU).
    const SrgbMidpoints& m = srgb_midpoints;
    if (!(v >= 0 && v < 1))
        return static_cast<uint8_t>(std::upper_bound(m.v, m.v + 255, v) - m.v);
    int k = m.below[static_cast<int>(v * SRGB_STEPS)];
    while (k < 255 && m.v[k] <= v) ++k;
    return static_cast<uint8_t>(k);
}

Lab linear_rgb_to_lab(double r, double g, double b) {
    // sRGB primaries, D65 white.
    double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
    double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
    double fx = lab_f(x / 0.95047), fy = lab_f(y), fz = lab_f(z / 1.08883);
    return Lab{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

Lab rgb565_to_lab(uint16_t c) {
    uint8_t rgb[3];
    rgb565_unpack(c, rgb);
    return linear_rgb_to_lab(srgb_to_linear(rgb[0]), srgb_to_linear(rgb[1]), srgb_to_linear(rgb[2]));
}

double ciede2000(const Lab& x, const Lab& y) {
    const double deg = PI / 180;
    double c1 = std::hypot(x.a, x.b), c2 = std::hypot(y.a, y.b);
    double cbar = (c1 + c2) / 2;
    double cbar7 = std::pow(cbar, 7);
    double g = 0.5 * (1 - std::sqrt(cbar7 / (cbar7 + std::pow(25.0, 7))));
    double a1 = x.a * (1 + g), a2 = y.a * (1 + g);
    double cp1 = std::hypot(a1, x.b), cp2 = std::hypot(a2, y.b);
    double hp1 = (a1 == 0 && x.b == 0) ? 0 : std::atan2(x.b, a1);
    double hp2 = (a2 == 0 && y.b == 0) ? 0 : std::atan2(y.b, a2);
    if (hp1 < 0) hp1 += 2 * PI;
    if (hp2 < 0) hp2 += 2 * PI;
    double dl = y.L - x.L, dc = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = hp2 - hp1;
        if (dh > PI) dh -= 2 * PI;
        if (dh < -PI) dh += 2 * PI;
    }
    double dH = 2 * std::sqrt(cp1 * cp2) * std::sin(dh / 2);
    double lbar = (x.L + y.L) / 2, cpbar = (cp1 + cp2) / 2;
    double hbar = hp1 + hp2;
    if (cp1 * cp2 != 0) {
        if (std::fabs(hp1 - hp2) > PI) hbar += hbar < 2 * PI ? 2 * PI : -2 * PI;
        hbar /= 2;
    }
    double t = 1 - 0.17 * std::cos(hbar - 30 * deg) + 0.24 * std::cos(2 * hbar) +
               0.32 * std::cos(3 * hbar + 6 * deg) - 0.20 * std::cos(4 * hbar - 63 * deg);
    double dtheta = 30 * deg * std::exp(-std::pow((hbar / deg - 275) / 25, 2));
    double cpbar7 = std::pow(cpbar, 7);
    double rc = 2 * std::sqrt(cpbar7 / (cpbar7 + std::pow(25.0, 7)));
    double l50 = (lbar - 50) * (lbar - 50);
    double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    double sc = 1 + 0.045 * cpbar, sh = 1 + 0.015 * cpbar * t;
    double rt = -std::sin(2 * dtheta) * rc;
    double tl = dl / sl, tc = dc / sc, th = dH / sh;
    return std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th);
}

MatchSet make_match_set(const std::vector<Lab>& colours) {
    MatchSet set;
    for (const Lab& c : colours) {
        set.L.push_back(static_cast<float>(c.L));
        set.a.push_back(static_cast<float>(c.a));
        set.b.push_back(static_cast<float>(c.b));
        set.C.push_back(static_cast<float>(std::hypot(c.a, c.b)));
    }
    return set;
}

namespace {

// Polynomial approximations, accurate to a few 1e-6 over the ranges used below; plain
// arithmetic and selects only, so the loop in ciede2000_row vectorises.
inline float atan2_approx(float y, float x) {
    float ax = std::fabs(x), ay = std::fabs(y);
    float mx = ax > ay ? ax : ay, mn = ax > ay ? ay : ax;
    float t = mx > 0 ? mn / mx : 0.0f;  // 0..1
    float s = t * t;
    // Minimax odd polynomial for atan on [0, 1].
    float r = ((((((-0.0040540580f * s + 0.0218612288f) * s - 0.0559098861f) * s + 0.0964200441f) * s -
                 0.1390853351f) * s + 0.1994653599f) * s - 0.3332985605f) * s * t + t;
    r = ay > ax ? 1.57079632679f - r : r;
    r = x < 0 ? 3.14159265359f - r : r;
    return y < 0 ? -r : r;
}

// sin and cos of an angle in [-2pi, 4pi] (reduced to [-pi, pi] first).
inline void sincos_approx(float angle, float& s, float& c) {
    const float two_pi = 6.28318530718f, pi = 3.14159265359f, half_pi = 1.57079632679f;
    float t = angle * (1.0f / two_pi) + 0.5f;
    int ki = static_cast<int>(t);
    ki -= t < static_cast<float>(ki);  // floor for negative t too
    float x = angle - static_cast<float>(ki) * two_pi;  // [-pi, pi]
    // Fold into [-pi/2, pi/2] for the polynomials; cosine changes sign with the fold.
    float xs = x > half_pi ? pi - x : (x < -half_pi ? -pi - x : x);
    float sign_c = (x > half_pi || x < -half_pi) ? -1.0f : 1.0f;
    float z = xs * xs;
    s = xs * (1 + z * (-1.6666667e-1f + z * (8.3333310e-3f + z * (-1.9840874e-4f + z * (2.7525562e-6f - z * 2.3889859e-8f)))));
    float cc = 1 + z * (-0.5f + z * (4.1666638e-2f + z * (-1.3888378e-3f + z * (2.4760495e-5f - z * 2.6051615e-7f))));
    c = sign_c * cc;
}

// exp(x) for x <= 0; 0 below -80.
inline float exp_neg_approx(float x) {
    x = x < -80.0f ? -80.0f : x;
    float t = x * 1.44269504089f;  // log2(e)
    int k = static_cast<int>(t);
    k -= t < static_cast<float>(k);
    float f = (t - static_cast<float>(k)) * 0.69314718056f;  // [0, ln 2)
    float p = 1 + f * (1 + f * (0.5f + f * (1.6666667e-1f + f * (4.1666668e-2f + f * (8.3333338e-3f + f * 1.3888889e-3f)))));
    // 2^k from the exponent bits; k >= -116 here, so the result stays a normal float.
    union {
        int32_t i;
        float f;
    } scale;
    scale.i = (k + 127) << 23;
    return p * scale.f;
}

}  // namespace

void ciede2000_row_range(const Lab& colour, const MatchSet& set, int first, int end, float* out) {
    const float L1 = static_cast<float>(colour.L), A1 = static_cast<float>(colour.a),
                B1 = static_cast<float>(colour.b);
    const float C1 = std::sqrt(A1 * A1 + B1 * B1);
    const float pow25_7 = 6103515625.0f;
    const float deg = 0.01745329252f, pi = 3.14159265359f, two_pi = 6.28318530718f;
    const float* Ls = set.L.data();
    const float* As = set.a.data();
    const float* Bs = set.b.data();
    const float* Cs = set.C.data();
#pragma GCC ivdep
    for (int i = first; i < end; ++i) {
        float cbar = (C1 + Cs[i]) * 0.5f;
        float c2 = cbar * cbar, c7 = c2 * c2 * c2 * cbar;
        float g = 0.5f * (1 - std::sqrt(c7 / (c7 + pow25_7)));
        float a1 = A1 * (1 + g), a2 = As[i] * (1 + g);
        float b2 = Bs[i];
        float cp1 = std::sqrt(a1 * a1 + B1 * B1), cp2 = std::sqrt(a2 * a2 + b2 * b2);
        float hp1 = atan2_approx(B1, a1), hp2 = atan2_approx(b2, a2);
        hp1 = hp1 < 0 ? hp1 + two_pi : hp1;
        hp2 = hp2 < 0 ? hp2 + two_pi : hp2;
        bool chromatic = cp1 * cp2 != 0;
        float dh = hp2 - hp1;
        dh = dh > pi ? dh - two_pi : dh;
        dh = dh < -pi ? dh + two_pi : dh;
        dh = chromatic ? dh : 0.0f;
        float sin_half, cos_half;
        sincos_approx(dh * 0.5f, sin_half, cos_half);
        float dH = 2 * std::sqrt(cp1 * cp2) * sin_half;
        float lbar = (L1 + Ls[i]) * 0.5f, cpbar = (cp1 + cp2) * 0.5f;
        float hsum = hp1 + hp2;
        float hwrap = hsum < two_pi ? hsum + two_pi : hsum - two_pi;
        float hbar = std::fabs(hp1 - hp2) > pi ? hwrap : hsum;
        hbar = chromatic ? hbar * 0.5f : hsum;
        float s1, k1;
        sincos_approx(hbar, s1, k1);
        float k2 = k1 * k1 - s1 * s1, s2 = 2 * s1 * k1;
        float k3 = k1 * k2 - s1 * s2, s3 = s1 * k2 + k1 * s2;
        float k4 = k2 * k2 - s2 * s2, s4 = 2 * s2 * k2;
        // cos(h - 30), cos(3h + 6), cos(4h - 63) by the angle-sum rules.
        float t = 1 - 0.17f * (k1 * 0.86602540378f + s1 * 0.5f) + 0.24f * k2 +
                  0.32f * (k3 * 0.99452189537f - s3 * 0.10452846327f) -
                  0.20f * (k4 * 0.45399049974f + s4 * 0.89100652419f);
        float e = (hbar / deg - 275.0f) * (1.0f / 25.0f);
        float dtheta = 30.0f * deg * exp_neg_approx(-e * e);
        float sin2t, cos2t;
        sincos_approx(2 * dtheta, sin2t, cos2t);
        float cp2_ = cpbar * cpbar, cp7 = cp2_ * cp2_ * cp2_ * cpbar;
        float rc = 2 * std::sqrt(cp7 / (cp7 + pow25_7));
        float l50 = (lbar - 50) * (lbar - 50);
        float sl = 1 + 0.015f * l50 / std::sqrt(20 + l50);
        float sc = 1 + 0.045f * cpbar, sh = 1 + 0.015f * cpbar * t;
        float rt = -sin2t * rc;
        float tl = (Ls[i] - L1) / sl, tc = (cp2 - cp1) / sc, th = dH / sh;
        float sum = tl * tl + tc * tc + th * th + rt * tc * th;
        out[i] = std::sqrt(sum > 0 ? sum : 0.0f);
        (void)cos_half;
        (void)cos2t;
    }
}

void ciede2000_row(const Lab& colour, const MatchSet& set, float* out) {
    ciede2000_row_range(colour, set, 0, set.count(), out);
}

uint32_t colour_hash(uint32_t colour) {
    // A 32-bit integer mix (xorshift-multiply); any fixed mix serves, it only has to scatter.
    uint32_t h = colour * 0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x85EBCA77u;
    h ^= h >> 13;
    h *= 0xC2B2AE3Du;
    h ^= h >> 16;
    return h;
}

namespace {

// Pictures sorted by lightness, so that the candidates for one colour form one contiguous run.
struct SortedSet {
    MatchSet set;
    std::vector<int> index;  // original picture number of each sorted entry
};

SortedSet sort_by_lightness(const std::vector<Lab>& colours) {
    std::vector<int> order(colours.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int x, int y) { return colours[x].L < colours[y].L; });
    std::vector<Lab> sorted;
    for (int i : order) sorted.push_back(colours[i]);
    return SortedSet{make_match_set(sorted), order};
}

// CIEDE2000 is never below |dL| / SL, and SL is at most 1 + 0.015 * 2500 / sqrt(2520) (L at 0
// or 100): the chroma and hue terms with the rotation term stay non-negative because
// |RT| <= 2. So a picture whose lightness differs by more than SL_MAX * d cannot be within d.
constexpr float SL_MAX = 1.7470f;
// Covers the float routine's error against the exact formula.
constexpr float BOUND_MARGIN = 0.01f;

// Less-than on (distance, picture number): ties go to the lower number.
inline bool closer(float da, int ia, float db, int ib) { return da < db || (da == db && ia < ib); }

}  // namespace

MatchTables compute_match_tables(const std::vector<Lab>& picture_colours, double variety, int jobs,
                                 int candidate_count, double budget, int at_least) {
    MatchTables tables;
    tables.best.assign(65536, 0);
    tables.second.assign(65536, 0);
    const int k = std::max(0, std::min(candidate_count, CANDIDATE_MAX));
    tables.candidate_count = k;
    tables.candidates.assign(static_cast<size_t>(k) * 65536, 0xFFFF);
    const float within = k > 0 ? static_cast<float>(std::max(budget, 0.0)) : 0.0f;
    const int n = static_cast<int>(picture_colours.size());
    if (n == 0) return tables;
    const SortedSet sorted = sort_by_lightness(picture_colours);
    const std::vector<float>& Ls = sorted.set.L;
    const float spread = static_cast<float>(variety > 0 ? variety : 0);
    std::atomic<int> next_chunk{0};
    constexpr int CHUNK = 256;
    constexpr int PROBE = 32;  // pictures nearest in lightness measured first, for a bound

    auto worker = [&]() {
        std::vector<float> dist(static_cast<size_t>(n));
        std::vector<int> candidates;
        std::vector<std::pair<float, int>> others;  // (distance, picture) for the candidate lists
        int prev_best = -1, prev_second = -1;  // sorted positions found for the previous colour
        for (;;) {
            int chunk = next_chunk.fetch_add(1);
            if (chunk * CHUNK >= 65536) break;
            prev_best = prev_second = -1;
            for (int c = chunk * CHUNK; c < (chunk + 1) * CHUNK; ++c) {
                const Lab lab = rgb565_to_lab(static_cast<uint16_t>(c));
                const float L = static_cast<float>(lab.L);
                // 1. A probe gives an upper bound on the second-nearest distance: a few
                //    pictures nearest in lightness, and the previous colour's two answers
                //    (neighbouring colour values differ by one step of one channel).
                int centre = static_cast<int>(std::lower_bound(Ls.begin(), Ls.end(), L) - Ls.begin());
                int probe = c % CHUNK == 0 ? PROBE : PROBE / 4;
                int lo = std::max(0, std::min(centre - probe / 2, n - probe));
                int hi = std::min(n, lo + probe);
                ciede2000_row_range(lab, sorted.set, lo, hi, dist.data());
                float d1 = INFINITY, d2 = INFINITY;
                auto take = [&](float d) {
                    if (d < d1) { d2 = d1; d1 = d; }
                    else if (d < d2) { d2 = d; }
                };
                for (int i = lo; i < hi; ++i) take(dist[i]);
                for (int i : {prev_best, prev_second}) {
                    if (i < 0 || (i >= lo && i < hi)) continue;
                    ciede2000_row_range(lab, sorted.set, i, i + 1, dist.data());
                    take(dist[i]);
                }
                // 2. Every picture that can be the nearest, the second nearest, or within the
                //    variety spread lies in one lightness window; measure the rest of it.
                float reach = (std::max(d2, d1 + std::max(spread, within)) + BOUND_MARGIN) * SL_MAX;
                int wlo = static_cast<int>(std::lower_bound(Ls.begin(), Ls.end(), L - reach) - Ls.begin());
                int whi = static_cast<int>(std::upper_bound(Ls.begin(), Ls.end(), L + reach) - Ls.begin());
                wlo = std::min(wlo, lo);
                whi = std::max(whi, hi);
                if (wlo < lo) ciede2000_row_range(lab, sorted.set, wlo, lo, dist.data());
                if (hi < whi) ciede2000_row_range(lab, sorted.set, hi, whi, dist.data());
                // 3. Nearest picture, ties to the lower picture number.
                int near = wlo;
                for (int i = wlo + 1; i < whi; ++i)
                    if (closer(dist[i], sorted.index[i], dist[near], sorted.index[near])) near = i;
                int best = near;
                if (spread > 0) {
                    float limit = dist[near] + spread;
                    candidates.clear();
                    for (int i = wlo; i < whi; ++i)
                        if (dist[i] <= limit) candidates.push_back(sorted.index[i]);
                    std::sort(candidates.begin(), candidates.end());
                    int pick = candidates[colour_hash(static_cast<uint32_t>(c)) % candidates.size()];
                    for (int i = wlo; i < whi; ++i)
                        if (sorted.index[i] == pick) best = i;
                }
                int second = -1;
                for (int i = wlo; i < whi; ++i) {
                    if (i == best) continue;
                    if (second < 0 || closer(dist[i], sorted.index[i], dist[second], sorted.index[second]))
                        second = i;
                }
                prev_best = near;
                prev_second = second;
                if (k > 0) {
                    // best first, then the nearest others within the budget of the nearest.
                    uint16_t* list = &tables.candidates[static_cast<size_t>(c) * k];
                    list[0] = static_cast<uint16_t>(sorted.index[best]);
                    others.clear();
                    const float limit = dist[near] + within;
                    for (int i = wlo; i < whi; ++i)
                        if (i != best && dist[i] <= limit) others.emplace_back(dist[i], sorted.index[i]);
                    size_t keep = std::min(others.size(), static_cast<size_t>(k - 1));
                    const size_t wanted = static_cast<size_t>(std::max(0, std::min(at_least, k) - 1));
                    if (keep < wanted && static_cast<size_t>(n - 1) > others.size()) {
                        // Too few within the budget: the nearest others, however far. The
                        // wanted-th nearest measured so far bounds them in lightness.
                        others.clear();
                        for (int i = wlo; i < whi; ++i)
                            if (i != best) others.emplace_back(dist[i], sorted.index[i]);
                        float bound = INFINITY;
                        if (others.size() >= wanted) {
                            std::nth_element(others.begin(), others.begin() + (wanted - 1), others.end());
                            bound = others[wanted - 1].first;
                        }
                        const float far = (bound + BOUND_MARGIN) * SL_MAX;
                        int flo = static_cast<int>(std::lower_bound(Ls.begin(), Ls.end(), L - far) - Ls.begin());
                        int fhi = static_cast<int>(std::upper_bound(Ls.begin(), Ls.end(), L + far) - Ls.begin());
                        flo = std::min(flo, wlo);
                        fhi = std::max(fhi, whi);
                        if (flo < wlo) ciede2000_row_range(lab, sorted.set, flo, wlo, dist.data());
                        if (whi < fhi) ciede2000_row_range(lab, sorted.set, whi, fhi, dist.data());
                        for (int i = flo; i < fhi; ++i)
                            if (i != best && (i < wlo || i >= whi)) others.emplace_back(dist[i], sorted.index[i]);
                        keep = std::min(others.size(), static_cast<size_t>(k - 1));
                        keep = std::min(keep, std::max(wanted, static_cast<size_t>(std::count_if(
                                                  others.begin(), others.end(),
                                                  [&](const std::pair<float, int>& o) { return o.first <= limit; }))));
                    }
                    std::partial_sort(others.begin(), others.begin() + keep, others.end());
                    for (size_t s = 0; s < keep; ++s) list[1 + s] = static_cast<uint16_t>(others[s].second);
                }
                tables.best[c] = static_cast<uint16_t>(sorted.index[best]);
                tables.second[c] = static_cast<uint16_t>(sorted.index[second < 0 ? best : second]);
            }
        }
    };
    int threads = std::max(1, std::min(jobs, 64));
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    return tables;
}

}  // namespace evgpack
