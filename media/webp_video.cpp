// Animated WebP through libwebp's WebPAnimEncoder (libwebpmux).
#include "media/webp_video.h"

#include <fcntl.h>
#include <unistd.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "media/rgb565.h"

struct WebpVideo {
    WebPAnimEncoder* encoder;
    WebPConfig config;
    WebPPicture picture;  // ARGB, width * scale x height * scale, reused for every frame
    int width, height, scale, frame_ms;
    bool failed;
};

namespace {

// Lossy at quality 80 with the fastest method: a 720 x 960 frame must encode well inside the
// 25 ms frame period on one core (method 0 measured about half the time of the default 4, at a
// size the mosaic's fine detail barely tells apart).
constexpr float QUALITY = 80.0f;
constexpr int METHOD = 0;

// One screen row widened to ARGB and repeated `scale` times across.
void widen_row(const uint16_t* src, int width, int scale, uint32_t* out) {
    for (int x = 0; x < width; ++x) {
        uint8_t rgb[3];
        rgb565_unpack(src[x], rgb);
        const uint32_t argb = 0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
        for (int k = 0; k < scale; ++k) *out++ = argb;
    }
}

}  // namespace

WebpVideo* webp_video_open(int width, int height, int scale, int frame_ms) {
    if (width < 1 || height < 1 || scale < 1 || scale > 8 || frame_ms < 1 || width * scale > 16383 ||
        height * scale > 16383)
        return nullptr;
    WebpVideo* video = new WebpVideo{};
    video->width = width, video->height = height, video->scale = scale, video->frame_ms = frame_ms;
    WebPAnimEncoderOptions options;
    bool ok = WebPAnimEncoderOptionsInit(&options) && WebPConfigInit(&video->config) &&
              WebPConfigPreset(&video->config, WEBP_PRESET_DEFAULT, QUALITY) && WebPPictureInit(&video->picture);
    if (ok) {
        video->config.method = METHOD;
        options.anim_params.loop_count = 0;  // play on repeat, like the journey itself
        video->picture.use_argb = 1;
        video->picture.width = width * scale;
        video->picture.height = height * scale;
        ok = WebPValidateConfig(&video->config) && WebPPictureAlloc(&video->picture);
    }
    if (ok) video->encoder = WebPAnimEncoderNew(width * scale, height * scale, &options);
    if (!ok || !video->encoder) {
        WebPPictureFree(&video->picture);
        delete video;
        return nullptr;
    }
    return video;
}

bool webp_video_add(WebpVideo* video, const uint16_t* screen, uint32_t frame_index) {
    if (video->failed) return false;
    WebPPicture& picture = video->picture;
    const int out_width = video->width * video->scale;
    for (int y = 0; y < video->height; ++y) {
        uint32_t* row = picture.argb + static_cast<size_t>(y) * video->scale * picture.argb_stride;
        widen_row(screen + static_cast<size_t>(y) * video->width, video->width, video->scale, row);
        for (int k = 1; k < video->scale; ++k)
            std::memcpy(row + static_cast<size_t>(k) * picture.argb_stride, row, out_width * sizeof(uint32_t));
    }
    const int timestamp = static_cast<int>(frame_index * static_cast<uint32_t>(video->frame_ms));
    if (!WebPAnimEncoderAdd(video->encoder, &picture, timestamp, &video->config)) video->failed = true;
    return !video->failed;
}

bool webp_video_finish(WebpVideo* video, uint32_t end_index, const char* path, char* error, size_t size) {
    WebPData data;
    WebPDataInit(&data);
    const int end = static_cast<int>(end_index * static_cast<uint32_t>(video->frame_ms));
    bool ok = !video->failed && WebPAnimEncoderAdd(video->encoder, nullptr, end, nullptr) &&
              WebPAnimEncoderAssemble(video->encoder, &data);
    if (!ok) {
        const char* why = WebPAnimEncoderGetError(video->encoder);
        std::snprintf(error, size, "the video encoder failed (%s)", why && *why ? why : "no frames");
    } else if (!write_file_atomic(path, data.bytes, data.size)) {
        std::snprintf(error, size, "cannot write %s: %s", path, std::strerror(errno));
        ok = false;
    }
    WebPDataClear(&data);
    WebPAnimEncoderDelete(video->encoder);
    WebPPictureFree(&video->picture);
    delete video;
    return ok;
}

bool write_file_atomic(const char* path, const void* data, size_t size) {
    char temp[4096];
    if (std::snprintf(temp, sizeof temp, "%s.%d.part", path, static_cast<int>(getpid())) >= int(sizeof temp)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    bool ok = true;
    while (ok && size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) bytes += n, size -= static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp, path) == 0;
    if (!ok) {
        const int why = errno ? errno : saved;
        ::unlink(temp);
        errno = why;
    }
    return ok;
}
