// `evgpack quality PACK [options]`: how varied and how faithful the pack's mosaic is, with and
// without its candidate lists, measured on the pack's own pictures as surfaces.
#include <cstdio>
#include <memory>
#include <string>

#include "pack/pack_candidates.h"
#include "pack/tile_map.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/pack_quality.h"
#include "builder/pack_reader.h"

namespace evgpack {

namespace {

const char QUALITY_HELP[] =
    "usage: evgpack quality PACK [options]\n"
    "\n"
    "Measures the mosaic with the pack's own pictures as surfaces: distinct pictures per 5 x 5\n"
    "tile block and per zoom-40 screen (6 x 6 tiles), the share of identical neighbouring tiles,\n"
    "and the zoom-8 likeness (mean CIEDE2000 between each tile's tinted colour and its pixel).\n"
    "Each figure is given for the plain tables and, when the pack has them, the candidate lists.\n"
    "\n"
    "options:\n"
    "  --surfaces N        measure on N pictures, evenly spaced (default 64)\n"
    "  --spread RULE       diffuse (default) or noise: how the viewer spreads tiles over candidates\n"
    "  --no-likeness       skip the likeness (the slow part)\n"
    "  --sheet OUT.png     also write a sheet: each surface, then zoom 8 and 40 plain, then with candidates\n"
    "  --sheet-rows N      surfaces on the sheet (default 4)\n"
    "  --picture P         the sheet shows picture P only\n";

void print_row(const char* name, const QualityFigures& q) {
    std::printf("%-12s %8.2f %8.1f%% %8.1f%% %8.2f %8.1f%% ", name, q.distinct_block, 100 * q.same_horizontal,
                100 * q.same_vertical, q.distinct_screen, 100 * q.flat_screens);
    if (q.likeness >= 0) std::printf("%8.2f %8.2f\n", q.likeness, q.region_likeness);
    else std::printf("%8s %8s\n", "-", "-");
}

}  // namespace

int cmd_quality(int argc, char** argv) {
    std::string path, sheet, error;
    long surfaces = 64, rows = 4, picture = -1;
    int spread = SPREAD_DIFFUSE;
    bool likeness = true, operands = false;
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
    std::printf("%s: %d pictures, %s\n", path.c_str(), pack->picture_count,
                pack->candidates.count ? ("candidates K = " + std::to_string(pack->candidates.count)).c_str()
                                : candidate_status_text(pack->candidates.status));
    std::printf("%-12s %8s %9s %9s %8s %9s %8s %8s\n", "rule", "5x5", "same-h", "same-v", "zoom40", "flat40", "dE8",
                "dE8-5x5");
    const QualityFigures plain = measure_quality(*pack, static_cast<int>(surfaces), false, spread, likeness);
    print_row("tables", plain);
    if (pack->candidates.count) print_row(spread == SPREAD_NOISE ? "cand-noise" : "cand-diffuse",
                                   measure_quality(*pack, static_cast<int>(surfaces), true, spread, likeness));
    std::printf("(%d surfaces; 5x5 and zoom40: mean distinct pictures; flat40: zoom-40 screens with at most 2;\n"
                " dE8: tile vs its pixel, dE8-5x5: 5 x 5 block mean vs its pixels' mean)\n",
                plain.surfaces);
    if (!sheet.empty()) {
        if (!write_quality_sheet(*pack, sheet, static_cast<int>(rows), static_cast<int>(picture), spread, error)) {
            print_error(error);
            return 1;
        }
        std::printf("sheet: %s\n", sheet.c_str());
    }
    return 0;
}

}  // namespace evgpack
