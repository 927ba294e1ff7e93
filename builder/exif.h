// A bounded reader for the one EXIF field the pack tool needs: the orientation of a photo.
// The bytes come from users' files, so every read is checked against the segment's end.
#pragma once
#include <cstddef>
#include <cstdint>

namespace evgpack {

// data: the payload of an APP1 segment (starting with "Exif\0\0"). Returns the orientation
// 1..8, or 1 when the segment holds none or is malformed.
int exif_orientation(const uint8_t* data, size_t length);

}  // namespace evgpack
