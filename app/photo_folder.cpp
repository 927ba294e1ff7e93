// The viewer's pack build. The worker thread runs build_pack; the screen loop reads its
// progress each frame. Cancelling goes through quit_hook, because Escape and the close button
// otherwise end the process inside the frame pump while the worker may be writing.
#include "app/photo_folder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/screen_layout.h"
#include "media/text.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/primitives.h"
#include "runtime/save_store.h"
#include "tools/evgpack/commands.h"

namespace {

constexpr int BOX_LAYER = 1;
constexpr int PANEL_LEFT = 20, PANEL_TOP = 130, PANEL_RIGHT = 220, PANEL_BOTTOM = 214;
constexpr int BAR_LEFT = 30, BAR_TOP = 186, BAR_RIGHT = 210, BAR_BOTTOM = 200;
constexpr uint16_t BAR_COLOUR = 0x2C65;  // the menu's evergreen

// The running build, for quit_hook (it has no arguments).
evgpack::BuildMonitor* running_monitor = nullptr;
std::thread* running_worker = nullptr;
const std::string* running_output = nullptr;

std::string folder_argument() { return data_folder[0] ? std::string(data_folder) : std::string("."); }

// "<folder name>.evg" inside data_folder; "Photos.evg" for a folder without a name ("/").
std::string output_path() {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(folder_argument(), ec);
    std::string name = ec ? std::string() : real.filename().string();
    if (name.empty()) name = "Photos";
    return std::string(data_folder) + name + ".evg";
}

// Escape or the close button during the build: stop the worker, remove whatever it wrote (the
// folder held no pack before), end as Escape always does. A pack already in place (the worker
// was only printing its summary) is complete and is kept.
void cancel_build() {
    if (running_monitor) running_monitor->cancel = 1;
    if (running_worker && running_worker->joinable()) running_worker->join();
    const bool complete = running_monitor && running_monitor->written.load();
    if (running_output && !complete) std::remove(running_output->c_str());
    std::exit(0);
}

void draw_progress(const char* title, int done, int total, bool matching) {
    primitives_attach(BOX_LAYER);
    primitive_box(BOX_LAYER, PANEL_LEFT, PANEL_TOP, PANEL_RIGHT, PANEL_BOTTOM, 1, 0x0000, 0xFFFF, 24);
    primitive_box(BOX_LAYER, BAR_LEFT, BAR_TOP, BAR_RIGHT, BAR_BOTTOM, 1, 0x0000, 0xFFFF, 32);
    // Reading the photos fills nine tenths of the bar; the colour tables and the write the rest.
    int width = BAR_RIGHT - BAR_LEFT - 2;
    int filled = matching ? width * 19 / 20 : (total > 0 ? width * 9 / 10 * done / total : 0);
    if (filled > 0)
        primitive_box(BOX_LAYER, BAR_LEFT + 1, BAR_TOP + 1, BAR_LEFT + 1 + filled, BAR_BOTTOM - 1, 0, BAR_COLOUR,
                      BAR_COLOUR, 32);
    char text[160];
    if (matching) std::snprintf(text, sizeof text, "%s\n\nMatching colours...", title);
    else std::snprintf(text, sizeof text, "%s\n\n%d of %d photos", title, done, total);
    text_set(0, 0, PANEL_LEFT + 8, PANEL_TOP + 6, PANEL_RIGHT - 6, BAR_TOP - 2, text, 0, FONT_SHEET);
}

}  // namespace

int photo_folder_count() { return static_cast<int>(evgpack::find_photos(folder_argument()).size()); }

int photo_folder_build() {
    const std::string output = output_path();
    const std::string name = std::filesystem::path(output).filename().string();
    const std::string title = "Making " + name + "\n(Escape cancels)";
    evgpack::BuildMonitor monitor;
    int status = -1;
    std::vector<std::string> args = {"-o", output, folder_argument()};
    std::thread worker([&]() {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        status = evgpack::build_pack(static_cast<int>(argv.size()), argv.data(), &monitor);
        monitor.matching = 2;  // finished (status is set)
    });
    running_monitor = &monitor;
    running_worker = &worker;
    running_output = &output;
    quit_hook = cancel_build;
    while (monitor.matching.load() != 2) {
        draw_progress(title.c_str(), monitor.done.load(), monitor.total.load(), monitor.matching.load() == 1);
        frame_yield();
    }
    worker.join();
    quit_hook = nullptr;
    running_monitor = nullptr;
    running_worker = nullptr;
    running_output = nullptr;
    primitives_clear(BOX_LAYER);
    text_layer_clear(0);
    if (status == 0) return 1;

    text_set(0, 0, PANEL_LEFT + 8, PANEL_TOP + 6, PANEL_RIGHT - 6, PANEL_BOTTOM, 
             "The pack could not be made (the terminal says why).\n\nTouch screen to exit...", 0, FONT_SHEET);
    primitives_attach(BOX_LAYER);
    primitive_box(BOX_LAYER, PANEL_LEFT, PANEL_TOP, PANEL_RIGHT, PANEL_BOTTOM, 1, 0x0000, 0xFFFF, 24);
    do {
        frame_yield();
    } while (!pen_state.pressed);
    primitives_clear(BOX_LAYER);
    text_layer_clear(0);
    return 0;
}
