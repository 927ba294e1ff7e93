// The evergreen command line.
#include "app/options.h"

#include "runtime/save_store.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/version.h"
#include "runtime/host.h"
#include "runtime/replay.h"

void options_print_usage(bool to_stderr) {
    std::fprintf(to_stderr ? stderr : stdout,
                 "Usage: evergreen [options] [FOLDER]\n"
                 "Shows the image packs (*.evg) in FOLDER (default: the current folder) and keeps\n"
                 "the viewing progress there in Evergreen.sav.\n"
                 "  --fps N         frames per second, 1..1000 (default 40)\n"
                 "  --headless      run without a window (SDL dummy video driver)\n"
                 "  --replay FILE   play timed input from FILE, then go on as usual\n"
                 "  --record FILE   write the mouse and key input to FILE in replay format\n"
                 "  --demo strokes  draw letters with the mouse and see them recognised\n"
                 "  --demo text     a screen of text in every font, with the frame rate\n"
                 "  --help          show this help\n"
                 "  --version       show the version\n"
                 "Replay lines: F move X Y | F down | F up | F tap X Y |\n"
                 "  F key up|down|left|right|return|rshift|escape down|up | F shot FILE.png |\n"
                 "  F close   (F = frame number from 1, X Y = device pixels, # = comment)\n"
                 "Keys: arrows, Return, Right Shift; F12 saves evergreen-NNNN.png; Escape quits.\n");
}

namespace {

int bad_command_line(const char* message, const char* word) {
    std::fprintf(stderr, "evergreen: %s%s%s\n", message, word ? ": " : "", word ? word : "");
    options_print_usage(true);
    return 2;
}

}  // namespace

int options_parse(int argc, char** argv, Options* options) {
    *options = Options{};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options_print_usage(false);
            return 0;
        } else if (!std::strcmp(arg, "--version")) {
            std::printf("evergreen %s\n", evergreen_version());
            return 0;
        } else if (!std::strcmp(arg, "--headless")) {
            options->headless = 1;
        } else if (!std::strcmp(arg, "--fps")) {
            if (!has_value) return bad_command_line("--fps needs a number", nullptr);
            const char* value = argv[++i];
            char* end = nullptr;
            long fps = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || fps < 1 || fps > 1000)
                return bad_command_line("--fps must be a whole number from 1 to 1000", value);
            options->fps = static_cast<uint16_t>(fps);
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
        } else if (arg[0] != '-' && !options->folder) {
            options->folder = arg;
        } else {
            return bad_command_line(arg[0] == '-' ? "unknown option" : "only one folder may be given", arg);
        }
    }
    return -1;
}

int options_prepare(const Options& options) {
    if (options.folder) {
        // Packs are looked for, and Evergreen.sav kept, in this folder.
        struct stat st;
        if (::stat(options.folder, &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "evergreen: %s: no such folder\n", options.folder);
            return 1;
        }
        if (!set_data_folder(options.folder)) {
            std::fprintf(stderr, "evergreen: %s: folder path too long\n", options.folder);
            return 1;
        }
    }
    if (options.headless) setenv("SDL_VIDEODRIVER", "dummy", 1);
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
    return -1;
}

void options_apply(const Options& options) {
    if (options.fps) set_frame_rate(options.fps);
}
