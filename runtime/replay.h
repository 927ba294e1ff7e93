// Scripted input for whole-program runs and bug reports: --replay feeds timed events from a text
// file into SDL's event queue at the frame they belong to, --record writes the user's input in
// the same format, and F12 saves a screenshot. The frame pump calls the two replay_* hooks.
//
// File format, one event per line, '#' starts a comment; F counts frame_pump calls from 1:
//   F move X Y | F down | F up | F tap X Y | F key NAME down|up | F shot FILE.png | F close
// NAME is one of up down left right return rshift escape p; X, Y are device pixels.
#pragma once
#include <cstdint>

#include "runtime/screen_placement.h"

union SDL_Event;

// Parses a script. On success returns 1 and replaces the loaded script; on a malformed line
// returns 0, keeps the old script and writes "LINE: reason" into error.
int replay_parse(const char* text, char* error, int error_size);
// Reads and parses a script file; errors are "FILE:LINE: reason" (or "FILE: reason").
int replay_load(const char* path, char* error, int error_size);
// Drops the loaded script.
void replay_clear();
// Steps of the loaded script not yet played.
int replay_pending();

// Starts recording to path (replacing the file). 1 on success.
int record_open(const char* path);
void record_close();

// Called by frame_pump after composing frame `frame`, before the events are drained: pushes this
// frame's scripted events and writes its shots. Pen positions are device pixels, placed in the
// window as `placement` shows the screen.
void replay_before_events(uint32_t frame, const ScreenPlacement& placement);
// Called by frame_pump for every event it drains in frame `frame`: records it (window pixels
// mapped back to device pixels through `placement`), and saves a screenshot on F12.
void replay_observe_event(uint32_t frame, const SDL_Event& event, const ScreenPlacement& placement);

// Writes the Framebuffer to the next free "evergreen-NNNN.png" in the data folder; the name
// written goes to path (may be null). 1 on success.
int screenshot_save(char* path, int path_size);
