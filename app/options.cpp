// The evergreen command line.
#include "app/options.h"

#include "runtime/save_store.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/files.h"
#include "pack/pack_format.h"
#include "app/start_folder.h"
#include "app/version.h"
#include "app/video_record.h"
#include "app/viewer_main.h"
#include "runtime/host.h"
#include "runtime/replay.h"

void options_print_usage(bool to_stderr) {
    std::fprintf(to_stderr ? stderr : stdout,
                 "Usage: evergreen [options] [FOLDER | PACK.evg]\n"
                 "Shows the image packs (*.evg) in FOLDER (default: the current folder) and keeps\n"
                 "the viewing progress there in Evergreen.sav. Given a pack, opens it at once\n"
                 "(its folder is the one used). A folder of photos without a pack offers to make one.\n"
                 "  --fps N         frames per second, 1..1000 (default 40)\n"
                 "  --scale N       show the screen N times enlarged, 1..8 (default: the largest\n"
                 "                  that fits 85%% of the desktop)\n"
                 "  --headless      run without a window (SDL dummy video driver)\n"
                 "  --library       use the packs in $XDG_DATA_HOME/evergreen (made with a demo pack;\n"
                 "                  offers a pack of your pictures folder); also a plain start in ~\n"
                 "  --replay FILE   play timed input from FILE, then go on as usual\n"
                 "  --record FILE   write the mouse and key input to FILE in replay format\n"
                 "  --demo strokes  draw letters with the mouse and see them recognised\n"
                 "  --demo text     a screen of text in every font, with the frame rate\n"
                 "  --video FILE    record every frame shown, 25 ms each, to FILE.webp (or FILE.mp4\n"
                 "                  through ffmpeg); finished on exit, Escape, close or SIGTERM\n"
                 "  --video-scale N video pixels per device pixel, 1..8 (default: the window's)\n"
                 "  --auto          start in auto mode on a random picture of the first pack\n"
                 "  --picture N     start on picture N (from 0), skipping the start choice\n"
                 "  --frames N      end after N frames (leaving the viewer as with the exit button)\n"
                 "  --seed S        the same random numbers on every run, so the same journey\n"
                 "  --help          show this help\n"
                 "  --version       show the version\n"
                 "  --              end of the options (a FOLDER or PACK may then start with '-')\n"
                 "Replay lines: F move X Y | F down | F up | F tap X Y |\n"
                 "  F key up|down|left|right|return|rshift|escape|p down|up | F shot FILE.png |\n"
                 "  F close   (F = frame number from 1, X Y = device pixels, # = comment)\n"
                 "Keys: arrows, Return, Right Shift; F12 saves evergreen-NNNN.png; P saves a poster\n"
                 "  evergreen-poster-NNNN.jpg; F11 or Alt+Return toggles full screen; Escape quits.\n");
}

namespace {

// A whole number from min to max, or false.
bool parse_number(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && errno == 0 && *value >= min && *value <= max;
}

int bad_command_line(const char* message, const char* word) {
    std::fprintf(stderr, "evergreen: %s%s%s\n", message, word ? ": " : "", word ? word : "");
    options_print_usage(true);
    return 2;
}

// A pack named on the command line: a regular file called *.evg (any case) or one that starts
// with the pack header's magic (packs need no particular name).
bool looks_like_pack(const char* path) {
    size_t n = std::strlen(path);
    if (n >= 4 && path[n - 4] == '.' && std::tolower(static_cast<unsigned char>(path[n - 3])) == 'e' &&
        std::tolower(static_cast<unsigned char>(path[n - 2])) == 'v' &&
        std::tolower(static_cast<unsigned char>(path[n - 1])) == 'g')
        return true;
    FILE* file = file_open_regular(path);
    if (!file) return false;
    uint8_t magic[PACK_MAGIC_COMPARED];
    bool match = std::fread(magic, 1, sizeof magic, file) == sizeof magic && pack_magic_matches(magic);
    std::fclose(file);
    return match;
}

// FOLDER or PACK from the command line into data_folder (and preset_pack). Returns -1 to go
// on, or 1 after one line on standard error.
int use_path(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) {
        std::fprintf(stderr, "evergreen: %s: no such folder or pack\n", path);
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        // Packs are looked for, and Evergreen.sav kept, in this folder.
        if (set_data_folder(path)) return -1;
        std::fprintf(stderr, "evergreen: %s: folder path too long\n", path);
        return 1;
    }
    if (!S_ISREG(st.st_mode) || !looks_like_pack(path)) {
        std::fprintf(stderr, "evergreen: %s: neither a folder nor an image pack (*.evg)\n", path);
        return 1;
    }
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    std::string folder(path, static_cast<size_t>(name - path));
    if (std::strlen(name) >= sizeof preset_pack || !set_data_folder(folder.c_str())) {
        std::fprintf(stderr, "evergreen: %s: path too long\n", path);
        return 1;
    }
    std::strcpy(preset_pack, name);
    return -1;
}

}  // namespace

int options_parse(int argc, char** argv, Options* options) {
    *options = Options{};
    options->picture = -1;
    bool operands = false;  // after "--": a folder or pack even when it starts with '-'
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (!operands && !std::strcmp(arg, "--")) {
            operands = true;
        } else if (operands) {
            if (options->folder) return bad_command_line("only one folder or pack may be given", arg);
            options->folder = arg;
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options_print_usage(false);
            return 0;
        } else if (!std::strcmp(arg, "--version")) {
            std::printf("evergreen %s\n", evergreen_version());
            return 0;
        } else if (!std::strcmp(arg, "--headless")) {
            options->headless = 1;
        } else if (!std::strcmp(arg, "--library")) {
            options->library = 1;
        } else if (!std::strcmp(arg, "--fps")) {
            if (!has_value) return bad_command_line("--fps needs a number", nullptr);
            const char* value = argv[++i];
            char* end = nullptr;
            long fps = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || fps < 1 || fps > 1000)
                return bad_command_line("--fps must be a whole number from 1 to 1000", value);
            options->fps = static_cast<uint16_t>(fps);
        } else if (!std::strcmp(arg, "--scale")) {
            // Read by host_init, before the first window opens.
            if (!has_value) return bad_command_line("--scale needs a number", nullptr);
            const char* value = argv[++i];
            char* end = nullptr;
            long scale = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || scale < 1 || scale > HOST_MAX_SCALE)
                return bad_command_line("--scale must be a whole number from 1 to 8", value);
            host_scale_request = static_cast<uint8_t>(scale);
        } else if (!std::strcmp(arg, "--replay")) {
            if (!has_value) return bad_command_line("--replay needs a file", nullptr);
            options->replay_path = argv[++i];
        } else if (!std::strcmp(arg, "--record")) {
            if (!has_value) return bad_command_line("--record needs a file", nullptr);
            options->record_path = argv[++i];
        } else if (!std::strcmp(arg, "--demo")) {
            if (!has_value) return bad_command_line("--demo needs a name", nullptr);
            options->demo = argv[++i];
            if (std::strcmp(options->demo, "strokes") != 0 && std::strcmp(options->demo, "text") != 0)
                return bad_command_line("unknown demo (there are: strokes, text)", options->demo);
        } else if (!std::strcmp(arg, "--video") || !std::strcmp(arg, "--video-scale") ||
                   !std::strcmp(arg, "--picture") || !std::strcmp(arg, "--frames") || !std::strcmp(arg, "--seed")) {
            // The options of a video or of a run without a person, each with one value.
            if (!has_value) return bad_command_line("option needs a value", arg);
            const char* value = argv[++i];
            long n = 0;
            if (!std::strcmp(arg, "--video")) {
                if (!video_kind(value)) return bad_command_line("--video needs a name ending in .webp or .mp4", value);
                options->video_path = value;
            } else if (!std::strcmp(arg, "--video-scale")) {
                if (!parse_number(value, 1, 8, &n)) return bad_command_line("--video-scale must be 1 to 8", value);
                options->video_scale = static_cast<uint8_t>(n);
            } else if (!std::strcmp(arg, "--picture")) {
                if (!parse_number(value, 0, PACK_MAX_PICTURES - 1, &n))
                    return bad_command_line("--picture must be a picture number from 0", value);
                options->picture = static_cast<int32_t>(n);
            } else if (!std::strcmp(arg, "--frames")) {
                if (!parse_number(value, 1, UINT32_MAX, &n)) return bad_command_line("--frames must be at least 1", value);
                options->frames = static_cast<uint32_t>(n);
            } else {
                if (!parse_number(value, 0, UINT32_MAX, &n)) return bad_command_line("--seed must be 0 to 4294967295", value);
                options->seed = static_cast<uint32_t>(n);
                options->has_seed = 1;
            }
        } else if (!std::strcmp(arg, "--auto")) {
            options->auto_start = 1;
        } else if (arg[0] != '-' && !options->folder) {
            options->folder = arg;
        } else {
            return bad_command_line(arg[0] == '-' ? "unknown option" : "only one folder or pack may be given", arg);
        }
    }
    return -1;
}

int options_prepare(const Options& options) {
    // FOLDER or PACK.evg as given (a pack is checked before any window opens); else the data
    // home for --library and for a plain start in the home folder, which is never packed.
    if (options.library && options.folder)
        return bad_command_line("--library takes no folder or pack", options.folder);
    int status = options.folder ? use_path(options.folder) : -1;
    if (status < 0 && preset_pack[0]) status = preset_pack_check((std::string(data_folder) + preset_pack).c_str());
    if (status < 0 && !options.folder && !options.demo && (options.library || in_home_folder()))
        status = data_home_use();
    if (status >= 0) return status;
    char why[160];
    if (options.headless) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
    } else if (!host_video_check(why, sizeof why)) {
        std::fprintf(stderr, "evergreen: %s; use --headless to run without a window\n", why);
        return 1;
    }
    if (options.replay_path) {
        char error[512];
        if (!replay_load(options.replay_path, error, sizeof(error))) {
            std::fprintf(stderr, "evergreen: %s\n", error);
            return 2;
        }
    }
    if (options.record_path && !record_open(options.record_path)) {
        std::fprintf(stderr, "evergreen: cannot write %s\n", options.record_path);
        return 2;
    }
    if (options.video_path && video_kind(options.video_path) == 2 && !program_on_path("ffmpeg")) {
        std::fprintf(stderr, "evergreen: %s: an MP4 video needs ffmpeg, which is not on PATH; "
                             "OUT.webp needs nothing more\n", options.video_path);
        return 1;
    }
    if (options.video_path && !video_path_writable(options.video_path)) {
        std::fprintf(stderr, "evergreen: %s: cannot write the video there: %s\n", options.video_path, std::strerror(errno));
        return 1;
    }
    auto_start = options.auto_start;
    start_picture = options.picture;
    // Before the runtime starts, so that the recorder's exit handler runs after the runtime's and
    // may still end the run with status 1 when the video could not be written.
    if (options.video_path || options.frames)
        video_record_start(VideoSettings{options.video_path, options.video_scale, options.frames, !options.headless});
    return -1;
}

void options_apply(const Options& options) {
    if (options.fps) set_frame_rate(options.fps);
    if (options.has_seed) std::srand(options.seed);
}
