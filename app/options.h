// The evergreen command line: --fps, --headless, --replay, --record, --demo, --help,
// --version.
// main parses it, applies the first steps before runtime_init and --fps after it.
#pragma once
#include <cstdint>

struct Options {
    uint16_t fps;              // 0 = not given
    uint8_t headless;          // SDL's dummy video driver, no window
    const char* replay_path;   // null = none
    const char* record_path;   // null = none
    const char* demo;          // null = the viewer; "strokes" = the handwriting demo
    const char* folder;        // where packs and Evergreen.sav are; null = the current folder
};

// Returns -1 to go on, or the exit status to end with: 0 after --help or --version (printed to
// standard output), 2 for a bad command line (message and usage to standard error).
int options_parse(int argc, char** argv, Options* options);

// Before runtime_init: selects the dummy driver, loads the replay script and opens the record
// file. Returns -1 to go on or 2 after printing why it cannot (a malformed script gives its
// line number).
int options_prepare(const Options& options);

// After runtime_init: the frame rate.
void options_apply(const Options& options);

void options_print_usage(bool to_stderr);
