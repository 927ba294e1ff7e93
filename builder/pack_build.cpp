// The pack build: inputs collected and read on worker threads (through the import cache),
// byte-identical and near-identical photos dropped, the pictures chosen (in path order, or for
// colour coverage when there are more than the pack takes), colour tables matched, the pack
// written, and the figures of the summary measured.
#include "builder/pack_build.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "builder/import_cache.h"
#include "builder/near_duplicates.h"
#include "builder/pack_reader.h"
#include "builder/pack_writer.h"
#include "builder/photo_import.h"
#include "builder/photo_selection.h"
#include "builder/printable.h"
#include "pack/pack_file.h"
#include "pack/tile_map.h"

namespace fs = std::filesystem;

namespace evgpack {

namespace {

// The messages of one build: kept in the report and passed on to the monitor as they arise.
struct Messages {
    BuildReport& report;
    BuildMonitor* monitor;

    void add(BuildMessageKind kind, bool error, const std::string& file = "", const std::string& other = "",
             const std::string& detail = "", long count = 0, long limit = 0) {
        BuildMessage m;
        m.kind = kind, m.error = error, m.file = file, m.other = other, m.detail = detail;
        m.count = count, m.limit = limit;
        if (error) report.error = build_message_text(m);
        report.messages.push_back(m);
        if (monitor && monitor->message) monitor->message(monitor->context, report.messages.back());
    }
    void warning(BuildMessageKind kind, const std::string& file = "", const std::string& other = "",
                 const std::string& detail = "", long count = 0, long limit = 0) {
        add(kind, false, file, other, detail, count, limit);
    }
    void error(BuildMessageKind kind, const std::string& file = "", const std::string& detail = "", long count = 0) {
        add(kind, true, file, "", detail, count);
    }
};

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

// JPEG and PNG files under `root` to `found` as the walk meets them (a library of 100,000 photos
// is never listed twice); other picture formats get a warning, other
// files and hidden ones are passed over, and a subfolder that cannot be listed is reported
// and skipped. Symbolic links to folders are followed, and every real folder is read once: a
// link back to a folder above it (a loop) is reported and not followed, a second way into a
// folder already read is passed over. `messages` null: report nothing.
void list_folder(const std::string& root, const std::function<void(const std::string&)>& found, Messages* messages) {
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
                if (messages) messages->warning(BUILD_FOLDER_LOOP, p.string(), real.string());
                it.disable_recursion_pending();
            } else if (entry_ec || !visited.insert(real).second) {
                it.disable_recursion_pending();
            } else if (fs::directory_iterator probe(p, entry_ec); entry_ec) {
                // The walk would pass over it silently (skip_permission_denied).
                if (messages) messages->warning(BUILD_FOLDER_UNREADABLE, p.string(), "", entry_ec.message());
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!it->is_regular_file(entry_ec)) continue;
        if (lower_extension_is(p, {".jpg", ".jpeg", ".jpe", ".jfif", ".png"})) {
            found(p.string());
        } else if (lower_extension_is(p, {".gif", ".bmp", ".tif", ".tiff", ".webp", ".heic", ".heif", ".avif",
                                           ".raw", ".cr2", ".nef", ".arw", ".dng"})) {
            if (messages) messages->warning(BUILD_UNSUPPORTED_FORMAT, p.string());
        }
    }
    if (ec && messages) messages->warning(BUILD_FOLDER_INCOMPLETE, root, "", ec.message());
}

// Files to read, in path order: the photos of each folder (list_folder); named files are
// always tried.
bool collect_inputs(const std::vector<std::string>& paths, std::vector<std::string>& files, Messages& messages) {
    bool ok = true;
    for (const std::string& path : paths) {
        std::error_code ec;
        fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) {
            messages.error(BUILD_INPUT_MISSING, path);
            ok = false;
            continue;
        }
        if (!fs::is_directory(st)) {
            files.push_back(path);
            continue;
        }
        list_folder(path, [&files, &messages](const std::string& f) {
            files.push_back(f);
            BuildMonitor* m = messages.monitor;
            if (!m) return;
            m->found = static_cast<int>(files.size());
            if (m->counting && files.size() % COUNTING_STEP == 0) m->counting(m->context, m->found);
        }, &messages);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return ok;
}

// Larger input files are refused: each worker holds its photo file whole while decoding it.
constexpr off_t MAX_INPUT_BYTES = static_cast<off_t>(MAX_DECODE_BYTES);

// The whole file, when it is a regular file. The open does not block (a FIFO given as a photo
// would otherwise wait for a writer for ever); what is not a regular file is refused.
bool read_whole_file(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                     struct stat* info = nullptr) {
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
        if (info) *info = st;
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
// the inputs, need force. Otherwise false and the reason's kind.
bool output_replaceable(const std::string& path, const std::vector<std::string>& inputs, BuildMessageKind& reason) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        reason = BUILD_OUTPUT_IS_FOLDER;
        return false;
    }
    for (const std::string& input : inputs) {
        struct stat in;
        if (::stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino) {
            reason = BUILD_OUTPUT_IS_INPUT;
            return false;
        }
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) return true;
    if (S_ISREG(st.st_mode)) {
        LoadedPack info;
        auto pack = std::make_unique<OpenPack>();
        std::string ignored;
        if (load_pack(path, info, *pack, ignored)) return true;
    }
    reason = BUILD_OUTPUT_NOT_PACK;
    return false;
}

uint64_t fnv1a64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// One input's outcome. The picture and icon are held in memory unless the build spills them to
// the import store (a library larger than the pack); the rest is what the choice needs.
struct Slot {
    enum State { PENDING, USED, DUPLICATE, SIMILAR, LEFT_OUT, FAILED, SMALL } state = PENDING;
    std::string reason;
    uint64_t hash = 0;
    size_t size = 0;
    int short_side = 0;  // the photo's shorter side before scaling
    uint64_t key_size = 0;  // the store's key for the photo (size and modification time)
    int64_t key_mtime = 0;
    PictureTraits traits;
    Lab colour{};
    size_t other = 0;  // DUPLICATE, SIMILAR: the input kept instead
    bool held = false;
    PackPicture picture;
    std::vector<uint16_t> icon;  // kept for every picture until the icon's number is known
};

CacheKey import_key(const std::string& path, const BuildOptions& o, uint64_t size, int64_t mtime_ns) {
    CacheKey key;
    std::error_code ec;
    key.path = fs::absolute(path, ec).lexically_normal().string();
    key.size = size, key.mtime_ns = mtime_ns;
    key.quality = static_cast<uint32_t>(o.quality), key.thumb_size = static_cast<uint32_t>(o.thumb_size);
    return key;
}

int64_t mtime_ns(const struct stat& st) { return st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec; }

// Fills the slot from an import's outcome; `hold`: keep the picture in memory.
void fill_slot(ImportedPhoto& photo, const BuildOptions& o, bool hold, Slot& slot) {
    slot.hash = photo.content_hash, slot.size = photo.content_size;
    if (!photo.ok) {
        slot.state = Slot::FAILED, slot.reason = photo.reason;
        return;
    }
    slot.short_side = photo.short_side;
    slot.traits = photo.traits;
    slot.colour = photo.picture.colour;
    slot.state = slot.short_side < o.min_size ? Slot::SMALL : Slot::USED;
    if (hold && slot.state == Slot::USED) {
        slot.picture = std::move(photo.picture);
        slot.icon = std::move(photo.icon);
        slot.held = true;
    }
}

// Reads, decodes and encodes one input into its slot, or takes it from `store` (the import
// cache, or a temporary folder of this build; empty: none) when an entry matches. Running out of
// memory on one photo (the decode limits keep it rare) drops that photo only, never the build.
void import_input(const std::string& path, const BuildOptions& o, const std::string& store, bool hold,
                  std::vector<uint8_t>& bytes, Slot& slot, std::atomic<int>& hits) {
    std::string error;
    try {
        ImportedPhoto photo;
        struct stat st;
        if (!store.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            slot.key_size = static_cast<uint64_t>(st.st_size), slot.key_mtime = mtime_ns(st);
            if (cache_load(store, import_key(path, o, slot.key_size, slot.key_mtime), photo)) {
                ++hits;
                fill_slot(photo, o, hold, slot);
                return;
            }
        }
        if (!read_whole_file(path, bytes, error, &st)) {
            slot.state = Slot::FAILED, slot.reason = error;  // not stored: it may read next time
            return;
        }
        slot.key_size = static_cast<uint64_t>(st.st_size), slot.key_mtime = mtime_ns(st);
        photo.content_hash = fnv1a64(bytes);
        photo.content_size = bytes.size();
        LinearPicture picture;
        if (import_photo(bytes.data(), bytes.size(), picture, error) != PHOTO_OK) {
            photo.reason = error;
        } else if (!make_pack_picture(picture, static_cast<int>(o.quality), static_cast<int>(o.thumb_size),
                                      photo.picture)) {
            photo.reason = "could not encode the picture";
        } else {
            photo.ok = true;
            photo.short_side = picture.source_short_side;
            photo.traits = picture_traits(picture);
            photo.icon = make_icon(picture);
        }
        if (!store.empty()) cache_store(store, import_key(path, o, slot.key_size, slot.key_mtime), photo);
        fill_slot(photo, o, hold, slot);
    } catch (const std::bad_alloc&) {
        slot.state = Slot::FAILED, slot.reason = "not enough memory for this photo";
        slot.picture = PackPicture{};
        slot.icon.clear();
        slot.held = false;
        std::vector<uint8_t>().swap(bytes);
    }
}

// Reads, imports and encodes the inputs on `jobs` threads, in path order. With order_path the
// workers stop taking new ones once `max` distinct pictures are in hand; inputs never taken stay
// PENDING, so which pictures the pack uses does not depend on the timing.
std::vector<Slot> import_inputs(const std::vector<std::string>& files, const BuildOptions& o, int jobs,
                                const std::string& store, bool hold, std::atomic<int>& hits,
                                BuildMonitor* monitor) {
    std::vector<Slot> slots(files.size());
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    std::mutex lock;  // guards `distinct`, `used` and the progress calls
    std::set<std::pair<uint64_t, size_t>> distinct;  // contents seen by the workers
    int used = 0;
    const int total = static_cast<int>(files.size());
    auto reading = [monitor, total](int count) {
        if (monitor && monitor->reading) monitor->reading(monitor->context, count, total);
    };
    reading(0);
    if (monitor) monitor->total = total;
    auto worker = [&]() {
        std::vector<uint8_t> bytes;
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if ((o.order_path && used >= o.max) || (monitor && monitor->cancel.load())) return;
            }
            size_t i = next.fetch_add(1);
            if (i >= files.size()) return;
            Slot& slot = slots[i];
            import_input(files[i], o, store, hold, bytes, slot, hits);
            std::lock_guard<std::mutex> guard(lock);
            // Count distinct contents only, so repeats do not stop the workers early.
            if (slot.state == Slot::USED && distinct.insert({slot.hash, slot.size}).second) ++used;
            reading(++done);
            if (monitor) monitor->done = done.load();
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < jobs; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    reading(-1);
    return slots;
}

// In path order: reports failures, drops byte-identical repeats and keeps the usable inputs (with
// `cut`, the first `max` of them). Returns their input numbers.
std::vector<size_t> choose_pictures(const std::vector<std::string>& files, std::vector<Slot>& slots, long max,
                                    long min_size, bool cut_at_max, Messages& messages) {
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
            messages.warning(BUILD_PHOTO_FAILED, files[i], "", slot.reason);
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
                messages.warning(BUILD_PHOTO_DUPLICATE, files[i], files[earlier->second]);
                slot.state = Slot::DUPLICATE;
                slot.other = earlier->second;
                continue;
            }
        } else {
            seen[key] = i;
        }
        if (cut_at_max && static_cast<long>(chosen.size()) >= max) {
            cut = true;
            break;
        }
        chosen.push_back(i);
    }
    if (small > 0) messages.warning(BUILD_PHOTOS_SMALL, "", "", "", small, min_size);
    if (cut) messages.warning(BUILD_PHOTOS_CUT, "", "", "", max);
    return chosen;
}

// The figures of the summary: how well the colours are covered, which pictures no colour uses
// (with their photos) and how varied the tiles of the written pack are, measured as `evgpack
// quality` does on a few of its own pictures read back through the viewer's loader.
void measure_summary(const std::string& output, const PackContent& content, const std::vector<Lab>& colours,
                     const std::vector<std::string>& files, const std::vector<size_t>& chosen, BuildReport& report) {
    std::vector<uint16_t> thumbs;
    for (const PackPicture& p : content.pictures) thumbs.insert(thumbs.end(), p.thumb.begin(), p.thumb.end());
    report.coverage =
        measure_coverage(content.tables.best, content.tables.second, colours, thumbs.data(), thumbs.size());
    for (int p : report.coverage.unused) report.unused_files.push_back(files[chosen[static_cast<size_t>(p)]]);
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    std::string error;
    if (load_pack(output, info, *pack, error)) {
        report.variety = measure_quality(*pack, 16, true, SPREAD_DIFFUSE, false);
        report.variety_has_candidates = pack->candidates.count != 0;
        report.variety_measured = true;
    }
    report.coverage_warning = coverage_warning(report.coverage, static_cast<int>(content.pictures.size()));
    report.measured = true;
}

// Near-duplicates among the usable inputs: of each group the photo with the longest shorter side
// is kept (then the sharpest, then the first by path); the others become SIMILAR. Returns the inputs
// kept, in path order.
std::vector<size_t> drop_similar(const std::vector<size_t>& usable, std::vector<Slot>& slots, BuildReport& report) {
    std::vector<SimilarItem> items;
    for (size_t i : usable) items.push_back(similar_item(slots[i].traits, slots[i].colour));
    const std::vector<uint32_t> group = group_similar(items);
    std::map<uint32_t, size_t> keeper;  // group -> position in `usable` of the photo kept
    std::map<uint32_t, int> members;
    for (size_t k = 0; k < usable.size(); ++k) {
        ++members[group[k]];
        auto it = keeper.find(group[k]);
        if (it == keeper.end()) {
            keeper[group[k]] = k;
            continue;
        }
        const Slot& a = slots[usable[k]];
        const Slot& b = slots[usable[it->second]];
        if (a.short_side > b.short_side || (a.short_side == b.short_side && a.traits.sharpness > b.traits.sharpness))
            it->second = k;
    }
    std::vector<size_t> kept;
    for (size_t k = 0; k < usable.size(); ++k) {
        const size_t keep = keeper[group[k]];
        if (keep == k) {
            kept.push_back(usable[k]);
            continue;
        }
        slots[usable[k]].state = Slot::SIMILAR;
        slots[usable[k]].other = usable[keep];
        ++report.similar_dropped;
    }
    for (const auto& m : members) report.similar_groups += m.second > 1;
    return kept;
}

// For each input, a number for the top-level folder it came from: the first folder below the
// folder named on the command line (photos directly in it, and files named, share one number).
std::vector<uint32_t> top_folders(const std::vector<std::string>& files, const std::vector<std::string>& paths) {
    std::map<std::string, uint32_t> numbers;
    std::vector<uint32_t> out;
    for (const std::string& f : files) {
        std::string top;
        for (const std::string& p : paths) {
            const std::string prefix = !p.empty() && p.back() == '/' ? p : p + "/";
            if (f.compare(0, prefix.size(), prefix) != 0) continue;
            const size_t slash = f.find('/', prefix.size());
            top = slash == std::string::npos ? prefix : f.substr(0, slash);
            break;
        }
        out.push_back(numbers.emplace(top, static_cast<uint32_t>(numbers.size())).first->second);
    }
    return out;
}

// Brings the picture and icon of a spilled input back from the store, or imports it again when
// its entry has gone (trimmed or damaged by another build meanwhile).
bool load_picture(const std::string& path, const BuildOptions& o, const std::string& store, Slot& slot) {
    if (slot.held) return true;
    ImportedPhoto photo;
    if (!cache_load(store, import_key(path, o, slot.key_size, slot.key_mtime), photo)) {
        std::vector<uint8_t> bytes;
        std::atomic<int> ignored{0};
        Slot again;
        import_input(path, o, "", true, bytes, again, ignored);
        if (again.state != Slot::USED) return false;
        slot.picture = std::move(again.picture), slot.icon = std::move(again.icon);
        return true;
    }
    slot.picture = std::move(photo.picture), slot.icon = std::move(photo.icon);
    return photo.ok;
}

// Colour coverage of the first `max` usable photos by path, for the summary's comparison.
void measure_path_order(const std::vector<size_t>& usable, const std::vector<Slot>& slots, long max,
                        double variety, int jobs, BuildReport& report) {
    std::vector<Lab> colours;
    for (size_t k = 0; k < usable.size() && static_cast<long>(k) < max; ++k) colours.push_back(slots[usable[k]].colour);
    const MatchTables t = compute_match_tables(colours, variety, jobs);
    const Coverage c = measure_coverage(t.best, t.second, colours, nullptr, 0);
    report.path_colour_mean = c.colour_mean, report.path_colour_p95 = c.colour_p95;
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[at], static_cast<size_t>(n) + 1, format, again);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

}  // namespace

std::string build_message_text(const BuildMessage& m) {
    switch (m.kind) {
        case BUILD_OUTPUT_NOT_LISTED:
            return "the viewer lists only files ending in .evg; " + m.file + " will not be listed";
        case BUILD_INPUT_MISSING: return "cannot read " + m.file + ": no such file or folder";
        case BUILD_FOLDER_LOOP: return "not following " + m.file + ": it leads back to " + m.other + " (a loop)";
        case BUILD_FOLDER_UNREADABLE: return "skipping the folder " + m.file + ": " + m.detail;
        case BUILD_UNSUPPORTED_FORMAT: return "skipping " + m.file + ": unsupported format (JPEG and PNG are read)";
        case BUILD_FOLDER_INCOMPLETE: return "could not list all of " + m.file + ": " + m.detail;
        case BUILD_NO_PHOTOS: return "no JPEG or PNG photos found";
        case BUILD_OUTPUT_IS_FOLDER: return m.file + " is a folder";
        case BUILD_OUTPUT_IS_LINK: return m.file + " is a symbolic link; no pack is written through it";
        case BUILD_OUTPUT_IS_INPUT: return m.file + " is one of the photos; use --force to replace it with the pack";
        case BUILD_OUTPUT_NOT_PACK: return m.file + " exists and is not a pack; use --force to replace it";
        case BUILD_CANCEL_HONOURED: return "build cancelled; nothing written";
        case BUILD_PHOTO_FAILED: return "skipping " + m.file + ": " + m.detail;
        case BUILD_PHOTO_DUPLICATE: return "skipping " + m.file + ": same bytes as " + m.other;
        case BUILD_PHOTOS_SMALL:
            return "skipped " + std::to_string(m.count) + " photo(s) whose shorter side is below " +
                   std::to_string(m.limit) + " pixels (--min-size)";
        case BUILD_PHOTOS_CUT: {
            char line[160];
            std::snprintf(line, sizeof line, "more photos than the pack can hold: using the first %ld usable ones",
                          m.count);
            return line;
        }
        case BUILD_TOO_FEW:
            return "fewer than 2 usable pictures (" + std::to_string(m.count) + "); a pack needs at least 2";
        case BUILD_ICON_PAST_END:
            return "--icon " + std::to_string(m.count) + " is past the last picture; using picture 0";
        case BUILD_WRITE_FAILED: return m.detail;
        case BUILD_SIMILAR_DROPPED:
            return "left out " + std::to_string(m.count) + " near-duplicate photo(s) of " + std::to_string(m.limit) +
                   " group(s), one kept of each (--keep-similar keeps them all)";
        case BUILD_PHOTOS_CHOSEN:
            return "more photos than the pack can hold: choosing " + std::to_string(m.count) + " of " +
                   std::to_string(m.limit) + " for colour coverage and variety (--order path takes the first)";
    }
    return m.detail;
}

std::string build_summary_text(const BuildReport& report, const std::string& output) {
    std::string out;
    if (!report.measured) return out;
    const Coverage& cov = report.coverage;
    appendf(out, "wrote %s: %d pictures, %.1f MB, in %.1f s\n", shown(output).c_str(), report.pictures,
            report.pack_bytes / 1e6, report.seconds);
    appendf(out,
            "colour coverage (delta E 2000): all colours mean %.1f, 95%% within %.1f; "
            "the pictures' own pixels mean %.1f, 95%% within %.1f\n",
            cov.colour_mean, cov.colour_p95, cov.pixel_mean, cov.pixel_p95);
    appendf(out, "pictures enlarged (shorter side below %d pixels; --min-size skips such photos): %d\n", PICTURE_EDGE,
            report.enlarged);
    // Each unused picture as its number in the pack and its source file (the pack itself keeps
    // no file names), at most 20 of them.
    constexpr size_t SHOWN = 20;
    appendf(out, "pictures never used by the tables: %zu\n", cov.unused.size());
    for (size_t k = 0; k < cov.unused.size() && k < SHOWN; ++k)
        appendf(out, "  picture %d: %s\n", cov.unused[k], report.unused_files[k].c_str());
    if (cov.unused.size() > SHOWN)
        appendf(out, "  ... and %zu more (evgpack info --json lists all)\n", cov.unused.size() - SHOWN);
    if (report.similar_groups > 0)
        appendf(out, "near-duplicates: %d group(s), %d photo(s) left out\n", report.similar_groups,
                report.similar_dropped);
    if (report.selected)
        appendf(out,
                "selection: %d of %d usable photos chosen; the first %d by path would cover all colours "
                "mean %.1f, 95%% within %.1f\n",
                report.pictures, report.usable, report.pictures, report.path_colour_mean, report.path_colour_p95);
    if (report.variety_measured) {
        const QualityFigures& q = report.variety;
        appendf(out,
                "expected variety (%d of its pictures as surfaces): %.1f distinct pictures per 5 x 5 tiles, "
                "%.1f per zoom-40 screen, %.0f%% of neighbours the same picture%s\n",
                q.surfaces, q.distinct_block, q.distinct_screen, 100 * q.same_horizontal,
                report.variety_has_candidates ? "" : " (no candidate lists)");
        out += variety_verdict(q);
    }
    out += colour_verdict(cov);
    return out;
}

std::string build_report_json(const BuildReport& report) {
    static const char* const KINDS[] = {"picture", "duplicate", "near-duplicate", "left out", "refused", "too small",
                                        "not read"};
    std::string out = "{\n  \"pictures\": " + std::to_string(report.pictures) + ",\n  \"inputs\": [";
    for (size_t i = 0; i < report.inputs.size() && i < report.files.size(); ++i) {
        const InputOutcome& in = report.inputs[i];
        out += i ? ",\n    " : "\n    ";
        out += "{\"file\": " + json_string(report.files[i]) + ", \"outcome\": \"" + KINDS[in.kind] + "\"";
        if (in.kind == InputOutcome::PICTURE) out += ", \"picture\": " + std::to_string(in.picture);
        if (!in.other.empty()) out += ", \"of\": " + json_string(in.other);
        if (!in.reason.empty()) out += ", \"reason\": " + json_string(in.reason);
        out += "}";
    }
    return out + "\n  ]\n}\n";
}

void walk_photos(const std::string& folder, const std::function<void(const std::string&)>& found) {
    list_folder(folder, found, nullptr);
}

std::vector<std::string> find_photos(const std::string& folder) {
    std::vector<std::string> files;
    list_folder(folder, [&files](const std::string& f) { files.push_back(f); }, nullptr);
    std::sort(files.begin(), files.end());
    return files;
}

BuildStatus build_pack(const BuildOptions& options, BuildReport& report, BuildMonitor* monitor) {
    report = BuildReport{};
    Messages messages{report, monitor};
    auto fail = [&report](BuildStatus status) { return report.status = status; };
    BuildOptions o = options;
    const auto start = std::chrono::steady_clock::now();
    if (!o.author_set) o.author = default_author();
    if (o.author.size() > PACK_AUTHOR_SIZE) o.author.resize(PACK_AUTHOR_SIZE);
    const int jobs = o.jobs > 0 ? static_cast<int>(o.jobs) : default_jobs();
    if (!lower_extension_is(o.output, {".evg"})) messages.warning(BUILD_OUTPUT_NOT_LISTED, o.output);

    std::vector<std::string> files;
    if (!collect_inputs(o.paths, files, messages)) return fail(BUILD_FAILED);
    if (files.empty()) {
        messages.error(BUILD_NO_PHOTOS);
        return fail(BUILD_FAILED);
    }
    report.photos_found = static_cast<int>(files.size());
    // Checked before the work, so that a mistyped output costs nothing.
    struct stat link;
    if (!o.follow_output_link && ::lstat(o.output.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        messages.error(BUILD_OUTPUT_IS_LINK, o.output);
        return fail(BUILD_FAILED);
    }
    const std::string target = o.follow_output_link ? link_target(o.output) : o.output;
    BuildMessageKind refusal;
    if (!o.force && !output_replaceable(target, files, refusal)) {
        messages.error(refusal, target);
        return fail(BUILD_FAILED);
    }
    auto cancelled = [&]() {
        if (!monitor || !monitor->cancel.load()) return false;
        messages.error(BUILD_CANCEL_HONOURED);
        return true;
    };
    // The store: the import cache, and for a library larger than the pack (whose pictures are not
    // all held in memory) a temporary folder when the cache is off or cannot be used.
    const bool spill = !o.order_path && static_cast<long>(files.size()) > o.max;
    std::string store = o.use_cache ? cache_open(o.cache_dir.empty() ? default_cache_dir() : o.cache_dir) : "";
    const bool cached = !store.empty();
    std::string temp_root;
    if (spill && !cached) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/evgpack-XXXXXX";
        if (::mkdtemp(&pattern[0])) temp_root = pattern, store = cache_open(temp_root + "/cache");
    }
    struct RemoveTemp {
        const std::string& root;
        ~RemoveTemp() {
            std::error_code ec;
            if (!root.empty()) fs::remove_all(root, ec);
        }
    } remove_temp{temp_root};
    std::atomic<int> hits{0};
    std::vector<Slot> slots = import_inputs(files, o, jobs, store, !spill || store.empty(), hits, monitor);
    report.cache_hits = hits.load();
    if (monitor) monitor->matching = 1;
    if (cancelled()) return fail(BUILD_CANCELLED);
    std::vector<size_t> chosen = choose_pictures(files, slots, o.max, o.min_size, o.order_path, messages);
    if (!o.order_path) {
        const std::vector<size_t> usable = chosen;
        if (!o.keep_similar) chosen = drop_similar(chosen, slots, report);
        if (report.similar_dropped > 0)
            messages.warning(BUILD_SIMILAR_DROPPED, "", "", "", report.similar_dropped, report.similar_groups);
        report.usable = static_cast<int>(chosen.size());
        if (static_cast<long>(chosen.size()) > o.max) {
            const std::vector<uint32_t> folders = top_folders(files, o.paths);
            std::vector<SelectionItem> items;
            for (size_t i : chosen) {
                SelectionItem item{slots[i].colour, {}, folders[i]};
                std::copy(std::begin(slots[i].traits.layout), std::end(slots[i].traits.layout), item.layout);
                items.push_back(item);
            }
            std::vector<size_t> picked;
            for (uint32_t k : select_pictures(items, static_cast<size_t>(o.max))) picked.push_back(chosen[k]);
            for (size_t i : chosen) slots[i].state = Slot::LEFT_OUT;
            for (size_t i : picked) slots[i].state = Slot::USED;
            messages.warning(BUILD_PHOTOS_CHOSEN, "", "", "", o.max, report.usable);
            report.selected = true;
            if (o.summary) measure_path_order(usable, slots, o.max, o.variety, jobs, report);
            chosen = picked;
        }
        for (size_t i : chosen) {
            if (!load_picture(files[i], o, store, slots[i])) {
                messages.error(BUILD_PHOTO_FAILED, files[i], "the photo changed during the build");
                return fail(BUILD_FAILED);
            }
        }
    }
    if (cached) cache_trim(store, o.cache_limit);
    if (o.list_inputs) {
        report.inputs.resize(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            InputOutcome& in = report.inputs[i];
            const Slot& slot = slots[i];
            static const InputOutcome::Kind KIND[] = {InputOutcome::NOT_READ, InputOutcome::PICTURE,
                                                      InputOutcome::DUPLICATE, InputOutcome::SIMILAR,
                                                      InputOutcome::LEFT_OUT, InputOutcome::REFUSED,
                                                      InputOutcome::SMALL};
            in.kind = KIND[slot.state];
            if (slot.state == Slot::DUPLICATE || slot.state == Slot::SIMILAR) in.other = files[slot.other];
            if (slot.state == Slot::FAILED) in.reason = slot.reason;
        }
        for (size_t k = 0; k < chosen.size(); ++k) report.inputs[chosen[k]].picture = static_cast<int>(k);
        for (InputOutcome& in : report.inputs)
            if (in.kind == InputOutcome::PICTURE && in.picture < 0) in.kind = InputOutcome::LEFT_OUT;
        report.files = files;
    }
    if (chosen.size() < 2) {
        messages.error(BUILD_TOO_FEW, "", "", static_cast<long>(chosen.size()));
        return fail(BUILD_FAILED);
    }
    if (o.icon >= static_cast<long>(chosen.size())) {
        messages.warning(BUILD_ICON_PAST_END, "", "", "", o.icon);
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
    content.tables = compute_match_tables(colours, o.variety, jobs, static_cast<int>(o.candidates), o.candidate_budget,
                                          static_cast<int>(o.min_candidates));
    std::vector<uint8_t> bytes = pack_serialise(content);
    std::string error;
    if (cancelled()) return fail(BUILD_CANCELLED);
    if (!write_file_replacing(target, bytes, error)) {
        messages.error(BUILD_WRITE_FAILED, target, error);
        return fail(BUILD_FAILED);
    }
    if (monitor) monitor->written = 1;
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report.pictures = static_cast<int>(content.pictures.size());
    report.enlarged = enlarged;
    report.pack_bytes = bytes.size();
    if (o.summary) measure_summary(o.output, content, colours, files, chosen, report);
    report.status = BUILD_OK;
    return BUILD_OK;
}

std::string default_author() {
    if (const passwd* pw = ::getpwuid(::getuid())) {
        std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
        gecos = gecos.substr(0, gecos.find(','));
        if (!gecos.empty()) return gecos;
        if (pw->pw_name && *pw->pw_name) return pw->pw_name;
    }
    const char* user = std::getenv("USER");
    return user && *user ? user : "Unknown";
}

int default_jobs() {
    unsigned n = std::thread::hardware_concurrency();
    return n ? static_cast<int>(n) : 1;
}

}  // namespace evgpack
