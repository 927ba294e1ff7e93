// The pack build as a library: photos and folders in (BuildOptions), a pack file and a report out
// (BuildReport), progress and cancel through a BuildMonitor. `evgpack build` and the viewer's
// build screen both call build_pack; neither this nor anything it calls prints or exits.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "builder/colour_match.h"
#include "builder/pack_quality.h"
#include "builder/pack_stats.h"
#include "pack/pack_format.h"

namespace evgpack {

constexpr int MAX_PICTURES = PACK_MAX_PICTURES;
constexpr int COUNTING_STEP = 1000;  // photos found between two BuildMonitor::counting calls

struct BuildOptions {
    std::vector<std::string> paths;  // photos and folders (folders searched recursively)
    std::string output;              // the pack to write
    long quality = 85;               // JPEG quality of the pictures, 1 .. 100
    long thumb_size = PACK_DEFAULT_THUMB_SIZE;  // 1 .. 255
    long icon = 0;                   // picture whose miniature is the pack's icon
    long max = MAX_PICTURES;         // at most this many pictures, 2 .. 2048
    long jobs = 0;                   // worker threads; 0: all cores
    long min_size = 0;               // photos whose shorter side is below this are skipped
    double variety = DEFAULT_VARIETY;
    long candidates = DEFAULT_CANDIDATES;  // 0 .. CANDIDATE_MAX
    double candidate_budget = DEFAULT_CANDIDATE_BUDGET;
    long min_candidates = DEFAULT_MIN_CANDIDATES;  // 0 .. CANDIDATE_MAX
    std::string author;              // cut to 32 bytes (the caller warns)
    bool author_set = false;         // false: default_author() instead of `author`
    bool force = false;              // replace the output even when it is not a pack
    bool summary = true;             // after the write, measure coverage and expected variety
    // true: a link named as the output is followed and its target replaced (`evgpack -o`);
    // false: a link in the output's place is refused (a pack named by the program, not the user).
    bool follow_output_link = true;
    // More usable photos than `max`: false chooses the set that covers the colours best (every
    // photo is imported); true takes the first `max` in path order and stops reading there.
    bool order_path = false;
    bool keep_similar = false;       // true: near-duplicates are not grouped (always with order_path)
    bool use_cache = true;           // the import cache (cache_dir, else default_cache_dir())
    std::string cache_dir;
    uint64_t cache_limit = 2ull << 30;  // bytes the cache may hold (2 GB); least recently used go first
    bool list_inputs = false;        // fill BuildReport::inputs (evgpack build --report)
};

// What a message is about. Each message names the files it concerns in `file` (and `other`).
enum BuildMessageKind : int {
    BUILD_OUTPUT_NOT_LISTED,  // warning: the output name does not end in .evg
    BUILD_INPUT_MISSING,      // error: file = a path that names nothing
    BUILD_FOLDER_LOOP,        // warning: file = a link to a folder above it, other = that folder
    BUILD_FOLDER_UNREADABLE,  // warning: file = the folder, detail = why
    BUILD_UNSUPPORTED_FORMAT, // warning: file = a picture in a format not read
    BUILD_FOLDER_INCOMPLETE,  // warning: file = the folder given, detail = why the walk stopped
    BUILD_NO_PHOTOS,          // error: no JPEG or PNG among the inputs
    BUILD_OUTPUT_IS_FOLDER,   // error: file = the output
    BUILD_OUTPUT_IS_INPUT,    // error: file = the output, one of the photos
    BUILD_OUTPUT_NOT_PACK,    // error: file = the output, an existing file that is not a pack
    BUILD_CANCEL_HONOURED,    // error: cancelled through the monitor before the write
    BUILD_PHOTO_FAILED,       // warning: file = the photo, detail = why it was skipped
    BUILD_PHOTO_DUPLICATE,    // warning: file = the photo, other = the earlier one with its bytes
    BUILD_PHOTOS_SMALL,       // warning: count photos below min_size skipped
    BUILD_PHOTOS_CUT,         // warning: more usable photos than max; count = max
    BUILD_TOO_FEW,            // error: count usable pictures, fewer than 2
    BUILD_ICON_PAST_END,      // warning: count = the icon number asked for; picture 0 is used
    BUILD_WRITE_FAILED,       // error: detail = why
    BUILD_OUTPUT_IS_LINK,     // error: file = the output, a link that follow_output_link forbids
    BUILD_SIMILAR_DROPPED,    // warning: count near-duplicates dropped from limit groups
    BUILD_PHOTOS_CHOSEN,      // warning: more usable photos (limit) than max; count = max chosen
};

struct BuildMessage {
    BuildMessageKind kind;
    bool error = false;  // an error ends the build (status BUILD_FAILED or BUILD_CANCELLED)
    std::string file, other, detail;
    long count = 0;
    long limit = 0;  // BUILD_PHOTOS_SMALL: the min_size
};

// The message as one line ("skipping a.jpg: not a JPEG"), without the program's prefix; pass it
// through shown() before printing (it holds file names).
std::string build_message_text(const BuildMessage& message);

enum BuildStatus : int { BUILD_OK = 0, BUILD_FAILED, BUILD_CANCELLED };

// What became of one input (BuildOptions::list_inputs).
struct InputOutcome {
    enum Kind { PICTURE, DUPLICATE, SIMILAR, LEFT_OUT, REFUSED, SMALL, NOT_READ } kind = NOT_READ;
    int picture = -1;    // PICTURE: its number in the pack
    std::string other;   // DUPLICATE, SIMILAR: the input kept instead
    std::string reason;  // REFUSED: why
};

struct BuildReport {
    BuildStatus status = BUILD_FAILED;
    std::string error;                  // the failure's one line (build_message_text), else empty
    std::vector<BuildMessage> messages; // warnings and errors in the order they arose
    int photos_found = 0;               // JPEG and PNG files among the inputs
    int pictures = 0;                   // pictures in the pack written
    int enlarged = 0;                   // of them, photos whose shorter side was below 240
    size_t pack_bytes = 0;
    double seconds = 0;                 // from the start to the pack in place
    // Filled when options.summary is set and the pack was written.
    bool measured = false;
    Coverage coverage;                  // coverage.unused: pictures no table names
    std::vector<std::string> unused_files;  // the photo each of coverage.unused came from
    bool variety_measured = false;      // the written pack loaded back and was measured
    QualityFigures variety;             // as `evgpack quality` measures it, on up to 16 pictures
    bool variety_has_candidates = false;
    std::string coverage_warning;       // coverage_warning(): the pack is too small, else empty
    int similar_groups = 0, similar_dropped = 0;  // near-duplicate groups, pictures left out by them
    int usable = 0;                     // distinct usable pictures before the selection
    bool selected = false;              // more than max: the pictures were chosen
    // measured with `selected`: colour coverage the first max usable photos by path would give
    double path_colour_mean = 0, path_colour_p95 = 0;
    int cache_hits = 0;                 // photos taken from the import cache
    std::vector<std::string> files;     // list_inputs: every input, in path order
    std::vector<InputOutcome> inputs;   // list_inputs: what became of each
};

// The report as JSON: every input with what became of it.
std::string build_report_json(const BuildReport& report);

// The summary `evgpack build` prints after a successful write (standard output) for the pack
// written to `output`, as lines ending in newlines; empty when the report was not measured.
std::string build_summary_text(const BuildReport& report, const std::string& output);

// Lets another thread watch and stop a build, and the caller draw progress. build_pack publishes
// its progress in the counters and checks `cancel` between photos and before writing.
struct BuildMonitor {
    std::atomic<int> found{0};           // photos found so far by the folder walk (before `total`)
    std::atomic<int> done{0}, total{0};  // photos read so far, photos to read
    std::atomic<int> matching{0};        // 1 once the photos are read: colour tables, then the write
    std::atomic<int> cancel{0};          // set by the watcher: stop, write nothing, BUILD_CANCELLED
    std::atomic<int> written{0};         // 1 once the pack is in place (a later cancel keeps it)
    // Optional calls on the building threads, for a caller that prints as the build goes:
    // `message` as each message is added to the report; `reading` once before the first photo is
    // read (done 0), after each photo (never two at once) and once after the last (done -1).
    void* context = nullptr;
    void (*message)(void* context, const BuildMessage& message) = nullptr;
    void (*reading)(void* context, int done, int total) = nullptr;
    // `counting` every COUNTING_STEP photos the folder walk finds (before `reading` starts).
    void (*counting)(void* context, int found) = nullptr;
};

// Builds options.output from options.paths. Returns report.status; on BUILD_OK the pack is in
// place. The monitor may be null.
BuildStatus build_pack(const BuildOptions& options, BuildReport& report, BuildMonitor* monitor);

// The JPEG and PNG files a build of `folder` would read, sorted, without any messages.
std::vector<std::string> find_photos(const std::string& folder);
// The same files, each passed to `found` as the walk meets them (unsorted, nothing kept).
void walk_photos(const std::string& folder, const std::function<void(const std::string&)>& found);

// The user's name for the pack header: the full name from the password database, else the
// login name, else "Unknown".
std::string default_author();

// Default number of worker threads: all cores.
int default_jobs();

}  // namespace evgpack
