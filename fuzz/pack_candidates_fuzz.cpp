// libFuzzer target: the candidate section parser, and the tile map built from what it accepts.
// The first byte steers the harness: bit 0 stretches the input to the full size its K field
// asks for (K taken as 1 .. 4; the numbers repeat the input's bytes), bit 1 writes a correct
// CRC-32 afterwards, so that short inputs reach the number checks and the tile rule behind the
// size and CRC checks; bit 2 makes best_match agree with each colour's first number (else
// unused); bit 7 picks the noise rule for the map.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pack/pack_file.h"
#include "pack/pack_candidates.h"
#include "pack/tile_map.h"

static constexpr uint16_t PICTURES = 7;
static std::vector<uint8_t> section;
static uint16_t lists[CANDIDATE_MAX * 65536];
static uint16_t surface[PICTURE_PIXELS], map[PICTURE_PIXELS];
static uint64_t means[PICTURES];
static OpenPack pack;  // the tables and counts the section is checked against; lists lent below
static TileMapScratch scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    for (size_t v = 0; v < PACK_TABLE_ENTRIES; v++) {
        pack.best_match[v] = static_cast<uint16_t>(v % (PICTURES + 1));  // PICTURES: no picture
        pack.second_match[v] = static_cast<uint16_t>(v % 5);
    }
    const uint8_t mode = data[0];
    section.assign(data + 1, data + size);
    if ((mode & 1) && section.size() >= CANDIDATE_HEADER_SIZE) {
        // At most 4 candidates when stretching (the parser's loops do not depend on K), so that
        // a run stays fast: a 16-candidate section is 2 MB.
        const int k = 1 + (get_le16(section.data() + 10) + 3) % 4;
        put_le16(section.data() + 10, static_cast<uint16_t>(k));
        {
            const size_t given = section.size();
            section.resize(candidate_section_size(k));
            // Bytes past the header repeat; a header alone is followed by zeros.
            const size_t period = given - CANDIDATE_HEADER_SIZE;
            for (size_t i = given; i < section.size(); i++)
                section[i] = period ? section[CANDIDATE_HEADER_SIZE + (i - given) % period] : 0;
        }
    }
    // Bit 2: best_match agrees with each colour's first number where that names a picture.
    if ((mode & 4) && section.size() >= CANDIDATE_HEADER_SIZE) {
        const int k = get_le16(section.data() + 10);
        if (k >= 1 && k <= CANDIDATE_MAX && section.size() == candidate_section_size(k))
            for (size_t v = 0; v < PACK_TABLE_ENTRIES; v++) {
                const uint16_t first = get_le16(section.data() + CANDIDATE_HEADER_SIZE + 2 * k * v);
                pack.best_match[v] = first < PICTURES ? first : static_cast<uint16_t>(PICTURES);
                if (first >= PICTURES) put_le16(section.data() + CANDIDATE_HEADER_SIZE + 2 * k * v, CANDIDATE_UNUSED);
            }
    }
    if ((mode & 2) && section.size() >= CANDIDATE_CRC_SIZE) {
        const size_t body = section.size() - CANDIDATE_CRC_SIZE;
        put_le32(section.data() + body, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), section.data(), static_cast<uInt>(body))));
    }
    int k = 0;
    const int status = candidates_parse(section.data(), section.size(), pack.best_match, PICTURES, &k, lists);
    if (status != CANDIDATES_OK) return 0;
    if (k < 1 || k > CANDIDATE_MAX) std::abort();
    // The tile map over a surface of the input's bytes: every tile names a listed picture, or
    // falls back to the tables.
    for (int i = 0; i < PICTURE_PIXELS; i++) surface[i] = static_cast<uint16_t>(data[i % size] | data[(i * 7) % size] << 8);
    for (uint16_t p = 0; p < PICTURES; p++) means[p] = mean_lanes(p * 0x24u, p * 0x24u, p * 0x24u);
    pack.candidates.table = lists;
    pack.candidates.count = static_cast<uint8_t>(k);
    pack.candidates.means = means;
    pack.picture_count = PICTURES;
    tile_map_build(pack, scratch, surface, static_cast<uint16_t>(mode % PICTURES), map, mode >> 7);
    for (int i = 0; i < PICTURE_PIXELS; i++) {
        const uint16_t t = map[i], v = surface[i];
        if (t >= PICTURES && t != pack.best_match[v] && t != pack.second_match[v]) std::abort();
    }
    pack.candidates = CandidateLists{};  // the arrays are this file's, not the pack's to free
    pack.picture_count = 0;
    return 0;
}
