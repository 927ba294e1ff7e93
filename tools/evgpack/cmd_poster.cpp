// `evgpack poster PACK -o OUT.png|OUT.jpg`: a mosaic image of a photo or a pack picture at print
// size, with the variety and likeness figures of `evgpack quality`.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builder/pack_reader.h"
#include "builder/poster.h"
#include "media/files.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"

namespace evgpack {

namespace {

constexpr char POSTER_USAGE[] = "usage: evgpack poster PACK -o OUT.png|OUT.jpg [options]";
const char POSTER_HELP[] =
    "usage: evgpack poster PACK -o OUT.png|OUT.jpg [options]\n"
    "\n"
    "Makes a mosaic image: the target is resampled to W x H tiles and every tile shows the pack\n"
    "picture the viewer would choose for it (varied, never the same as its left or upper\n"
    "neighbour while another candidate is left). Written row of tiles by row of tiles (JPEG at\n"
    "quality 92); an existing OUT is replaced.\n"
    "\n"
    "options:\n"
    "  --photo FILE    the target: a JPEG or PNG photo (EXIF orientation applied)\n"
    "  --picture N     the target: pack picture N (default: the picture of the pack's icon)\n"
    "  --tiles W       tiles across (default 100); rows follow the target's aspect ratio\n"
    "  --tile-px P     tile edge in pixels, 8-240 (default 48); sides over 65535 px are refused\n"
    "  --tint T        move each tile T% towards its target colour, 0-100 (default 20)\n"
    "  --choices N     each colour draws on its N nearest pictures by mean colour, 3-128, and\n"
    "                  no neighbours (across or down) alike; more variety, less likeness\n"
    "                  (default: the pack's own lists, the tiles the viewer shows)\n"
    "  --quiet         no progress or figures, only errors\n";

struct RowProgress {
    std::unique_ptr<Progress> bar;
};

void rows_done(void* context, int done, int total) {
    auto* p = static_cast<RowProgress*>(context);
    if (!p->bar) return;
    p->bar->update(done);
    if (done == total) p->bar->finish();
}

bool read_photo(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    FILE* in = file_open_regular(path.c_str());
    if (!in) {
        error = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        data.insert(data.end(), chunk, chunk + got);
        if (data.size() > (256u << 20)) break;
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed || data.size() > (256u << 20)) {
        error = failed ? "cannot read" : "file over 256 MB";
        return false;
    }
    return true;
}

}  // namespace

int cmd_poster(int argc, char** argv) {
    std::string path, photo, error;
    PosterOptions options;
    long tiles = POSTER_DEFAULT_TILES, tile_px = POSTER_DEFAULT_TILE_PX, tint = POSTER_DEFAULT_TINT, picture = -1;
    long choices = 0;
    bool quiet = false, operands = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto text = [&](std::string& into) {
            const char* v = value();
            if (v) into = v;
            return v != nullptr;
        };
        bool ok = true;
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (operands) {
            ok = path.empty();
            path = a;
        } else if (a == "-h" || a == "--help") {
            std::fputs(POSTER_HELP, stdout);
            return 0;
        } else if (a == "-o") {
            ok = text(options.output);
        } else if (a == "--photo") {
            ok = text(photo);
        } else if (a == "--picture") {
            ok = parse_int_option("--picture", value(), 0, 65534, picture, error);
        } else if (a == "--tiles") {
            ok = parse_int_option("--tiles", value(), 1, POSTER_MAX_SIDE, tiles, error);
        } else if (a == "--tile-px") {
            ok = parse_int_option("--tile-px", value(), POSTER_MIN_TILE_PX, POSTER_MAX_TILE_PX, tile_px, error);
        } else if (a == "--tint") {
            ok = parse_int_option("--tint", value(), 0, 100, tint, error);
        } else if (a == "--choices") {
            ok = parse_int_option("--choices", value(), POSTER_MIN_CHOICES, POSTER_MAX_CHOICES, choices, error);
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a[0] != '-' && path.empty()) {
            path = a;
        } else {
            ok = false;
            if (a[0] == '-') error = "unknown option '" + a + "'; see 'evgpack poster --help'";
        }
        if (!ok) {
            print_error(error.empty() ? POSTER_USAGE : error);
            return 2;
        }
    }
    if (path.empty() || options.output.empty()) {
        print_error(POSTER_USAGE);
        return 2;
    }
    if (!photo.empty() && picture >= 0) {
        print_error("--photo and --picture name two targets: give one");
        return 2;
    }
    options.tile_px = static_cast<int>(tile_px);
    options.tint = static_cast<int>(tint);
    options.choices = static_cast<int>(choices);
    // Refused before anything is read when the width alone is too large.
    if (!poster_size_ok(tiles, 1, tile_px, error)) {
        print_error(error);
        return 1;
    }
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    if (!load_pack(path, info, *pack, error)) {
        print_error(error);
        return 1;
    }
    PosterTarget target;
    if (!photo.empty()) {
        std::vector<uint8_t> data;
        if (!read_photo(photo, data, error) ||
            !poster_target_photo(data.data(), data.size(), static_cast<int>(tiles),
                                 static_cast<int>(POSTER_MAX_SIDE / tile_px), target, error)) {
            print_error(photo + ": " + error);
            return 1;
        }
    } else {
        if (picture >= pack->picture_count) {
            print_error("--picture " + std::to_string(picture) + " is past the last picture");
            return 1;
        }
        if (picture < 0) picture = info.has_header ? poster_icon_picture(*pack, info.header.icon) : 0;
        poster_target_picture(*pack, static_cast<uint16_t>(picture), static_cast<int>(tiles), target);
    }
    if (!poster_size_ok(target.width, target.height, tile_px, error)) {
        print_error(error);
        return 1;
    }
    RowProgress progress;
    if (!quiet) progress.bar = std::make_unique<Progress>("tile rows", target.height, false);
    PosterMonitor monitor;
    monitor.context = &progress;
    monitor.rows = rows_done;
    const PosterReport r = poster_write(*pack, target, options, &monitor);
    if (!r.ok) {
        print_error(r.error);
        return 1;
    }
    if (quiet) return 0;
    std::printf("%s: %d x %d px, %d x %d tiles of %ld px, %d pictures used (%d decoded)\n",
                shown(options.output).c_str(), r.width_px, r.height_px, target.width, target.height, tile_px,
                r.pictures_used, r.pictures_decoded);
    std::printf("distinct pictures per 10 x 10 tiles %.1f, identical neighbours %.1f%%, likeness %.2f "
                "(mean CIEDE2000, tile as written vs target)\n",
                r.distinct_10x10, 100 * r.identical_neighbours, r.likeness);
    std::printf("seconds: tile choice %.3f, decoding %.3f, resampling %.3f, writing %.3f\n", r.seconds_map,
                r.seconds_decode, r.seconds_resample, r.seconds_write);
    return 0;
}

}  // namespace evgpack
