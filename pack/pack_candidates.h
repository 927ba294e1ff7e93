// Candidate lists: an optional pack section after the last picture entry that names, for every
// RGB565 colour, up to 16 pictures ordered by closeness (the first is best_match). The mosaic
// spreads a surface's tiles over them (pack/tile_map.h) so that neighbouring tiles show
// different pictures. A
// pack without the section, or with one that fails any check, renders from best_match and
// second_match alone. No display code here: the pack tool reads and writes the same section.
//
// Section layout (little-endian), from the byte after the last picture entry to the end:
//   0   8        magic "EVGCANDS"
//   8   2        version: 1, or 2 for lists that hold at least a few candidates for every colour
//                 and are spread with the tile rule that also avoids repeats two tiles away, or
//                 3 for lists of every colour's K nearest pictures (however far), spread by
//                 perceived colour distance and the pictures already in view (pack/tile_map.h);
//                 the layout is the same
//   10  2        K, candidates per colour (1 .. 16)
//   12  131072K  for colour v, K picture numbers at 12 + 2Kv, nearest first; 0xFFFF = unused
//   end 4        CRC-32 (zlib) of every byte before it
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "pack/pack_format.h"

constexpr char CANDIDATE_MAGIC[9] = "EVGCANDS";
constexpr int CANDIDATE_MAGIC_SIZE = 8;
constexpr uint16_t CANDIDATE_VERSION_1 = 1;  // packs built before version 2: drawn as they always were
constexpr uint16_t CANDIDATE_VERSION_2 = 2;  // packs built before version 3: drawn as they always were
constexpr uint16_t CANDIDATE_VERSION = 3;    // what the builder writes
constexpr int CANDIDATE_MAX = 16;
constexpr uint16_t CANDIDATE_UNUSED = 0xFFFF;
constexpr size_t CANDIDATE_HEADER_SIZE = 12;
constexpr size_t CANDIDATE_CRC_SIZE = 4;

// Bytes of a section with k candidates per colour.
constexpr size_t candidate_section_size(int k) {
    return CANDIDATE_HEADER_SIZE + static_cast<size_t>(k) * 65536 * 2 + CANDIDATE_CRC_SIZE;
}

// What pack_load found after the picture entries (CandidateLists::status).
enum CandidateStatus : int {
    CANDIDATES_ABSENT = 0,   // nothing after the last entry
    CANDIDATES_OK,
    CANDIDATES_NOT_SECTION,  // trailing bytes without the magic
    CANDIDATES_BAD_VERSION,
    CANDIDATES_BAD_COUNT,    // K outside 1 .. 16
    CANDIDATES_BAD_SIZE,     // cut short, or bytes after the section
    CANDIDATES_BAD_CRC,
    CANDIDATES_BAD_NUMBER,   // a number not below the picture count
    CANDIDATES_NO_MEMORY,
    CANDIDATES_BAD_FIRST,    // a colour's first candidate is not its best_match
};
const char* candidate_status_text(int status);

// A pack's lists as loaded (OpenPack::candidates): `count` (K) numbers per colour, or count 0
// and no table when the pack has no usable section, `status` saying why (65536 x K x 2 bytes:
// 128 KiB per candidate).
struct CandidateLists {
    uint8_t count = 0;
    uint16_t version = 0;            // the section's version (1 or 2) when count > 0
    uint16_t* table = nullptr;       // 65536 x count picture numbers, host order
    int status = CANDIDATES_ABSENT;
    // Each picture's thumbnail mean in 8-bit channels, one per 16-bit lane (mean_lanes), so
    // that the tile rule compares two pictures per vector. Filled with the lists.
    uint64_t* means = nullptr;
    // Version 3 only (else null), made by candidates_prepare_spread: each picture's mean and
    // each RGB565 colour in CIELAB (colour_lanes), the colour's two distance weights
    // (colour_weights), and per colour two costs of showing a picture already in view: for
    // the whole list, and for the list less one of its first eight (a surface's own picture).
    uint64_t* lab_means = nullptr;
    uint64_t* colour_lab = nullptr;
    uint16_t* colour_weights = nullptr;
    int16_t* in_view_cost = nullptr;
};
constexpr uint64_t mean_lanes(uint64_t r, uint64_t g, uint64_t b) { return r | g << 16 | b << 32; }

// Version 3 compares colours in CIELAB, L, a and b times 4 as 16-bit lanes (colour_lanes), with
// each colour's own weights (1 / SL for lightness and 1 / SC for a and b of the CIE colour
// difference formulas, as 7-bit fractions): a lightness step near black or white, or a
// step of a vivid colour, counts less than one in the middle greys, as the eye sees them.
constexpr uint64_t colour_lanes(int L, int a, int b) {
    return static_cast<uint16_t>(L) | static_cast<uint64_t>(static_cast<uint16_t>(a)) << 16 |
           static_cast<uint64_t>(static_cast<uint16_t>(b)) << 32;
}
inline int lane_value(uint64_t lanes, int i) { return static_cast<int16_t>(lanes >> 16 * i & 0xFFFF); }
// The weighted distance of two colours given as lane differences (dl, da, db), in units of
// 1/20 delta E: each difference is weighted by (w << 8) / 65536 (the vector code's high-half
// multiply), then the root of the sum of squares (single precision, exactly rounded, so that
// every machine agrees), times 5/8. Differences stay within +-2047.
inline int colour_distance(int dl, int da, int db, int weight_l, int weight_ab) {
    const int u = dl * 16 * (weight_l << 8) >> 16, v = da * 16 * (weight_ab << 8) >> 16;
    const int w = db * 16 * (weight_ab << 8) >> 16;
    return static_cast<int>(std::sqrt(static_cast<float>(u * u + v * v + w * w))) * 5 >> 3;
}

// Makes the version-3 tables of `lists` (whose table and means are in place) for a pack of
// `count` pictures; false when memory runs out (the tables stay null).
bool candidates_prepare_spread(CandidateLists* lists, uint16_t count);

// Checks a whole section held in memory against a pack's tables: magic, version, K, size,
// CRC, every number below `count` or unused, and each colour's first number equal to
// best[v] (unused when best[v] names no picture). On success *k and out (65536 x k numbers,
// host order) are set, and *version when it is not null. Never reads outside data .. data + size.
int candidates_parse(const uint8_t* data, size_t size, const uint16_t* best, uint16_t count, int* k,
                     uint16_t* out, uint16_t* version = nullptr);

// Reads the trailing bytes at `pos` .. `end` of an open pack file into `lists` (with the means
// of the count thumbnails of edge `edge`) when they pass every check against `best`; otherwise
// `lists` stays without them, its status saying why. Called by pack_load once the tables,
// thumbnails and entries are in place.
void candidates_load(FILE* file, uint64_t pos, uint64_t end, const uint16_t* best, uint16_t count,
                     const uint16_t* thumbs, uint16_t edge, CandidateLists* lists);
// Frees the lists and means (count 0, CANDIDATES_ABSENT).
void candidates_close(CandidateLists* lists);

// Appends a section with k candidates per colour (lists: 65536 x k numbers, host order) to
// `out`, with its CRC-32. out must have room: candidate_section_size(k) bytes at `out`. The
// builder writes CANDIDATE_VERSION; version 1 makes a section as packs built before it hold.
void candidates_encode(int k, const uint16_t* lists, uint8_t* out, uint16_t version = CANDIDATE_VERSION_1);
