// The evergreen command line: --fps, --headless, --replay, --record, --demo, --library, --help,
// --version, and the video options --video, --video-scale, --auto, --picture, --frames, --seed.
// main parses it, applies the first steps before runtime_init and --fps after it.
#pragma once
#include <cstdint>

struct Options {
    uint16_t fps;              // 0 = not given
    uint8_t headless;          // SDL's dummy video driver, no window
    const char* replay_path;   // null = none
    const char* record_path;   // null = none
    const char* demo;          // null = the viewer; "strokes" = the handwriting demo
    const char* folder;        // a folder of packs, or one pack (*.evg); null = the current folder
    uint8_t library;           // the data home instead of the current folder (app/start_folder.h)
    // A video of the run, and runs without a person.
    const char* video_path;    // OUT.webp or OUT.mp4; null = none
    uint8_t video_scale;       // 1-8; 0 = the window's scale
    uint8_t auto_start;        // start in auto mode, skipping the menu and the start choice
    int32_t picture;           // the first picture; -1 = a random one
    uint32_t frames;           // end the run after this many frames; 0 = no limit
    uint8_t has_seed;
    uint32_t seed;             // the random numbers' seed instead of the clock
};

// Returns -1 to go on, or the exit status to end with: 0 after --help or --version (printed to
// standard output), 2 for a bad command line (message and usage to standard error).
int options_parse(int argc, char** argv, Options* options);

// Before runtime_init: sets the data folder (a pack's own folder, the pack then preset and
// checked; the data home for --library or a plain start in the home folder), selects the dummy
// driver or checks the display, loads the replay script, opens the record file and starts the
// video recorder.
// Returns -1 to go on, 1 for a path that is neither folder nor pack (or a file that is no pack),
// a data home that cannot be made or when no window can be opened, 2 for --library with a
// folder and for a bad script or record file, each after one line on standard error (a
// malformed script gives its line number).
int options_prepare(const Options& options);

// After runtime_init: the frame rate and the seed.
void options_apply(const Options& options);

void options_print_usage(bool to_stderr);
