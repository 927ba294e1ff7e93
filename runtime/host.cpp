// Host window and frame pump over SDL 1.2. The device screen is shown at an integer scale, in a
// client area of exactly that size or full screen centred on black: instead of moving an outer
// window, the video mode is re-created at the new size whenever the window has to snap.
#include "runtime/host.h"

#include <SDL/SDL.h>
#include <SDL/SDL_syswm.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/console_print.h"
#include "media/gif.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"
#include "runtime/input.h"
#include "runtime/replay.h"
#include "runtime/screen_placement.h"

HostWindow host_window;

void (*frame_hook)() = nullptr;
void (*quit_hook)() = nullptr;
void (*present_hook)(const uint16_t* screen) = nullptr;
uint8_t pump_started = 0;
uint32_t next_deadline = 0;
uint32_t period_ms = 25;
uint32_t fps_setting = 40;
uint8_t show_fps = 1;
uint32_t pump_frame_count = 0;
const char* host_program_path = nullptr;
uint8_t host_scale_request = 0;

namespace {

constexpr uint32_t VIDEO_FLAGS = SDL_HWSURFACE | SDL_RESIZABLE | SDL_DOUBLEBUF;
constexpr uint32_t FULL_SCREEN_FLAGS = SDL_HWSURFACE | SDL_FULLSCREEN | SDL_DOUBLEBUF;
constexpr int SNAP_WIDTH = 359;  // a resize to a wider client area means doubled or more
constexpr int DESKTOP_SHARE = 85;  // percent of the desktop the default window may take

// The X11 connection of the window, when the video driver has one.
SDL_SysWMinfo wm_info;
bool have_x11 = false;

void read_wm_info() {
    SDL_VERSION(&wm_info.version);
    have_x11 = SDL_GetWMInfo(&wm_info) == 1 && wm_info.subsystem == SDL_SYSWM_X11;
    host_window.window = have_x11 ? static_cast<unsigned long>(wm_info.info.x11.wmwindow) : 0;
}

// Reads the outer window rectangle. Without a native window it is the surface itself.
void read_window_rect() {
    WindowRect rect = {0, 0, 0, 0};
    if (host_window.surface) {
        rect.right = host_window.surface->w;
        rect.bottom = host_window.surface->h;
    }
    if (have_x11) {
        wm_info.info.x11.lock_func();
        Display* display = wm_info.info.x11.display;
        XWindowAttributes attributes;
        Window child;
        int x = 0, y = 0;
        if (XGetWindowAttributes(display, wm_info.info.x11.wmwindow, &attributes) &&
            XTranslateCoordinates(display, wm_info.info.x11.wmwindow, attributes.root, 0, 0, &x,
                                  &y, &child)) {
            rect = {x, y, x + attributes.width, y + attributes.height};
        }
        wm_info.info.x11.unlock_func();
    }
    host_window.window_rect = rect;
}

// The largest scale whose screen fits width x height pixels, 0 when not even 1:1 fits.
int scale_to_fit(int32_t width, int32_t height) {
    int scale = HOST_MAX_SCALE;
    while (scale > 0 && (SCREEN_WIDTH * scale > width || SCREEN_MAX_HEIGHT * scale > height)) --scale;
    return scale;
}

// The scale a resize to `width` x `height` snaps to: 1:1 up to SNAP_WIDTH, doubled above it,
// and larger when the new size holds a larger screen whole.
int scale_for_resize(int32_t width, int32_t height) {
    if (width <= SNAP_WIDTH) return 1;
    int scale = scale_to_fit(width, height);
    return scale > 2 ? scale : 2;
}

// The scale of the first window: the one asked for, else the largest that fits in 85% of the
// desktop, else (no desktop size, as under the dummy driver) 1:1.
int first_scale() {
    if (host_scale_request >= 1 && host_scale_request <= HOST_MAX_SCALE) return host_scale_request;
    int scale = scale_to_fit(host_window.desktop_w * DESKTOP_SHARE / 100,
                             host_window.desktop_h * DESKTOP_SHARE / 100);
    return scale > 0 ? scale : 1;
}

void set_placement(int scale, int left, int top) {
    host_window.scale = static_cast<uint8_t>(scale);
    host_window.pixel_double = scale > 1;
    host_window.left = static_cast<int16_t>(left);
    host_window.top = static_cast<int16_t>(top);
}

// Shows the screen at `scale` in a client area of exactly its size by re-creating the video
// mode. Everything stays as it was when the new mode cannot be set.
void set_client_size(int scale) {
    SDL_Surface* surface = SDL_SetVideoMode(SCREEN_WIDTH * scale, SCREEN_MAX_HEIGHT * scale, 16, VIDEO_FLAGS);
    if (!surface) return;
    host_window.surface = surface;
    host_window.full_screen = 0;
    set_placement(scale, 0, 0);
    read_wm_info();
}

// Covers the desktop and shows the screen at the largest scale that fits, centred on black.
// Nothing changes when the desktop size is unknown or the mode cannot be set.
void enter_full_screen() {
    if (host_window.desktop_w <= 0 || host_window.desktop_h <= 0) return;
    SDL_Surface* surface = SDL_SetVideoMode(host_window.desktop_w, host_window.desktop_h, 16, FULL_SCREEN_FLAGS);
    if (!surface) return;
    // The mode granted may differ from the one asked for: place the screen on what we got.
    int scale = scale_to_fit(surface->w, surface->h);
    if (scale == 0) {  // too small for the screen: back to the window as it was
        set_client_size(host_window.scale);
        return;
    }
    host_window.window_scale = host_window.scale;
    host_window.surface = surface;
    host_window.full_screen = 1;
    set_placement(scale, (surface->w - SCREEN_WIDTH * scale) / 2, (surface->h - SCREEN_MAX_HEIGHT * scale) / 2);
    // present_frame only writes the screen's own rectangle: blacken both buffers once.
    for (int i = 0; i < 2; ++i) {
        SDL_FillRect(surface, nullptr, 0);
        SDL_Flip(surface);
    }
    read_wm_info();
}

ScreenPlacement placement() { return {host_window.scale, host_window.left, host_window.top}; }

// F11, or Alt with Return, switches between the window and full screen; it is not a device key.
bool is_full_screen_key(const SDL_Event& event) {
    if (event.type != SDL_KEYDOWN) return false;
    const SDLKey key = event.key.keysym.sym;
    return key == SDLK_F11 || (key == SDLK_RETURN && (event.key.keysym.mod & KMOD_ALT));
}

int key_slot(SDLKey key) {
    switch (key) {
        case SDLK_UP: return KEY_UP;
        case SDLK_DOWN: return KEY_DOWN;
        case SDLK_RIGHT: return KEY_RIGHT;
        case SDLK_LEFT: return KEY_LEFT;
        case SDLK_RETURN: return KEY_RETURN;
        case SDLK_RSHIFT: return KEY_RSHIFT;
        case SDLK_p: return KEY_POSTER;
        default: return -1;
    }
}

// Writes the frame rate into the top-left cells of the console tile layer (nothing while there
// is no console layer). The two blanks clear the digit left over when the rate gets shorter.
void print_frame_rate() { console_print(0, 0, "%d  ", int32_t(fps_value)); }

// Handles one drained event. Returns true for a resize, which the pump snaps after the drain.
bool handle_event(const SDL_Event& event) {
    switch (event.type) {
        case SDL_KEYDOWN: {
            if (event.key.keysym.sym == SDLK_ESCAPE) {
                if (!quit_hook) std::exit(0);
                quit_hook();
                break;
            }
            int slot = key_slot(event.key.keysym.sym);
            if (slot >= 0) raw_input.key_raw[slot] = 1;
            break;
        }
        case SDL_KEYUP: {
            int slot = key_slot(event.key.keysym.sym);
            if (slot >= 0) raw_input.key_raw[slot] = 0;
            break;
        }
        case SDL_MOUSEMOTION: {
            const HostWindow& w = host_window;
            raw_input.pen_x = static_cast<int16_t>(window_to_device(event.motion.x, w.left, w.scale, SCREEN_WIDTH));
            raw_input.pen_y = static_cast<int16_t>(window_to_device(event.motion.y, w.top, w.scale, SCREEN_MAX_HEIGHT));
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button == SDL_BUTTON_LEFT) {
                raw_input.pen_down = 1;
                raw_input.click_state = 1;
            }
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT) {
                // A press and release inside one frame still give one frame with the pen down;
                // the next pump releases it.
                if (raw_input.click_state == 0) raw_input.pen_down = 0;
                else raw_input.click_state = 2;
            }
            break;
        case SDL_QUIT:
            if (!quit_hook) std::exit(0);
            quit_hook();
            break;
        case SDL_VIDEORESIZE:
            return true;
        default:
            break;
    }
    return false;
}

}  // namespace

void caption_from_path(const char* path, char* caption, int size) {
    if (size <= 0) return;
    const char* name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    const char* dot = std::strrchr(name, '.');
    size_t length = dot && dot != name ? static_cast<size_t>(dot - name) : std::strlen(name);
    if (length > static_cast<size_t>(size - 1)) length = static_cast<size_t>(size - 1);
    std::memcpy(caption, name, length);
    caption[length] = '\0';
}

int host_init() {
    screen_height = SCREEN_MAX_HEIGHT;
    std::puts("Loading...");
    const bool first_start = !SDL_WasInit(SDL_INIT_VIDEO);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::printf("Unable to init SDL: %s\n", SDL_GetError());
        return 1;
    }
    std::atexit(SDL_Quit);
    // Only before the first video mode does SDL report the desktop's size; afterwards it
    // reports the window's.
    if (first_start) {
        const SDL_VideoInfo* info = SDL_GetVideoInfo();
        host_window.desktop_w = info ? info->current_w : 0;
        host_window.desktop_h = info ? info->current_h : 0;
    }
    // The window opens doubled, or at once at a larger first scale so that the window manager
    // places it by its final size; the first pump sets the first scale.
    int scale = first_scale() > 2 ? first_scale() : 2;
    host_window.surface = SDL_SetVideoMode(SCREEN_WIDTH * scale, SCREEN_MAX_HEIGHT * scale, 16, VIDEO_FLAGS);
    if (!host_window.surface) {
        std::printf("Unable to set %dx%d video: %s\n", SCREEN_WIDTH * scale, SCREEN_MAX_HEIGHT * scale,
                    SDL_GetError());
        return 1;
    }
    host_window.full_screen = 0;
    host_window.window_scale = static_cast<uint8_t>(scale);
    set_placement(scale, 0, 0);

    char path[1024] = "";
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length > 0) path[length] = '\0';
    else if (host_program_path) std::snprintf(path, sizeof(path), "%s", host_program_path);
    char caption[1024];
    caption_from_path(path, caption, sizeof(caption));
    SDL_WM_SetCaption(caption, nullptr);

    read_wm_info();
    return 0;
}

int host_window_scale() { return host_window.scale; }

int host_video_check(char* message, size_t size) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && *driver) return 1;  // the user's choice, even a text-mode one
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::snprintf(message, size, "no display to open a window on (DISPLAY is not set)");
        return 0;
    }
    Display* x = XOpenDisplay(nullptr);
    if (!x) {
        std::snprintf(message, size, "cannot open the display %s", display);
        return 0;
    }
    XCloseDisplay(x);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    return 1;
}

int runtime_init() {
    int status = host_init();
    if (status != 0) return status;
    pen_init();
    sprites_init();  // sprite table, fade and clip defaults, background fill on
    gif_timed_frame_hook = frame_yield;  // a timed GIF frame is shown as it is decoded
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return 0;
}

int frame_pump(uint16_t first_depth, uint16_t last_depth) {
    ++pump_frame_count;
    if (frame_hook) frame_hook();

    if (!pump_started) {
        pump_started = 1;
        next_deadline = SDL_GetTicks() + 32;
        last_frame_ms = 25;
        fps_double_once = 1;
        read_window_rect();
        const WindowRect& r = host_window.window_rect;
        host_window.frame_extra_h = static_cast<int16_t>((r.bottom - r.top) - host_window.surface->h);
        host_window.frame_extra_w = static_cast<int16_t>((r.right - r.left) - host_window.surface->w);
        set_client_size(first_scale());
    }

    compose(first_depth, last_depth);
    replay_before_events(pump_frame_count, placement());

    if (raw_input.click_state == 2) raw_input.pen_down = 0;
    raw_input.click_state = 0;

    uint32_t now = SDL_GetTicks();
    int resize_width = -1, resize_height = -1;
    bool toggle_full_screen = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (is_full_screen_key(event)) {
            toggle_full_screen = !toggle_full_screen;
            continue;
        }
        replay_observe_event(pump_frame_count, event, placement());
        if (handle_event(event)) {
            resize_width = event.resize.w;
            resize_height = event.resize.h;
        }
    }

    // The full screen keeps the desktop's size: a resize then comes from the window system,
    // not from the user, and is left alone.
    if (resize_width >= 0 && !host_window.full_screen) {
        read_window_rect();
        set_client_size(scale_for_resize(resize_width, resize_height));
    }
    if (toggle_full_screen) {
        if (host_window.full_screen) set_client_size(host_window.window_scale);
        else enter_full_screen();
    }

    // Sleep until a millisecond before the deadline, then poll for the last one. Host events
    // keep arriving in SDL's queue meanwhile and are drained by the next pump.
    for (;;) {
        SDL_PumpEvents();
        now = SDL_GetTicks();
        if (static_cast<int32_t>(now - next_deadline) >= 0) {
            next_deadline = now + period_ms;
            if (show_fps) print_frame_rate();
            present_frame();
            break;
        }
        uint32_t remaining = next_deadline - now;
        if (remaining > 1) SDL_Delay(remaining - 1);
    }
    if (show_fps) print_frame_rate();

    measure_frame_rate(now);
    input_update();
    return 0;
}

void frame_yield() { frame_pump(0, 1023); }

void set_frame_rate(uint16_t fps) {
    if (fps < 1) fps = 1;
    if (fps > 1000) fps = 1000;
    fps_setting = fps;
    period_ms = 1000u / fps;
}

namespace {

// Writes `rows` device rows at scale S from `out` on: each device row is widened once into the
// first of its S surface rows, which is then copied into the other S - 1 with memcpy from the
// cache. With S a constant the widening loop is unrolled and vectorised. bench_present (CPU
// time): at 3x 0.7-0.8 of a memcpy of the scaled frame, at 2x 1.0-1.2 and twice as fast as
// storing both rows per pixel.
template <int S>
void present_rows(uint8_t* out, int pitch, int rows) {
    constexpr size_t ROW_BYTES = sizeof(uint16_t) * SCREEN_WIDTH * S;
    for (int y = 0; y < rows; ++y) {
        const uint16_t* src = Framebuffer + y * SCREEN_WIDTH;
        uint8_t* first = out + static_cast<ptrdiff_t>(y) * S * pitch;
        uint16_t* row = reinterpret_cast<uint16_t*>(first);
        for (int x = 0; x < SCREEN_WIDTH; ++x)
            for (int k = 0; k < S; ++k) row[x * S + k] = src[x];
        for (int k = 1; k < S; ++k) std::memcpy(first + k * pitch, first, ROW_BYTES);
    }
}

using PresentRows = void (*)(uint8_t* out, int pitch, int rows);
constexpr PresentRows PRESENT_ROWS[HOST_MAX_SCALE] = {present_rows<1>, present_rows<2>, present_rows<3>,
                                                      present_rows<4>, present_rows<5>, present_rows<6>,
                                                      present_rows<7>, present_rows<8>};

}  // namespace

void present_frame() {
    SDL_Surface* surface = host_window.surface;
    if (!surface || surface->format->BytesPerPixel != 2) return;
    const int scale = host_window.scale, left = host_window.left, top = host_window.top;
    // The placement always fits the surface it was made for; a failed mode change keeps both.
    if (scale < 1 || scale > HOST_MAX_SCALE || left < 0 || top < 0 || left + SCREEN_WIDTH * scale > surface->w ||
        top + screen_height * scale > surface->h)
        return;
    if (SDL_LockSurface(surface) < 0) return;
    const int pitch = surface->pitch;  // rows are copied by the surface's own pitch
    uint8_t* out = static_cast<uint8_t*>(surface->pixels) + top * pitch + left * 2;
    PRESENT_ROWS[scale - 1](out, pitch, screen_height);
    SDL_UnlockSurface(surface);
    SDL_Flip(surface);
    if (present_hook) present_hook(Framebuffer);
}

void host_close_window() {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

void host_quit() {
    host_close_window();
    std::exit(0);
}

void run_transition(uint16_t duration, void (*step)(uint8_t level)) {
    frame_timers[15].mode = 2;
    frame_timers[15].value = 0;
    if (duration != 0) {
        while (frame_timers[15].value < duration)
            step(static_cast<uint8_t>(static_cast<uint32_t>(frame_timers[15].value) * 32u / duration));
    }
    step(32);
}
