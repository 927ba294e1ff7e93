// Photo decoding and reduction for the pack tool. libjpeg and libpng report fatal errors by
// longjmp; each decoder keeps its C++ objects outside the jumped-over frames.
#include "tools/evgpack/photo_import.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "media/rgb565.h"
#include "tools/evgpack/colour_match.h"
#include "tools/evgpack/exif.h"

namespace evgpack {

namespace {

// Area-average reduction of the centred square of a streamed image to `dst` x `dst` pixels.
// Each axis maps source interval [i, i+1) onto destination intervals of length side/dst;
// a source pixel contributes to every destination pixel it overlaps, by the overlap.
class SquareReducer {
public:
    SquareReducer(int width, int height, int dst) : dst_(dst) {
        side_ = std::min(width, height);
        crop_x_ = (width - side_) / 2;
        crop_y_ = (height - side_) / 2;
        double scale = static_cast<double>(dst) / side_;  // destination pixels per source pixel
        for (int i = 0; i < side_; ++i) {
            double a = i * scale, b = (i + 1) * scale;
            for (int d = static_cast<int>(a); d < dst && d < b; ++d) {
                double overlap = std::min(b, d + 1.0) - std::max(a, static_cast<double>(d));
                if (overlap > 0) taps_.push_back(Tap{i, d, static_cast<float>(overlap)});
            }
        }
        acc_.assign(static_cast<size_t>(dst) * dst * 3, 0.0f);
        row_.assign(static_cast<size_t>(dst) * 3, 0.0f);
    }

    // One source row of linear RGB (the full width of the image).
    void add_row(int y, const float* rgb) {
        int i = y - crop_y_;
        if (i < 0 || i >= side_) return;
        std::fill(row_.begin(), row_.end(), 0.0f);
        const float* src = rgb + static_cast<size_t>(crop_x_) * 3;
        for (const Tap& t : taps_) {
            row_[t.dst * 3 + 0] += t.weight * src[t.src * 3 + 0];
            row_[t.dst * 3 + 1] += t.weight * src[t.src * 3 + 1];
            row_[t.dst * 3 + 2] += t.weight * src[t.src * 3 + 2];
        }
        // Vertical taps of source row i are those with src == i in the same table.
        auto first = std::lower_bound(taps_.begin(), taps_.end(), i,
                                      [](const Tap& t, int v) { return t.src < v; });
        for (auto t = first; t != taps_.end() && t->src == i; ++t) {
            float* out = &acc_[static_cast<size_t>(t->dst) * dst_ * 3];
            for (int k = 0; k < dst_ * 3; ++k) out[k] += t->weight * row_[k];
        }
    }

    int top() const { return crop_y_; }
    int bottom() const { return crop_y_ + side_; }

    LinearPicture finish() {
        LinearPicture out;
        out.size = dst_;
        out.rgb = std::move(acc_);
        return out;
    }

private:
    struct Tap {
        int src, dst;
        float weight;
    };
    int dst_, side_, crop_x_, crop_y_;
    std::vector<Tap> taps_;  // sorted by src
    std::vector<float> acc_, row_;
};

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpeg_error_exit(j_common_ptr cinfo) {
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void jpeg_quiet(j_common_ptr, int) {}

struct JpegWork {
    std::vector<uint8_t> line;
    std::vector<float> linear;
    int orientation = 1;
};

bool import_jpeg(const uint8_t* data, size_t size, LinearPicture& out, std::string& error) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    JpegWork work;
    SquareReducer* volatile reducer = nullptr;  // survives the longjmp
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_error_exit;
    err.mgr.emit_message = jpeg_quiet;
    if (setjmp(err.jump)) {
        delete reducer;
        jpeg_destroy_decompress(&cinfo);
        error = std::string("corrupt JPEG data: ") + err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            work.orientation = exif_orientation(m->data, m->data_length);
            break;
        }
    }
    if (static_cast<uint64_t>(cinfo.image_width) * cinfo.image_height > MAX_PHOTO_PIXELS) {
        jpeg_destroy_decompress(&cinfo);
        error = "photo too large";
        return false;
    }
    // Decode at the smallest scale that still gives at least 240 pixels on the short side.
    unsigned short_side = std::min(cinfo.image_width, cinfo.image_height);
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    for (unsigned denom : {8u, 4u, 2u}) {
        if ((short_side + denom - 1) / denom >= PICTURE_SIZE) {
            cinfo.scale_denom = denom;
            break;
        }
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    const int width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
    const int channels = cinfo.output_components;
    // Adobe's CMYK JPEGs store inverted values; plain CMYK is rare but handled too.
    const bool inverted = cinfo.saw_Adobe_marker;
    work.line.resize(static_cast<size_t>(width) * channels);
    work.linear.resize(static_cast<size_t>(width) * 3);
    reducer = new SquareReducer(width, height, PICTURE_SIZE);
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row = work.line.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (y < reducer->top() || y >= reducer->bottom()) continue;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &work.line[static_cast<size_t>(x) * channels];
            uint8_t rgb[3];
            if (cmyk) {
                for (int k = 0; k < 3; ++k) {
                    int c = inverted ? p[k] : 255 - p[k];
                    int key = inverted ? p[3] : 255 - p[3];
                    rgb[k] = static_cast<uint8_t>((c * key + 127) / 255);
                }
            } else {
                rgb[0] = p[0], rgb[1] = p[1], rgb[2] = p[2];
            }
            for (int k = 0; k < 3; ++k) work.linear[static_cast<size_t>(x) * 3 + k] = static_cast<float>(srgb_to_linear(rgb[k]));
        }
        reducer->add_row(y, work.linear.data());
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out = reducer->finish();
    delete reducer;
    orient_picture(out, work.orientation);
    out.source_short_side = static_cast<int>(short_side);
    return true;
}

// ---- PNG ----

struct PngSource {
    const uint8_t* data;
    size_t size, pos;
};

void png_read_memory(png_structp png, png_bytep out, png_size_t count) {
    PngSource* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > src->size - src->pos) png_error(png, "file ends early");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

void png_error_exit(png_structp png, png_const_charp message) {
    std::string* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = std::string("corrupt PNG data: ") + message;
    png_longjmp(png, 1);
}

void png_quiet(png_structp, png_const_charp) {}

struct PngWork {
    std::vector<uint8_t> image;  // whole image, interlaced files only
    std::vector<uint8_t> line;
    std::vector<float> linear;
};

bool import_png(const uint8_t* data, size_t size, LinearPicture& out, std::string& error) {
    PngSource src{data, size, 0};
    PngWork work;
    SquareReducer* volatile reducer = nullptr;  // survives the longjmp
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, png_error_exit, png_quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        delete reducer;
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &src, png_read_memory);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (static_cast<uint64_t>(width) * height > MAX_PHOTO_PIXELS) png_error(png, "photo too large");
    int colour = png_get_color_type(png, info);
    png_set_expand(png);  // palette to RGB, low-bit grey to 8 bits, tRNS to alpha
    png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) png_error(png, "unexpected row layout");
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    work.line.resize(row_bytes);
    work.linear.resize(static_cast<size_t>(width) * 3);
    reducer = new SquareReducer(static_cast<int>(width), static_cast<int>(height), PICTURE_SIZE);
    auto feed = [&](int y, const uint8_t* p) {
        for (png_uint_32 x = 0; x < width; ++x) {
            // Alpha is composited over black in linear light.
            float alpha = p[x * 4 + 3] / 255.0f;
            for (int k = 0; k < 3; ++k)
                work.linear[x * 3 + k] = static_cast<float>(srgb_to_linear(p[x * 4 + k])) * alpha;
        }
        reducer->add_row(y, work.linear.data());
    };
    if (passes > 1) {
        // Interlaced rows arrive in several passes: gather the whole image first.
        work.image.resize(row_bytes * height);
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, &work.image[row_bytes * y], nullptr);
        for (png_uint_32 y = 0; y < height; ++y) feed(static_cast<int>(y), &work.image[row_bytes * y]);
    } else {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, work.line.data(), nullptr);
            feed(static_cast<int>(y), work.line.data());
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    out = reducer->finish();
    delete reducer;
    out.source_short_side = static_cast<int>(std::min(width, height));
    return true;
}

}  // namespace

bool import_photo(const uint8_t* data, size_t size, LinearPicture& out, std::string& error) {
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return import_jpeg(data, size, out, error);
    if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) return import_png(data, size, out, error);
    error = "not a JPEG or PNG file";
    return false;
}

LinearPicture reduce_picture(const LinearPicture& in, int size) {
    SquareReducer reducer(in.size, in.size, size);
    for (int y = 0; y < in.size; ++y) reducer.add_row(y, &in.rgb[static_cast<size_t>(y) * in.size * 3]);
    return reducer.finish();
}

std::vector<uint8_t> picture_to_srgb(const LinearPicture& picture) {
    std::vector<uint8_t> out(picture.rgb.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = linear_to_srgb(picture.rgb[i]);
    return out;
}

std::vector<uint16_t> picture_to_rgb565(const LinearPicture& picture) {
    std::vector<uint16_t> out(static_cast<size_t>(picture.size) * picture.size);
    for (size_t i = 0; i < out.size(); ++i) {
        uint8_t r = linear_to_srgb(picture.rgb[i * 3]), g = linear_to_srgb(picture.rgb[i * 3 + 1]),
                b = linear_to_srgb(picture.rgb[i * 3 + 2]);
        out[i] = rgb565_pack(r, g, b);
    }
    return out;
}

void orient_picture(LinearPicture& picture, int orientation) {
    if (orientation <= 1 || orientation > 8) return;
    const int n = picture.size, m = n - 1;
    std::vector<float> out(picture.rgb.size());
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = m - x; break;
                case 3: sx = m - x, sy = m - y; break;
                case 4: sy = m - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = m - x; break;      // rotate 90 degrees clockwise
                case 7: sx = m - y, sy = m - x; break;
                case 8: sx = m - y, sy = x; break;      // rotate 90 degrees anticlockwise
            }
            std::memcpy(&out[(static_cast<size_t>(y) * n + x) * 3],
                        &picture.rgb[(static_cast<size_t>(sy) * n + sx) * 3], 3 * sizeof(float));
        }
    }
    picture.rgb.swap(out);
}

}  // namespace evgpack
