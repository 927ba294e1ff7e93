// Photo decoding and reduction for the pack tool. libjpeg and libpng report fatal errors by
// longjmp; each decoder keeps its C++ objects outside the jumped-over frames.
#include "builder/photo_import.h"

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "media/rgb565.h"
#include "builder/colour_match.h"
#include "builder/exif.h"

namespace evgpack {

PhotoLimits photo_limits;

namespace {

// Allocation helpers that turn std::bad_alloc into false, for code between setjmp and the
// end of a decode (an exception must not leave libjpeg's or libpng's state behind).
template <typename T>
bool sized(std::vector<T>& v, size_t n) noexcept {
    try {
        v.resize(n);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

class SquareReducer;
SquareReducer* new_reducer(int width, int height, int dst) noexcept;

std::string too_large(uint64_t width, uint64_t height) {
    return "photo too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels; at most " +
           std::to_string(photo_limits.side) + " on a side and " + std::to_string(photo_limits.pixels / 1000000) +
           " million in all)";
}

std::string needs_too_much(uint64_t bytes) {
    return "photo needs " + std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB to decode (at most " +
           std::to_string(photo_limits.decode_bytes >> 20) + " MB)";
}

bool size_acceptable(uint64_t width, uint64_t height) {
    return width <= photo_limits.side && height <= photo_limits.side && width * height <= photo_limits.pixels;
}

// Area-average reduction of a box of a streamed image to dst_w x dst_h pixels: the centred
// square for a pack picture, the whole image for a poster's target. Each axis maps source
// interval [i, i+1) onto destination intervals of length box/dst; a source pixel contributes to
// every destination pixel it overlaps, by the overlap.
class SquareReducer {
public:
    // The centred square of a width x height image to dst x dst.
    SquareReducer(int width, int height, int dst)
        : SquareReducer((width - std::min(width, height)) / 2, (height - std::min(width, height)) / 2,
                        std::min(width, height), std::min(width, height), dst, dst) {}
    // The box (x, y, w, h) to dst_w x dst_h.
    SquareReducer(int x, int y, int w, int h, int dst_w, int dst_h)
        : dst_(dst_w), dst_h_(dst_h), side_(w), side_h_(h), crop_x_(x), crop_y_(y) {
        taps_ = make_taps(w, dst_w);
        taps_y_ = w == h && dst_w == dst_h ? taps_ : make_taps(h, dst_h);
        acc_.assign(static_cast<size_t>(dst_w) * dst_h * 3, 0.0f);
        row_.assign(static_cast<size_t>(dst_w) * 3, 0.0f);
    }

    // One source row of linear RGB: the `side()` pixels of the box from `left()`.
    void add_row(int y, const float* src) {
        int i = y - crop_y_;
        if (i < 0 || i >= side_h_) return;
        std::fill(row_.begin(), row_.end(), 0.0f);
        for (const Tap& t : taps_) {
            row_[t.dst * 3 + 0] += t.weight * src[t.src * 3 + 0];
            row_[t.dst * 3 + 1] += t.weight * src[t.src * 3 + 1];
            row_[t.dst * 3 + 2] += t.weight * src[t.src * 3 + 2];
        }
        // Vertical taps of source row i, from the table sorted by source.
        auto first = std::lower_bound(taps_y_.begin(), taps_y_.end(), i,
                                      [](const Tap& t, int v) { return t.src < v; });
        for (auto t = first; t != taps_y_.end() && t->src == i; ++t) {
            float* out = &acc_[static_cast<size_t>(t->dst) * dst_ * 3];
            for (int k = 0; k < dst_ * 3; ++k) out[k] += t->weight * row_[k];
        }
    }

    int top() const { return crop_y_; }
    int bottom() const { return crop_y_ + side_h_; }
    int left() const { return crop_x_; }
    int side() const { return side_; }

    LinearPicture finish() {
        LinearPicture out;
        out.size = dst_;
        out.rgb = std::move(acc_);
        return out;
    }
    LinearImage finish_image() {
        LinearImage out;
        out.width = dst_, out.height = dst_h_;
        out.rgb = std::move(acc_);
        return out;
    }

private:
    struct Tap {
        int src, dst;
        float weight;
    };
    static std::vector<Tap> make_taps(int n, int dst) {
        std::vector<Tap> taps;
        double scale = static_cast<double>(dst) / n;  // destination pixels per source pixel
        for (int i = 0; i < n; ++i) {
            double a = i * scale, b = (i + 1) * scale;
            for (int d = static_cast<int>(a); d < dst && d < b; ++d) {
                double overlap = std::min(b, d + 1.0) - std::max(a, static_cast<double>(d));
                if (overlap > 0) taps.push_back(Tap{i, d, static_cast<float>(overlap)});
            }
        }
        return taps;
    }
    int dst_, dst_h_, side_, side_h_, crop_x_, crop_y_;
    std::vector<Tap> taps_, taps_y_;  // sorted by src
    std::vector<float> acc_, row_;
};

SquareReducer* new_reducer(int width, int height, int dst) noexcept {
    try {
        return new SquareReducer(width, height, dst);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// What a decode is reduced to: `across` 0 for a pack picture (the centred square at 240), else
// the whole photo at `across` columns as shown (after orientation), rows from its aspect ratio.
struct Shape {
    int across = 0, max_down = 0;  // max_down: more rows than this are refused
    int dst_w = 0, dst_h = 0;      // whole photos: the size before orientation (whole_size)
};

bool swaps_axes(int orientation) { return orientation >= 5 && orientation <= 8; }

// Sets shape.dst_w and dst_h for a width x height photo; false when it would be too tall.
bool whole_size(Shape& shape, uint64_t width, uint64_t height, int orientation, std::string& error) {
    const bool swap = swaps_axes(orientation);
    const uint64_t shown_w = swap ? height : width, shown_h = swap ? width : height;
    const uint64_t down = std::max<uint64_t>(1, (shape.across * shown_h + shown_w / 2) / std::max<uint64_t>(shown_w, 1));
    if (down > static_cast<uint64_t>(shape.max_down)) {
        error = "photo too tall: " + std::to_string(down) + " rows for " + std::to_string(shape.across) +
                " columns (at most " + std::to_string(shape.max_down) + ")";
        return false;
    }
    shape.dst_w = swap ? static_cast<int>(down) : shape.across;
    shape.dst_h = swap ? shape.across : static_cast<int>(down);
    return true;
}

SquareReducer* new_reducer(int width, int height, const Shape& shape) noexcept {
    if (shape.across == 0) return new_reducer(width, height, PICTURE_EDGE);
    try {
        return new SquareReducer(0, 0, width, height, shape.dst_w, shape.dst_h);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Applies EXIF orientation 1..8 to a width x height image (the display transform of that tag).
void orient_image(LinearImage& image, int orientation) {
    if (orientation <= 1 || orientation > 8) return;
    const bool swap = swaps_axes(orientation);
    const int w = image.width, h = image.height, ow = swap ? h : w, oh = swap ? w : h;
    std::vector<float> out(image.rgb.size());
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;
                case 3: sx = w - 1 - x, sy = h - 1 - y; break;
                case 4: sy = h - 1 - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = h - 1 - x; break;  // rotate 90 degrees clockwise
                case 7: sx = w - 1 - y, sy = h - 1 - x; break;
                case 8: sx = w - 1 - y, sy = x; break;  // rotate 90 degrees anticlockwise
            }
            std::memcpy(&out[(static_cast<size_t>(y) * ow + x) * 3], &image.rgb[(static_cast<size_t>(sy) * w + sx) * 3],
                        3 * sizeof(float));
        }
    image.rgb.swap(out);
    image.width = ow, image.height = oh;
}

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char damage[JMSG_LENGTH_MAX];  // the first warning that means lost picture data, or ""
};

void jpeg_error_exit(j_common_ptr cinfo) {
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// libjpeg carries on after these warnings, filling what it could not decode with grey: the
// data ends before the last block, a marker or a bad code cuts a scan, a restart is lost.
// Others (extra bytes between markers, odd progression) lose nothing and stay quiet.
void jpeg_note_damage(j_common_ptr cinfo, int level) {
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    const int code = cinfo->err->msg_code;
    if (level >= 0 || err->damage[0]) return;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_MUST_RESYNC)
        (*cinfo->err->format_message)(cinfo, err->damage);
}

void jpeg_errors_init(jpeg_decompress_struct& cinfo, JpegError& err) {
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_error_exit;
    err.mgr.emit_message = jpeg_note_damage;
    err.message[0] = err.damage[0] = '\0';
}

// Bytes libjpeg keeps for the whole image when it must (progressive or multi-scan files): one
// 64-coefficient block of 2-byte values per 8 x 8 block of each component, padded to whole MCUs.
uint64_t jpeg_whole_image_bytes(const jpeg_decompress_struct& cinfo) {
    if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&cinfo))) return 0;
    uint64_t total = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        const uint64_t h = static_cast<uint64_t>(comp.h_samp_factor), v = static_cast<uint64_t>(comp.v_samp_factor);
        const uint64_t w_blocks = (comp.width_in_blocks + h - 1) / h * h;
        const uint64_t h_blocks = (comp.height_in_blocks + v - 1) / v * v;
        total += w_blocks * h_blocks * DCTSIZE2 * sizeof(JCOEF);
    }
    return total;
}

struct JpegWork {
    std::vector<uint8_t> line;
    std::vector<float> linear;
    int orientation = 1;
};

PhotoStatus import_jpeg(const uint8_t* data, size_t size, Shape shape, LinearPicture& out, LinearImage& whole_out,
                        std::string& error) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    JpegWork work;
    SquareReducer* volatile reducer = nullptr;  // survives the longjmp
    jpeg_errors_init(cinfo, err);
    if (setjmp(err.jump)) {
        delete reducer;
        jpeg_destroy_decompress(&cinfo);
        error = std::string("corrupt JPEG data: ") + err.message;
        return PHOTO_CORRUPT_JPEG;
    }
    // Every failure after this point leaves through here, with libjpeg's memory released.
    auto refuse = [&](PhotoStatus status, const std::string& reason) {
        delete reducer;
        jpeg_destroy_decompress(&cinfo);
        error = reason;
        return status;
    };
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
    if (!size_acceptable(cinfo.image_width, cinfo.image_height))
        return refuse(PHOTO_TOO_LARGE, too_large(cinfo.image_width, cinfo.image_height));
    // A progressive file keeps all its coefficients in memory whatever the output scale; a
    // few hundred bytes can claim gigabytes. libjpeg is held to the same budget (it then stops
    // with an error instead of allocating), as a second guard.
    const uint64_t whole = jpeg_whole_image_bytes(cinfo);
    if (whole > photo_limits.decode_bytes) return refuse(PHOTO_DECODE_TOO_LARGE, needs_too_much(whole));
    cinfo.mem->max_memory_to_use = static_cast<long>(photo_limits.decode_bytes);
    // Decode at the smallest scale that still gives at least 240 pixels on the short side
    // (or the whole photo's reduced size).
    unsigned short_side = std::min(cinfo.image_width, cinfo.image_height);
    if (shape.across && !whole_size(shape, cinfo.image_width, cinfo.image_height, work.orientation, error))
        return refuse(PHOTO_TOO_LARGE, error);
    const unsigned need_w = shape.across ? shape.dst_w : PICTURE_EDGE, need_h = shape.across ? shape.dst_h : PICTURE_EDGE;
    const unsigned have_w = shape.across ? cinfo.image_width : short_side, have_h = shape.across ? cinfo.image_height : short_side;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    for (unsigned denom : {8u, 4u, 2u}) {
        if ((have_w + denom - 1) / denom >= need_w && (have_h + denom - 1) / denom >= need_h) {
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
    // Row buffers at the output (scaled) width; the linear row holds only the centred square.
    reducer = new_reducer(width, height, shape);
    if (!reducer || !sized(work.line, static_cast<size_t>(width) * channels) ||
        !sized(work.linear, static_cast<size_t>(reducer->side()) * 3))
        return refuse(PHOTO_NO_MEMORY, "not enough memory to decode the photo");
    const int left = reducer->left(), side = reducer->side();
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row = work.line.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
        // Damaged data ends the decode at once (the rest would be made-up grey, and a header
        // claiming a huge picture over little data would cost seconds of it).
        if (err.damage[0]) return refuse(PHOTO_DAMAGED_JPEG, std::string("damaged JPEG data: ") + err.damage);
        if (y < reducer->top() || y >= reducer->bottom()) continue;
        for (int x = 0; x < side; ++x) {
            const uint8_t* p = &work.line[static_cast<size_t>(left + x) * channels];
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
    if (err.damage[0]) return refuse(PHOTO_DAMAGED_JPEG, std::string("damaged JPEG data: ") + err.damage);
    jpeg_finish_decompress(&cinfo);  // a missing end marker after complete data is no damage
    jpeg_destroy_decompress(&cinfo);
    if (shape.across) {
        whole_out = reducer->finish_image();
        delete reducer;
        orient_image(whole_out, work.orientation);
        return PHOTO_OK;
    }
    out = reducer->finish();
    delete reducer;
    orient_picture(out, work.orientation);
    out.source_short_side = static_cast<int>(short_side);
    return PHOTO_OK;
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

// How a PNG decode failed. It lives in the caller's frame, outside the one that libpng's
// longjmp returns to, so what is written into it before the jump is still there after it.
struct PngOutcome {
    PhotoStatus status;
    std::string& error;
};

// libpng's own errors (the data ending early among them) are corrupt data; a refusal of ours
// (png_refuse) has set its status and reason already and only needs the jump.
void png_error_exit(png_structp png, png_const_charp message) {
    PngOutcome* outcome = static_cast<PngOutcome*>(png_get_error_ptr(png));
    if (outcome->status == PHOTO_OK) {
        outcome->status = PHOTO_CORRUPT_PNG;
        outcome->error = std::string("corrupt PNG data: ") + message;
    }
    png_longjmp(png, 1);
}

// Ends the decode with the reason already in outcome.error. It jumps, so the caller builds the
// reason in a statement of its own: a temporary alive across the jump would never be freed.
[[noreturn]] void png_refuse(png_structp png, PngOutcome& outcome, PhotoStatus status) {
    outcome.status = status;
    png_error(png, photo_status_text(status));
}

void png_quiet(png_structp, png_const_charp) {}

struct PngWork {
    std::vector<uint8_t> image;  // whole image, interlaced files only
    std::vector<uint8_t> line;
    std::vector<float> linear;
};

// true, or false with outcome filled in.
bool import_png(const uint8_t* data, size_t size, Shape shape, LinearPicture& out, LinearImage& whole,
                PngOutcome& outcome) {
    PngSource src{data, size, 0};
    PngWork work;
    SquareReducer* volatile reducer = nullptr;  // survives the longjmp
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &outcome, png_error_exit, png_quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(&png, &info, nullptr);
        outcome.status = PHOTO_NO_MEMORY;
        outcome.error = "out of memory";
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
    if (!size_acceptable(width, height)) {
        outcome.error = too_large(width, height);
        png_refuse(png, outcome, PHOTO_TOO_LARGE);
    }
    int colour = png_get_color_type(png, info);
    png_set_expand(png);  // palette to RGB, low-bit grey to 8 bits, tRNS to alpha
    png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    // Alpha only when the file has some: a filler byte a pixel and its multiply took a sixth of
    // the time of reading an opaque 2048 x 1536 PNG.
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    const int channels = alpha ? 4 : 3;
    if (alpha) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * channels) png_error(png, "unexpected row layout");
    const size_t row_bytes = static_cast<size_t>(width) * channels;
    // Interlaced rows arrive in several passes, so the whole image is held: within the budget.
    if (passes > 1 && static_cast<uint64_t>(row_bytes) * height > photo_limits.decode_bytes) {
        outcome.error = needs_too_much(static_cast<uint64_t>(row_bytes) * height);
        png_refuse(png, outcome, PHOTO_DECODE_TOO_LARGE);
    }
    if (shape.across && !whole_size(shape, width, height, 1, outcome.error)) png_refuse(png, outcome, PHOTO_TOO_LARGE);
    reducer = new_reducer(static_cast<int>(width), static_cast<int>(height), shape);
    if (!reducer || !sized(work.line, row_bytes) || !sized(work.linear, static_cast<size_t>(reducer->side()) * 3) ||
        (passes > 1 && !sized(work.image, row_bytes * height))) {
        outcome.error = "not enough memory to decode the photo";
        png_refuse(png, outcome, PHOTO_NO_MEMORY);
    }
    float linear[256];
    for (int v = 0; v < 256; ++v) linear[v] = static_cast<float>(srgb_to_linear(static_cast<uint8_t>(v)));
    auto feed = [&](int y, const uint8_t* row) {
        if (y < reducer->top() || y >= reducer->bottom()) return;
        const uint8_t* p = row + static_cast<size_t>(reducer->left()) * channels;
        float* to = work.linear.data();
        if (!alpha) {
            for (int i = 0; i < reducer->side() * 3; ++i) to[i] = linear[p[i]];
        } else {
            for (int x = 0; x < reducer->side(); ++x) {
                // Alpha is composited over black in linear light.
                const float a = p[x * 4 + 3] / 255.0f;
                for (int k = 0; k < 3; ++k) to[x * 3 + k] = linear[p[x * 4 + k]] * a;
            }
        }
        reducer->add_row(y, to);
    };
    if (passes > 1) {
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
    if (shape.across) whole = reducer->finish_image();
    else out = reducer->finish();
    delete reducer;
    out.source_short_side = static_cast<int>(std::min(width, height));
    return true;
}

}  // namespace

const char* photo_status_text(int status) {
    switch (status) {
        case PHOTO_OK: return "OK";
        case PHOTO_NOT_JPEG_OR_PNG: return "not a JPEG or PNG file";
        case PHOTO_CORRUPT_JPEG: return "corrupt JPEG data";
        case PHOTO_DAMAGED_JPEG: return "damaged JPEG data";
        case PHOTO_CORRUPT_PNG: return "corrupt PNG data";
        case PHOTO_TOO_LARGE: return "photo too large";
        case PHOTO_DECODE_TOO_LARGE: return "photo needs too much memory to decode";
        case PHOTO_NO_MEMORY: return "not enough memory to decode the photo";
        default: return "unknown error";
    }
}

bool photo_signature(const uint8_t* data, size_t size) {
    return (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) ||
           (size >= 8 && png_sig_cmp(data, 0, 8) == 0);
}

namespace {

PhotoStatus import_any(const uint8_t* data, size_t size, const Shape& shape, LinearPicture& out, LinearImage& whole,
                       std::string& error) {
    try {
        if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
            return import_jpeg(data, size, shape, out, whole, error);
        if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) {
            PngOutcome outcome{PHOTO_OK, error};
            return import_png(data, size, shape, out, whole, outcome) ? PHOTO_OK : outcome.status;
        }
    } catch (const std::bad_alloc&) {
        // Only the steps after a decode allocate here (orientation, the result).
        error = "not enough memory to decode the photo";
        return PHOTO_NO_MEMORY;
    }
    error = "not a JPEG or PNG file";
    return PHOTO_NOT_JPEG_OR_PNG;
}

}  // namespace

PhotoStatus import_photo(const uint8_t* data, size_t size, LinearPicture& out, std::string& error) {
    LinearImage unused;
    return import_any(data, size, Shape{}, out, unused, error);
}

PhotoStatus import_photo_whole(const uint8_t* data, size_t size, int across, int max_down, LinearImage& out,
                               std::string& error) {
    LinearPicture unused;
    Shape shape;
    shape.across = std::max(across, 1);
    shape.max_down = max_down;
    return import_any(data, size, shape, unused, out, error);
}

std::string jpeg_damage(const uint8_t* data, size_t size) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    std::vector<uint8_t> line;
    jpeg_errors_init(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return err.message;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.mem->max_memory_to_use = static_cast<long>(photo_limits.decode_bytes);
    cinfo.scale_denom = 8;  // every block is still entropy-decoded, at a fraction of the work
    jpeg_start_decompress(&cinfo);
    if (sized(line, static_cast<size_t>(cinfo.output_width) * cinfo.output_components)) {
        while (cinfo.output_scanline < cinfo.output_height && !err.damage[0]) {
            JSAMPROW row = line.data();
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    std::string damage = err.damage;
    jpeg_destroy_decompress(&cinfo);
    return damage;
}

LinearPicture reduce_picture(const LinearPicture& in, int size) {
    SquareReducer reducer(in.size, in.size, size);
    for (int y = 0; y < in.size; ++y) reducer.add_row(y, &in.rgb[static_cast<size_t>(y) * in.size * 3]);  // square: no crop
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
    LinearImage square{picture.size, picture.size, std::move(picture.rgb)};
    orient_image(square, orientation);
    picture.rgb = std::move(square.rgb);
}

}  // namespace evgpack
