// The viewer's pack build. The worker thread runs the builder's build_pack on packs of its own;
// the screen loop reads its progress each frame and, once it ends, prints its report on the
// terminal as `evgpack build` does. Cancelling goes through quit_hook, because Escape and the
// close button otherwise end the process inside the frame pump while the worker may be writing.
#include "app/photo_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "builder/pack_build.h"
#include "builder/pack_quality.h"
#include "builder/pack_stats.h"
#include "builder/photo_import.h"
#include "builder/printable.h"
#include "app/screen_layout.h"
#include "media/text.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/primitives.h"
#include "runtime/save_store.h"

namespace {

constexpr int BOX_LAYER = 1;
constexpr uint16_t BAR_COLOUR = 0x2C65;  // the menu's evergreen

// The running build, for quit_hook (it has no arguments).
evgpack::BuildMonitor* running_monitor = nullptr;
std::thread* running_worker = nullptr;
const std::string* running_output = nullptr;
const evgpack::BuildReport* running_report = nullptr;

std::string source_folder;  // "" = data_folder

std::string folder_argument() { return data_folder[0] ? std::string(data_folder) : std::string("."); }
std::string source_argument() { return source_folder.empty() ? folder_argument() : source_folder; }

// Files named like photos count only when they start like one (a text file called a.jpg would
// otherwise make the offer, and the build then fail).
void count_photos(const std::string& folder, std::atomic<int>& found) {
    evgpack::walk_photos(folder, [&found](const std::string& path) {
        uint8_t head[8];
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        const ssize_t got = ::read(fd, head, sizeof head);
        ::close(fd);
        if (got > 0 && evgpack::photo_signature(head, static_cast<size_t>(got))) found.fetch_add(1);
    });
}

// "<source folder name>.evg" inside data_folder; "Photos.evg" for a folder without a name ("/").
std::string output_path() {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(source_argument(), ec);
    std::string name = ec ? std::string() : real.filename().string();
    if (name.empty()) name = "Photos";
    return std::string(data_folder) + name + ".evg";
}

// The build's report on the terminal, as `evgpack build` prints it: the messages on standard
// error, the summary on standard output (the screen says only that the build failed).
void print_report(const evgpack::BuildReport& report, const std::string& output) {
    for (const evgpack::BuildMessage& m : report.messages)
        std::fprintf(stderr, m.error ? "evgpack: %s\n" : "evgpack: warning: %s\n",
                     evgpack::shown(evgpack::build_message_text(m)).c_str());
    std::fputs(evgpack::build_summary_text(report, output).c_str(), stdout);
    if (!report.coverage_warning.empty()) std::fprintf(stderr, "evgpack: %s\n", report.coverage_warning.c_str());
}

// Escape or the close button during the build: stop the worker, remove whatever it wrote (the
// folder held no pack before), end as Escape always does. A pack already in place (the worker
// was only measuring its summary) is complete and is kept.
void cancel_build() {
    if (running_monitor) running_monitor->cancel = 1;
    if (running_worker && running_worker->joinable()) running_worker->join();
    const bool complete = running_monitor && running_monitor->written.load();
    if (running_output && !complete) std::remove(running_output->c_str());
    if (running_report && running_output) print_report(*running_report, *running_output);
    std::exit(0);
}

void draw_progress(const char* title, int found, int done, int total, bool matching) {
    primitives_attach(BOX_LAYER);
    primitive_box(BOX_LAYER, BUILD_PANEL_LEFT, BUILD_PANEL_TOP, BUILD_PANEL_RIGHT, BUILD_PANEL_BOTTOM, 1, 0x0000,
                  0xFFFF, 24);
    primitive_box(BOX_LAYER, BUILD_BAR_LEFT, BUILD_BAR_TOP, BUILD_BAR_RIGHT, BUILD_BAR_BOTTOM, 1, 0x0000, 0xFFFF, 32);
    // Reading the photos fills nine tenths of the bar; the colour tables and the write the rest.
    int width = BUILD_BAR_RIGHT - BUILD_BAR_LEFT - 2;
    int filled = matching ? width * 19 / 20 : (total > 0 ? width * 9 / 10 * done / total : 0);
    if (filled > 0)
        primitive_box(BOX_LAYER, BUILD_BAR_LEFT + 1, BUILD_BAR_TOP + 1, BUILD_BAR_LEFT + 1 + filled,
                      BUILD_BAR_BOTTOM - 1, 0, BAR_COLOUR, BAR_COLOUR, 32);
    char text[160];
    if (matching) std::snprintf(text, sizeof text, "%s\n\nMatching colours...", title);
    else if (total == 0 && found > 0) std::snprintf(text, sizeof text, "%s\n\nCounting photos... %d", title, found);
    else std::snprintf(text, sizeof text, "%s\n\n%d of %d photos", title, done, total);
    text_set(0, 0, BUILD_TEXT_LEFT, BUILD_TEXT_TOP, BUILD_TEXT_RIGHT, BUILD_TEXT_BOTTOM, text, 0, FONT_SHEET);
}

// The verdict of a finished build on a panel over the picture area until the screen is touched:
// whether the pack will look varied and which colours want more photos.
void show_summary(const evgpack::BuildReport& report, const std::string& name) {
    if (!report.measured) return;
    std::string text = "Made " + name + ": " + std::to_string(report.pictures) + " pictures.\n\n";
    if (report.variety_measured) text += evgpack::variety_verdict(report.variety) + "\n";
    text += evgpack::colour_verdict(report.coverage) + "\nTouch screen to go on...";
    for (size_t i = 0; i < text.size(); ++i)  // each line opens with a capital
        if ((i == 0 || text[i - 1] == '\n') && text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
    primitives_attach(BOX_LAYER);
    primitive_box(BOX_LAYER, SUMMARY_PANEL_LEFT, SUMMARY_PANEL_TOP, SUMMARY_PANEL_RIGHT, SUMMARY_PANEL_BOTTOM, 1,
                  0x0000, 0xFFFF, 28);
    text_set(0, 0, SUMMARY_PANEL_LEFT + 8, SUMMARY_PANEL_TOP + 6, SUMMARY_PANEL_RIGHT - 6, SUMMARY_PANEL_BOTTOM - 4,
             text.c_str(), 0, FONT_SHEET);
    do {
        frame_yield();
    } while (!pen_state.pressed);
    primitives_clear(BOX_LAYER);
    text_layer_clear(0);
}

}  // namespace

void photo_folder_set_source(const std::string& folder) { source_folder = folder; }
bool photo_folder_elsewhere() { return !source_folder.empty(); }

bool photo_folder_writable() { return ::access(folder_argument().c_str(), W_OK | X_OK) == 0; }

std::shared_ptr<PhotoCount> photo_folder_count_start() {
    auto count = std::make_shared<PhotoCount>();
    std::thread([count, folder = source_argument()] {
        count_photos(folder, count->found);
        count->done = true;
    }).detach();
    return count;
}

int photo_folder_build() {
    const std::string output = output_path();
    const std::string name = std::filesystem::path(output).filename().string();
    const std::string title = "Making " + name + "\n(Escape cancels)";
    evgpack::BuildMonitor monitor;
    evgpack::BuildOptions options;
    options.paths = {source_argument()};
    options.output = output;
    options.follow_output_link = false;  // a link of the pack's name could point out of the folder
    evgpack::BuildReport report;
    evgpack::BuildStatus status = evgpack::BUILD_FAILED;
    std::thread worker([&]() {
        status = evgpack::build_pack(options, report, &monitor);
        monitor.matching = 2;  // finished (status and report are set)
    });
    running_monitor = &monitor;
    running_worker = &worker;
    running_output = &output;
    running_report = &report;
    quit_hook = cancel_build;
    while (monitor.matching.load() != 2) {
        draw_progress(title.c_str(), monitor.found.load(), monitor.done.load(), monitor.total.load(),
                      monitor.matching.load() == 1);
        frame_yield();
    }
    worker.join();
    quit_hook = nullptr;
    running_monitor = nullptr;
    running_worker = nullptr;
    running_output = nullptr;
    running_report = nullptr;
    print_report(report, output);
    primitives_clear(BOX_LAYER);
    text_layer_clear(0);
    if (status == evgpack::BUILD_OK) {
        show_summary(report, name);
        return 1;
    }

    text_set(0, 0, BUILD_TEXT_LEFT, BUILD_TEXT_TOP, BUILD_TEXT_RIGHT, BUILD_PANEL_BOTTOM,
             "The pack could not be made (the terminal says why).\n\nTouch screen to exit...", 0, FONT_SHEET);
    primitives_attach(BOX_LAYER);
    primitive_box(BOX_LAYER, BUILD_PANEL_LEFT, BUILD_PANEL_TOP, BUILD_PANEL_RIGHT, BUILD_PANEL_BOTTOM, 1, 0x0000,
                  0xFFFF, 24);
    quit_hook = [] { std::exit(1); };  // the run ends because the build failed, however dismissed
    do {
        frame_yield();
    } while (!pen_state.pressed);
    quit_hook = nullptr;
    primitives_clear(BOX_LAYER);
    text_layer_clear(0);
    return 0;
}
