// Baseline JPEG decoder: decodes a whole file held in memory straight into a caller's RGB565
// buffer, without heap allocation. Called by the viewer (pack pictures, the menu background on
// layer 15), by `evgpack decode` and by the pack tools. The data is untrusted: every read is
// bounded by the length passed in, and data that cannot be decoded is refused with a reason.
#pragma once
#include <cstddef>
#include <cstdint>

// Why a picture was refused: one value per check of the headers. A scan whose data ends early
// or is damaged is not refused (JPEG_OK): the decoder draws the blocks it could read.
enum JpegStatus : int {
    JPEG_OK = 0,
    JPEG_NO_FRAME,                    // no frame header before the data ends, an end marker or a scan
    JPEG_NO_SCAN,                     // a frame header, then no scan header before the data ends
    JPEG_DATA_ENDS_IN_HEADER,         // a header segment runs past the end of the data
    JPEG_BAD_SEGMENT_LENGTH,          // a segment length below 2 or not matching what it holds
    JPEG_UNSUPPORTED_PROGRESSIVE,     // a progressive frame (Huffman coded)
    JPEG_UNSUPPORTED_ARITHMETIC,      // any arithmetic-coded frame, or arithmetic conditioning
    JPEG_UNSUPPORTED_LOSSLESS,        // a lossless frame (Huffman coded)
    JPEG_UNSUPPORTED_HIERARCHICAL,    // a differential frame (Huffman coded)
    JPEG_UNSUPPORTED_PRECISION,       // samples other than 8 bits
    JPEG_UNSUPPORTED_SEPARATE_SCANS,  // a scan without every frame component
    JPEG_EMPTY_FRAME,                 // width or height 0
    JPEG_BAD_COMPONENT_COUNT,         // 0 or more than 4 components in the frame or the scan
    JPEG_BAD_COMPONENT_ID,            // an id twice in the frame or scan, or a scan id not in the frame
    JPEG_BAD_SAMPLING,                // a sampling factor other than 1, 2 or 4
    JPEG_TOO_MANY_BLOCKS,             // more than 10 blocks per MCU
    JPEG_BAD_TABLE_ID,                // a table id above 3
    JPEG_BAD_QUANT_TABLE,             // precision not 8 or 16 bits, or longer than its segment
    JPEG_BAD_HUFFMAN_TABLE,           // over-subscribed, over 256 symbols, longer than its segment,
                                      // or a DC category above 15
    JPEG_MISSING_TABLE,               // a table the scan uses was never defined
};

// One short line (under 40 characters) saying why the picture was refused.
const char* jpeg_status_text(int status);

// One frame component: id, sampling factors and quantisation table id, as stored in the file.
struct JpegComponent {
    uint8_t id;
    uint8_t h;
    uint8_t v;
    uint8_t quant_id;
};

// The frame header (start-of-frame segment).
struct JpegFrame {
    uint8_t precision;
    uint16_t height;
    uint16_t width;
    int32_t component_count;
    JpegComponent components[4];
};

// One scan entry: component id, DC table id, AC table id.
struct JpegScanEntry {
    uint8_t id;
    uint8_t dc_table;
    uint8_t ac_table;
};

// The scan header (start-of-scan segment). The spectral and approximation fields are read and
// not used: a baseline scan always covers 0..63 with no approximation.
struct JpegScan {
    JpegScanEntry entries[4];
    int32_t entry_count;
    uint8_t spectral_start;
    uint8_t spectral_end;
    uint8_t approx_high;
    uint8_t approx_low;
};

// Everything the header parser collects before the entropy-coded data. Lives in the caller's
// frame for one decode; the table pointers point into the input, which must stay valid.
struct JpegHeader {
    const uint8_t* ac_tables[4];  // raw AC table by id: 16 counts, then the symbols; or null
    const uint8_t* dc_tables[4];  // raw DC table by id, same layout
    int32_t quant[4][64];         // zigzag (file) order, each entry pre-multiplied by aan_scale
    uint8_t quant_defined[4];     // 1 once a table with that id was read
    int32_t restart_interval;     // MCUs per restart interval, 0 = no restart markers
    JpegFrame frame;
    JpegScan scan;
    uint8_t has_frame;  // 1 once a baseline frame header was read
};

// A canonical Huffman table built from a raw one (the JPEG standard's procedure), with an 8-bit
// lookahead so that codes of up to 8 bits decode with one lookup.
struct HuffmanTable {
    const uint8_t* symbols;  // the raw table's symbols, in code order
    int32_t maxcode[16];     // [l]: largest code of length l + 1, or -1 when there is none
    int32_t valoffset[16];   // [l]: index of the first symbol of length l + 1 minus its code
    uint8_t look_len[256];   // for each 8-bit prefix: length of the code it starts with, or 0
    uint8_t look_sym[256];   // ... and that code's symbol
};

// Standard zigzag order: position in the file's order -> natural (row-major) index 0..63.
extern const uint8_t jpeg_zigzag[64];

// AAN scale factors, row u, column v: 256 * a(u) * a(v) truncated, a(0) = 1,
// a(k) = sqrt(2) * cos(k * pi / 16). Row 0 reads 256, 355, 334, 301, 256, 201, 138, 70.
extern const int32_t aan_scale[64];

// Clamp tables for the final colour lookup, indexed by signed values around 0.
// clamp5[i] = i clamped to 0..31, valid for CLAMP5_MIN <= i <= CLAMP5_MAX;
// clamp6[i] = i clamped to 0..63, valid for CLAMP6_MIN <= i <= CLAMP6_MAX.
// The ranges cover every index that any three signed-byte samples can produce.
constexpr int CLAMP5_MIN = -128, CLAMP5_MAX = 127;
constexpr int CLAMP6_MIN = -128, CLAMP6_MAX = 255;
extern const uint8_t* const clamp5;
extern const uint8_t* const clamp6;

// Parses the headers of the JPEG at data (length bytes, starting with its start-of-image marker)
// up to the start of scan. On success returns JPEG_OK and sets *scan_start to the offset of the
// first entropy-coded byte; otherwise the reason it cannot decode the data (see jpeg_decode).
JpegStatus jpeg_parse_header(const uint8_t* data, size_t length, JpegHeader* header, size_t* scan_start);

// Builds a decoding table from a raw table (16 counts, then the symbols). Returns 0 when the
// counts over-subscribe the code space or list more than 256 symbols. The raw table must hold
// 16 + the sum of its counts bytes (jpeg_parse_header checks that).
int huffman_build(HuffmanTable* table, const uint8_t* raw);

// The inverse DCT of one block of 64 dequantised coefficients (natural order, scaled by
// aan_scale and 256, 16-byte aligned): writes 8 x 8 half-scale samples ((value - 128) / 2) as
// signed bytes, `stride` bytes per row, and leaves the coefficients all zero for the next block.
void jpeg_idct(int32_t coefficients[64], int8_t* out, int stride);
// The same for a block whose coefficients outside the top-left 4 x 4 are all zero; faster.
void jpeg_idct_top_left(int32_t coefficients[64], int8_t* out, int stride);
// The portable form of the same transform (jpeg_idct uses SSE2 where it is there); both give
// the same samples for any input.
void jpeg_idct_scalar(int32_t coefficients[64], int8_t* out, int stride);

// Converts one pixel from half-scale Y, Cb, Cr samples to RGB565.
uint16_t jpeg_ycc_to_rgb565(int8_t y, int8_t cb, int8_t cr);

// MCU conversion into RGB565 at out (row stride `stride` pixels). `samples` is the MCU sample
// buffer (640 signed bytes): the Y, Cb and Cr planes one after the other, each (8 x H) x (8 x V)
// samples with row stride 8 x H.
// General path: each plane is sampled at 8.8 steps (hstep, vstep; 256 = one sample per pixel)
// and the MCU is mcu_w x mcu_h pixels. Chroma is replicated (nearest neighbour).
void jpeg_convert_general(const int8_t* samples, const int plane[3], const int hstep[3],
                          const int vstep[3], int mcu_w, int mcu_h, uint16_t* out, int stride);
// Fixed geometries giving the same pixels: luma 2 x 2 (16 x 16 MCU), 2 x 1 (16 x 8) and 1 x 1
// (8 x 8), chroma 1 x 1.
void jpeg_convert_2x2(const int8_t* samples, uint16_t* out, int stride);
void jpeg_convert_2x1(const int8_t* samples, uint16_t* out, int stride);
void jpeg_convert_1x1(const int8_t* samples, uint16_t* out, int stride);

// Reads the picture size from the frame header. Returns JPEG_OK and sets *width, *height when
// the headers parse; otherwise the reason they do not.
JpegStatus jpeg_picture_size(const uint8_t* data, size_t length, int* width, int* height);

// Decodes the JPEG at data (length bytes) into destination, width x height RGB565 pixels, row
// stride width. Only whole MCUs (8 x 8 block groups) that fit inside the destination are drawn;
// other pixels keep their old values. Never reads past length. Returns JPEG_OK when the picture
// was decoded (damaged entropy data decodes as far as it goes), otherwise why the data cannot be
// decoded: no frame or scan header, a frame other than 8-bit Huffman sequential, 0 or more than
// 4 components, a sampling factor other than 1, 2 or 4, more than 10 blocks per MCU, a table id
// above 3, a table used but never defined, a bad Huffman table, a zero-sized frame, a segment
// running past the data. Nothing is drawn when the picture is refused.
JpegStatus jpeg_decode(const uint8_t* data, size_t length, uint16_t* destination, int width, int height);

// Makes background layer `layer` (0..15) a 16-bit opaque layer of the picture's size and
// decodes the picture into its pixels. The size comes from the parsed frame header. Returns 1
// on success, 0 when the data cannot be decoded or the layer cannot be made.
int jpeg_to_layer(int layer, const uint8_t* data, size_t length);

// 0 when length is 0 or the first byte is not 0xFF; 1 when length is 1; otherwise 1 exactly
// when the second byte is 0xD8 (the start-of-image marker).
int jpeg_check_signature(const uint8_t* data, size_t length);
