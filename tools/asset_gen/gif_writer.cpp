// Median cut: boxes of distinct colours are split along their widest channel at the
// count-weighted median until there are as many boxes as palette places; each box becomes its
// count-weighted mean. Ties are broken by box order, so the result is the same on every run.
#include "gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "media/rgb565.h"
#include "render/colour_key.h"

uint16_t to_rgb565(Rgb c) { return rgb565_pack(c.r, c.g, c.b); }

namespace {

struct Entry {
    uint32_t rgb;
    uint32_t count;
};

int channel(uint32_t rgb, int ch) { return (rgb >> (16 - 8 * ch)) & 0xFF; }

struct Box {
    size_t begin, end;  // range in the entry list
    int widest_channel(const std::vector<Entry>& e, int* range) const {
        int best = 0, best_range = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (size_t i = begin; i < end; ++i) {
                lo = std::min(lo, channel(e[i].rgb, ch));
                hi = std::max(hi, channel(e[i].rgb, ch));
            }
            if (hi - lo > best_range) best_range = hi - lo, best = ch;
        }
        *range = best_range;
        return best;
    }
};

Rgb box_mean(const std::vector<Entry>& e, const Box& b) {
    uint64_t sum[3] = {0, 0, 0}, n = 0;
    for (size_t i = b.begin; i < b.end; ++i) {
        for (int ch = 0; ch < 3; ++ch) sum[ch] += static_cast<uint64_t>(channel(e[i].rgb, ch)) * e[i].count;
        n += e[i].count;
    }
    return Rgb{static_cast<uint8_t>((sum[0] + n / 2) / n), static_cast<uint8_t>((sum[1] + n / 2) / n),
               static_cast<uint8_t>((sum[2] + n / 2) / n)};
}

// Moves a colour off the key's RGB565 value (green 0..3 with red and blue at the top).
Rgb avoid_key(Rgb c) {
    if (to_rgb565(c) == colour_key) c.g = 4;
    return c;
}

uint32_t pack(Rgb c) { return static_cast<uint32_t>(c.r) << 16 | c.g << 8 | c.b; }

}  // namespace

IndexedImage reduce_colours(const Image& img, int key_index) {
    std::map<uint32_t, uint32_t> histogram;
    for (const Rgb& c : img.px) {
        if (c == KEY_RGB) {
            if (key_index < 0) {
                std::fprintf(stderr, "asset_gen: key colour in a picture that must not hold it\n");
                std::exit(1);
            }
            continue;
        }
        ++histogram[pack(c)];
    }
    std::vector<Entry> entries;
    for (const auto& kv : histogram) entries.push_back({kv.first, kv.second});

    size_t places = key_index < 0 ? 256 : 255;
    std::vector<Box> boxes;
    if (!entries.empty()) boxes.push_back({0, entries.size()});
    while (boxes.size() < places) {
        int best = -1, best_range = 0, best_channel = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            int range;
            int ch = boxes[i].widest_channel(entries, &range);
            if (range > best_range) best = static_cast<int>(i), best_range = range, best_channel = ch;
        }
        if (best < 0) break;
        Box b = boxes[best];
        std::stable_sort(entries.begin() + b.begin, entries.begin() + b.end, [&](const Entry& x, const Entry& y) {
            return channel(x.rgb, best_channel) < channel(y.rgb, best_channel);
        });
        uint64_t total = 0, run = 0;
        for (size_t i = b.begin; i < b.end; ++i) total += entries[i].count;
        size_t cut = b.begin + 1;
        for (size_t i = b.begin; i < b.end - 1; ++i) {
            run += entries[i].count;
            cut = i + 1;
            if (run * 2 >= total) break;
        }
        boxes[best] = {b.begin, cut};
        boxes.push_back({cut, b.end});
    }

    IndexedImage out;
    out.width = img.width;
    out.height = img.height;
    out.index.assign(img.px.size(), 0);
    for (Rgb& c : out.palette) c = Rgb{0, 0, 0};
    std::vector<int> slot_of_box;
    int next = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (next == key_index) ++next;
        out.palette[next] = avoid_key(box_mean(entries, boxes[i]));
        slot_of_box.push_back(next++);
    }
    if (key_index >= 0) out.palette[key_index] = KEY_RGB;

    // Nearest palette entry per distinct colour (the key's own index is never a candidate).
    std::map<uint32_t, uint8_t> nearest;
    for (size_t p = 0; p < img.px.size(); ++p) {
        Rgb c = img.px[p];
        if (c == KEY_RGB) {
            out.index[p] = static_cast<uint8_t>(key_index);
            continue;
        }
        uint32_t k = pack(c);
        auto it = nearest.find(k);
        if (it == nearest.end()) {
            int best = slot_of_box.empty() ? 0 : slot_of_box[0];
            long best_d = -1;
            for (int s : slot_of_box) {
                Rgb q = out.palette[s];
                long d = (q.r - c.r) * (q.r - c.r) * 3L + (q.g - c.g) * (q.g - c.g) * 4L + (q.b - c.b) * (q.b - c.b) * 2L;
                if (best_d < 0 || d < best_d) best_d = d, best = s;
            }
            it = nearest.emplace(k, static_cast<uint8_t>(best)).first;
        }
        out.index[p] = it->second;
    }
    return out;
}

namespace {

int append_bytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

}  // namespace

std::vector<uint8_t> encode_gif(const IndexedImage& img) {
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, append_bytes, &error);
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i) colours[i] = {img.palette[i].r, img.palette[i].g, img.palette[i].b};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    bool ok = gif && map;
    if (ok) {
        EGifSetGifVersion(gif, true);
        // Graphic Control Extension: no disposal, no user input, no transparency; delay 0.
        GifByteType control[4] = {0, 0, 0, 0};
        ok = EGifPutScreenDesc(gif, img.width, img.height, 8, 0, map) == GIF_OK &&
             EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, img.width, img.height, false, nullptr) == GIF_OK;
        std::vector<GifPixelType> row(static_cast<size_t>(img.width));
        for (int y = 0; ok && y < img.height; ++y) {
            std::copy(img.index.begin() + static_cast<long>(y) * img.width,
                      img.index.begin() + static_cast<long>(y + 1) * img.width, row.begin());
            ok = EGifPutLine(gif, row.data(), img.width) == GIF_OK;
        }
    }
    if (gif && EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (map) GifFreeMapObject(map);
    if (!ok) {
        std::fprintf(stderr, "asset_gen: GIF encoding failed\n");
        std::exit(1);
    }
    return bytes;
}
