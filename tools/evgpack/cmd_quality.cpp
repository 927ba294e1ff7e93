// `evgpack quality PACK [options]`: how varied and how faithful the pack's mosaic is, with and
// without its candidate lists, measured on the pack's own pictures as surfaces.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pack/pack_candidates.h"
#include "pack/tile_map.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/pack_quality.h"
#include "builder/pack_reader.h"
#include "builder/pack_stats.h"
#include "builder/pack_writer.h"

namespace evgpack {

namespace {

const char QUALITY_HELP[] =
    "usage: evgpack quality PACK [options]\n"
    "\n"
    "Measures the mosaic with the pack's own pictures as surfaces: different pictures on the\n"
    "close-up (zoom-40, 6 x 6 tiles) screens around four points of each surface (mean and fewest),\n"
    "per 6 x 6 and 5 x 5 tiles over whole surfaces, the share of neighbouring tiles and of tiles two\n"
    "apart that show the same picture, and the zoom-8 likeness (mean CIEDE2000 between each tile's\n"
    "tinted colour and its pixel). Each figure is given for the plain tables and, when the pack has\n"
    "them, the candidate lists, beside its goal; a verdict on variety and colours follows.\n"
    "\n"
    "options:\n"
    "  --surfaces N        measure on N pictures, evenly spaced (default 64)\n"
    "  --spread RULE       diffuse (default) or noise: how the viewer spreads tiles over candidates\n"
    "  --no-likeness       skip the likeness (the slow part)\n"
    "  --json              the figures as JSON (for scripts), no table or verdict\n"
    "  --sheet OUT.png     also write a sheet: each surface, then zoom 8 and 40 plain, then with candidates\n"
    "  --sheet-rows N      surfaces on the sheet (default 4)\n"
    "  --picture P         the sheet shows picture P only\n";

// One figure per line, named in words: the plain tables' value, the candidates' value (when
// the pack has lists) and the goal a good pack meets.
struct FigureLine {
    const char* name;
    double QualityFigures::*value;
    bool percent;
    const char* goal;
};
const FigureLine FIGURE_LINES[] = {
    {"different pictures on a close-up screen (zoom 40, 6 x 6 tiles)", &QualityFigures::distinct_points, false,
     "15 or more"},
    {"  the same over every 6 x 6 tiles of the surfaces", &QualityFigures::distinct_screen, false, ""},
    {"different pictures per 5 x 5 tiles", &QualityFigures::distinct_block, false, ""},
    {"neighbours showing the same picture, side by side", &QualityFigures::same_horizontal, true, "2% or less"},
    {"neighbours showing the same picture, one above the other", &QualityFigures::same_vertical, true, "2% or less"},
    {"tiles two apart showing the same picture", &QualityFigures::same_two, true, "8% or less"},
    {"close-up screens showing at most 2 pictures", &QualityFigures::flat_screens, true, ""},
    {"zoom 8: tile colour against its pixel (delta E 2000)", &QualityFigures::likeness, false, "lower is closer"},
    {"zoom 8: 5 x 5 tiles against their pixels (delta E 2000)", &QualityFigures::region_likeness, false, ""},
};

void print_value(double v, bool percent) {
    if (v < 0) std::printf(" %12s", "-");
    else if (percent) std::printf(" %11.1f%%", 100 * v);
    else std::printf(" %12.2f", v);
}

void print_figures(const QualityFigures& plain, const QualityFigures* varied) {
    std::printf("%-62s %12s %12s  %s\n", "", "tables only", varied ? "candidates" : "", "goal");
    for (const FigureLine& f : FIGURE_LINES) {
        std::printf("%-62s", f.name);
        print_value(plain.*f.value, f.percent);
        if (varied) print_value(varied->*f.value, f.percent);
        else std::printf(" %12s", "");
        std::printf("  %s\n", f.goal);
        if (f.value == &QualityFigures::distinct_points) {
            std::printf("%-62s %12d", "  fewest on one of them", plain.fewest_points);
            if (varied) std::printf(" %12d", varied->fewest_points);
            else std::printf(" %12s", "");
            std::printf("  %s\n", "8 or more");
        }
    }
}

void print_json(const std::string& path, const OpenPack& pack, const QualityFigures& plain,
                const QualityFigures* varied, const Coverage& cov) {
    auto figures = [](const QualityFigures& q) {
        char text[640];
        std::snprintf(text, sizeof text,
                      "{\"surfaces\": %d, \"distinct_screen_points\": %.3f, \"fewest_screen_points\": %d, "
                      "\"distinct_screen\": %.3f, \"distinct_block\": %.3f, \"same_horizontal\": %.5f, "
                      "\"same_vertical\": %.5f, \"same_two\": %.5f, \"flat_screens\": %.5f, "
                      "\"likeness\": %.4f, \"region_likeness\": %.4f}",
                      q.surfaces, q.distinct_points, q.fewest_points, q.distinct_screen, q.distinct_block,
                      q.same_horizontal, q.same_vertical, q.same_two, q.flat_screens, q.likeness, q.region_likeness);
        return std::string(text);
    };
    std::string few;
    for (const std::string& name : cov.few_photos) few += (few.empty() ? "\"" : ", \"") + name + "\"";
    std::printf("{\"pack\": %s, \"pictures\": %d, \"candidates\": %d, \"candidate_version\": %d,\n"
                " \"tables\": %s,\n \"with_candidates\": %s,\n \"colours_with_few_photos\": [%s]}\n",
                json_string(path).c_str(), pack.picture_count, pack.candidates.count,
                pack.candidates.count ? pack.candidates.version : 0, figures(plain).c_str(),
                varied ? figures(*varied).c_str() : "null", few.c_str());
}

}  // namespace

int cmd_quality(int argc, char** argv) {
    std::string path, sheet, error;
    long surfaces = 64, rows = 4, picture = -1;
    int spread = SPREAD_DIFFUSE;
    bool likeness = true, operands = false, json = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        bool ok = true;
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (operands) {
            ok = path.empty();
            path = a;
        } else if (a == "-h" || a == "--help") {
            std::fputs(QUALITY_HELP, stdout);
            return 0;
        } else if (a == "--surfaces") {
            ok = parse_int_option("--surfaces", value(), 1, 2048, surfaces, error);
        } else if (a == "--sheet") {
            const char* v = value();
            ok = v != nullptr;
            if (ok) sheet = v;
        } else if (a == "--sheet-rows") {
            ok = parse_int_option("--sheet-rows", value(), 1, 64, rows, error);
        } else if (a == "--picture") {
            ok = parse_int_option("--picture", value(), 0, 65534, picture, error);
        } else if (a == "--spread") {
            const char* v = value();
            std::string rule = v ? v : "";
            ok = rule == "diffuse" || rule == "noise";
            spread = rule == "noise" ? SPREAD_NOISE : SPREAD_DIFFUSE;
            if (!ok) error = "--spread takes diffuse or noise";
        } else if (a == "--json") {
            json = true;
        } else if (a == "--no-likeness") {
            likeness = false;
        } else if (a[0] != '-' && path.empty()) {
            path = a;
        } else {
            ok = false;
            if (a[0] == '-') error = "unknown option '" + a + "'; see 'evgpack quality --help'";
        }
        if (!ok) {
            print_error(error.empty() ? "usage: evgpack quality PACK [options]" : error);
            return 2;
        }
    }
    if (path.empty()) {
        print_error("usage: evgpack quality PACK [options]");
        return 2;
    }
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    if (!load_pack(path, info, *pack, error)) {
        print_error(error);
        return 1;
    }
    if (picture >= pack->picture_count) {
        print_error("--picture " + std::to_string(picture) + " is past the last picture");
        return 1;
    }
    const int n = pack->picture_count, t = pack->thumb_size;
    std::vector<uint16_t> best(pack->best_match, pack->best_match + PACK_TABLE_ENTRIES);
    std::vector<uint16_t> second(pack->second_match, pack->second_match + PACK_TABLE_ENTRIES);
    std::vector<Lab> colours;
    for (int p = 0; p < n; ++p) colours.push_back(mean_colour(pack->thumbnails + static_cast<size_t>(p) * t * t, t * t));
    const Coverage cov = measure_coverage(best, second, colours, pack->thumbnails, static_cast<size_t>(n) * t * t);
    const QualityFigures plain = measure_quality(*pack, static_cast<int>(surfaces), false, spread, likeness);
    QualityFigures varied;
    if (pack->candidates.count)
        varied = measure_quality(*pack, static_cast<int>(surfaces), true, spread, likeness);
    const QualityFigures* with = pack->candidates.count ? &varied : nullptr;
    if (json) {
        print_json(path, *pack, plain, with, cov);
    } else {
        std::printf("%s: %d pictures, %s\n", path.c_str(), pack->picture_count,
                    pack->candidates.count
                        ? ("candidates K = " + std::to_string(pack->candidates.count) + " (version " +
                           std::to_string(pack->candidates.version) + ")").c_str()
                        : candidate_status_text(pack->candidates.status));
        print_figures(plain, with);
        std::printf("(%d of the pictures as surfaces, each with its close-up screens around 4 points; the spread "
                    "rule: %s)\n",
                    plain.surfaces, spread == SPREAD_NOISE ? "noise" : "diffuse");
        std::fputs(variety_verdict(with ? *with : plain).c_str(), stdout);
        std::fputs(colour_verdict(cov).c_str(), stdout);
    }
    if (!sheet.empty()) {
        if (!write_quality_sheet(*pack, sheet, static_cast<int>(rows), static_cast<int>(picture), spread, error)) {
            print_error(error);
            return 1;
        }
        if (!json) std::printf("sheet: %s\n", sheet.c_str());
    }
    return 0;
}

}  // namespace evgpack
