// Turning a user's photo (any JPEG libjpeg-turbo reads, any PNG libpng reads) into one pack
// picture: centre-cropped to a square, EXIF orientation applied, reduced to 240 x 240 by area
// averaging in linear light. Decoding streams row by row, so memory does not grow with the
// photo's size (large JPEGs are decoded at 1/2, 1/4 or 1/8 scale first).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/pack_format.h"  // PICTURE_EDGE, the side of every pack picture

namespace evgpack {

// A square picture in linear light, RGB interleaved, `size` x `size`.
struct LinearPicture {
    int size = 0;
    std::vector<float> rgb;
    int source_short_side = 0;  // the photo's shorter side in pixels before scaling (import_photo)
};

// A whole photo in linear light, RGB interleaved, width x height (import_photo_whole).
struct LinearImage {
    int width = 0, height = 0;
    std::vector<float> rgb;
};

// Decompression bomb guards. A photo header can claim any size in a few bytes, so photos
// beyond these limits are refused before anything of that size is allocated: more pixels than
// MAX_PHOTO_PIXELS, a side longer than MAX_PHOTO_SIDE, or a decode that needs more than
// MAX_DECODE_BYTES at once (a progressive JPEG's coefficients, an interlaced PNG). Each worker
// decodes one photo at a time, so this is also the budget per worker.
constexpr uint64_t MAX_PHOTO_PIXELS = 400ull * 1000 * 1000;
constexpr uint32_t MAX_PHOTO_SIDE = 65535;
constexpr uint64_t MAX_DECODE_BYTES = 256ull << 20;

// The limits in force; the fuzz target lowers them so that each input decodes in milliseconds.
struct PhotoLimits {
    uint64_t pixels = MAX_PHOTO_PIXELS;
    uint32_t side = MAX_PHOTO_SIDE;
    uint64_t decode_bytes = MAX_DECODE_BYTES;
};
extern PhotoLimits photo_limits;

// Why a photo was not imported.
enum PhotoStatus : int {
    PHOTO_OK = 0,
    PHOTO_NOT_JPEG_OR_PNG,   // neither signature
    PHOTO_CORRUPT_JPEG,      // libjpeg stopped with an error
    PHOTO_DAMAGED_JPEG,      // libjpeg would fill lost blocks with grey (data cut short or garbled)
    PHOTO_CORRUPT_PNG,       // libpng stopped with an error, the data ending early among them
    PHOTO_TOO_LARGE,         // more pixels or a longer side than photo_limits allows
    PHOTO_DECODE_TOO_LARGE,  // the decode would hold more than photo_limits.decode_bytes at once
    PHOTO_NO_MEMORY,         // an allocation failed
};

// One short line saying why the photo was not imported (without the details `error` gives).
const char* photo_status_text(int status);

// Decodes `data` (JPEG or PNG, told apart by signature) into a 240 x 240 picture. On failure
// returns the reason with one line in `error` that gives its details ("not a JPEG or PNG file",
// "corrupt JPEG data: " and libjpeg's message, "photo too large (W x H pixels; ...)").
// A JPEG whose data is cut short or garbled (rows libjpeg would fill with grey) is refused too.
// Running out of memory is a failure like the others, never an exception.
PhotoStatus import_photo(const uint8_t* data, size_t size, LinearPicture& out, std::string& error);

// Decodes the whole photo (no crop), EXIF orientation applied, reduced by area averaging to
// `across` columns and the rows that keep its aspect ratio (at least 1): the target of a poster.
// More than max_down rows is refused as PHOTO_TOO_LARGE; otherwise fails as import_photo does.
PhotoStatus import_photo_whole(const uint8_t* data, size_t size, int across, int max_down, LinearImage& out,
                               std::string& error);

// Whether the data starts like a JPEG (FF D8 FF) or a PNG (its 8-byte signature): the files
// import_photo would try to decode.
bool photo_signature(const uint8_t* data, size_t size);

// What libjpeg finds wrong with a JPEG when it decodes all of it: "" when nothing, else the
// first error or damage (data ending before its last block, a bad code, a lost restart).
std::string jpeg_damage(const uint8_t* data, size_t size);

// Area average of a square linear picture to `size` x `size`.
LinearPicture reduce_picture(const LinearPicture& in, int size);

// 8-bit sRGB, RGB interleaved.
std::vector<uint8_t> picture_to_srgb(const LinearPicture& picture);

// RGB565 pixels (8-bit sRGB channels truncated, as everywhere in the system).
std::vector<uint16_t> picture_to_rgb565(const LinearPicture& picture);

// Applies EXIF orientation 1..8 to a square picture (the display transform of that tag).
void orient_picture(LinearPicture& picture, int orientation);

// Baseline JPEG (4:2:0, no restart markers) of 8-bit RGB pixels at the given quality.


}  // namespace evgpack
