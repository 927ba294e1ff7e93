// Host window and frame pump over SDL 1.2. The device screen is shown in a client area of
// exactly 240 x 320 (1:1) or 480 x 640 (doubled): instead of moving an outer window, the video
// mode is re-created at the client size whenever the window has to snap.
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

namespace {

constexpr uint32_t VIDEO_FLAGS = SDL_HWSURFACE | SDL_RESIZABLE | SDL_DOUBLEBUF;
constexpr int DOUBLED_WIDTH = 480;
constexpr int DOUBLED_HEIGHT = 640;
constexpr int SNAP_WIDTH = 359;  // a resize to a wider client area means doubled

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

// Snaps the client area to 240 x 320 or 480 x 640 by re-creating the video mode. The old
// surface stays when the new mode cannot be set.
void set_client_size(uint8_t doubled) {
    int w = doubled ? DOUBLED_WIDTH : SCREEN_WIDTH;
    int h = doubled ? DOUBLED_HEIGHT : SCREEN_MAX_HEIGHT;
    SDL_Surface* surface = SDL_SetVideoMode(w, h, 16, VIDEO_FLAGS);
    if (surface) {
        host_window.surface = surface;
        read_wm_info();
    }
    host_window.pixel_double = doubled;
}

void move_window(int x, int y) {
    if (!have_x11) return;
    wm_info.info.x11.lock_func();
    XMoveWindow(wm_info.info.x11.display, wm_info.info.x11.wmwindow, x, y);
    XFlush(wm_info.info.x11.display);
    wm_info.info.x11.unlock_func();
}

int key_slot(SDLKey key) {
    switch (key) {
        case SDLK_UP: return KEY_UP;
        case SDLK_DOWN: return KEY_DOWN;
        case SDLK_RIGHT: return KEY_RIGHT;
        case SDLK_LEFT: return KEY_LEFT;
        case SDLK_RETURN: return KEY_RETURN;
        case SDLK_RSHIFT: return KEY_RSHIFT;
        default: return -1;
    }
}

// Writes the frame rate into the top-left cells of the console tile layer (nothing while there
// is no console layer). The two blanks clear the digit left over when the rate gets shorter.
void print_frame_rate() { console_print(0, 0, "%d  ", int32_t(fps_value)); }

// Handles one drained event. Returns the new width of a resize event, else -1.
int handle_event(const SDL_Event& event) {
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
        case SDL_MOUSEMOTION:
            raw_input.pen_x = static_cast<int16_t>(event.motion.x >> host_window.pixel_double);
            raw_input.pen_y = static_cast<int16_t>(event.motion.y >> host_window.pixel_double);
            break;
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
            return event.resize.w;
        default:
            break;
    }
    return -1;
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
    host_window.pixel_double = 1;
    std::puts("Loading...");
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::printf("Unable to init SDL: %s\n", SDL_GetError());
        return 1;
    }
    std::atexit(SDL_Quit);
    host_window.surface = SDL_SetVideoMode(DOUBLED_WIDTH, DOUBLED_HEIGHT, 16, VIDEO_FLAGS);
    if (!host_window.surface) {
        std::printf("Unable to set 480x640 video: %s\n", SDL_GetError());
        return 1;
    }

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
        host_window.frame_extra_h = static_cast<int16_t>((r.bottom - r.top) - DOUBLED_HEIGHT);
        host_window.frame_extra_w = static_cast<int16_t>((r.right - r.left) - DOUBLED_WIDTH);
        set_client_size(0);
    }

    compose(first_depth, last_depth);
    replay_before_events(pump_frame_count, host_window.pixel_double);

    if (raw_input.click_state == 2) raw_input.pen_down = 0;
    raw_input.click_state = 0;

    uint32_t now = SDL_GetTicks();
    int resize_width = -1;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        replay_observe_event(pump_frame_count, event, host_window.pixel_double);
        int width = handle_event(event);
        if (width >= 0) resize_width = width;
    }

    // Return moves the window to (200, 200) with its client size kept.
    if (key_pressed[KEY_RETURN]) move_window(200, 200);

    if (resize_width >= 0) {
        read_window_rect();
        set_client_size(resize_width > SNAP_WIDTH ? 1 : 0);
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

int host_window_scale() { return host_window.pixel_double ? 2 : 1; }

void present_frame() {
    SDL_Surface* surface = host_window.surface;
    if (!surface || surface->format->BytesPerPixel != 2) return;
    if (SDL_LockSurface(surface) < 0) return;
    uint8_t* base = static_cast<uint8_t*>(surface->pixels);
    const int pitch = surface->pitch;  // rows are copied by the surface's own pitch
    const int rows = screen_height;
    // Plain loops over whole rows that the compiler vectorises; measured faster than a line
    // buffer copied out with memcpy (bench_present).
    if (host_window.pixel_double) {
        // One device pixel becomes a 32-bit word (the pixel in both halves) in two rows.
        if (surface->w >= 2 * SCREEN_WIDTH && surface->h >= 2 * rows && pitch % 4 == 0) {
            for (int y = 0; y < rows; ++y) {
                const uint16_t* src = Framebuffer + y * SCREEN_WIDTH;
                uint32_t* top = reinterpret_cast<uint32_t*>(base + 2 * y * pitch);
                uint32_t* bottom = reinterpret_cast<uint32_t*>(base + (2 * y + 1) * pitch);
                for (int x = 0; x < SCREEN_WIDTH; ++x) top[x] = bottom[x] = src[x] * 0x00010001u;
            }
        }
    } else if (surface->w >= SCREEN_WIDTH && surface->h >= rows) {
        for (int y = 0; y < rows; ++y) {
            const uint16_t* src = Framebuffer + y * SCREEN_WIDTH;
            uint16_t* row = reinterpret_cast<uint16_t*>(base + y * pitch);
            for (int x = 0; x < SCREEN_WIDTH; ++x) row[x] = src[x];
        }
    }
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
