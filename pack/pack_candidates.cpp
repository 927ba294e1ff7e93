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
    if (found != CANDIDATE_VERSION_1 && found != CANDIDATE_VERSION) return CANDIDATES_BAD_VERSION;
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
    *lists = CandidateLists{};
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
                return;
            }
            std::free(table);
        }
    }
    lists->status = status;
}
