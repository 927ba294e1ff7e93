// Reading numbers out of untrusted bytes: little- and big-endian loads and stores, and a
// bounded cursor that knows where its data ends. The JPEG header parser, the EXIF reader of
// evgpack and the pack loader all read through these, so a bound is checked in one place.
#pragma once
#include <cstddef>
#include <cstdint>

inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t get_be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get_be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
inline void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A read position in `length` bytes of data. Reads past the end return 0 and set `overrun`,
// so a parser can read a whole record and check once. `pos` may be set anywhere, also past
// the end (the next read then overruns).
struct ByteCursor {
    const uint8_t* data;
    size_t length;
    size_t pos;
    bool overrun;

    // n more bytes are there (pos must not be past the end).
    bool has(size_t n) const { return pos <= length && n <= length - pos; }
    uint8_t u8() {
        if (pos >= length) {
            overrun = true;
            return 0;
        }
        return data[pos++];
    }
    uint16_t be16() {
        uint16_t hi = u8();
        return static_cast<uint16_t>(hi << 8 | u8());
    }
    uint16_t le16() {
        uint16_t lo = u8();
        return static_cast<uint16_t>(lo | u8() << 8);
    }
    uint32_t be32() {
        uint32_t hi = be16();
        return hi << 16 | be16();
    }
    uint32_t le32() {
        uint32_t lo = le16();
        return lo | static_cast<uint32_t>(le16()) << 16;
    }
};
