// Baseline JPEG decoding into RGB565: header parser, Huffman tables, bit reader, block decode,
// scaled AAN inverse DCT, MCU colour conversion. No heap allocation; all state lives in the
// frame of jpeg_decode. Every read of the input is bounded by its length.
#include "media/jpeg_decoder.h"

#include <cstring>

#include "media/byte_cursor.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

const uint8_t jpeg_zigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// 256 * a(u) * a(v), truncated; a(0) = 1, a(k) = sqrt(2) * cos(k * pi / 16).
const int32_t aan_scale[64] = {
    256, 355, 334, 301, 256, 201, 138, 70,
    355, 492, 463, 417, 355, 278, 192, 97,
    334, 463, 437, 393, 334, 262, 181, 92,
    301, 417, 393, 353, 301, 236, 162, 83,
    256, 355, 334, 301, 256, 201, 138, 70,
    201, 278, 262, 236, 201, 158, 108, 55,
    138, 192, 181, 162, 138, 108, 74,  38,
    70,  97,  92,  83,  70,  55,  38,  19,
};

namespace {

// The clamp tables, built at compile time. Index 0 of clamp5 is entry 128 of its block.
struct ClampTables {
    uint8_t five[CLAMP5_MAX - CLAMP5_MIN + 1];  // 256 bytes
    uint8_t six[CLAMP6_MAX - CLAMP6_MIN + 1];   // 384 bytes
};

constexpr ClampTables make_clamp_tables() {
    ClampTables t{};
    for (int i = CLAMP5_MIN; i <= CLAMP5_MAX; ++i)
        t.five[i - CLAMP5_MIN] = static_cast<uint8_t>(i < 0 ? 0 : i > 31 ? 31 : i);
    for (int i = CLAMP6_MIN; i <= CLAMP6_MAX; ++i)
        t.six[i - CLAMP6_MIN] = static_cast<uint8_t>(i < 0 ? 0 : i > 63 ? 63 : i);
    return t;
}

constexpr ClampTables clamp_tables = make_clamp_tables();

// The extreme clamp indices reachable from signed-byte samples, so the tables never need a
// bounds check: red/blue use (Y + 63 + chroma term) >> 2, green (Y + 63 - terms) >> 1.
constexpr int asr(int v, int s) { return v >= 0 ? v >> s : -((-v + (1 << s) - 1) >> s); }
static_assert(asr(-128 + 63 + asr(-128 * 454, 8), 2) >= CLAMP5_MIN, "clamp5 too short");
static_assert(asr(127 + 63 + asr(127 * 454, 8), 2) <= CLAMP5_MAX, "clamp5 too short");
static_assert(asr(-128 + 63 - asr(127 * 11, 5) - asr(127 * 183, 8), 1) >= CLAMP6_MIN,
              "clamp6 too short");
static_assert(asr(127 + 63 - asr(-128 * 11, 5) - asr(-128 * 183, 8), 1) <= CLAMP6_MAX,
              "clamp6 too short");

// Zigzag order padded for AC runs that run past the end of a damaged block: positions 64..79
// all map to the last coefficient, so the index never leaves the 64-entry block.
constexpr uint8_t zigzag_padded[80] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63,
};

}  // namespace

const uint8_t* const clamp5 = clamp_tables.five - CLAMP5_MIN;
const uint8_t* const clamp6 = clamp_tables.six - CLAMP6_MIN;

// ---------------------------------------------------------------------------------------------
// Header parsing

namespace {

// Segment fields are big-endian and read through the shared bounded cursor.
using Cursor = ByteCursor;

// Reads a segment length field and checks it: at least 2 and inside the data. Sets *end to the
// offset just past the segment.
JpegStatus segment_end(Cursor& c, size_t* end) {
    size_t start = c.pos;
    uint16_t length = c.be16();
    if (c.overrun) return JPEG_DATA_ENDS_IN_HEADER;
    if (length < 2) return JPEG_BAD_SEGMENT_LENGTH;
    if (!c.has(length - 2u)) return JPEG_DATA_ENDS_IN_HEADER;
    *end = start + length;
    return JPEG_OK;
}

JpegStatus parse_frame(Cursor& c, JpegHeader* h) {
    size_t end = 0;
    if (JpegStatus status = segment_end(c, &end); status != JPEG_OK) return status;
    JpegFrame& f = h->frame;
    f.precision = c.u8();
    f.height = c.be16();
    f.width = c.be16();
    f.component_count = c.u8();
    if (c.overrun) return JPEG_DATA_ENDS_IN_HEADER;
    if (f.precision != 8) return JPEG_UNSUPPORTED_PRECISION;
    if (f.width == 0 || f.height == 0) return JPEG_EMPTY_FRAME;
    if (f.component_count < 1 || f.component_count > 4) return JPEG_BAD_COMPONENT_COUNT;
    if (end - c.pos != static_cast<size_t>(3 * f.component_count)) return JPEG_BAD_SEGMENT_LENGTH;
    int blocks = 0;
    for (int i = 0; i < f.component_count; ++i) {
        JpegComponent& comp = f.components[i];
        comp.id = c.u8();
        uint8_t sampling = c.u8();
        comp.h = sampling >> 4;
        comp.v = sampling & 15;
        comp.quant_id = c.u8();
        for (int k = 0; k < 2; ++k) {
            uint8_t factor = k ? comp.v : comp.h;
            if (factor != 1 && factor != 2 && factor != 4) return JPEG_BAD_SAMPLING;
        }
        if (comp.quant_id > 3) return JPEG_BAD_TABLE_ID;
        for (int j = 0; j < i; ++j)
            if (f.components[j].id == comp.id) return JPEG_BAD_COMPONENT_ID;
        blocks += comp.h * comp.v;
    }
    if (f.component_count > 1 && blocks > 10) return JPEG_TOO_MANY_BLOCKS;
    // A single-component scan is not interleaved: its MCU is one block whatever factors the
    // frame gives, so a lone component decodes as 1 x 1.
    if (f.component_count == 1) f.components[0].h = f.components[0].v = 1;
    h->has_frame = 1;
    return JPEG_OK;
}

JpegStatus parse_huffman(Cursor& c, JpegHeader* h) {
    size_t end = 0;
    if (JpegStatus status = segment_end(c, &end); status != JPEG_OK) return status;
    while (c.pos < end) {
        uint8_t class_id = c.u8();
        uint8_t id = class_id & 15;
        if (id > 3) return JPEG_BAD_TABLE_ID;
        if (!c.has(16)) return JPEG_BAD_HUFFMAN_TABLE;
        const uint8_t* raw = c.data + c.pos;
        int total = 0;
        for (int i = 0; i < 16; ++i) total += raw[i];
        if (total > 256 || static_cast<size_t>(16 + total) > end - c.pos) return JPEG_BAD_HUFFMAN_TABLE;
        HuffmanTable check;
        if (!huffman_build(&check, raw)) return JPEG_BAD_HUFFMAN_TABLE;
        if ((class_id >> 4) == 0) {
            // A DC symbol is a magnitude category; above 15 it cannot be read as value bits.
            for (int i = 0; i < total; ++i)
                if (raw[16 + i] > 15) return JPEG_BAD_HUFFMAN_TABLE;
            h->dc_tables[id] = raw;
        } else {
            h->ac_tables[id] = raw;
        }
        c.pos += 16 + total;
    }
    return c.pos == end ? JPEG_OK : JPEG_BAD_SEGMENT_LENGTH;
}

JpegStatus parse_quant(Cursor& c, JpegHeader* h) {
    size_t end = 0;
    if (JpegStatus status = segment_end(c, &end); status != JPEG_OK) return status;
    while (c.pos < end) {
        uint8_t precision_id = c.u8();
        uint8_t id = precision_id & 15, precision = precision_id >> 4;
        if (id > 3) return JPEG_BAD_TABLE_ID;
        if (precision > 1) return JPEG_BAD_QUANT_TABLE;
        if (!c.has(precision ? 128 : 64) || c.pos + (precision ? 128 : 64) > end) return JPEG_BAD_QUANT_TABLE;
        // v * 256 * aan_scale >> 8 is exactly v * aan_scale.
        for (int i = 0; i < 64; ++i) {
            int32_t v = precision ? c.be16() : c.u8();
            h->quant[id][i] = v * aan_scale[jpeg_zigzag[i]];
        }
        h->quant_defined[id] = 1;
    }
    return c.pos == end ? JPEG_OK : JPEG_BAD_SEGMENT_LENGTH;
}

JpegStatus parse_scan(Cursor& c, JpegHeader* h) {
    size_t end = 0;
    if (JpegStatus status = segment_end(c, &end); status != JPEG_OK) return status;
    if (!h->has_frame) return JPEG_NO_FRAME;
    JpegScan& s = h->scan;
    s.entry_count = c.u8();
    if (s.entry_count < 1 || s.entry_count > 4) return JPEG_BAD_COMPONENT_COUNT;
    if (end - c.pos != static_cast<size_t>(2 * s.entry_count + 3)) return JPEG_BAD_SEGMENT_LENGTH;
    const JpegFrame& f = h->frame;
    // Every frame component must be in this scan exactly once: a file with several scans is
    // not supported.
    if (s.entry_count != f.component_count) return JPEG_UNSUPPORTED_SEPARATE_SCANS;
    for (int i = 0; i < s.entry_count; ++i) {
        JpegScanEntry& e = s.entries[i];
        e.id = c.u8();
        uint8_t tables = c.u8();
        e.dc_table = tables >> 4;
        e.ac_table = tables & 15;
        if (e.dc_table > 3 || e.ac_table > 3) return JPEG_BAD_TABLE_ID;
        if (!h->dc_tables[e.dc_table] || !h->ac_tables[e.ac_table]) return JPEG_MISSING_TABLE;
        for (int j = 0; j < i; ++j)
            if (s.entries[j].id == e.id) return JPEG_BAD_COMPONENT_ID;
        bool in_frame = false;
        for (int j = 0; j < f.component_count; ++j)
            if (f.components[j].id == e.id) {
                in_frame = true;
                if (!h->quant_defined[f.components[j].quant_id]) return JPEG_MISSING_TABLE;
            }
        if (!in_frame) return JPEG_BAD_COMPONENT_ID;
    }
    s.spectral_start = c.u8();
    s.spectral_end = c.u8();
    uint8_t approx = c.u8();
    s.approx_high = approx >> 4;
    s.approx_low = approx & 15;
    return c.overrun ? JPEG_DATA_ENDS_IN_HEADER : JPEG_OK;
}

// The data ended, or an end-of-image marker came, before the scan header.
JpegStatus missing_header(const JpegHeader* h) { return h->has_frame ? JPEG_NO_SCAN : JPEG_NO_FRAME; }

}  // namespace

const char* jpeg_status_text(int status) {
    switch (status) {
        case JPEG_OK: return "OK";
        case JPEG_NO_FRAME: return "no frame header";
        case JPEG_NO_SCAN: return "no scan header";
        case JPEG_DATA_ENDS_IN_HEADER: return "data ends inside the headers";
        case JPEG_BAD_SEGMENT_LENGTH: return "bad segment length";
        case JPEG_UNSUPPORTED_PROGRESSIVE: return "unsupported: progressive";
        case JPEG_UNSUPPORTED_ARITHMETIC: return "unsupported: arithmetic coding";
        case JPEG_UNSUPPORTED_LOSSLESS: return "unsupported: lossless";
        case JPEG_UNSUPPORTED_HIERARCHICAL: return "unsupported: hierarchical";
        case JPEG_UNSUPPORTED_PRECISION: return "unsupported: samples not 8 bits";
        case JPEG_UNSUPPORTED_SEPARATE_SCANS: return "unsupported: more than one scan";
        case JPEG_EMPTY_FRAME: return "width or height 0";
        case JPEG_BAD_COMPONENT_COUNT: return "0 or more than 4 components";
        case JPEG_BAD_COMPONENT_ID: return "component id repeated or unknown";
        case JPEG_BAD_SAMPLING: return "sampling factor not 1, 2 or 4";
        case JPEG_TOO_MANY_BLOCKS: return "more than 10 blocks per MCU";
        case JPEG_BAD_TABLE_ID: return "table id above 3";
        case JPEG_BAD_QUANT_TABLE: return "bad quantisation table";
        case JPEG_BAD_HUFFMAN_TABLE: return "bad Huffman table";
        case JPEG_MISSING_TABLE: return "a table is used but not defined";
        default: return "unknown error";
    }
}

JpegStatus jpeg_parse_header(const uint8_t* data, size_t length, JpegHeader* header, size_t* scan_start) {
    std::memset(header, 0, sizeof *header);
    if (!data || length < 2) return JPEG_NO_FRAME;
    // The start-of-image marker itself is not examined.
    Cursor c{data, length, 2, false};
    while (c.has(2)) {
        uint8_t first = c.data[c.pos], code = c.data[c.pos + 1];
        if (first != 0xFF) {
            c.pos += 2;  // not a marker: step over, as the format's fill rules allow nothing else
            continue;
        }
        if (code == 0xFF) {  // fill byte before a marker
            c.pos += 1;
            continue;
        }
        c.pos += 2;
        JpegStatus status = JPEG_OK;
        switch (code) {
        case 0xC0:  // baseline
        case 0xC1:  // extended sequential, Huffman: the same decoding at 8 bits
            status = parse_frame(c, header);
            break;
        case 0xC4:
            status = parse_huffman(c, header);
            break;
        case 0xDB:
            status = parse_quant(c, header);
            break;
        case 0xDD: {
            size_t end = 0;
            if ((status = segment_end(c, &end)) != JPEG_OK) return status;
            if (end - c.pos < 2) return JPEG_BAD_SEGMENT_LENGTH;
            header->restart_interval = c.be16();
            c.pos = end;
            break;
        }
        case 0xDA:
            if ((status = parse_scan(c, header)) != JPEG_OK) return status;
            *scan_start = c.pos;
            return JPEG_OK;
        case 0xC2:
            return JPEG_UNSUPPORTED_PROGRESSIVE;
        case 0xC3:
            return JPEG_UNSUPPORTED_LOSSLESS;
        case 0xC5: case 0xC6: case 0xC7:  // differential sequential, progressive, lossless
            return JPEG_UNSUPPORTED_HIERARCHICAL;
        case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:  // all of these, arithmetic
        case 0xCC:  // arithmetic conditioning tables
            return JPEG_UNSUPPORTED_ARITHMETIC;
        case 0xD9:  // end of image before any scan
            return missing_header(header);
        case 0x01: case 0xD0: case 0xD1: case 0xD2: case 0xD3:  // markers without a segment
        case 0xD4: case 0xD5: case 0xD6: case 0xD7: case 0xD8:
            break;
        default: {  // application data, comments and other segments: skip by length
            size_t end = 0;
            if ((status = segment_end(c, &end)) != JPEG_OK) return status;
            c.pos = end;
            break;
        }
        }
        if (status != JPEG_OK) return status;
        if (c.overrun) return JPEG_DATA_ENDS_IN_HEADER;
    }
    return missing_header(header);
}

JpegStatus jpeg_picture_size(const uint8_t* data, size_t length, int* width, int* height) {
    JpegHeader header;
    size_t scan_start;
    JpegStatus status = jpeg_parse_header(data, length, &header, &scan_start);
    if (status != JPEG_OK) return status;
    *width = header.frame.width;
    *height = header.frame.height;
    return JPEG_OK;
}

int jpeg_check_signature(const uint8_t* data, size_t length) {
    if (length == 0 || data[0] != 0xFF) return 0;
    if (length == 1) return 1;
    return data[1] == 0xD8;
}

// ---------------------------------------------------------------------------------------------
// Huffman tables

int huffman_build(HuffmanTable* table, const uint8_t* raw) {
    const uint8_t* counts = raw;
    table->symbols = raw + 16;
    std::memset(table->look_len, 0, sizeof table->look_len);
    std::memset(table->look_sym, 0, sizeof table->look_sym);
    int32_t code = 0;
    int symbol = 0;
    for (int l = 0; l < 16; ++l) {
        int n = counts[l];
        if (n == 0) {
            table->maxcode[l] = -1;
            table->valoffset[l] = 0;
        } else {
            table->valoffset[l] = symbol - code;
            int bits = l + 1;
            // Codes of this length run from `code` to `code + n - 1`; they must fit in `bits`.
            if (code + n > (1 << bits) || symbol + n > 256) return 0;
            if (bits <= 8) {
                for (int i = 0; i < n; ++i) {
                    int first = (code + i) << (8 - bits);
                    for (int p = 0; p < (1 << (8 - bits)); ++p) {
                        table->look_len[first + p] = static_cast<uint8_t>(bits);
                        table->look_sym[first + p] = raw[16 + symbol + i];
                    }
                }
            }
            code += n;
            symbol += n;
            table->maxcode[l] = code - 1;
        }
        code <<= 1;
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Bit reader

namespace {

// Entropy-coded bits, most significant first, in a 64-bit window. The reader stops at a marker
// (0xFF followed by anything but the stuffed 0x00) or at the end of the data and feeds zero
// bits from then on, so a damaged or cut file never makes it read past the data.
struct BitReader {
    const uint8_t* pos;
    const uint8_t* end;
    uint64_t window;  // valid bits at the top
    int bits;         // valid bits in the window
    int padding;      // zero bits fed since the reader stopped; they sit below the data bits
    bool stopped;     // a marker or the end of the data was reached

    // Tops the window up to more than 56 bits, so a code (16 bits at most) and its value bits
    // (15 at most) are always held.
    void fill() {
        while (bits <= 56) {
            uint32_t byte = 0;
            if (!stopped) {
                if (pos < end && *pos != 0xFF) {
                    byte = *pos++;
                } else if (end - pos >= 2 && pos[1] == 0x00) {
                    byte = 0xFF;
                    pos += 2;
                } else {
                    stopped = true;
                }
            }
            if (stopped) padding += 8;
            window |= static_cast<uint64_t>(byte) << (56 - bits);
            bits += 8;
        }
    }

    void skip(int n) {
        window <<= n;
        bits -= n;
    }

    // n (1..16) bits as an unsigned value; the window must hold them.
    uint32_t take(int n) {
        uint32_t v = static_cast<uint32_t>(window >> (64 - n));
        skip(n);
        return v;
    }

    // True when nothing but fed zeros is left. Zeros are only consumed once every data bit
    // has been, so while data bits remain, all `padding` zeros are still in the window.
    bool exhausted() const { return stopped && bits <= padding; }

    void restart_at(const uint8_t* p) {
        pos = p;
        window = 0;
        bits = 0;
        padding = 0;
        stopped = false;
    }
};

inline int decode_symbol(BitReader& br, const HuffmanTable& t) {
    uint32_t peek = static_cast<uint32_t>(br.window >> 56);
    int len = t.look_len[peek];
    if (len) {
        br.skip(len);
        return t.look_sym[peek];
    }
    for (int l = 9; l <= 16; ++l) {
        int32_t code = static_cast<int32_t>(br.window >> (64 - l));
        if (code <= t.maxcode[l - 1]) {
            br.skip(l);
            return t.symbols[t.valoffset[l - 1] + code];
        }
    }
    // No code matches (damaged data): drop 16 bits and read symbol 0, which ends the block.
    br.skip(16);
    return 0;
}

// Reads s (0..15) value bits and extends them to a signed value.
inline int32_t receive_extend(BitReader& br, int s) {
    if (s == 0) return 0;
    int32_t v = static_cast<int32_t>(br.take(s));
    if (v < (1 << (s - 1))) v -= (1 << s) - 1;
    return v;
}

// ---------------------------------------------------------------------------------------------
// Inverse DCT
//
// The arithmetic runs on uint32_t so that the hostile coefficients of a damaged file wrap
// instead of overflowing; for real pictures every value stays well inside int32 and the
// results are exactly those of signed arithmetic. mul8 is (x * m) >> 8 with an arithmetic
// shift. Constants in 8.8 fixed point: 362 = 256 * sqrt(2), 473 = 256 * 1.847759,
// 668 = 256 * 2.613126, 277 = 256 * 1.082392.

inline uint32_t mul8(uint32_t x, int32_t m) {
    return static_cast<uint32_t>(static_cast<int32_t>(x * static_cast<uint32_t>(m)) >> 8);
}

// One 8-point transform over in[0], in[step], ... in place.
inline void idct_1d(uint32_t* v, int step) {
    uint32_t x0 = v[0], x1 = v[step], x2 = v[2 * step], x3 = v[3 * step];
    uint32_t x4 = v[4 * step], x5 = v[5 * step], x6 = v[6 * step], x7 = v[7 * step];
    uint32_t t10 = x0 + x4, t11 = x0 - x4;
    uint32_t t13 = x2 + x6, t12 = mul8(x2 - x6, 362) - t13;
    uint32_t e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;
    uint32_t z13 = x5 + x3, z10 = x5 - x3, z11 = x1 + x7, z12 = x1 - x7;
    uint32_t o7 = z11 + z13;
    uint32_t u11 = mul8(z11 - z13, 362);
    uint32_t z5 = mul8(z10 + z12, 473);
    uint32_t u10 = mul8(z12, 277) - z5;
    uint32_t u12 = mul8(z10, -668) + z5;
    uint32_t o6 = u12 - o7, o5 = u11 - o6, o4 = u10 + o5;
    v[0] = e0 + o7;
    v[step] = e1 + o6;
    v[2 * step] = e2 + o5;
    v[3 * step] = e3 - o4;
    v[4 * step] = e3 + o4;
    v[5 * step] = e2 - o5;
    v[6 * step] = e1 - o6;
    v[7 * step] = e0 - o7;
}

inline int8_t sample(uint32_t v) { return static_cast<int8_t>(static_cast<int32_t>(v) >> 12); }

}  // namespace

void jpeg_idct_scalar(int32_t coefficients[64], int8_t* out, int stride) {
    uint32_t* c = reinterpret_cast<uint32_t*>(coefficients);
    for (int col = 0; col < 8; ++col) {
        uint32_t* v = c + col;
        if ((v[8] | v[16] | v[24] | v[32] | v[40] | v[48] | v[56]) == 0) {
            // Only the DC term: the transform gives it unchanged in all 8 places (an all-zero
            // column stays zero).
            v[8] = v[16] = v[24] = v[32] = v[40] = v[48] = v[56] = v[0];
            continue;
        }
        idct_1d(v, 8);
    }
    for (int row = 0; row < 8; ++row) {
        uint32_t* v = c + row * 8;
        int8_t* o = out + row * stride;
        idct_1d(v, 1);
        for (int i = 0; i < 8; ++i) o[i] = sample(v[i]);
    }
    std::memset(coefficients, 0, 64 * sizeof *coefficients);
}

#if defined(__SSE2__)
namespace {

// (x * m) >> 8 in four 32-bit lanes, keeping the low 32 bits of each product as the scalar
// form does. SSE2 has no 32-bit lane multiply: even and odd lanes go through the 32 x 32 -> 64
// multiply and their low halves are put back together.
inline __m128i mul8_4(__m128i x, int32_t m) {
    const __m128i mm = _mm_set1_epi32(m);
    __m128i even = _mm_mul_epu32(x, mm);
    __m128i odd = _mm_mul_epu32(_mm_srli_epi64(x, 32), mm);
    __m128i low = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                     _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    return _mm_srai_epi32(low, 8);
}

// The 8-point transform of idct_1d on four lanes at once.
inline void idct_1d_4(__m128i* x) {
    __m128i t10 = _mm_add_epi32(x[0], x[4]), t11 = _mm_sub_epi32(x[0], x[4]);
    __m128i t13 = _mm_add_epi32(x[2], x[6]);
    __m128i t12 = _mm_sub_epi32(mul8_4(_mm_sub_epi32(x[2], x[6]), 362), t13);
    __m128i e0 = _mm_add_epi32(t10, t13), e3 = _mm_sub_epi32(t10, t13);
    __m128i e1 = _mm_add_epi32(t11, t12), e2 = _mm_sub_epi32(t11, t12);
    __m128i z13 = _mm_add_epi32(x[5], x[3]), z10 = _mm_sub_epi32(x[5], x[3]);
    __m128i z11 = _mm_add_epi32(x[1], x[7]), z12 = _mm_sub_epi32(x[1], x[7]);
    __m128i o7 = _mm_add_epi32(z11, z13);
    __m128i u11 = mul8_4(_mm_sub_epi32(z11, z13), 362);
    __m128i z5 = mul8_4(_mm_add_epi32(z10, z12), 473);
    __m128i u10 = _mm_sub_epi32(mul8_4(z12, 277), z5);
    __m128i u12 = _mm_add_epi32(mul8_4(z10, -668), z5);
    __m128i o6 = _mm_sub_epi32(u12, o7), o5 = _mm_sub_epi32(u11, o6), o4 = _mm_add_epi32(u10, o5);
    x[0] = _mm_add_epi32(e0, o7);
    x[1] = _mm_add_epi32(e1, o6);
    x[2] = _mm_add_epi32(e2, o5);
    x[3] = _mm_sub_epi32(e3, o4);
    x[4] = _mm_add_epi32(e3, o4);
    x[5] = _mm_sub_epi32(e2, o5);
    x[6] = _mm_sub_epi32(e1, o6);
    x[7] = _mm_sub_epi32(e0, o7);
}

inline void transpose_4x4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
    __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t1);
    b = _mm_unpackhi_epi64(t0, t1);
    c = _mm_unpacklo_epi64(t2, t3);
    d = _mm_unpackhi_epi64(t2, t3);
}

// Low bytes of (v >> 12) for the 8 rows of one column (two vectors of four), as 16-bit lanes.
// Masking before packing keeps the wrap-around of the scalar store (packing saturates).
inline __m128i column_samples(__m128i top, __m128i bottom) {
    const __m128i mask = _mm_set1_epi32(0xFF);
    return _mm_packs_epi32(_mm_and_si128(_mm_srai_epi32(top, 12), mask),
                           _mm_and_si128(_mm_srai_epi32(bottom, 12), mask));
}

// Columns with four lanes per vector, an 8 x 8 transpose, rows the same way; the samples come
// out column by column and a byte transpose puts them back in rows. Measured about three times
// faster than the scalar form, which skips all-zero columns but does every row.
// TopLeft: every coefficient outside the top-left 4 x 4 is zero, so the right half, the
// zero inputs of each 8-point transform and two transposes drop out (adding and multiplying
// zero changes nothing, also in wrap-around arithmetic, so the samples are the same).
template <bool TopLeft>
void idct_sse2(int32_t coefficients[64], int8_t* out, int stride) {
    __m128i* c = reinterpret_cast<__m128i*>(coefficients);  // 16-byte aligned by contract
    __m128i left[8], right[8];  // columns 0..3 and 4..7 of each row
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r) {
        if (TopLeft && r >= 4) {
            left[r] = right[r] = zero;
            continue;
        }
        left[r] = _mm_load_si128(c + 2 * r);
        _mm_store_si128(c + 2 * r, zero);
        if (TopLeft) {
            right[r] = zero;
        } else {
            right[r] = _mm_load_si128(c + 2 * r + 1);
            _mm_store_si128(c + 2 * r + 1, zero);
        }
    }
    idct_1d_4(left);
    if (!TopLeft) idct_1d_4(right);
    // Transpose each 4 x 4 quarter so that upper[j] holds rows 0..3 of column j and lower[j]
    // rows 4..7: the row transform then runs with one row per lane.
    __m128i upper[8] = {left[0], left[1], left[2], left[3], right[0], right[1], right[2], right[3]};
    __m128i lower[8] = {left[4], left[5], left[6], left[7], right[4], right[5], right[6], right[7]};
    transpose_4x4(upper[0], upper[1], upper[2], upper[3]);
    transpose_4x4(lower[0], lower[1], lower[2], lower[3]);
    if (!TopLeft) {
        transpose_4x4(upper[4], upper[5], upper[6], upper[7]);
        transpose_4x4(lower[4], lower[5], lower[6], lower[7]);
    }
    idct_1d_4(upper);
    idct_1d_4(lower);
    __m128i a = _mm_packus_epi16(column_samples(upper[0], lower[0]), column_samples(upper[1], lower[1]));
    __m128i b = _mm_packus_epi16(column_samples(upper[2], lower[2]), column_samples(upper[3], lower[3]));
    __m128i d = _mm_packus_epi16(column_samples(upper[4], lower[4]), column_samples(upper[5], lower[5]));
    __m128i e = _mm_packus_epi16(column_samples(upper[6], lower[6]), column_samples(upper[7], lower[7]));
    // a = column 0 rows 0..7, column 1 rows 0..7; b = columns 2, 3; d = 4, 5; e = 6, 7.
    __m128i t0 = _mm_unpacklo_epi8(a, b), t1 = _mm_unpackhi_epi8(a, b);
    __m128i t2 = _mm_unpacklo_epi8(d, e), t3 = _mm_unpackhi_epi8(d, e);
    __m128i u0 = _mm_unpacklo_epi8(t0, t1), u1 = _mm_unpackhi_epi8(t0, t1);
    __m128i u2 = _mm_unpacklo_epi8(t2, t3), u3 = _mm_unpackhi_epi8(t2, t3);
    __m128i rows[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2),
                       _mm_unpacklo_epi32(u1, u3), _mm_unpackhi_epi32(u1, u3)};
    for (int r = 0; r < 4; ++r) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * r) * stride), rows[r]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * r + 1) * stride),
                         _mm_unpackhi_epi64(rows[r], rows[r]));
    }
}

}  // namespace

void jpeg_idct(int32_t coefficients[64], int8_t* out, int stride) {
    idct_sse2<false>(coefficients, out, stride);
}

void jpeg_idct_top_left(int32_t coefficients[64], int8_t* out, int stride) {
    idct_sse2<true>(coefficients, out, stride);
}
#else
void jpeg_idct(int32_t coefficients[64], int8_t* out, int stride) {
    jpeg_idct_scalar(coefficients, out, stride);
}

void jpeg_idct_top_left(int32_t coefficients[64], int8_t* out, int stride) {
    jpeg_idct_scalar(coefficients, out, stride);
}
#endif

uint16_t jpeg_ycc_to_rgb565(int8_t y, int8_t cb, int8_t cr) {
    int yy = y + 63;
    int red = clamp5[(yy + (cr * 359 >> 8)) >> 2];
    int green = clamp6[(yy - (cb * 11 >> 5) - (cr * 183 >> 8)) >> 1];
    int blue = clamp5[(yy + (cb * 454 >> 8)) >> 2];
    return static_cast<uint16_t>(red << 11 | green << 5 | blue);
}

// ---------------------------------------------------------------------------------------------
// MCU colour conversion

void jpeg_convert_general(const int8_t* samples, const int plane[3], const int hstep[3],
                          const int vstep[3], int mcu_w, int mcu_h, uint16_t* out, int stride) {
    for (int i = 0; i < mcu_h; ++i) {
        const int8_t* rows[3];
        for (int c = 0; c < 3; ++c) {
            int plane_stride = (mcu_w * hstep[c]) >> 8;
            rows[c] = samples + plane[c] + ((i * vstep[c]) >> 8) * plane_stride;
        }
        uint16_t* o = out + static_cast<ptrdiff_t>(i) * stride;
        int sy = 0, sb = 0, sr = 0;  // 8.8 column positions
        for (int j = 0; j < mcu_w; ++j) {
            o[j] = jpeg_ycc_to_rgb565(rows[0][sy >> 8], rows[1][sb >> 8], rows[2][sr >> 8]);
            sy += hstep[0];
            sb += hstep[1];
            sr += hstep[2];
        }
    }
}

namespace {

#if defined(__SSE2__)
// Eight pixels at a time in 16-bit lanes. The products of the scalar rule are exact here:
// (c * m) >> k equals the high half of (c << 8) * (m << (8 - k)) for a signed byte c, and the
// clamp tables are plain clamps, done with min and max.
struct ChromaTerms {
    __m128i red, green, blue;  // Cr*359>>8, (Cb*11>>5) + (Cr*183>>8), Cb*454>>8
};

inline __m128i widen_low(__m128i bytes) {  // 8 signed bytes -> 8 int16
    return _mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8);
}

inline ChromaTerms chroma_terms(const int8_t* cb, const int8_t* cr) {
    __m128i cb8 = _mm_slli_epi16(widen_low(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb))), 8);
    __m128i cr8 = _mm_slli_epi16(widen_low(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr))), 8);
    ChromaTerms t;
    t.red = _mm_mulhi_epi16(cr8, _mm_set1_epi16(359));
    t.green = _mm_add_epi16(_mm_mulhi_epi16(cb8, _mm_set1_epi16(11 << 3)),
                            _mm_mulhi_epi16(cr8, _mm_set1_epi16(183)));
    t.blue = _mm_mulhi_epi16(cb8, _mm_set1_epi16(454));
    return t;
}

// Each chroma term twice, for chroma shared by two neighbouring pixels.
inline ChromaTerms doubled(const ChromaTerms& t, bool high) {
    if (high)
        return {_mm_unpackhi_epi16(t.red, t.red), _mm_unpackhi_epi16(t.green, t.green),
                _mm_unpackhi_epi16(t.blue, t.blue)};
    return {_mm_unpacklo_epi16(t.red, t.red), _mm_unpacklo_epi16(t.green, t.green),
            _mm_unpacklo_epi16(t.blue, t.blue)};
}

inline void store_pixels(__m128i y, const ChromaTerms& t, uint16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i yy = _mm_add_epi16(y, _mm_set1_epi16(63));
    __m128i r = _mm_srai_epi16(_mm_add_epi16(yy, t.red), 2);
    __m128i g = _mm_srai_epi16(_mm_sub_epi16(yy, t.green), 1);
    __m128i b = _mm_srai_epi16(_mm_add_epi16(yy, t.blue), 2);
    r = _mm_min_epi16(_mm_max_epi16(r, zero), _mm_set1_epi16(31));
    g = _mm_min_epi16(_mm_max_epi16(g, zero), _mm_set1_epi16(63));
    b = _mm_min_epi16(_mm_max_epi16(b, zero), _mm_set1_epi16(31));
    __m128i pixel = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixel);
}

// 16 luma samples of a row with 8 chroma samples, each covering two pixels.
inline void row16(const int8_t* y, const ChromaTerms& t, uint16_t* out) {
    __m128i ys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    store_pixels(widen_low(ys), doubled(t, false), out);
    store_pixels(_mm_srai_epi16(_mm_unpackhi_epi8(ys, ys), 8), doubled(t, true), out + 8);
}
#endif

}  // namespace

void jpeg_convert_2x2(const int8_t* samples, uint16_t* out, int stride) {
    const int8_t* cb = samples + 256;
    const int8_t* cr = samples + 320;
    for (int w = 0; w < 8; ++w) {
        const int8_t* y0 = samples + 32 * w;
        uint16_t* o0 = out + static_cast<ptrdiff_t>(2 * w) * stride;
        uint16_t* o1 = o0 + stride;
#if defined(__SSE2__)
        ChromaTerms t = chroma_terms(cb + 8 * w, cr + 8 * w);
        row16(y0, t, o0);
        row16(y0 + 16, t, o1);
#else
        for (int u = 0; u < 8; ++u) {
            int8_t b = cb[8 * w + u], r = cr[8 * w + u];
            o0[2 * u] = jpeg_ycc_to_rgb565(y0[2 * u], b, r);
            o0[2 * u + 1] = jpeg_ycc_to_rgb565(y0[2 * u + 1], b, r);
            o1[2 * u] = jpeg_ycc_to_rgb565(y0[16 + 2 * u], b, r);
            o1[2 * u + 1] = jpeg_ycc_to_rgb565(y0[16 + 2 * u + 1], b, r);
        }
#endif
    }
}

void jpeg_convert_2x1(const int8_t* samples, uint16_t* out, int stride) {
    const int8_t* cb = samples + 128;
    const int8_t* cr = samples + 192;
    for (int w = 0; w < 8; ++w) {
        const int8_t* y = samples + 16 * w;
        uint16_t* o = out + static_cast<ptrdiff_t>(w) * stride;
#if defined(__SSE2__)
        row16(y, chroma_terms(cb + 8 * w, cr + 8 * w), o);
#else
        for (int u = 0; u < 8; ++u) {
            o[2 * u] = jpeg_ycc_to_rgb565(y[2 * u], cb[8 * w + u], cr[8 * w + u]);
            o[2 * u + 1] = jpeg_ycc_to_rgb565(y[2 * u + 1], cb[8 * w + u], cr[8 * w + u]);
        }
#endif
    }
}

void jpeg_convert_1x1(const int8_t* samples, uint16_t* out, int stride) {
    for (int w = 0; w < 8; ++w) {
        const int8_t* y = samples + 8 * w;
        uint16_t* o = out + static_cast<ptrdiff_t>(w) * stride;
#if defined(__SSE2__)
        __m128i ys = widen_low(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)));
        store_pixels(ys, chroma_terms(y + 64, y + 128), o);
#else
        for (int u = 0; u < 8; ++u) o[u] = jpeg_ycc_to_rgb565(y[u], y[64 + u], y[128 + u]);
#endif
    }
}

// ---------------------------------------------------------------------------------------------
// Scan decoding

namespace {

constexpr int MCU_SAMPLES = 640;  // 10 blocks of 64 signed bytes

struct ScanComponent {
    int dc_table;      // table id
    int ac_table;
    int quant_id;
    int h, v;          // blocks per MCU across and down
    int plane;         // -1 = decoded and dropped; else offset of its plane in the MCU samples
    int stride;        // plane row stride in bytes (8 * h)
};

// AC lookahead that also takes in the value bits: for each 10-bit prefix whose code and value
// bits fit in it, the run, the signed value and the bits to drop; len 0 sends the decoder to
// the one-symbol-at-a-time path. 4 KB per table, built per decode for the tables in use.
// (Measured on 240 x 240 quality-85 pictures: 9 bits 2% slower, 11 bits no faster.)
constexpr int FAST_BITS = 10;
constexpr uint8_t FAST_END_OF_BLOCK = 0xFF;

struct FastAcEntry {
    int16_t value;  // 0 for the zero run (run 15, no value)
    uint8_t run;    // zeros skipped before the value, or FAST_END_OF_BLOCK
    uint8_t len;    // code + value bits, 0 = not in this table
};

struct FastAc {
    FastAcEntry entries[1 << FAST_BITS];
};

void fast_ac_build(FastAc* fast, const HuffmanTable& t) {
    for (int p = 0; p < (1 << FAST_BITS); ++p) {
        FastAcEntry& e = fast->entries[p];
        e = FastAcEntry{0, 0, 0};
        int peek = p >> (FAST_BITS - 8);
        int len = t.look_len[peek];
        if (!len) continue;
        int rs = t.look_sym[peek], r = rs >> 4, size = rs & 15;
        if (size == 0) {
            e.run = r == 15 ? 15 : FAST_END_OF_BLOCK;
            e.len = static_cast<uint8_t>(len);
        } else if (len + size <= FAST_BITS) {
            int v = (p >> (FAST_BITS - len - size)) & ((1 << size) - 1);
            if (v < (1 << (size - 1))) v -= (1 << size) - 1;
            e.value = static_cast<int16_t>(v);
            e.run = static_cast<uint8_t>(r);
            e.len = static_cast<uint8_t>(len + size);
        }
    }
}

// Decodes one block into natural-order coefficients (which must be all zero on entry); quant
// is a quantiser table in file order padded to 80 entries.
// Returns the highest zigzag position written (0 when only DC), so the caller can skip the
// transform of a flat block.
inline int decode_block(BitReader& br, const HuffmanTable& dc, const HuffmanTable& ac,
                        const FastAc& fast, const int32_t* quant, uint32_t& predictor,
                        int32_t* coef) {
    br.fill();
    int s = decode_symbol(br, dc);
    predictor += static_cast<uint32_t>(receive_extend(br, s));
    coef[0] = static_cast<int32_t>(predictor * static_cast<uint32_t>(quant[0]));
    int last = 0;
    for (int k = 1; k < 64; ++k) {
        if (br.bits < 32) br.fill();
        FastAcEntry e = fast.entries[br.window >> (64 - FAST_BITS)];
        int32_t value;
        if (e.len) {
            br.skip(e.len);
            if (e.run == FAST_END_OF_BLOCK) break;
            k += e.run;
            if (!e.value) continue;  // a run of 16 zeros
            value = e.value;
        } else {
            int rs = decode_symbol(br, ac);
            int r = rs >> 4;
            s = rs & 15;
            if (!s) {
                if (r != 15) break;
                k += 15;
                continue;
            }
            k += r;
            value = receive_extend(br, s);
        }
        // k is at most 63 + 15 here: the padded order keeps the index inside the block, and
        // the padded quantiser table (80 entries) has the last quantiser beyond 63.
        coef[zigzag_padded[k]] =
            static_cast<int32_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(quant[k]));
        last = k;
    }
    return last;
}

// Everything the MCU loop needs, worked out once from the headers: the decoding tables in use,
// each scan component's place in the MCU sample buffer, the chroma steps and the conversion.
enum ConvertPath { CONVERT_GENERAL, CONVERT_2X2, CONVERT_2X1, CONVERT_1X1 };

struct DecodePlan {
    HuffmanTable dc_tables[4], ac_tables[4];
    FastAc fast_ac[4];
    ScanComponent comps[4];
    int component_count;
    int plane[3];               // offsets of the Y, Cb and Cr planes in the MCU samples
    int hstep[3], vstep[3];     // 8.8 sampling steps of each plane
    int mcu_w, mcu_h;           // MCU size in pixels
    ConvertPath path;
    int32_t quant[4][80];       // quantisers padded for damaged AC runs past position 63
};

// Fills the plan from parsed headers. Returns 0 when the planes do not fit the MCU buffer.
int plan_decode(const JpegHeader& header, DecodePlan* plan) {
    const JpegFrame& frame = header.frame;
    const JpegScan& scan = header.scan;
    int hmax = 1, vmax = 1;
    for (int i = 0; i < frame.component_count; ++i) {
        hmax = frame.components[i].h > hmax ? frame.components[i].h : hmax;
        vmax = frame.components[i].v > vmax ? frame.components[i].v : vmax;
    }
    // Planes: Y, then Cb, then Cr; a missing chroma component counts as 1 x 1.
    int hv[3][2] = {{1, 1}, {1, 1}, {1, 1}};
    for (int i = 0; i < frame.component_count; ++i) {
        int id = frame.components[i].id;
        if (id >= 1 && id <= 3) {
            hv[id - 1][0] = frame.components[i].h;
            hv[id - 1][1] = frame.components[i].v;
        }
    }
    int* plane = plan->plane;
    plane[0] = 0;
    plane[1] = hv[0][0] * hv[0][1] * 64;
    plane[2] = plane[1] + hv[1][0] * hv[1][1] * 64;
    if (plane[2] + hv[2][0] * hv[2][1] * 64 > MCU_SAMPLES) return 0;

    // Tables: one decoding table per id in use (at most 4 DC and 4 AC).
    bool dc_built[4] = {}, ac_built[4] = {};
    plan->component_count = scan.entry_count;
    for (int i = 0; i < scan.entry_count; ++i) {
        const JpegScanEntry& e = scan.entries[i];
        const JpegComponent* fc = nullptr;
        for (int j = 0; j < frame.component_count; ++j)
            if (frame.components[j].id == e.id) fc = &frame.components[j];
        ScanComponent& sc = plan->comps[i];
        sc.dc_table = e.dc_table;
        sc.ac_table = e.ac_table;
        sc.quant_id = fc->quant_id;
        sc.h = fc->h;
        sc.v = fc->v;
        sc.plane = (e.id >= 1 && e.id <= 3) ? plane[e.id - 1] : -1;
        sc.stride = 8 * sc.h;
        if (!dc_built[e.dc_table]) {
            huffman_build(&plan->dc_tables[e.dc_table], header.dc_tables[e.dc_table]);
            dc_built[e.dc_table] = true;
        }
        if (!ac_built[e.ac_table]) {
            huffman_build(&plan->ac_tables[e.ac_table], header.ac_tables[e.ac_table]);
            fast_ac_build(&plan->fast_ac[e.ac_table], plan->ac_tables[e.ac_table]);
            ac_built[e.ac_table] = true;
        }
    }

    const int shift_for[5] = {0, 8, 7, 0, 6};
    int hshift = shift_for[hmax], vshift = shift_for[vmax];
    for (int c = 0; c < 3; ++c) {
        plan->hstep[c] = hv[c][0] << hshift;
        plan->vstep[c] = hv[c][1] << vshift;
    }
    // Fixed-geometry conversions for the common samplings; they give exactly what the general
    // path gives.
    const int* hstep = plan->hstep;
    const int* vstep = plan->vstep;
    plan->path = CONVERT_GENERAL;
    bool chroma_h_half = hstep[1] == 128 && hstep[2] == 128;
    bool chroma_full = hstep[1] == 256 && hstep[2] == 256 && vstep[1] == 256 && vstep[2] == 256;
    if (hstep[0] == 256 && vstep[0] == 256) {
        if (chroma_h_half && vstep[1] == 128 && vstep[2] == 128) plan->path = CONVERT_2X2;
        else if (chroma_h_half && vstep[1] == 256 && vstep[2] == 256) plan->path = CONVERT_2X1;
        else if (chroma_full && hmax == 1 && vmax == 1) plan->path = CONVERT_1X1;
    }
    plan->mcu_w = 8 * hmax;
    plan->mcu_h = 8 * vmax;
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i < 80; ++i) plan->quant[q][i] = header.quant[q][i < 64 ? i : 63];
    return 1;
}

// Decodes every block of one MCU into its plane of `samples` (components without a plane are
// decoded and dropped). `coef` is all zero on entry and on return.
inline void decode_mcu(BitReader& br, const DecodePlan& plan, uint32_t predictors[4], int32_t coef[64],
                       int8_t* samples) {
    for (int i = 0; i < plan.component_count; ++i) {
        const ScanComponent& sc = plan.comps[i];
        for (int by = 0; by < sc.v; ++by) {
            for (int bx = 0; bx < sc.h; ++bx) {
                int last = decode_block(br, plan.dc_tables[sc.dc_table], plan.ac_tables[sc.ac_table],
                                        plan.fast_ac[sc.ac_table], plan.quant[sc.quant_id], predictors[i], coef);
                if (last == 0) {
                    // DC only: every sample of the transform equals the DC term.
                    int8_t value = sample(static_cast<uint32_t>(coef[0]));
                    coef[0] = 0;
                    if (sc.plane < 0) continue;
                    int8_t* out = samples + sc.plane + by * 8 * sc.stride + bx * 8;
                    for (int r = 0; r < 8; ++r) std::memset(out + r * sc.stride, value, 8);
                } else {
                    if (sc.plane < 0) {
                        std::memset(coef, 0, 64 * sizeof *coef);
                        continue;
                    }
                    int8_t* out = samples + sc.plane + by * 8 * sc.stride + bx * 8;
                    // Zigzag positions 1..9 all lie in the top-left 4 x 4.
                    if (last <= 9)
                        jpeg_idct_top_left(coef, out, sc.stride);
                    else
                        jpeg_idct(coef, out, sc.stride);
                }
            }
        }
    }
}

// One MCU's samples into RGB565 at `out` (row stride `stride` pixels).
inline void convert_mcu(const DecodePlan& plan, const int8_t* samples, uint16_t* out, int stride) {
    switch (plan.path) {
    case CONVERT_2X2: jpeg_convert_2x2(samples, out, stride); break;
    case CONVERT_2X1: jpeg_convert_2x1(samples, out, stride); break;
    case CONVERT_1X1: jpeg_convert_1x1(samples, out, stride); break;
    default:
        jpeg_convert_general(samples, plan.plane, plan.hstep, plan.vstep, plan.mcu_w, plan.mcu_h, out, stride);
    }
}

// At the end of a restart interval: finds the marker that ends it (skipping any damaged bytes
// before it and 0xFF fill bytes). A restart marker resumes the reader after it and returns
// true; anything else ends the decode.
bool restart_interval_end(BitReader& br) {
    const uint8_t* p = br.pos;
    while (p < br.end && !(p[0] == 0xFF && p + 1 < br.end && p[1] != 0x00 && p[1] != 0xFF)) ++p;
    if (br.end - p < 2 || p[1] < 0xD0 || p[1] > 0xD7) return false;
    br.restart_at(p + 2);
    return true;
}

}  // namespace

JpegStatus jpeg_decode(const uint8_t* data, size_t length, uint16_t* destination, int width, int height) {
    JpegHeader header;
    size_t scan_start = 0;
    JpegStatus status = jpeg_parse_header(data, length, &header, &scan_start);
    if (status != JPEG_OK) return status;
    DecodePlan plan;
    if (!plan_decode(header, &plan)) return JPEG_TOO_MANY_BLOCKS;

    alignas(16) int8_t samples[MCU_SAMPLES];
    std::memset(samples, 0, sizeof samples);  // missing chroma reads as neutral 0
    alignas(16) int32_t coef[64] = {};  // all zero between blocks
    uint32_t predictors[4] = {0, 0, 0, 0};
    BitReader br{};
    br.end = data + length;
    br.restart_at(data + scan_start);
    int restart_left = header.restart_interval;

    for (int y = 0; y < header.frame.height; y += plan.mcu_h) {
        for (int x = 0; x < header.frame.width; x += plan.mcu_w) {
            br.fill();
            if (br.exhausted()) return JPEG_OK;  // the data ends: the rest keeps its old pixels
            decode_mcu(br, plan, predictors, coef, samples);
            // Only whole MCUs inside the destination are drawn.
            if (x + plan.mcu_w <= width && y + plan.mcu_h <= height)
                convert_mcu(plan, samples, destination + static_cast<size_t>(y) * width + x, width);
            if (header.restart_interval && --restart_left == 0) {
                restart_left = header.restart_interval;
                if (!restart_interval_end(br)) return JPEG_OK;
                for (uint32_t& pred : predictors) pred = 0;
            }
        }
    }
    return JPEG_OK;
}
