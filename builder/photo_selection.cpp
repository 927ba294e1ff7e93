// Greedy farthest-point selection: each step takes the picture farthest from every picture taken
// so far, so the chosen set spreads over the colours and layouts the library has instead of
// piling up where it has the most photos (one trip, one birthday); an even sample of the rest
// then keeps the library's mix.
#include "builder/photo_selection.h"

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>

namespace evgpack {

namespace {

// The layout weighs less than the colour: the colour decides which colours of the pack find a
// close picture, the layout only breaks ties between pictures of one colour.
constexpr float LAYOUT_WEIGHT = 0.35f;
constexpr int FEATURES = 3 + LAYOUT_CELLS;
// Farthest-point alone covers the colours best but takes the library's outliers, leaving common
// colours few pictures to vary between. Measured on a 2,000-photo synthetic library choosing 200
// (all-colour mean / 95th percentile delta E; distinct pictures per zoom-40 screen with the
// candidate lists, `evgpack quality`): all farthest 6.2 / 10.4, 4.4; half 6.3 / 11.0, 5.4;
// a quarter 6.8 / 11.6, 5.2; a tenth 7.5 / 14.4, 6.0; the first 200 by path 7.6 / 13.9, 5.9.
constexpr size_t FARTHEST_PERCENT = 50;

}  // namespace

std::vector<uint32_t> select_pictures(const std::vector<SelectionItem>& items, size_t count) {
    const size_t n = items.size();
    std::vector<uint32_t> chosen;
    if (count >= n) {
        chosen.resize(n);
        std::iota(chosen.begin(), chosen.end(), 0u);
        return chosen;
    }
    std::vector<float> f(n * FEATURES), mean(FEATURES, 0.f);
    for (size_t i = 0; i < n; ++i) {
        float* v = &f[i * FEATURES];
        v[0] = static_cast<float>(items[i].colour.L), v[1] = static_cast<float>(items[i].colour.a);
        v[2] = static_cast<float>(items[i].colour.b);
        for (int k = 0; k < LAYOUT_CELLS; ++k) v[3 + k] = LAYOUT_WEIGHT * items[i].layout[k];
        for (int k = 0; k < FEATURES; ++k) mean[k] += v[k] / static_cast<float>(n);
    }
    auto distance = [&f](size_t i, const float* to) {
        float s = 0;
        for (int k = 0; k < FEATURES; ++k) {
            const float d = f[i * FEATURES + k] - to[k];
            s += d * d;
        }
        return s;
    };
    // nearest[i]: squared distance from item i to the chosen set (to the library's mean before
    // the first choice, so the first picture is the most unusual one).
    std::vector<float> nearest(n);
    for (size_t i = 0; i < n; ++i) nearest[i] = distance(i, mean.data());
    std::vector<char> taken(n, 0);
    auto take = [&](size_t pick) {
        taken[pick] = 1;
        chosen.push_back(static_cast<uint32_t>(pick));
        for (size_t i = 0; i < n; ++i) nearest[i] = std::min(nearest[i], distance(i, &f[pick * FEATURES]));
    };
    // The farthest item among those `allowed`; ties go to the lower number.
    auto farthest = [&](auto allowed) {
        size_t best = n;
        for (size_t i = 0; i < n; ++i)
            if (!taken[i] && allowed(i) && (best == n || nearest[i] > nearest[best])) best = i;
        return best;
    };
    // Every top-level folder first, in the order of their first items, when they fit in the
    // farthest-point half. With more folders than that (a library of one folder per day), the
    // half goes to the farthest item of any folder not yet represented: taking one of each in
    // path order would fill the pack from the first folders alone.
    const size_t spread = std::min(count, std::max<size_t>(1, count * FARTHEST_PERCENT / 100));
    std::map<uint32_t, size_t> folder_number;  // folder -> its place in order of first items
    std::vector<size_t> folder_of(n);          // each item's folder place, looked up once
    for (size_t i = 0; i < n; ++i)
        folder_of[i] = folder_number.emplace(items[i].folder, folder_number.size()).first->second;
    std::vector<char> represented(folder_number.size(), 0);
    const bool one_each = folder_number.size() <= spread;
    for (size_t k = 0; k < (one_each ? folder_number.size() : spread); ++k) {
        const size_t pick =
            farthest([&](size_t i) { return one_each ? folder_of[i] == k : !represented[folder_of[i]]; });
        represented[folder_of[pick]] = 1;
        take(pick);
    }
    while (chosen.size() < spread) take(farthest([](size_t) { return true; }));
    // The rest as an even sample of the items not taken, in their order: the pack keeps the
    // library's own mix of colours, so common colours have many pictures to vary between.
    std::vector<uint32_t> rest;
    for (size_t i = 0; i < n; ++i)
        if (!taken[i]) rest.push_back(static_cast<uint32_t>(i));
    const size_t wanted = count - chosen.size();
    for (size_t j = 0; j < wanted; ++j) chosen.push_back(rest[(2 * j + 1) * rest.size() / (2 * wanted)]);
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

}  // namespace evgpack
