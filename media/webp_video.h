// Animated WebP from RGB565 screens: each screen is enlarged by an integer factor (every pixel
// a square) and given to libwebp's animation encoder with a fixed frame duration. The video
// recorder (app/video_record) and its tests call it; it never prints.
#pragma once
#include <cstddef>
#include <cstdint>

struct WebpVideo;

// An encoder for width x height screens shown at `scale` (1-8), frames `frame_ms` apart.
// Null when the sizes are out of range or libwebp refuses its set-up.
WebpVideo* webp_video_open(int width, int height, int scale, int frame_ms);

// Encodes `screen` (width x height RGB565, rows packed) as the frame shown from
// frame_index * frame_ms on. Indexes rise; a skipped index lengthens the frame before it.
// False when the encoder fails (the video is then lost: finish reports it).
bool webp_video_add(WebpVideo* video, const uint16_t* screen, uint32_t frame_index);

// Ends the last frame at end_index * frame_ms, assembles the file and writes it to `path`
// through a new temporary file in the same folder, renamed over `path` once complete. Frees
// the encoder either way. False with a one-line reason in `error` when nothing was written.
bool webp_video_finish(WebpVideo* video, uint32_t end_index, const char* path, char* error, size_t size);

// Writes `size` bytes to `path` the same way (a new file "<path>.<pid>.part", fsync, rename).
// False with errno set when any step fails; the temporary file is then removed.
bool write_file_atomic(const char* path, const void* data, size_t size);
