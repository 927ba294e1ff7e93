// Candidate lists: the section parser (bounded by the section's own size, every number checked
// once so the tile rule can trust the table) and the per-surface tile map.
#include "pack/pack_candidates.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/rgb565.h"

const char* candidate_status_text(int status) {
    switch (status) {
        case CANDIDATES_ABSENT: return "no candidate section";
        case CANDIDATES_OK: return "candidate section OK";
        case CANDIDATES_NOT_SECTION: return "bytes after the last picture are not a candidate section";
        case CANDIDATES_BAD_VERSION: return "candidate section of an unknown version";
        case CANDIDATES_BAD_COUNT: return "candidate section with K outside 1 .. 16";
        case CANDIDATES_BAD_SIZE: return "candidate section of the wrong size (cut short or extended)";
        case CANDIDATES_BAD_CRC: return "candidate section fails its CRC-32";
        case CANDIDATES_BAD_NUMBER: return "candidate section names pictures the pack does not hold";
        case CANDIDATES_NO_MEMORY: return "not enough memory for the candidate section";
        case CANDIDATES_BAD_FIRST: return "candidate section's first candidates differ from best_match";
        default: return "unknown candidate status";
    }
}

int candidates_parse(const uint8_t* data, size_t size, const uint16_t* best, uint16_t count, int* k,
                     uint16_t* out, uint16_t* version) {
    if (size < CANDIDATE_MAGIC_SIZE || std::memcmp(data, CANDIDATE_MAGIC, CANDIDATE_MAGIC_SIZE) != 0)
        return CANDIDATES_NOT_SECTION;
    if (size < CANDIDATE_HEADER_SIZE) return CANDIDATES_BAD_SIZE;
    const uint16_t found = get_le16(data + 8);
    if (found < CANDIDATE_VERSION_1 || found > CANDIDATE_VERSION) return CANDIDATES_BAD_VERSION;
    const int n = get_le16(data + 10);
    if (n < 1 || n > CANDIDATE_MAX) return CANDIDATES_BAD_COUNT;
    if (size != candidate_section_size(n)) return CANDIDATES_BAD_SIZE;
    const size_t body = size - CANDIDATE_CRC_SIZE;
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(body));
    if (crc != get_le32(data + body)) return CANDIDATES_BAD_CRC;
    const uint8_t* numbers = data + CANDIDATE_HEADER_SIZE;
    for (size_t v = 0; v < 65536; ++v) {
        const uint8_t* entry = numbers + v * n * 2;
        const uint16_t first = get_le16(entry);
        // The first candidate is the colour's best_match, so the lists never contradict the
        // tables; a colour whose best_match names no picture has no candidates.
        if (best[v] < count ? first != best[v] : first != CANDIDATE_UNUSED) return CANDIDATES_BAD_FIRST;
        for (int s = 0; s < n; ++s) {
            const uint16_t t = get_le16(entry + 2 * s);
            if (t >= count && t != CANDIDATE_UNUSED) return CANDIDATES_BAD_NUMBER;
            out[v * n + s] = t;
        }
    }
    *k = n;
    if (version) *version = found;
    return CANDIDATES_OK;
}

void candidates_encode(int k, const uint16_t* lists, uint8_t* out, uint16_t version) {
    std::memcpy(out, CANDIDATE_MAGIC, CANDIDATE_MAGIC_SIZE);
    put_le16(out + 8, version);
    put_le16(out + 10, static_cast<uint16_t>(k));
    const size_t numbers = static_cast<size_t>(k) * 65536;
    for (size_t i = 0; i < numbers; ++i) put_le16(out + CANDIDATE_HEADER_SIZE + 2 * i, lists[i]);
    const size_t body = CANDIDATE_HEADER_SIZE + 2 * numbers;
    put_le32(out + body, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), out, static_cast<uInt>(body))));
}

void candidates_close(CandidateLists* lists) {
    std::free(lists->table);
    std::free(lists->means);
    std::free(lists->lab_means);
    std::free(lists->colour_lab);
    std::free(lists->colour_weights);
    std::free(lists->in_view_cost);
    *lists = CandidateLists{};
}

namespace {

// The cost of showing a picture already in view (version 3): at least IN_VIEW_FLOOR, and at
// least the distance from a colour's nearest picture to its IN_VIEW_RANK-th nearest plus
// IN_VIEW_MARGIN, so that every colour cycles through that many pictures however far apart
// they lie (dark and pale colours), while colours with many close pictures keep to the
// closest. Units of 1/20 delta E. Chosen with `evgpack quality` on 310 real photos and the demo
// pack (close-up screens mean / fewest, zoom-8 likeness against version 1; demo in brackets):
// margin 5: 15.0 / 8, +0.26 (19.5 / 7, +0.28); 7: 15.0 / 8, +0.26 (19.4 / 9, +0.29); 10:
// 15.1 / 8, +0.27 (19.7 / 9, +0.31). With a draft of the rule: rank 6 gave 14.8 / 5, +0.30;
// margin 20, 15.5 / 8, +0.30 (20.0 / 8, +0.35). The floor seldom applies (20 changed nothing).
constexpr int IN_VIEW_FLOOR = 40, IN_VIEW_MARGIN = 7, IN_VIEW_RANK = 8;
// Keeps the cost and every term added to it within 16 bits in the tile rule.
constexpr int IN_VIEW_LIMIT = 8000;

// CIELAB (D65) of an 8-bit sRGB colour, as colour_lanes, and its weights (low byte lightness,
// high byte a and b).
void lab_of(const float* linear, const uint8_t rgb[3], uint64_t* lanes, uint16_t* weights) {
    const float r = linear[rgb[0]], g = linear[rgb[1]], b = linear[rgb[2]];
    const float x = (0.4124f * r + 0.3576f * g + 0.1805f * b) / 0.95047f;
    const float y = 0.2126f * r + 0.7152f * g + 0.0722f * b;
    const float z = (0.0193f * r + 0.1192f * g + 0.9505f * b) / 1.08883f;
    auto f = [](float t) { return t > 0.008856f ? std::cbrt(t) : 7.787f * t + 16.0f / 116; };
    const float L = 116 * f(y) - 16, A = 500 * (f(x) - f(y)), B = 200 * (f(y) - f(z));
    *lanes = colour_lanes(static_cast<int>(std::lround(4 * L)), static_cast<int>(std::lround(4 * A)),
                          static_cast<int>(std::lround(4 * B)));
    if (weights) {
        const float mid = (L - 50) * (L - 50);
        const float sl = 1 + 0.015f * mid / std::sqrt(20 + mid), sc = 1 + 0.045f * std::sqrt(A * A + B * B);
        const long wl = std::min(127L, std::lround(128 / sl)), wab = std::min(127L, std::lround(128 / sc));
        *weights = static_cast<uint16_t>(wl | wab << 8);
    }
}

}  // namespace

bool candidates_prepare_spread(CandidateLists* lists, uint16_t count) {
    const int k = lists->count;
    auto* lab_means = static_cast<uint64_t*>(std::malloc(count * sizeof(uint64_t)));
    auto* colour_lab = static_cast<uint64_t*>(std::malloc(65536 * sizeof(uint64_t)));
    auto* weights = static_cast<uint16_t*>(std::malloc(65536 * sizeof(uint16_t)));
    auto* in_view = static_cast<int16_t*>(std::malloc(2 * 65536 * sizeof(int16_t)));
    if (!lab_means || !colour_lab || !weights || !in_view || !lists->table || !lists->means) {
        std::free(lab_means), std::free(colour_lab), std::free(weights), std::free(in_view);
        return false;
    }
    float linear[256];
    for (int v = 0; v < 256; ++v) {
        const float c = v / 255.0f;
        linear[v] = c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
    }
    for (int p = 0; p < count; ++p) {
        const uint64_t m = lists->means[p];
        const uint8_t rgb[3] = {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 16), static_cast<uint8_t>(m >> 32)};
        lab_of(linear, rgb, &lab_means[p], nullptr);
    }
    for (int v = 0; v < 65536; ++v) {
        uint8_t rgb[3];
        rgb565_unpack(static_cast<uint16_t>(v), rgb);
        lab_of(linear, rgb, &colour_lab[v], &weights[v]);
        const uint64_t own = colour_lab[v];
        const int wl = weights[v] & 0xFF, wab = weights[v] >> 8;
        int distance[CANDIDATE_MAX], n = 0;
        for (int s = 0; s < k; ++s) {
            const uint16_t t = lists->table[static_cast<size_t>(v) * k + s];
            if (t == CANDIDATE_UNUSED) continue;
            const uint64_t m = lab_means[t];
            distance[n++] = colour_distance(lane_value(own, 0) - lane_value(m, 0), lane_value(own, 1) - lane_value(m, 1),
                                            lane_value(own, 2) - lane_value(m, 2), wl, wab);
        }
        std::sort(distance, distance + n);
        for (int skip = 0; skip < 2; ++skip) {
            const int rank = std::min(n, IN_VIEW_RANK + skip) - 1;
            const int cost = rank >= 0 ? std::max(IN_VIEW_FLOOR, distance[rank] - distance[0] + IN_VIEW_MARGIN) : IN_VIEW_FLOOR;
            in_view[2 * v + skip] = static_cast<int16_t>(std::min(cost, IN_VIEW_LIMIT));
        }
    }
    lists->lab_means = lab_means;
    lists->colour_lab = colour_lab;
    lists->colour_weights = weights;
    lists->in_view_cost = in_view;
    return true;
}

// Thumbnail means in 8-bit channels (top bits repeated), the colours the tile rule compares.
static uint64_t* picture_means_make(const uint16_t* thumbs, uint16_t count, uint16_t edge) {
    uint64_t* means = static_cast<uint64_t*>(std::malloc(count * sizeof(uint64_t)));
    if (!means) return nullptr;
    const size_t pixels = static_cast<size_t>(edge) * edge;
    for (size_t p = 0; p < count; ++p) {
        const uint16_t* thumb = thumbs + p * pixels;
        uint64_t r = 0, g = 0, b = 0;
        for (size_t i = 0; i < pixels; ++i) {
            uint8_t rgb[3];
            rgb565_unpack(thumb[i], rgb);
            r += rgb[0], g += rgb[1], b += rgb[2];
        }
        means[p] = mean_lanes(r / pixels, g / pixels, b / pixels);
    }
    return means;
}

void candidates_load(FILE* file, uint64_t pos, uint64_t end, const uint16_t* best, uint16_t count,
                     const uint16_t* thumbs, uint16_t edge, CandidateLists* lists) {
    candidates_close(lists);
    if (pos >= end) return;
    const uint64_t size = end - pos;
    uint8_t head[CANDIDATE_HEADER_SIZE] = {};
    const size_t head_size = size < CANDIDATE_HEADER_SIZE ? static_cast<size_t>(size) : CANDIDATE_HEADER_SIZE;
    if (std::fseek(file, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(head, 1, head_size, file) != head_size) {
        lists->status = CANDIDATES_BAD_SIZE;
        return;
    }
    // The header alone decides the size to read, so a damaged K never makes a large allocation.
    int status = candidates_parse(head, head_size, best, count, nullptr, nullptr);
    if (status == CANDIDATES_BAD_SIZE && head_size == CANDIDATE_HEADER_SIZE) {
        const int k = get_le16(head + 10);
        if (size == candidate_section_size(k)) {
            std::vector<uint8_t> section;
            uint16_t* table = static_cast<uint16_t*>(std::malloc(static_cast<size_t>(k) * 65536 * 2));
            int parsed_k = 0;
            uint16_t version = 0;
            status = CANDIDATES_NO_MEMORY;
            if (table) {
                section.resize(static_cast<size_t>(size));
                status = std::fseek(file, static_cast<long>(pos), SEEK_SET) == 0 &&
                                 std::fread(section.data(), 1, section.size(), file) == section.size()
                             ? candidates_parse(section.data(), section.size(), best, count, &parsed_k, table, &version)
                             : CANDIDATES_BAD_SIZE;
            }
            uint64_t* means = nullptr;
            if (status == CANDIDATES_OK) {
                means = picture_means_make(thumbs, count, edge);
                if (!means) status = CANDIDATES_NO_MEMORY;
            }
            if (status == CANDIDATES_OK) {
                lists->table = table;
                lists->means = means;
                lists->count = static_cast<uint8_t>(parsed_k);
                lists->version = version;
                lists->status = CANDIDATES_OK;
                if (version < CANDIDATE_VERSION || candidates_prepare_spread(lists, count)) return;
                candidates_close(lists);
                lists->status = CANDIDATES_NO_MEMORY;
                return;
            }
            std::free(table);
        }
    }
    lists->status = status;
}
