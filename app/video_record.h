// The video of a session: every presented device screen goes to an animated WebP (libwebp) or,
// for a name ending in .mp4, to ffmpeg through a pipe; and --frames ends the run after N
// frames. main starts it before runtime_init; the file is finished when the process exits, and a
// video that could not be written ends the run with status 1.
#pragma once
#include <cstdint>

struct VideoSettings {
    const char* path;   // OUT.webp or OUT.mp4; null = no video (only the frame limit)
    int scale;          // 1-8; 0 = the window's scale at the first frame
    uint32_t frames;    // stop after this many frames; 0 = no limit
    bool threaded;      // encode on a worker thread (a window is shown) or in line (headless)
};

// The file kind a video name asks for: 1 WebP, 2 MP4 (by extension, any case), 0 neither.
int video_kind(const char* path);

// Whether a file can be made beside `path` (its temporary name is tried); errno says why not.
bool video_path_writable(const char* path);

// Whether `program` is an executable file in one of the PATH folders.
bool program_on_path(const char* program);

// Installs the present hook and the exit handler that finishes the file. One line on standard
// error when the file cannot be written or the encoder falls behind.
void video_record_start(const VideoSettings& settings);

// Finishes the file (the exit handler calls it; later calls do nothing). False when the video
// could not be written (the reason is on standard error).
bool video_record_finish();
