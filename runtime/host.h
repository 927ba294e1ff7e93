// The host window and the frame pump: opens the SDL window that shows the device screen (at an
// integer scale, in a window or full screen), paces the application to a fixed frame period,
// and once per frame composes, drains the host events into raw_input, presents, measures the
// frame rate, advances the frame timers and derives the input state. Applications call runtime_init once, then frame_yield
// once at the end of every loop iteration.
#pragma once
#include <cstdint>
#include <cstddef>

#include "runtime/frame_rate.h"  // the measured frame rate and the frame timers the pump advances

struct SDL_Surface;

struct WindowRect {
    int32_t left, top, right, bottom;
};

struct HostWindow {
    SDL_Surface* surface;   // the video surface; re-created at the client size on each snap
    unsigned long window;   // native (X11) window id, 0 when not available
    uint8_t pixel_double;   // 0 at 1:1 (240 x 320), 1 when enlarged (480 x 640 at scale 2)
    int16_t frame_extra_w;  // outer window size minus client size, measured on the first pump
    int16_t frame_extra_h;
    WindowRect window_rect;  // outer window rectangle as last read
    uint8_t scale;           // each device pixel is a scale x scale square, 1..HOST_MAX_SCALE
    uint8_t full_screen;     // the surface covers the desktop, the screen centred on black
    uint8_t window_scale;    // the windowed scale that leaving full screen goes back to
    int16_t left, top;       // the device screen's top-left corner in the surface
    int32_t desktop_w, desktop_h;  // read before the first video mode; 0 when not known
};
extern HostWindow host_window;

constexpr int HOST_MAX_SCALE = 8;
// The scale asked for on the command line (1..HOST_MAX_SCALE), read by host_init and the first
// pump; 0 picks the largest whose window fits 85% of the desktop (1 when its size is unknown).
extern uint8_t host_scale_request;
// The current integer scale of the shown device screen (what a recorder of the window needs).
int host_window_scale();

// Frame pump state. frame_hook runs at the start of every pump (the application may set it
// at any time); show_fps writes the frame rate into the console layer when one exists.
extern void (*frame_hook)();
// When set, Escape and the close button call it instead of ending the process at once (the
// viewer's pack build stops its worker and removes its file first, then ends the process).
extern void (*quit_hook)();
// When set, present_frame calls it last with the 240 x 320 device screen it has just shown
// (the video recorder takes its frames from here, whatever draws them).
extern void (*present_hook)(const uint16_t* screen);
extern uint8_t pump_started;
extern uint32_t next_deadline;   // SDL_GetTicks time of the next presentation
extern uint32_t period_ms;       // frame period, 25 at start
extern uint32_t fps_setting;     // requested frame rate, 40 at start
extern uint8_t show_fps;
extern uint32_t pump_frame_count;  // frame_pump calls so far (replay frames count from 1)

// 0 on success, 1 when SDL or the video mode could not be set up (nothing else is initialised
// then and no frame may be pumped).
int host_init();
int runtime_init();

// Before host_init, for a program that wants a real window: unless SDL_VIDEODRIVER names a
// driver, selects SDL's X11 driver after checking that the X display opens. SDL 1.2 would
// otherwise fall back to a text-mode driver and draw escape codes into the terminal. Returns 1,
// or 0 after writing one line to `message` (no DISPLAY, or the display does not open).
int host_video_check(char* message, size_t size);

// One frame: compose depths last_depth down to first_depth, handle host events, wait for the
// deadline, present, measure, update input. Escape or closing the window ends the process
// with status 0 from in here; F11 or Alt+Return toggles full screen, and a resize snaps the
// window: 1:1 up to 359 pixels wide, else the largest scale that fits (at least 2).
int frame_pump(uint16_t first_depth, uint16_t last_depth);
void frame_yield();  // frame_pump(0, 1023)

// Frame rate 1..1000 (values outside are clamped); takes effect from the next deadline.
void set_frame_rate(uint16_t fps);

// Copies the Framebuffer to the surface at host_window's scale and corner, and flips.
void present_frame();

// Asks the window to close: the next frame_pump ends the process.
void host_close_window();
// host_close_window, then exit(0).
[[noreturn]] void host_quit();

// Calls step with levels rising from 0 to 32 over `duration` ms of timer 15 (mode 2), ending
// with exactly 32. step is expected to call frame_yield.
void run_transition(uint16_t duration, void (*step)(uint8_t level));

// Caption for a program path: the file name without its last extension ("a/b.c/viewer.bin"
// gives "viewer"). Writes at most size - 1 characters.
void caption_from_path(const char* path, char* caption, int size);

// argv[0], used for the caption when /proc/self/exe cannot be read. Set by main.
extern const char* host_program_path;
