// Greedy farthest-point selection: each step takes the picture farthest from every picture taken
// so far, so the chosen set spreads over the colours and layouts the library has instead of
// piling up where it has the most photos (one trip, one birthday).
#include "builder/photo_selection.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace evgpack {

namespace {

// The layout weighs less than the colour: the colour decides which colours of the pack find a
// close picture, the layout only breaks ties between pictures of one colour.
constexpr float LAYOUT_WEIGHT = 0.35f;
constexpr int FEATURES = 3 + LAYOUT_CELLS;

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
    // Every top-level folder first, in the order of their first items.
    std::vector<uint32_t> folders;
    for (const SelectionItem& it : items)
        if (std::find(folders.begin(), folders.end(), it.folder) == folders.end()) folders.push_back(it.folder);
    for (size_t k = 0; k < folders.size() && chosen.size() < count; ++k)
        take(farthest([&](size_t i) { return items[i].folder == folders[k]; }));
    while (chosen.size() < count) take(farthest([](size_t) { return true; }));
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

}  // namespace evgpack
