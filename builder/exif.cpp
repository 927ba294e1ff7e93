// EXIF orientation: "Exif\0\0", a TIFF header ("II*\0" little-endian or "MM\0*" big-endian)
// with the offset of the first directory, whose 12-byte entries may hold tag 0x0112.
#include "builder/exif.h"

#include <cstring>

#include "media/byte_cursor.h"

namespace evgpack {

namespace {

// Reads integers of either byte order from a bounded TIFF block; out-of-range reads fail.
// TIFF numbers at absolute offsets in either byte order, bounded by the shared cursor.
struct TiffCursor {
    const uint8_t* data;
    size_t length;
    bool little;
    bool u16(size_t at, uint32_t& v) const {
        ByteCursor c{data, length, at, false};
        v = little ? c.le16() : c.be16();
        return !c.overrun;
    }
    bool u32(size_t at, uint32_t& v) const {
        ByteCursor c{data, length, at, false};
        v = little ? c.le32() : c.be32();
        return !c.overrun;
    }
};

}  // namespace

int exif_orientation(const uint8_t* data, size_t length) {
    if (!data || length < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
    TiffCursor tiff{data + 6, length - 6, false};
    if (std::memcmp(tiff.data, "II*\0", 4) == 0) {
        tiff.little = true;
    } else if (std::memcmp(tiff.data, "MM\0*", 4) != 0) {
        return 1;
    }
    uint32_t ifd = 0, count = 0;
    if (!tiff.u32(4, ifd) || !tiff.u16(ifd, count)) return 1;
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = static_cast<size_t>(ifd) + 2 + static_cast<size_t>(i) * 12;
        uint32_t tag = 0, type = 0, value = 0;
        if (!tiff.u16(entry, tag) || !tiff.u16(entry + 2, type)) return 1;
        if (tag != 0x0112) continue;
        if (type != 3 || !tiff.u16(entry + 8, value)) return 1;  // SHORT, held in place
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

}  // namespace evgpack
