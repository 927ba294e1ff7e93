// libjpeg compression from memory to memory with a setjmp error exit.
#include "builder/jpeg_encode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

struct ErrorJump {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void error_exit(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }

}  // namespace

bool jpeg_encode(const uint8_t* pixels, int width, int height, const JpegEncodeOptions& options,
                 std::vector<uint8_t>& out) {
    out.clear();
    jpeg_compress_struct info;
    ErrorJump error;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = error_exit;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &length);
    const int components = options.cmyk ? 4 : 3;
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = options.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (options.grey) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    jpeg_set_quality(&info, std::clamp(options.quality, 1, 100), TRUE);
    if (options.progressive) jpeg_simple_progression(&info);
    if (!options.cmyk && !options.grey) {
        info.comp_info[0].h_samp_factor = options.luma_h;
        info.comp_info[0].v_samp_factor = options.luma_v;
        for (int i = 1; i < 3; ++i) info.comp_info[i].h_samp_factor = info.comp_info[i].v_samp_factor = 1;
    }
    info.restart_interval = static_cast<unsigned>(options.restart_interval);
    info.optimize_coding = options.optimize_coding ? TRUE : FALSE;
    if (options.cmyk) info.write_Adobe_marker = TRUE;
    jpeg_start_compress(&info, TRUE);
    if (!options.app1.empty())
        jpeg_write_marker(&info, JPEG_APP0 + 1, options.app1.data(), static_cast<unsigned>(options.app1.size()));
    const size_t row_bytes = static_cast<size_t>(width) * components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<size_t>(info.next_scanline) * row_bytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out.assign(buffer, buffer + length);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}
