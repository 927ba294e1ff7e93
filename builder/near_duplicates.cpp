// Perceptual traits of a picture and the grouping of near-identical pictures.
#include "builder/near_duplicates.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace evgpack {

namespace {

constexpr int HASH_GRID = 32;  // the lightness is reduced to 32 x 32 before the DCT
constexpr int HASH_FREQS = 8;  // the 8 x 8 lowest frequencies give the bits (DC left out)

// Luminance (linear light, 0..1) of every pixel.
std::vector<float> luminance(const LinearPicture& p) {
    std::vector<float> out(static_cast<size_t>(p.size) * p.size);
    for (size_t i = 0; i < out.size(); ++i) {
        const float* c = &p.rgb[i * 3];
        out[i] = 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
    }
    return out;
}

// CIELAB L* (0..100) of a luminance.
double lightness(double y) { return y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y; }

// Mean of the square [x0, x1) x [y0, y1) of an n x n plane.
double cell_mean(const std::vector<float>& plane, int n, int x0, int x1, int y0, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += plane[static_cast<size_t>(y) * n + x];
    const int area = (x1 - x0) * (y1 - y0);
    return area > 0 ? sum / area : 0;
}

}  // namespace

PictureTraits picture_traits(const LinearPicture& picture) {
    PictureTraits t;
    const int n = picture.size;
    if (n < HASH_GRID) return t;
    // The hash and the sharpness work on the square root of the luminance, close to perceived
    // lightness; an exact L* per pixel (a cube root each) cost more than the rest of the traits.
    const std::vector<float> y = luminance(picture);
    std::vector<float> l(y.size());
    for (size_t i = 0; i < y.size(); ++i) l[i] = 100 * std::sqrt(y[i]);

    double small[HASH_GRID][HASH_GRID];
    for (int y = 0; y < HASH_GRID; ++y)
        for (int x = 0; x < HASH_GRID; ++x)
            small[y][x] = cell_mean(l, n, x * n / HASH_GRID, (x + 1) * n / HASH_GRID, y * n / HASH_GRID,
                                    (y + 1) * n / HASH_GRID);
    // The lowest frequencies of the 2-D DCT-II, rows then columns. A global change of exposure
    // shifts DC and scales the rest, so the bits (above or below the median) hardly move.
    double basis[HASH_FREQS][HASH_GRID], rows[HASH_GRID][HASH_FREQS], dct[HASH_FREQS * HASH_FREQS];
    for (int u = 0; u < HASH_FREQS; ++u)
        for (int x = 0; x < HASH_GRID; ++x) basis[u][x] = std::cos((2 * x + 1) * u * M_PI / (2 * HASH_GRID));
    for (int y = 0; y < HASH_GRID; ++y)
        for (int u = 0; u < HASH_FREQS; ++u) {
            double s = 0;
            for (int x = 0; x < HASH_GRID; ++x) s += small[y][x] * basis[u][x];
            rows[y][u] = s;
        }
    for (int v = 0; v < HASH_FREQS; ++v)
        for (int u = 0; u < HASH_FREQS; ++u) {
            double s = 0;
            for (int y = 0; y < HASH_GRID; ++y) s += rows[y][u] * basis[v][y];
            dct[v * HASH_FREQS + u] = s;
        }
    std::vector<double> ac(dct + 1, dct + HASH_FREQS * HASH_FREQS);
    std::nth_element(ac.begin(), ac.begin() + ac.size() / 2, ac.end());
    const double median = ac[ac.size() / 2];
    for (int k = 1; k < HASH_FREQS * HASH_FREQS; ++k)
        if (dct[k] > median) t.hash |= uint64_t(1) << (k - 1);

    double lap = 0;
    for (int y = 1; y + 1 < n; ++y)
        for (int x = 1; x + 1 < n; ++x) {
            const size_t i = static_cast<size_t>(y) * n + x;
            lap += std::fabs(4 * l[i] - l[i - 1] - l[i + 1] - l[i - n] - l[i + n]);
        }
    t.sharpness = static_cast<float>(lap / ((n - 2.0) * (n - 2.0)));
    for (int k = 0; k < LAYOUT_CELLS; ++k) {
        const int cx = k % 3, cy = k / 3;
        t.layout[k] =
            static_cast<float>(lightness(cell_mean(y, n, cx * n / 3, (cx + 1) * n / 3, cy * n / 3, (cy + 1) * n / 3)));
    }
    return t;
}

bool is_flat(const PictureTraits& traits) {
    const auto span = std::minmax_element(std::begin(traits.layout), std::end(traits.layout));
    return traits.sharpness < FLAT_SHARPNESS && *span.second - *span.first < FLAT_LAYOUT;
}

SimilarItem similar_item(const PictureTraits& traits, const Lab& colour) {
    SimilarItem item{traits.hash, colour, is_flat(traits), {}};
    std::copy(std::begin(traits.layout), std::end(traits.layout), item.layout);
    return item;
}

namespace {

// How far apart two detailed pictures' colours are (see SIMILAR_COLOUR), and in `scale` the
// factor that brings the brighter one's L* + 16 to the darker's (1 when exposure is not matched).
double colour_apart(const SimilarItem& x, const SimilarItem& y, double& scale) {
    const Lab& dark = x.colour.L <= y.colour.L ? x.colour : y.colour;
    const Lab& bright = x.colour.L <= y.colour.L ? y.colour : x.colour;
    const double dl = dark.L - bright.L, da = dark.a - bright.a, db = dark.b - bright.b;
    const double plain = std::sqrt(dl * dl + da * da + db * db);
    scale = (dark.L + 16) / (bright.L + 16);
    if (scale * EXPOSURE_RATIO < 1) {
        scale = 1;
        return plain;
    }
    const double matched = std::hypot(dark.a - scale * bright.a, dark.b - scale * bright.b);
    if (plain <= matched) scale = 1;
    return std::min(plain, matched);
}

// Every cell of the two grids within TWIN_LAYOUT once the brighter is scaled as its colour was.
bool layouts_alike(const SimilarItem& x, const SimilarItem& y, double scale) {
    const float* dark = x.colour.L <= y.colour.L ? x.layout : y.layout;
    const float* bright = x.colour.L <= y.colour.L ? y.layout : x.layout;
    for (int k = 0; k < LAYOUT_CELLS; ++k)
        if (std::fabs((dark[k] + 16) - scale * (bright[k] + 16)) > TWIN_LAYOUT) return false;
    return true;
}

}  // namespace

std::vector<uint32_t> group_similar(const std::vector<SimilarItem>& items) {
    const size_t n = items.size();
    std::vector<uint32_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0u);
    auto find = [&parent](uint32_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    const double flat_limit = FLAT_COLOUR * FLAT_COLOUR;
    // Every pair: 20,000 pictures make 2e8 cheap comparisons (well under a second), far less
    // than importing them.
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j) {
            const SimilarItem &x = items[i], &y = items[j];
            if (x.flat != y.flat) continue;
            if (x.flat) {
                const double dl = x.colour.L - y.colour.L, da = x.colour.a - y.colour.a,
                             db = x.colour.b - y.colour.b;
                if (dl * dl + da * da + db * db > flat_limit) continue;
            } else {
                const int bits = __builtin_popcountll(x.hash ^ y.hash);
                if (bits > TWIN_HASH_BITS) continue;
                double scale;
                const double apart = colour_apart(x, y, scale);
                if (bits <= SIMILAR_HASH_BITS ? apart > SIMILAR_COLOUR
                                              : apart > TWIN_COLOUR || !layouts_alike(x, y, scale))
                    continue;
            }
            uint32_t a = find(static_cast<uint32_t>(i)), b = find(static_cast<uint32_t>(j));
            if (a != b) parent[std::max(a, b)] = std::min(a, b);  // the root stays the lowest number
        }
    std::vector<uint32_t> group(n);
    for (size_t i = 0; i < n; ++i) group[i] = find(static_cast<uint32_t>(i));
    return group;
}

}  // namespace evgpack
