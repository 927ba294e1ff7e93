// Damaged and unsupported JPEG data: every case is refused with its reason or decodes, never reads
// outside the exact-size copy of its input, and never writes outside the destination (run under
// ASan/UBSan).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "media/jpeg_decoder.h"
#include "tests/support/check.h"
#include "tests/support/jpeg_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t UNTOUCHED = 0xF81F;

// Decodes from an exact-size heap copy into an exact-size destination.
int decode(const Bytes& bytes, int width = 32, int height = 24, std::vector<uint16_t>* pixels = nullptr) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    std::unique_ptr<uint16_t[]> out(new uint16_t[static_cast<size_t>(width) * height]);
    std::fill(out.get(), out.get() + static_cast<size_t>(width) * height, UNTOUCHED);
    int result = jpeg_decode(copy.get(), bytes.size(), out.get(), width, height);
    if (pixels) pixels->assign(out.get(), out.get() + static_cast<size_t>(width) * height);
    return result;
}

// A real 32 x 24 4:2:0 picture to damage.
const Bytes& base() {
    static Bytes jpeg = make_test_jpeg(32, 24, JpegFixtureOptions{}, 21);
    return jpeg;
}

size_t at(const Bytes& jpeg, uint8_t code) {
    long pos = jpeg_find_marker(jpeg, code);
    EXPECT_GE(pos, 0) << "marker " << int(code);
    return static_cast<size_t>(pos);
}

Bytes patch(Bytes jpeg, size_t at, uint8_t value) {
    jpeg[at] = value;
    return jpeg;
}

size_t segment_length(const Bytes& jpeg, size_t marker) {
    return 2 + (static_cast<size_t>(jpeg[marker + 2]) << 8 | jpeg[marker + 3]);
}

Bytes without_segments(Bytes jpeg, uint8_t code) {
    for (long pos; (pos = jpeg_find_marker(jpeg, code)) >= 0;)
        jpeg.erase(jpeg.begin() + pos, jpeg.begin() + pos + static_cast<long>(segment_length(jpeg, static_cast<size_t>(pos))));
    return jpeg;
}

// --- A tiny hand-built file: one grey 8 x 8 block, quantisers 1, the given tables and data.

void put_segment(Bytes& out, uint8_t code, const Bytes& payload) {
    size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes huffman_payload(uint8_t class_id, const std::vector<int>& counts, const Bytes& symbols) {
    Bytes p{class_id};
    for (int i = 0; i < 16; ++i) p.push_back(static_cast<uint8_t>(i < static_cast<int>(counts.size()) ? counts[i] : 0));
    p.insert(p.end(), symbols.begin(), symbols.end());
    return p;
}

Bytes grey_block_file(const Bytes& dc_table, const Bytes& ac_table, const Bytes& entropy,
                      int width = 8, int height = 8, uint8_t quantiser = 1) {
    Bytes f{0xFF, 0xD8};
    Bytes dqt{0x00};
    dqt.insert(dqt.end(), 64, quantiser);
    put_segment(f, 0xDB, dqt);
    put_segment(f, 0xC0, {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                          static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 1, 1, 0x11, 0});
    put_segment(f, 0xC4, dc_table);
    put_segment(f, 0xC4, ac_table);
    put_segment(f, 0xDA, {1, 1, 0x00, 0, 63, 0});
    f.insert(f.end(), entropy.begin(), entropy.end());
    f.insert(f.end(), {0xFF, 0xD9});
    return f;
}

// DC: one 1-bit code for category 0. AC: '0' = end of block.
const Bytes dc_zero = huffman_payload(0x00, {1}, {0x00});
const Bytes ac_end = huffman_payload(0x10, {1}, {0x00});

TEST(JpegHostile, TheHandBuiltFileDecodes) {
    std::vector<uint16_t> out;
    ASSERT_EQ(decode(grey_block_file(dc_zero, ac_end, {0x00}), 8, 8, &out), JPEG_OK);
    // DC 0 is mid grey: Y sample 0 gives Y' = 63.
    for (uint16_t p : out) EXPECT_EQ(p, jpeg_ycc_to_rgb565(0, 0, 0));
    // The same with quantisation table 3, the last id, defined (byte 6) and used (byte 83).
    EXPECT_EQ(decode(patch(patch(grey_block_file(dc_zero, ac_end, {0x00}), 6, 3), 83, 3), 8, 8), JPEG_OK);
}

TEST(JpegHostile, MissingHeadersAreRefused) {
    EXPECT_EQ(vals(decode({}), decode({0xFF}), decode({0xFF, 0xD8}), decode({0xFF, 0xD8, 0xFF, 0xD9})),
              vals(JPEG_NO_FRAME, JPEG_NO_FRAME, JPEG_NO_FRAME, JPEG_NO_FRAME));
    // Scan before any frame: the start-of-scan segment moved in front of everything; and the
    // headers without their scan.
    Bytes jpeg = base();
    size_t sos = at(jpeg, 0xDA);
    Bytes early{0xFF, 0xD8};
    early.insert(early.end(), jpeg.begin() + static_cast<long>(sos), jpeg.end());
    EXPECT_EQ(vals(decode(early), decode(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(sos)))),
              vals(JPEG_NO_FRAME, JPEG_NO_SCAN));
    // Scan before the Huffman or quantisation tables: those segments removed.
    EXPECT_EQ(vals(decode(without_segments(jpeg, 0xC4)), decode(without_segments(jpeg, 0xDB)), decode(jpeg)),
              vals(JPEG_MISSING_TABLE, JPEG_MISSING_TABLE, JPEG_OK));
}

TEST(JpegHostile, BadFramesAreRefused) {
    const Bytes& jpeg = base();
    size_t sof = at(jpeg, 0xC0);
    auto patched = [&](size_t offset, uint8_t value) { return patch(jpeg, sof + offset, value); };
    // Offsets from the marker: 4 precision, 5-6 height, 7-8 width, 9 count, then 3 per component.
    EXPECT_EQ(decode(patched(4, 12)), JPEG_UNSUPPORTED_PRECISION);
    // No rows, no columns (32 x 24: the low bytes); the second component with the first one's id,
    // refused in the frame (no scan follows).
    Bytes twice = patched(13, jpeg[sof + 10]);
    twice.resize(at(jpeg, 0xDA));
    EXPECT_EQ(vals(decode(patched(6, 0)), decode(patched(8, 0)), decode(patched(9, 0)), decode(patched(9, 5)), decode(twice)),
              vals(JPEG_EMPTY_FRAME, JPEG_EMPTY_FRAME, JPEG_BAD_COMPONENT_COUNT, JPEG_BAD_COMPONENT_COUNT, JPEG_BAD_COMPONENT_ID));
    for (uint8_t sampling : {0x01, 0x10, 0x31, 0x13, 0x51, 0x15, 0x00})
        EXPECT_EQ(decode(patched(11, sampling)), JPEG_BAD_SAMPLING) << std::hex << int(sampling);
    // Quantisation table id above 3, one never defined; progressive, arithmetic, lossless,
    // hierarchical frames.
    EXPECT_EQ(vals(decode(patched(12, 4)), decode(patched(12, 2)), decode(patched(1, 0xC2)), decode(patched(1, 0xC9)),
                   decode(patched(1, 0xC3)), decode(patched(1, 0xC5))),
              vals(JPEG_BAD_TABLE_ID, JPEG_MISSING_TABLE, JPEG_UNSUPPORTED_PROGRESSIVE, JPEG_UNSUPPORTED_ARITHMETIC,
                   JPEG_UNSUPPORTED_LOSSLESS, JPEG_UNSUPPORTED_HIERARCHICAL));
    // More than 10 blocks per MCU: luma 4 x 2 plus two chroma 2 x 1.
    Bytes big = jpeg;
    big[sof + 11] = 0x42;
    big[sof + 14] = 0x21;
    big[sof + 17] = 0x21;
    EXPECT_EQ(decode(big), JPEG_TOO_MANY_BLOCKS);
    // A lone component with large factors decodes as 1 x 1 (its scan is not interleaved).
    JpegFixtureOptions grey;
    grey.components = 1;
    Bytes g = make_test_jpeg(32, 24, grey, 5);
    std::vector<uint16_t> plain, odd;
    ASSERT_EQ(decode(g, 32, 24, &plain), JPEG_OK);
    g[at(g, 0xC0) + 11] = 0x22;
    ASSERT_EQ(decode(g, 32, 24, &odd), JPEG_OK);
    EXPECT_EQ(plain, odd);
}

TEST(JpegHostile, HugeFrameIntoSmallDestination) {
    Bytes jpeg = base();
    size_t sof = at(jpeg, 0xC0);
    for (size_t i = 5; i <= 8; ++i) jpeg[sof + i] = 0xFF;
    auto start = std::chrono::steady_clock::now();
    std::vector<uint16_t> out;
    EXPECT_EQ(decode(jpeg, 32, 24, &out), JPEG_OK);
    // Decoding stops where the data ends instead of running 4096 x 4096 MCUs of nothing.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(JpegHostile, BadHuffmanTablesAreRefused) {
    // 256 symbols are the most a table holds (255 codes of 8 bits, the first all zeros for the
    // end of block, one of 9 bits); 257 are refused.
    std::vector<int> counts{0, 0, 0, 0, 0, 0, 0, 255, 1};
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, counts, Bytes(256, 0)), {0x00, 0x7F}), 8, 8), JPEG_OK);
    counts[8] = 2;
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, counts, Bytes(257, 0)), {0})), JPEG_BAD_HUFFMAN_TABLE);
    // Three codes of one bit or five of two over-subscribe the code space; two of one bit fit.
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, {3}, {0, 1, 2}), {0})), JPEG_BAD_HUFFMAN_TABLE);
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, {0, 5}, {0, 1, 2, 3, 4}), {0})),
              JPEG_BAD_HUFFMAN_TABLE);
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, {2}, {0, 1}), {0}), 8, 8), JPEG_OK);
    // Table id above 3; id 3 is valid (the scan's table 0 is then missing).
    EXPECT_EQ(vals(decode(grey_block_file(dc_zero, huffman_payload(0x14, {1}, {0}), {0})),
                   decode(grey_block_file(dc_zero, huffman_payload(0x13, {1}, {0}), {0}))),
              vals(JPEG_BAD_TABLE_ID, JPEG_MISSING_TABLE));
    // Counts running past the segment.
    Bytes shortened = huffman_payload(0x10, {0, 4}, {0, 1});
    EXPECT_EQ(decode(grey_block_file(dc_zero, shortened, {0})), JPEG_BAD_HUFFMAN_TABLE);
    // A DC category above 15 cannot be read.
    EXPECT_EQ(decode(grey_block_file(huffman_payload(0x00, {1}, {16}), ac_end, {0})), JPEG_BAD_HUFFMAN_TABLE);
}

TEST(JpegHostile, BadScansAreRefused) {
    const Bytes& jpeg = base();
    const size_t sos = at(jpeg, 0xDA);
    // Offsets: 4 count, then (id, tables) per entry from 5.
    // One component twice, tables 2 and 3 (valid ids) never defined, table ids above 3, not a
    // frame component, two of three components (the length matches neither; then the length
    // made to fit two).
    EXPECT_EQ(vals(decode(patch(jpeg, sos + 7, jpeg[sos + 5])), decode(patch(jpeg, sos + 6, 0x22)),
                   decode(patch(jpeg, sos + 6, 0x33)), decode(patch(jpeg, sos + 6, 0x04)),
                   decode(patch(jpeg, sos + 6, 0x40)), decode(patch(jpeg, sos + 5, 9)), decode(patch(jpeg, sos + 4, 2)),
                   decode(patch(patch(jpeg, sos + 4, 2), sos + 3, 10))),
              vals(JPEG_BAD_COMPONENT_ID, JPEG_MISSING_TABLE, JPEG_MISSING_TABLE, JPEG_BAD_TABLE_ID, JPEG_BAD_TABLE_ID,
                   JPEG_BAD_COMPONENT_ID, JPEG_BAD_SEGMENT_LENGTH, JPEG_UNSUPPORTED_SEPARATE_SCANS));
}

TEST(JpegHostile, SegmentLengthsAndFillBytes) {
    const Bytes& jpeg = base();
    size_t dqt = at(jpeg, 0xDB);
    for (uint8_t low : {0, 1, 40}) {  // 40: the table runs past the segment's end
        Bytes b = jpeg;
        b[dqt + 2] = 0;
        b[dqt + 3] = low;
        EXPECT_EQ(decode(b), low < 2 ? JPEG_BAD_SEGMENT_LENGTH : JPEG_BAD_QUANT_TABLE) << "length " << int(low);
    }
    Bytes past = jpeg;
    past[dqt + 2] = past[dqt + 3] = 0xFF;
    EXPECT_EQ(decode(past), JPEG_DATA_ENDS_IN_HEADER);
    // Cut inside the headers at every byte: inside a segment, or between two before or after
    // the frame header.
    size_t sos = at(jpeg, 0xDA), sof = at(jpeg, 0xC0);
    for (size_t n = 0; n < sos + segment_length(jpeg, sos); ++n) {
        int status = decode(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(n)));
        EXPECT_TRUE(status == JPEG_DATA_ENDS_IN_HEADER || status == (n < sof + 2 ? JPEG_NO_FRAME : JPEG_NO_SCAN)) << n;
    }
    // 0xFF fill bytes before markers change nothing.
    std::vector<uint16_t> plain, filled;
    ASSERT_EQ(decode(jpeg, 32, 24, &plain), JPEG_OK);
    Bytes fill = jpeg;
    fill.insert(fill.begin() + static_cast<long>(at(fill, 0xC0)), 20, 0xFF);
    fill.insert(fill.end() - 2, 20, 0xFF);
    ASSERT_EQ(decode(fill, 32, 24, &filled), JPEG_OK);
    EXPECT_EQ(plain, filled);
    // Unknown segments (application data, comments, others) are skipped by their length.
    Bytes extra = jpeg;
    Bytes comment{0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c', 0xFF, 0xF3, 0x00, 0x03, 0x00};
    extra.insert(extra.begin() + 2, comment.begin(), comment.end());
    ASSERT_EQ(decode(extra, 32, 24, &filled), JPEG_OK);
    EXPECT_EQ(plain, filled);
}

TEST(JpegHostile, DamagedEntropyData) {
    JpegFixtureOptions o;
    o.restart_interval = 1;
    for (int restart : {0, 1}) {
        o.restart_interval = restart;
        Bytes jpeg = make_test_jpeg(32, 24, o, 8);
        size_t sos = at(jpeg, 0xDA);
        size_t data = sos + segment_length(jpeg, sos);
        // Cut at every byte of the entropy data.
        for (size_t n = data; n <= jpeg.size(); ++n)
            EXPECT_EQ(decode(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(n))), JPEG_OK) << n;
        // Cut inside a stuffed 0xFF 0x00.
        for (size_t i = data; i + 1 < jpeg.size(); ++i) {
            if (jpeg[i] != 0xFF || jpeg[i + 1] != 0x00) continue;
            EXPECT_EQ(decode(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(i) + 1)), JPEG_OK);
        }
        // Endless 1-bits, as stuffed bytes and as bare 0xFF.
        Bytes ones(jpeg.begin(), jpeg.begin() + static_cast<long>(data));
        for (int i = 0; i < 3000; ++i) ones.insert(ones.end(), {0xFF, 0x00});
        EXPECT_EQ(decode(ones), JPEG_OK);
        Bytes bare(jpeg.begin(), jpeg.begin() + static_cast<long>(data));
        bare.insert(bare.end(), 3000, 0xFF);
        EXPECT_EQ(decode(bare), JPEG_OK);
        // Every byte of the entropy data flipped in turn.
        for (size_t i = data; i + 2 < jpeg.size(); i += 3) {
            Bytes b = jpeg;
            b[i] ^= 0x5A;
            EXPECT_EQ(decode(b), JPEG_OK) << i;
        }
    }
}

TEST(JpegHostile, RunsPastTheBlockAndLargeCategories) {
    // AC: '0' = run 15 size 1, '10' = end of block. Data: DC '0', then (0, value bit 1) five
    // times: positions 16, 32, 48, 64, 80, the last two past the block.
    Bytes ac = huffman_payload(0x10, {1, 1}, {0xF1, 0x00});
    EXPECT_EQ(decode(grey_block_file(dc_zero, ac, {0x2A, 0xAA, 0x80}), 8, 8), JPEG_OK);
    // Zero runs of 16 past the end: '0' = ZRL.
    Bytes zrl = huffman_payload(0x10, {1, 1}, {0xF0, 0x00});
    std::vector<uint16_t> out;
    EXPECT_EQ(decode(grey_block_file(dc_zero, zrl, {0x00, 0x00}, 8, 8, 255), 8, 8, &out), JPEG_OK);
    EXPECT_EQ(out, std::vector<uint16_t>(64, jpeg_ycc_to_rgb565(0, 0, 0)));  // zeros only
    // A zero run of 16, then +1 at zigzag position 17, then the end: the same block whether
    // the run's code is short ('0': the lookahead table) or 9 bits long (one symbol at a time).
    std::vector<uint16_t> looked_up, one_by_one;
    const Bytes short_run = huffman_payload(0x10, {1, 2}, {0xF0, 0x01, 0x00});  // 0, 10, 11
    const Bytes long_run = huffman_payload(0x10, {1, 1, 0, 0, 0, 0, 0, 0, 1}, {0x01, 0x00, 0xF0});  // 0, 10, 110000000
    ASSERT_EQ(decode(grey_block_file(dc_zero, short_run, {0x2F}, 8, 8, 255), 8, 8, &looked_up), JPEG_OK);
    ASSERT_EQ(decode(grey_block_file(dc_zero, long_run, {0x60, 0x1B}, 8, 8, 255), 8, 8, &one_by_one), JPEG_OK);
    EXPECT_EQ(looked_up, one_by_one);
    EXPECT_NE(looked_up, out);
    // A 15-bit DC category, an AC size of 15, repeated until the data ends: values wrap
    // instead of overflowing.
    Bytes dc15 = huffman_payload(0x00, {1}, {15});
    Bytes ac15 = huffman_payload(0x10, {1, 1}, {0x0F, 0x00});
    Bytes data(200, 0x7F);
    EXPECT_EQ(decode(grey_block_file(dc15, ac15, data, 64, 64), 64, 64, &out), JPEG_OK);
    // Codes longer than eight bits and a table whose codes fill the space completely.
    std::vector<int> counts(16, 0);
    counts[15] = 2;
    for (int i = 0; i < 15; ++i) counts[i] = 1;
    Bytes symbols;
    for (int i = 0; i < 17; ++i) symbols.push_back(static_cast<uint8_t>(i == 16 ? 0x00 : 0x01 + i * 16 % 0xF0));
    EXPECT_EQ(decode(grey_block_file(dc_zero, huffman_payload(0x10, counts, symbols), Bytes(50, 0xFE), 32, 32), 32, 32), JPEG_OK);
}

TEST(JpegHostile, RestartIntervalsAndMarkers) {
    JpegFixtureOptions o;
    o.restart_interval = 1;
    Bytes jpeg = make_test_jpeg(64, 32, o, 12);
    std::vector<uint16_t> plain, out;
    ASSERT_EQ(decode(jpeg, 64, 32, &plain), JPEG_OK);
    size_t dri = at(jpeg, 0xDD);
    size_t sos = at(jpeg, 0xDA);
    // Out of order: the marker numbers are not examined.
    Bytes shuffled = jpeg;
    for (size_t i = sos + 2; i + 1 < shuffled.size(); ++i)
        if (shuffled[i] == 0xFF && shuffled[i + 1] >= 0xD0 && shuffled[i + 1] <= 0xD7)
            shuffled[i + 1] = static_cast<uint8_t>(0xD7 - (shuffled[i + 1] - 0xD0));
    ASSERT_EQ(decode(shuffled, 64, 32, &out), JPEG_OK);
    EXPECT_EQ(out, plain);
    // Missing markers: all removed.
    Bytes missing(jpeg.begin(), jpeg.begin() + static_cast<long>(sos) + 2);
    for (size_t i = sos + 2; i < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && i + 1 < jpeg.size() && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) {
            ++i;
            continue;
        }
        missing.push_back(jpeg[i]);
    }
    EXPECT_EQ(decode(missing, 64, 32), JPEG_OK);
    // The same picture without markers decodes the same (each interval predicts DC from 0); an
    // interval longer than the picture: no marker is ever due, the decode is unchanged.
    Bytes once = make_test_jpeg(64, 32, JpegFixtureOptions{}, 12);
    ASSERT_EQ(decode(once, 64, 32, &out), JPEG_OK);
    EXPECT_EQ(out, plain);
    Bytes longer = once;
    Bytes dri_segment{0xFF, 0xDD, 0x00, 0x04, 0x10, 0x00};
    longer.insert(longer.begin() + static_cast<long>(at(longer, 0xDA)), dri_segment.begin(), dri_segment.end());
    ASSERT_EQ(decode(longer, 64, 32, &out), JPEG_OK);
    EXPECT_EQ(out, plain);
    // A bad restart segment length.
    Bytes bad = jpeg;
    bad[dri + 3] = 2;
    EXPECT_EQ(decode(bad, 64, 32), JPEG_BAD_SEGMENT_LENGTH);
}

}  // namespace

// A stuffed 0xFF that is the last data of a cut file is still data: its ones are three blocks of
// (DC category 1, value 1, end of block), drawn as with an end marker after them; the fourth
// block has no data and keeps its pixels.
TEST(JpegHostile, StuffedByteAtTheVeryEnd) {
    const Bytes dc_one = huffman_payload(0x00, {2}, {0x00, 0x01});   // '0': category 0, '1': 1
    const Bytes ac_ends = huffman_payload(0x10, {2}, {0x00, 0x00});  // either bit ends the block
    const Bytes whole = grey_block_file(dc_one, ac_ends, {0xFF, 0x00}, 32, 8);
    std::vector<uint16_t> cut, ended;
    ASSERT_EQ(decode(Bytes(whole.begin(), whole.end() - 2), 32, 8, &cut), JPEG_OK);  // no end marker
    decode(whole, 32, 8, &ended);
    EXPECT_EQ(cut, ended);
    EXPECT_EQ(vals(cut[23] == UNTOUCHED, cut[24] == UNTOUCHED), vals(false, true));
}

// A frame the header parser takes but the decoder cannot hold (luma 4 x 2 and one chroma 2 x 1;
// the missing chroma plane counts as one block more) is refused, and gives no layer.
TEST(JpegHostile, FrameTooLargeForTheMcuGivesNoLayer) {
    Bytes two = base();
    const size_t sof = at(two, 0xC0);
    two[sof + 3] -= 3, two[sof + 9] = 2, two[sof + 11] = 0x42, two[sof + 14] = 0x21;
    two.erase(two.begin() + static_cast<long>(sof) + 16, two.begin() + static_cast<long>(sof) + 19);
    const size_t sos = at(two, 0xDA);
    two[sos + 3] -= 2, two[sos + 4] = 2;
    two.erase(two.begin() + static_cast<long>(sos) + 9, two.begin() + static_cast<long>(sos) + 11);
    int w = 0, h = 0;
    EXPECT_EQ(vals(jpeg_picture_size(two.data(), two.size(), &w, &h), jpeg_to_layer(13, two.data(), two.size()), decode(two)),
              vals(JPEG_OK, 0, JPEG_TOO_MANY_BLOCKS));
}
