// Coverage figures. Distances use the double-precision CIEDE2000; the pixel-weighted figures
// go through a histogram of the thumbnails' colours, so each distinct colour is measured once.
#include "builder/pack_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace evgpack {

namespace {

// Weighted mean and 95th percentile of (value, weight) pairs.
void weighted_figures(std::vector<std::pair<double, double>>& samples, double& mean, double& p95) {
    double total = 0, sum = 0;
    for (auto& s : samples) total += s.second, sum += s.first * s.second;
    mean = total > 0 ? sum / total : 0;
    std::sort(samples.begin(), samples.end());
    double seen = 0;
    p95 = samples.empty() ? 0 : samples.back().first;
    for (auto& s : samples) {
        seen += s.second;
        if (seen >= 0.95 * total) {
            p95 = s.first;
            break;
        }
    }
}

// The family of a colour in plain words: "dark " or "pale " by lightness, then greys or one of
// eight hues by the CIELAB hue angle (dark oranges read as browns).
const char* const FAMILY_HUES[] = {"reds", "oranges", "yellows", "greens", "turquoises", "blues", "purples", "greys"};
constexpr int FAMILIES = 3 * 8;
constexpr double HUE_LIMITS[] = {50, 75, 105, 170, 235, 315, 345};  // degrees, from reds at 345 .. 50

int colour_family(const Lab& lab) {
    const int light = lab.L < 35 ? 1 : lab.L > 75 ? 2 : 0;
    int hue = 7;
    if (std::hypot(lab.a, lab.b) >= 12) {
        double angle = std::atan2(lab.b, lab.a) * 180 / M_PI;
        if (angle < 0) angle += 360;
        hue = 0;
        while (hue < 7 && angle >= HUE_LIMITS[hue]) ++hue;
        if (hue == 7) hue = 0;  // 345 .. 360: reds again
    }
    return light * 8 + hue;
}

std::string family_name(int family) {
    const int light = family / 8, hue = family % 8;
    if (light == 1 && hue == 1) return "browns";
    return std::string(light == 1 ? "dark " : light == 2 ? "pale " : "") + FAMILY_HUES[hue];
}

}  // namespace

std::string colour_verdict(const Coverage& coverage) {
    std::string names;
    const size_t n = coverage.few_photos.size();
    for (size_t i = 0; i < n; ++i) names += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + coverage.few_photos[i];
    char line[320];
    if (n == 0)
        std::snprintf(line, sizeof line,
                      "colours: good: the colours of the pictures all have close photos (on average %.1f delta E "
                      "away)\n",
                      coverage.pixel_mean);
    else
        std::snprintf(line, sizeof line, "colours: %s have few photos: adding photos with those colours will help\n",
                      names.c_str());
    return line;
}

Coverage measure_coverage(const std::vector<uint16_t>& best, const std::vector<uint16_t>& second,
                          const std::vector<Lab>& picture_colours, const uint16_t* thumbnails, size_t thumb_pixels) {
    Coverage cov;
    const size_t n = picture_colours.size();
    if (n == 0 || best.size() != 65536 || second.size() != 65536) return cov;
    std::vector<double> distance(65536, 0);
    std::vector<uint8_t> used(n, 0), used_best(n, 0);
    std::vector<std::pair<double, double>> samples;
    samples.reserve(65536);
    for (int c = 0; c < 65536; ++c) {
        uint16_t b = best[c], s = second[c];
        if (b < n) used[b] = used_best[b] = 1;
        if (s < n) used[s] = 1;
        // An entry naming no picture draws black: measure it against black.
        Lab target = b < n ? picture_colours[b] : Lab{0, 0, 0};
        distance[c] = ciede2000(rgb565_to_lab(static_cast<uint16_t>(c)), target);
        samples.emplace_back(distance[c], 1.0);
    }
    weighted_figures(samples, cov.colour_mean, cov.colour_p95);
    std::vector<uint32_t> histogram(65536, 0);
    for (size_t i = 0; i < thumb_pixels; ++i) histogram[thumbnails[i]]++;
    samples.clear();
    for (int c = 0; c < 65536; ++c)
        if (histogram[c]) samples.emplace_back(distance[c], histogram[c]);
    weighted_figures(samples, cov.pixel_mean, cov.pixel_p95);
    double family_weight[FAMILIES] = {}, family_distance[FAMILIES] = {}, total = 0;
    for (int c = 0; c < 65536; ++c)
        if (histogram[c]) {
            const int f = colour_family(rgb565_to_lab(static_cast<uint16_t>(c)));
            family_weight[f] += histogram[c], family_distance[f] += histogram[c] * distance[c], total += histogram[c];
        }
    std::vector<std::pair<double, int>> thin;  // (how far past the limit, weighted; family)
    for (int f = 0; f < FAMILIES; ++f) {
        if (total <= 0 || family_weight[f] < FAMILY_SHARE * total) continue;
        const double mean = family_distance[f] / family_weight[f];
        if (mean > FEW_PHOTOS_DISTANCE) thin.emplace_back(-(mean - FEW_PHOTOS_DISTANCE) * family_weight[f], f);
    }
    std::sort(thin.begin(), thin.end());
    for (size_t i = 0; i < thin.size() && i < 3; ++i) cov.few_photos.push_back(family_name(thin[i].second));
    for (size_t i = 0; i < n; ++i) {
        cov.unused_pictures += !used[i];
        if (!used[i]) cov.unused.push_back(static_cast<int>(i));
        cov.distinct_best += used_best[i];
    }
    return cov;
}

std::string coverage_warning(const Coverage& coverage, int pictures) {
    // Beyond about 12 delta E a tile reads as a different colour from its pixel (the 256-picture
    // demo pack has 95% of its pixels within 10.7); below 50 pictures the mosaic repeats the
    // same few tiles wherever a photo is smooth.
    char line[256];
    if (coverage.pixel_p95 > 12.0) {
        std::snprintf(line, sizeof line,
                      "warning: the pack is too small to serve its colours well: 5%% of the pictures' "
                      "pixels are more than %.1f delta E from their tile; add photos of other colours",
                      coverage.pixel_p95);
        return line;
    }
    if (pictures < 50) {
        std::snprintf(line, sizeof line,
                      "warning: only %d pictures: the mosaic will repeat the same tiles often; 200 or "
                      "more varied photos give a better result",
                      pictures);
        return line;
    }
    return "";
}

}  // namespace evgpack
