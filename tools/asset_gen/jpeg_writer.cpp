// libjpeg writes DQT before SOF0; the segments are reordered afterwards so that SOF0 follows
// the JFIF segment directly. Segment contents are not changed, only their order.
#include "jpeg_writer.h"

#include "builder/jpeg_encode.h"

#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "asset_gen: %s\n", what);
    std::exit(1);
}

struct Segment {
    uint8_t marker;
    size_t begin, end;  // byte range including the marker
};

}  // namespace

std::vector<uint8_t> encode_menu_jpeg(const Image& img, int quality) {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(img.width) * img.height * 3);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgb c = img.at(x, y);
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    JpegEncodeOptions options;  // the standard tables (two DC and two AC), no restart markers
    options.quality = quality;
    options.luma_h = 2;
    options.luma_v = 1;
    std::vector<uint8_t> raw;
    if (!jpeg_encode(rgb.data(), img.width, img.height, options, raw)) fail("the JPEG encoder failed");

    // Split into marker segments up to the start of scan.
    if (raw.size() < 4 || raw[0] != 0xFF || raw[1] != 0xD8) fail("encoder output has no start marker");
    std::vector<Segment> segments;
    size_t pos = 2;
    while (true) {
        if (pos + 4 > raw.size() || raw[pos] != 0xFF) fail("unexpected encoder output");
        uint8_t marker = raw[pos + 1];
        if (marker == 0xDA) break;
        size_t length = static_cast<size_t>(raw[pos + 2]) << 8 | raw[pos + 3];
        segments.push_back({marker, pos, pos + 2 + length});
        pos += 2 + length;
    }
    std::vector<uint8_t> out = {0xFF, 0xD8};
    auto emit = [&](const Segment& s) { out.insert(out.end(), raw.begin() + s.begin, raw.begin() + s.end); };
    for (uint8_t wanted : {0xE0, 0xC0, 0xDB, 0xC4})
        for (const Segment& s : segments)
            if (s.marker == wanted) emit(s);
    for (const Segment& s : segments)
        if (s.marker != 0xE0 && s.marker != 0xC0 && s.marker != 0xDB && s.marker != 0xC4)
            fail("encoder wrote a segment the layout does not expect");
    out.insert(out.end(), raw.begin() + pos, raw.end());
    if (out[2] != 0xFF || out[3] != 0xE0 || out[4] != 0 || out[5] != 16 || out[20] != 0xFF || out[21] != 0xC0)
        fail("JFIF segment is not 16 bytes or the frame header does not follow it");
    return out;
}

int largest_ac_coefficient(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct dinfo;
    jpeg_error_mgr jerr;
    dinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&dinfo);
    jpeg_mem_src(&dinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&dinfo, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&dinfo);
    int largest = 0;
    for (int c = 0; c < dinfo.num_components; ++c) {
        jpeg_component_info* comp = &dinfo.comp_info[c];
        for (JDIMENSION by = 0; by < comp->height_in_blocks; ++by) {
            JBLOCKARRAY rows = dinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&dinfo),
                                                              coefficients[c], by, 1, FALSE);
            for (JDIMENSION bx = 0; bx < comp->width_in_blocks; ++bx)
                for (int k = 1; k < 64; ++k) {
                    int v = std::abs(static_cast<int>(rows[0][bx][k]));
                    if (v > largest) largest = v;
                }
        }
    }
    jpeg_finish_decompress(&dinfo);
    jpeg_destroy_decompress(&dinfo);
    return largest;
}
