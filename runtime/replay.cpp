// Input replay, input recording and F12 screenshots. Scripted events go through SDL's own
// queue, so the frame pump drains and handles them exactly like real ones.
#include "runtime/replay.h"

#include <SDL/SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/png_writer.h"
#include "render/framebuffer.h"
#include "runtime/save_store.h"

namespace {

// SDL 1.2's queue holds 128 events; a frame of a script may hold fewer, so that real events
// arriving meanwhile still fit.
constexpr int MAX_EVENTS_PER_FRAME = 100;
constexpr uint32_t MAX_FRAME = 1000000000u;

enum StepKind : uint8_t { STEP_MOVE, STEP_DOWN, STEP_UP, STEP_KEY, STEP_SHOT, STEP_CLOSE };

struct ReplayStep {
    uint32_t frame;
    uint32_t origin;   // frame of the line it came from (a tap's release plays one frame later)
    StepKind kind;
    int16_t x, y;      // STEP_MOVE
    SDLKey key;        // STEP_KEY
    uint8_t key_down;  // STEP_KEY
    std::string path;  // STEP_SHOT
};

struct KeyName {
    const char* name;
    SDLKey key;
};
constexpr KeyName KEY_NAMES[] = {
    {"up", SDLK_UP},         {"down", SDLK_DOWN},     {"left", SDLK_LEFT},
    {"right", SDLK_RIGHT},   {"return", SDLK_RETURN}, {"rshift", SDLK_RSHIFT},
    {"escape", SDLK_ESCAPE}, {"p", SDLK_p},
};

std::vector<ReplayStep> script;
size_t script_next = 0;
FILE* record_file = nullptr;

// Parses a whole decimal number in [low, high].
bool parse_number(const std::string& text, long low, long high, long* value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

// Splits one line into words, dropping a '#' comment.
std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// Parses the words of one line into steps (a tap gives three). Returns null on success or the
// reason the line is malformed.
const char* parse_line(const std::vector<std::string>& w, std::vector<ReplayStep>* out) {
    long frame = 0;
    if (!parse_number(w[0], 1, MAX_FRAME, &frame)) return "frame number must be 1 or more";
    if (w.size() < 2) return "missing event after the frame number";
    const std::string& verb = w[1];
    ReplayStep step{};
    step.frame = static_cast<uint32_t>(frame);
    step.origin = step.frame;
    auto position = [&](const char** error) {
        long x = 0, y = 0;
        if (w.size() != 4) *error = "expected X Y";
        else if (!parse_number(w[2], 0, SCREEN_WIDTH - 1, &x)) *error = "X must be 0..239";
        else if (!parse_number(w[3], 0, SCREEN_MAX_HEIGHT - 1, &y)) *error = "Y must be 0..319";
        step.x = static_cast<int16_t>(x);
        step.y = static_cast<int16_t>(y);
    };
    const char* error = nullptr;
    if (verb == "move" || verb == "tap") {
        position(&error);
        if (error) return error;
        step.kind = STEP_MOVE;
        out->push_back(step);
        if (verb == "tap") {
            step.kind = STEP_DOWN;
            out->push_back(step);
            step.kind = STEP_UP;
            step.frame += 1;
            out->push_back(step);
        }
    } else if (verb == "down" || verb == "up" || verb == "close") {
        if (w.size() != 2) return "unexpected words after the event";
        step.kind = verb == "down" ? STEP_DOWN : verb == "up" ? STEP_UP : STEP_CLOSE;
        out->push_back(step);
    } else if (verb == "key") {
        if (w.size() != 4) return "expected key NAME down|up";
        const KeyName* found = nullptr;
        for (const KeyName& k : KEY_NAMES)
            if (w[2] == k.name) found = &k;
        if (!found) return "key name must be one of up down left right return rshift escape p";
        if (w[3] != "down" && w[3] != "up") return "key state must be down or up";
        step.kind = STEP_KEY;
        step.key = found->key;
        step.key_down = w[3] == "down";
        out->push_back(step);
    } else if (verb == "shot") {
        if (w.size() != 3) return "expected shot FILE.png";
        step.kind = STEP_SHOT;
        step.path = w[2];
        out->push_back(step);
    } else {
        return "unknown event (move down up tap key shot close)";
    }
    return nullptr;
}

bool pushes_event(const ReplayStep& step) { return step.kind != STEP_SHOT; }

void push_event(const ReplayStep& step, const ScreenPlacement& placement) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    switch (step.kind) {
        case STEP_MOVE:
            event.type = SDL_MOUSEMOTION;
            event.motion.x = static_cast<Uint16>(device_to_window(step.x, placement.left, placement.scale));
            event.motion.y = static_cast<Uint16>(device_to_window(step.y, placement.top, placement.scale));
            break;
        case STEP_DOWN:
        case STEP_UP:
            event.type = step.kind == STEP_DOWN ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
            event.button.button = SDL_BUTTON_LEFT;
            event.button.state = step.kind == STEP_DOWN ? SDL_PRESSED : SDL_RELEASED;
            break;
        case STEP_KEY:
            event.type = step.key_down ? SDL_KEYDOWN : SDL_KEYUP;
            event.key.state = step.key_down ? SDL_PRESSED : SDL_RELEASED;
            event.key.keysym.sym = step.key;
            break;
        case STEP_CLOSE:
            event.type = SDL_QUIT;
            break;
        case STEP_SHOT:
            return;
    }
    if (SDL_PushEvent(&event) != 0)
        std::fprintf(stderr, "evergreen: replay event of frame %u lost: SDL queue full\n",
                     static_cast<unsigned>(step.frame));
}

void write_shot(const ReplayStep& step) {
    if (!png_write_rgb565(step.path.c_str(), Framebuffer, SCREEN_WIDTH, screen_height,
                          SCREEN_WIDTH))
        std::fprintf(stderr, "evergreen: cannot write shot %s (frame %u)\n", step.path.c_str(),
                     static_cast<unsigned>(step.frame));
}

const char* recorded_key_name(SDLKey key) {
    for (const KeyName& k : KEY_NAMES)
        if (k.key == key) return k.name;
    return nullptr;
}

}  // namespace

int replay_parse(const char* text, char* error, int error_size) {
    std::vector<ReplayStep> steps;
    std::vector<int> events_in_frame_lines;  // line of each step, for the queue limit message
    int line_number = 0;
    const char* p = text;
    while (*p) {
        const char* end = std::strchr(p, '\n');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        ++line_number;
        std::vector<std::string> words = split_words(std::string(p, length));
        if (!words.empty()) {
            const char* reason = parse_line(words, &steps);
            if (reason) {
                std::snprintf(error, static_cast<size_t>(error_size), "%d: %s", line_number,
                              reason);
                return 0;
            }
            events_in_frame_lines.resize(steps.size(), line_number);
        }
        p = end ? end + 1 : p + length;
    }

    // Steps play in frame order; within one frame the release of an earlier frame's tap comes
    // first, then the lines in the order of the file.
    std::vector<size_t> order(steps.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) {
                         if (steps[a].frame != steps[b].frame) return steps[a].frame < steps[b].frame;
                         return steps[a].origin < steps[b].origin;
                     });
    std::vector<ReplayStep> sorted;
    sorted.reserve(steps.size());
    uint32_t frame = 0;
    int events = 0;
    for (size_t i : order) {
        if (steps[i].frame != frame) {
            frame = steps[i].frame;
            events = 0;
        }
        if (pushes_event(steps[i]) && ++events > MAX_EVENTS_PER_FRAME) {
            std::snprintf(error, static_cast<size_t>(error_size),
                          "%d: more than %d events in frame %u", events_in_frame_lines[i],
                          MAX_EVENTS_PER_FRAME, static_cast<unsigned>(frame));
            return 0;
        }
        sorted.push_back(steps[i]);
    }
    script.swap(sorted);
    script_next = 0;
    return 1;
}

int replay_load(const char* path, char* error, int error_size) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::snprintf(error, static_cast<size_t>(error_size), "%s: %s", path,
                      std::strerror(errno));
        return 0;
    }
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    std::fclose(file);
    if (text.find('\0') != std::string::npos) {
        std::snprintf(error, static_cast<size_t>(error_size), "%s: not a text file", path);
        return 0;
    }
    char reason[256];
    if (!replay_parse(text.c_str(), reason, sizeof(reason))) {
        std::snprintf(error, static_cast<size_t>(error_size), "%s:%s", path, reason);
        return 0;
    }
    return 1;
}

void replay_clear() {
    script.clear();
    script_next = 0;
}

int replay_pending() { return static_cast<int>(script.size() - script_next); }

int record_open(const char* path) {
    record_close();
    record_file = std::fopen(path, "w");
    if (!record_file) return 0;
    // Line buffered: a session that ends abruptly keeps every line written so far.
    std::setvbuf(record_file, nullptr, _IOLBF, 0);
    std::fputs("# evergreen input recording: frame, event\n", record_file);
    return 1;
}

void record_close() {
    if (record_file) std::fclose(record_file);
    record_file = nullptr;
}

void replay_before_events(uint32_t frame, const ScreenPlacement& placement) {
    while (script_next < script.size() && script[script_next].frame <= frame) {
        const ReplayStep& step = script[script_next++];
        if (step.kind == STEP_SHOT) write_shot(step);
        else push_event(step, placement);
    }
}

void replay_observe_event(uint32_t frame, const SDL_Event& event, const ScreenPlacement& placement) {
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_F12) {
        char path[SAVE_PATH_SIZE + 32];
        if (screenshot_save(path, sizeof(path))) std::printf("Screenshot %s\n", path);
        else std::fprintf(stderr, "evergreen: cannot write a screenshot\n");
    }
    if (!record_file) return;
    const unsigned f = frame;
    switch (event.type) {
        case SDL_MOUSEMOTION: {
            // Kept inside the screen so that every recorded line replays.
            int x = window_to_device(event.motion.x, placement.left, placement.scale, SCREEN_WIDTH);
            int y = window_to_device(event.motion.y, placement.top, placement.scale, SCREEN_MAX_HEIGHT);
            std::fprintf(record_file, "%u move %d %d\n", f, x, y);
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT)
                std::fprintf(record_file, "%u %s\n", f,
                             event.type == SDL_MOUSEBUTTONDOWN ? "down" : "up");
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (const char* name = recorded_key_name(event.key.keysym.sym))
                std::fprintf(record_file, "%u key %s %s\n", f, name,
                             event.type == SDL_KEYDOWN ? "down" : "up");
            break;
        case SDL_QUIT:
            std::fprintf(record_file, "%u close\n", f);
            break;
        default:
            break;
    }
}

int screenshot_save(char* path, int path_size) {
    char name[SAVE_PATH_SIZE + 32];
    for (int n = 0; n <= 9999; ++n) {
        std::snprintf(name, sizeof(name), "%severgreen-%04d.png", data_folder, n);
        // Created exclusively: a name that exists, even as a dangling link, is passed over.
        if (!png_write_rgb565_new(name, Framebuffer, SCREEN_WIDTH, screen_height, SCREEN_WIDTH)) {
            if (errno == EEXIST) continue;
            return 0;
        }
        if (path) std::snprintf(path, static_cast<size_t>(path_size), "%s", name);
        return 1;
    }
    return 0;
}
