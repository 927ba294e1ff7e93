// `evgpack build -o OUT.evg [options] PATH...`: a pack from a folder of photos.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pack/pack_file.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "pack/pack_candidates.h"
#include "pack/tile_map.h"
#include "builder/pack_quality.h"
#include "builder/pack_reader.h"
#include "builder/pack_stats.h"
#include "builder/pack_writer.h"

namespace fs = std::filesystem;

namespace evgpack {

namespace {

constexpr int MAX_PICTURES = 2048;

const char BUILD_HELP[] =
    "usage: evgpack build -o OUT.evg [options] PATH...\n"
    "\n"
    "Makes an image pack from photos. PATHs are files or folders (searched recursively; a\n"
    "symbolic link to a folder is followed once, a loop is reported); JPEG and PNG files are\n"
    "read, in path order.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the pack to write (required; replaced only when the build succeeds).\n"
    "                      An existing file is replaced only when it is a pack; a symbolic\n"
    "                      link has its target replaced\n"
    "  --force             replace FILE even when it is not a pack (or is one of the photos)\n"
    "  --quality Q         JPEG quality of the pictures, 1-100 (default 85)\n"
    "  --thumb-size T      thumbnail edge in pixels, 1-255 (default 64)\n"
    "  --variety D         let a colour use any picture within D delta E of its best (default 2, 0 = off)\n"
"  --candidates K      pictures listed per colour for varied neighbouring tiles, 0-16 (default 16, 0 = none)\n"
    "  --candidate-budget D  how far beyond a colour's nearest picture a candidate may lie (delta E, default 5)\n"
    "  --author NAME       author shown on the pack card (default: your name)\n"
    "  --icon K            picture number whose miniature is the pack's icon (default 0)\n"
    "  --max N             use at most N pictures, 2-2048 (default 2048)\n"
    "  --min-size PX       skip photos whose shorter side is below PX pixels (default 0: keep all;\n"
    "                      smaller photos are enlarged, and the summary counts them)\n"
    "  --jobs N            worker threads (default: all cores); the pack is the same for any N\n"
    "  --quiet             no progress or summary, only warnings and errors\n";

struct BuildOptions {
    std::string output;
    long quality = 85, thumb_size = 64, icon = 0, max = MAX_PICTURES, jobs = 0, min_size = 0;
    double variety = DEFAULT_VARIETY;
    long candidates = DEFAULT_CANDIDATES;
    double candidate_budget = DEFAULT_CANDIDATE_BUDGET;
    std::string author;
    bool author_set = false, quiet = false, force = false;
    std::vector<std::string> paths;
};

// The variety the new pack gives, measured as `evgpack quality` does on a few of its own
// pictures (reading the written file back through the viewer's loader).
void print_expected_variety(const std::string& path) {
    LoadedPack pack;
    std::string error;
    if (!load_pack(path, pack, error)) return;
    const QualityFigures q = measure_quality(16, true, SPREAD_DIFFUSE, false);
    std::printf("expected variety (%d of its pictures as surfaces): %.1f distinct pictures per 5 x 5 tiles, "
                "%.1f per zoom-40 screen, %.0f%% of neighbours the same picture%s\n",
                q.surfaces, q.distinct_block, q.distinct_screen, 100 * q.same_horizontal,
                candidate_count ? "" : " (no candidate lists)");
    pack_close();
}

bool lower_extension_is(const fs::path& p, std::initializer_list<const char*> list) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* e : list)
        if (ext == e) return true;
    return false;
}

// True when `folder` is `path` or one of the folders above it (both canonical).
bool is_same_or_above(const fs::path& folder, const fs::path& path) {
    std::string f = folder.string() + "/", p = path.string() + "/";
    return p.compare(0, f.size(), f) == 0;
}

// JPEG and PNG files under `root` into `found`; other picture formats get a warning, other
// files and hidden ones are passed over, and a subfolder that cannot be listed is reported
// (when `report`) and skipped. Symbolic links to folders are followed, and every real
// folder is read once: a link back to a folder above it (a loop) is reported and not followed,
// a second way into a folder already read is passed over. `report`: print those warnings.
void list_folder(const std::string& root, std::vector<std::string>& found, bool report) {
    std::error_code ec, entry_ec;
    std::set<fs::path> visited{fs::canonical(root, entry_ec)};
    const auto options = fs::directory_options::skip_permission_denied | fs::directory_options::follow_directory_symlink;
    fs::recursive_directory_iterator it(root, options, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        std::string name = p.filename().string();
        const bool folder = it->is_directory(entry_ec);
        if (!name.empty() && name[0] == '.') {
            if (folder) it.disable_recursion_pending();
            continue;
        }
        if (folder) {
            std::error_code link_ec;
            fs::path real = fs::canonical(p, entry_ec);
            if (!entry_ec && it->is_symlink(link_ec) && is_same_or_above(real, fs::canonical(p.parent_path(), link_ec))) {
                if (report) print_warning("not following " + p.string() + ": it leads back to " + real.string() + " (a loop)");
                it.disable_recursion_pending();
            } else if (entry_ec || !visited.insert(real).second) {
                it.disable_recursion_pending();
            } else if (fs::directory_iterator probe(p, entry_ec); entry_ec) {
                // The walk would pass over it silently (skip_permission_denied).
                if (report) print_warning("skipping the folder " + p.string() + ": " + entry_ec.message());
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!it->is_regular_file(entry_ec)) continue;
        if (lower_extension_is(p, {".jpg", ".jpeg", ".jpe", ".jfif", ".png"})) {
            found.push_back(p.string());
        } else if (lower_extension_is(p, {".gif", ".bmp", ".tif", ".tiff", ".webp", ".heic", ".heif", ".avif",
                                           ".raw", ".cr2", ".nef", ".arw", ".dng"})) {
            if (report) print_warning("skipping " + p.string() + ": unsupported format (JPEG and PNG are read)");
        }
    }
    if (ec && report) print_warning("could not list all of " + root + ": " + ec.message());
}

// Files to read, in path order: the photos of each folder (list_folder); named files are
// always tried.
bool collect_inputs(const std::vector<std::string>& paths, std::vector<std::string>& files) {
    bool ok = true;
    for (const std::string& path : paths) {
        std::error_code ec;
        fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) {
            print_error("cannot read " + path + ": no such file or folder");
            ok = false;
            continue;
        }
        if (!fs::is_directory(st)) {
            files.push_back(path);
            continue;
        }
        list_folder(path, files, true);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return ok;
}

// Larger input files are refused: each worker holds its photo file whole while decoding it.
constexpr off_t MAX_INPUT_BYTES = static_cast<off_t>(MAX_DECODE_BYTES);

// The whole file, when it is a regular file. The open does not block (a FIFO given as a photo
// would otherwise wait for a writer for ever); what is not a regular file is refused.
bool read_whole_file(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (st.st_size > MAX_INPUT_BYTES) {
        error = "file too large (" + std::to_string(st.st_size >> 20) + " MB)";
    } else {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ok = got == bytes.size();
        if (!ok) error = "read error";
    }
    ::close(fd);
    return ok;
}

// The file a path names after following symbolic links (the link's target is what a write
// should replace, not the link). A dangling link gives its final target, to be created.
std::string link_target(const std::string& path) {
    fs::path p = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        fs::path next = fs::read_symlink(p, ec);
        if (ec) break;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return p.string();
}

// Whether `path` may be replaced by the new pack: a missing or empty file, or an earlier pack
// (with a header, or a plain pack the viewer opens). Photos, text or any other file, or one of
// the inputs, need --force. false + reason otherwise.
bool output_replaceable(const std::string& path, const std::vector<std::string>& inputs, std::string& reason) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        reason = path + " is a folder";
        return false;
    }
    for (const std::string& input : inputs) {
        struct stat in;
        if (::stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino) {
            reason = path + " is one of the photos; use --force to replace it with the pack";
            return false;
        }
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) return true;
    if (S_ISREG(st.st_mode)) {
        LoadedPack pack;
        std::string ignored;
        if (load_pack(path, pack, ignored)) {
            pack_close();
            return true;
        }
        pack_close();
    }
    reason = path + " exists and is not a pack; use --force to replace it";
    return false;
}

uint64_t fnv1a64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// One input's outcome.
struct Slot {
    enum State { PENDING, USED, DUPLICATE, FAILED, SMALL } state = PENDING;
    std::string reason;
    uint64_t hash = 0;
    size_t size = 0;
    int short_side = 0;  // the photo's shorter side before scaling
    PackPicture picture;
    std::vector<uint16_t> icon;  // kept for every picture until the icon's number is known
};

// Reads, decodes and encodes one input into its slot. Running out of memory on one photo (the
// decode limits keep it rare) drops that photo only, never the build.
void import_input(const std::string& path, const BuildOptions& o, std::vector<uint8_t>& bytes, Slot& slot) {
    std::string error;
    try {
        LinearPicture picture;
        if (!read_whole_file(path, bytes, error)) {
            slot.state = Slot::FAILED, slot.reason = error;
            return;
        }
        slot.hash = fnv1a64(bytes);
        slot.size = bytes.size();
        if (import_photo(bytes.data(), bytes.size(), picture, error) != PHOTO_OK) {
            slot.state = Slot::FAILED, slot.reason = error;
        } else if ((slot.short_side = picture.source_short_side) < o.min_size) {
            slot.state = Slot::SMALL;
        } else if (!make_pack_picture(picture, static_cast<int>(o.quality), static_cast<int>(o.thumb_size),
                                      slot.picture)) {
            slot.state = Slot::FAILED, slot.reason = "could not encode the picture";
        } else {
            slot.icon = make_icon(picture);
            slot.state = Slot::USED;
        }
    } catch (const std::bad_alloc&) {
        slot.state = Slot::FAILED, slot.reason = "not enough memory for this photo";
        slot.picture = PackPicture{};
        slot.icon.clear();
        std::vector<uint8_t>().swap(bytes);
    }
}

bool parse_build_args(int argc, char** argv, BuildOptions& o) {
    std::string error;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        bool ok = true;
        if (a == "-h" || a == "--help") {
            std::fputs(BUILD_HELP, stdout);
            std::exit(0);
        } else if (a == "-o" || a == "--output") {
            const char* v = value("-o");
            ok = v != nullptr;
            if (ok) o.output = v;
        } else if (a == "--quality") {
            ok = parse_int_option("--quality", value("--quality"), 1, 100, o.quality, error);
        } else if (a == "--thumb-size") {
            ok = parse_int_option("--thumb-size", value("--thumb-size"), 1, PACK_MAX_THUMB_SIZE, o.thumb_size, error);
        } else if (a == "--variety") {
            ok = parse_double_option("--variety", value("--variety"), 0, 100, o.variety, error);
        } else if (a == "--candidates") {
            ok = parse_int_option("--candidates", value("--candidates"), 0, 16, o.candidates, error);
        } else if (a == "--candidate-budget") {
            ok = parse_double_option("--candidate-budget", value("--candidate-budget"), 0, 100, o.candidate_budget, error);
        } else if (a == "--author") {
            const char* v = value("--author");
            ok = v != nullptr;
            if (ok) o.author = v, o.author_set = true;
        } else if (a == "--icon") {
            ok = parse_int_option("--icon", value("--icon"), 0, MAX_PICTURES - 1, o.icon, error);
        } else if (a == "--max") {
            ok = parse_int_option("--max", value("--max"), 2, MAX_PICTURES, o.max, error);
        } else if (a == "--min-size") {
            ok = parse_int_option("--min-size", value("--min-size"), 0, 1000000, o.min_size, error);
        } else if (a == "--jobs") {
            ok = parse_int_option("--jobs", value("--jobs"), 1, 256, o.jobs, error);
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a + " (see evgpack build --help)";
            ok = false;
        } else {
            o.paths.push_back(a);
        }
        if (!ok) {
            print_error(error);
            return false;
        }
    }
    if (o.output.empty()) {
        print_error("build needs an output file: evgpack build -o OUT.evg PATH... (see --help)");
        return false;
    }
    if (o.paths.empty()) {
        print_error("build needs at least one photo or folder (see evgpack build --help)");
        return false;
    }
    if (o.author.size() > PACK_AUTHOR_SIZE) {
        print_warning("the author name is cut to 32 bytes");
        o.author.resize(PACK_AUTHOR_SIZE);
    }
    return true;
}

// Reads, imports and encodes the inputs on `jobs` threads. Workers take inputs in path order
// and stop taking new ones once `max` distinct pictures are in hand; inputs never taken stay
// PENDING, so which pictures the pack uses does not depend on the timing.
std::vector<Slot> import_inputs(const std::vector<std::string>& files, const BuildOptions& o, int jobs,
                                BuildMonitor* monitor) {
    std::vector<Slot> slots(files.size());
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    std::mutex lock;  // guards `distinct`, `used` and the progress display
    std::set<std::pair<uint64_t, size_t>> distinct;  // contents seen by the workers
    int used = 0;
    Progress progress("photos", static_cast<int>(files.size()), o.quiet);
    if (monitor) monitor->total = static_cast<int>(files.size());
    auto worker = [&]() {
        std::vector<uint8_t> bytes;
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (used >= o.max || (monitor && monitor->cancel.load())) return;
            }
            size_t i = next.fetch_add(1);
            if (i >= files.size()) return;
            Slot& slot = slots[i];
            import_input(files[i], o, bytes, slot);
            std::lock_guard<std::mutex> guard(lock);
            // Count distinct contents only, so repeats do not stop the workers early.
            if (slot.state == Slot::USED && distinct.insert({slot.hash, slot.size}).second) ++used;
            progress.update(++done);
            if (monitor) monitor->done = done.load();
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < jobs; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    progress.finish();
    return slots;
}

// In path order: reports failures, drops byte-identical repeats and keeps the first `max`
// usable inputs. Returns their input numbers.
std::vector<size_t> choose_pictures(const std::vector<std::string>& files, std::vector<Slot>& slots, long max,
                                    long min_size) {
    std::map<std::pair<uint64_t, size_t>, size_t> seen;  // (hash, size) -> first input
    std::vector<size_t> chosen;
    bool cut = false;
    int small = 0;
    for (size_t i = 0; i < slots.size(); ++i) {
        Slot& slot = slots[i];
        if (slot.state == Slot::PENDING) {
            cut = true;
            break;
        }
        if (slot.state == Slot::FAILED) {
            print_warning("skipping " + files[i] + ": " + slot.reason);
            continue;
        }
        if (slot.state == Slot::SMALL) {
            ++small;
            continue;
        }
        auto key = std::make_pair(slot.hash, slot.size);
        auto earlier = seen.find(key);
        if (earlier != seen.end()) {
            std::vector<uint8_t> a, b;
            std::string ignored;
            if (read_whole_file(files[earlier->second], a, ignored) && read_whole_file(files[i], b, ignored) && a == b) {
                print_warning("skipping " + files[i] + ": same bytes as " + files[earlier->second]);
                slot.state = Slot::DUPLICATE;
                continue;
            }
        } else {
            seen[key] = i;
        }
        if (static_cast<long>(chosen.size()) >= max) {
            cut = true;
            break;
        }
        chosen.push_back(i);
    }
    if (small > 0)
        print_warning("skipped " + std::to_string(small) + " photo(s) whose shorter side is below " +
                      std::to_string(min_size) + " pixels (--min-size)");
    if (cut) {
        char line[160];
        std::snprintf(line, sizeof line, "more photos than the pack can hold: using the first %ld usable ones", max);
        print_warning(line);
    }
    return chosen;
}

// "pictures never used by the tables: N", then each as its number in the pack and its source
// file (the pack itself keeps no file names), at most 20 of them.
void print_unused(const std::vector<int>& unused, const std::vector<std::string>& files,
                  const std::vector<size_t>& chosen) {
    constexpr size_t SHOWN = 20;
    std::printf("pictures never used by the tables: %zu\n", unused.size());
    for (size_t k = 0; k < unused.size() && k < SHOWN; ++k)
        std::printf("  picture %d: %s\n", unused[k], files[chosen[static_cast<size_t>(unused[k])]].c_str());
    if (unused.size() > SHOWN) std::printf("  ... and %zu more (evgpack info --json lists all)\n", unused.size() - SHOWN);
}

// The summary after a successful write: size, time, how well the colours are covered, how
// varied the tiles will be, how many photos were enlarged and which pictures no colour uses.
void print_summary(const BuildOptions& o, const PackContent& content, const std::vector<Lab>& colours,
                   size_t pack_bytes, double seconds, int enlarged, const std::vector<std::string>& files,
                   const std::vector<size_t>& chosen) {
    std::vector<uint16_t> thumbs;
    for (const PackPicture& p : content.pictures) thumbs.insert(thumbs.end(), p.thumb.begin(), p.thumb.end());
    Coverage cov = measure_coverage(content.tables.best, content.tables.second, colours, thumbs.data(), thumbs.size());
    std::printf("wrote %s: %zu pictures, %.1f MB, in %.1f s\n", shown(o.output).c_str(), content.pictures.size(),
                pack_bytes / 1e6, seconds);
    std::printf("colour coverage (delta E 2000): all colours mean %.1f, 95%% within %.1f; "
                "the pictures' own pixels mean %.1f, 95%% within %.1f\n",
                cov.colour_mean, cov.colour_p95, cov.pixel_mean, cov.pixel_p95);
    std::printf("pictures enlarged (shorter side below %d pixels; --min-size skips such photos): %d\n", PICTURE_EDGE,
                enlarged);
    print_unused(cov.unused, files, chosen);
    print_expected_variety(o.output);
    std::string warning = coverage_warning(cov, static_cast<int>(content.pictures.size()));
    if (!warning.empty()) std::fprintf(stderr, "evgpack: %s\n", warning.c_str());
}

}  // namespace

std::vector<std::string> find_photos(const std::string& folder) {
    std::vector<std::string> files;
    list_folder(folder, files, false);
    std::sort(files.begin(), files.end());
    return files;
}

int cmd_build(int argc, char** argv) { return build_pack(argc, argv, nullptr); }

int build_pack(int argc, char** argv, BuildMonitor* monitor) {
    BuildOptions o;
    if (!parse_build_args(argc, argv, o)) return 2;
    const auto start = std::chrono::steady_clock::now();
    if (!o.author_set) o.author = default_author().substr(0, PACK_AUTHOR_SIZE);
    const int jobs = o.jobs > 0 ? static_cast<int>(o.jobs) : default_jobs();
    if (!lower_extension_is(o.output, {".evg"}))
        print_warning("the viewer lists only files ending in .evg; " + o.output + " will not be listed");

    std::vector<std::string> files;
    if (!collect_inputs(o.paths, files)) return 1;
    if (files.empty()) {
        print_error("no JPEG or PNG photos found");
        return 1;
    }
    // Checked before the work, so that a mistyped -o costs nothing.
    const std::string target = link_target(o.output);
    std::string refusal;
    if (!o.force && !output_replaceable(target, files, refusal)) {
        print_error(refusal);
        return 1;
    }
    auto cancelled = [monitor]() {
        if (!monitor || !monitor->cancel.load()) return false;
        print_error("build cancelled; nothing written");
        return true;
    };
    std::vector<Slot> slots = import_inputs(files, o, jobs, monitor);
    if (monitor) monitor->matching = 1;
    if (cancelled()) return 1;
    std::vector<size_t> chosen = choose_pictures(files, slots, o.max, o.min_size);
    if (chosen.size() < 2) {
        print_error("fewer than 2 usable pictures (" + std::to_string(chosen.size()) + "); a pack needs at least 2");
        return 1;
    }
    if (o.icon >= static_cast<long>(chosen.size())) {
        print_warning("--icon " + std::to_string(o.icon) + " is past the last picture; using picture 0");
        o.icon = 0;
    }

    int enlarged = 0;
    for (size_t i : chosen) enlarged += slots[i].short_side < PICTURE_EDGE;

    PackContent content;
    content.thumb_size = static_cast<int>(o.thumb_size);
    content.author = o.author;
    content.icon = slots[chosen[static_cast<size_t>(o.icon)]].icon;
    std::vector<Lab> colours;
    for (size_t i : chosen) {
        colours.push_back(slots[i].picture.colour);
        content.pictures.push_back(std::move(slots[i].picture));
    }
    slots.clear();
    content.tables = compute_match_tables(colours, o.variety, jobs, static_cast<int>(o.candidates), o.candidate_budget);
    std::vector<uint8_t> bytes = pack_serialise(content);
    std::string error;
    if (cancelled()) return 1;
    if (!write_file_replacing(target, bytes, error)) {
        print_error(error);
        return 1;
    }
    if (monitor) monitor->written = 1;
    if (!o.quiet) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        print_summary(o, content, colours, bytes.size(), seconds, enlarged, files, chosen);
    }
    return 0;
}

}  // namespace evgpack
