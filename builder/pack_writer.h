// Assembling and writing a pack file for the pack tool: pictures (JPEG bytes, thumbnail,
// representative colour), the two colour tables and the optional header, laid out with the
// viewer's own format definitions (pack/pack_format.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/colour_match.h"
#include "builder/photo_import.h"

namespace evgpack {

// One picture as it goes into a pack.
struct PackPicture {
    std::vector<uint8_t> jpeg;     // baseline JPEG of the 240 x 240 picture
    std::vector<uint16_t> thumb;   // thumb_size x thumb_size RGB565
    Lab colour{};                  // mean colour of the thumbnail (linear light), in CIELAB
};

// Encodes the picture at `quality` and reduces it to its thumbnail.
bool make_pack_picture(const LinearPicture& picture, int quality, int thumb_size, PackPicture& out);

// The mean colour of RGB565 pixels, averaged in linear light.
Lab mean_colour(const uint16_t* pixels, size_t count);

struct PackContent {
    std::string author;              // up to 32 bytes are stored
    std::vector<uint16_t> icon;      // 40 x 40 RGB565
    int thumb_size = 64;
    std::vector<PackPicture> pictures;
    MatchTables tables;  // with candidates.count > 0, the candidate section follows the entries
};

// The whole file: header (data offset 3250, listed count = picture count), data section.
std::vector<uint8_t> pack_serialise(const PackContent& content);

// Writes bytes to `path` through a temporary file in the same folder that is flushed and
// renamed over it, so the path holds either the old file or the complete new one. An
// interrupt (SIGINT, SIGTERM) while the temporary exists removes it. false + reason on failure.
bool write_file_replacing(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// The 40 x 40 icon of a picture.
std::vector<uint16_t> make_icon(const LinearPicture& picture);

}  // namespace evgpack
