// Mosaic posters: a target (a photo or a pack picture) resampled to W x H tiles, each tile named
// by the viewer's own tile rule and drawn from the pack's pictures at P pixels, written as a PNG
// or JPEG row of tiles by row of tiles. `evgpack poster` and the viewer's poster key call it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/pack_file.h"

namespace evgpack {

constexpr int POSTER_MAX_SIDE = 65535;  // PNG and JPEG both hold sides up to this
constexpr int POSTER_MIN_TILE_PX = 8, POSTER_MAX_TILE_PX = 240;
constexpr int POSTER_DEFAULT_TILES = 100, POSTER_DEFAULT_TILE_PX = 48;
// Percent of each tile's pixels moved towards its target colour. 20 keeps every tile's picture
// plain to see and brought the likeness on three real photos (100 x 75 tiles) from 5.8, 3.0 and
// 5.9 delta E at 0 to 4.8, 2.4 and 4.7.
constexpr int POSTER_DEFAULT_TINT = 20;
constexpr int POSTER_JPEG_QUALITY = 92;
constexpr int POSTER_MIN_CHOICES = 3, POSTER_MAX_CHOICES = 128;  // 4 x 4 grids of 8 candidates

// What the tiles stand for: one 8-bit sRGB colour per tile (RGB interleaved), width x height,
// and the pack picture it was made from (its tiles avoid it, as the viewer's do) or none.
struct PosterTarget {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint16_t parent = 0xFFFF;
};

// A photo (JPEG or PNG, EXIF orientation applied) at `across` tiles, rows from its aspect ratio.
// false + one line in `error` when it cannot be read or would have more than max_down rows
// (refused before the rows are allocated).
bool poster_target_photo(const uint8_t* data, size_t size, int across, int max_down, PosterTarget& out,
                         std::string& error);
// Pack picture n at across x across (n below the picture count). A picture that does not decode
// is black, as the viewer shows it.
void poster_target_picture(OpenPack& pack, uint16_t n, int across, PosterTarget& out);
// A 240 x 240 surface (RGB565) whose own picture is `parent`, at across x across: the viewer's.
void poster_target_surface(const uint16_t* surface, uint16_t parent, int across, PosterTarget& out);

// The pack picture the header's 40 x 40 icon was made from: the one whose thumbnail, sampled at
// 40 x 40, is closest to it (the header keeps the icon's pixels, not its number).
uint16_t poster_icon_picture(const OpenPack& pack, const uint16_t* icon);

// true when a poster of across x down tiles of `tile_px` fits the format; else one line.
bool poster_size_ok(long across, long down, long tile_px, std::string& error);

// The picture of every tile (width x height, reading order), by the viewer's rule over the
// target's RGB565 colours: the candidate lists when the pack has usable ones, else best_match
// or second_match. With `choices` from POSTER_MIN_CHOICES to POSTER_MAX_CHOICES (and usable
// lists), each colour draws instead on its `choices` nearest pictures by mean colour, and no two
// neighbours (across or down) show the same picture; below the minimum the tiles are the viewer's.
std::vector<uint16_t> poster_tile_map(const OpenPack& pack, const PosterTarget& target, int choices = 0);

// Picture p as a tile_px x tile_px 8-bit RGB tile: its thumbnail reduced by area averaging when
// tile_px is at most the thumbnail edge, else the decoded picture (black when it does not decode)
// reduced likewise. Sets *decoded when the picture was decoded.
std::vector<uint8_t> poster_tile_image(OpenPack& pack, uint16_t p, int tile_px, bool* decoded = nullptr);

struct PosterOptions {
    std::string output;   // ends in .png, or .jpg / .jpeg for a JPEG
    int tile_px = POSTER_DEFAULT_TILE_PX;
    int tint = POSTER_DEFAULT_TINT;  // 0 .. 100
    int choices = 0;                 // poster_tile_map's: 0 for the viewer's tiles
    bool exclusive = false;          // create `output` only as a new file (the viewer's names)
};

// Progress and cancel: `rows` is called after each row of tiles is written.
struct PosterMonitor {
    void* context = nullptr;
    void (*rows)(void* context, int done, int total) = nullptr;
};

struct PosterReport {
    bool ok = false;
    std::string error;  // one line when !ok
    int width_px = 0, height_px = 0;
    int pictures_used = 0, pictures_decoded = 0;
    // Distinct pictures per 10 x 10 tiles, share of neighbouring tiles (across and down) showing
    // the same picture, and the mean CIEDE2000 between each tile's mean colour as written and its
    // target colour.
    double distinct_10x10 = 0, identical_neighbours = 0, likeness = 0;
    // Seconds spent: tile choice, decoding pictures, resampling tiles, composing and writing.
    double seconds_map = 0, seconds_decode = 0, seconds_resample = 0, seconds_write = 0;
};

// Writes the poster of `target` to options.output (through a temporary file renamed into place,
// so a failure leaves no partial poster). The monitor may be null.
PosterReport poster_write(OpenPack& pack, const PosterTarget& target, const PosterOptions& options,
                          PosterMonitor* monitor);

}  // namespace evgpack
