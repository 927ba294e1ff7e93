// `evgpack info PACK [--json]`: what a pack holds and how well it covers the colours.
#include <cstdio>
#include <cstring>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "pack/pack_candidates.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/pack_reader.h"
#include "builder/pack_stats.h"
#include "builder/pack_writer.h"

namespace evgpack {

namespace {

const char INFO_HELP[] =
    "usage: evgpack info PACK [--json]\n"
    "\n"
    "Shows a pack's header (author, listed count, data offset), its picture count, thumbnail\n"
    "size, file size, how many pictures the colour tables use and how closely they match.\n";

// Whether any colour's list names a second picture besides its first: with K = 1, or lists
// that repeat one picture, neighbouring tiles of one colour all show the same picture.
bool lists_vary(const CandidateLists& lists) {
    const int k = lists.count;
    for (size_t v = 0; v < PACK_TABLE_ENTRIES && lists.table; ++v) {
        const uint16_t* list = lists.table + v * k;
        for (int s = 1; s < k; ++s)
            if (list[s] != CANDIDATE_UNUSED && list[s] != list[0]) return true;
    }
    return false;
}

}  // namespace

int cmd_info(int argc, char** argv) {
    std::string path;
    bool json = false, operands = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (operands && path.empty()) {
            path = a;
        } else if (a == "-h" || a == "--help") {
            std::fputs(INFO_HELP, stdout);
            return 0;
        } else if (a == "--json") {
            json = true;
        } else if (a[0] == '-' || !path.empty()) {
            print_error("usage: evgpack info PACK [--json]");
            return 2;
        } else {
            path = a;
        }
    }
    if (path.empty()) {
        print_error("usage: evgpack info PACK [--json]");
        return 2;
    }
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    std::string error;
    if (!load_pack(path, info, *pack, error)) {
        print_error(error);
        return 1;
    }
    const int n = pack->picture_count, t = pack->thumb_size;
    std::vector<uint16_t> best(pack->best_match, pack->best_match + PACK_TABLE_ENTRIES);
    std::vector<uint16_t> second(pack->second_match, pack->second_match + PACK_TABLE_ENTRIES);
    std::vector<Lab> colours;
    for (int p = 0; p < n; ++p) colours.push_back(mean_colour(pack->thumbnails + static_cast<size_t>(p) * t * t, t * t));
    Coverage cov = measure_coverage(best, second, colours, pack->thumbnails, static_cast<size_t>(n) * t * t);
    char author[PACK_AUTHOR_SIZE + 1] = "";
    if (info.has_header) {
        std::memcpy(author, info.header.author, PACK_AUTHOR_SIZE);  // bounded: may lack a NUL
        author[PACK_AUTHOR_SIZE] = '\0';
    }
    // The pack stores no source file names: unused pictures are named by number (the build's
    // summary gives their files).
    std::string unused_list;
    for (int u : cov.unused) unused_list += (unused_list.empty() ? "" : ", ") + std::to_string(u);
    if (json) {
        std::printf("{\"file\": %s, \"file_size\": %lld, \"header\": %s", json_string(path).c_str(),
                    info.file_size, info.has_header ? "true" : "false");
        if (info.has_header)
            std::printf(", \"author\": %s, \"listed_count\": %u, \"data_offset\": %u",
                        json_string(author, TEXT_LATIN1).c_str(), info.header.listed_count, info.header.data_offset);
        std::printf(", \"pictures\": %d, \"thumb_size\": %d, \"pictures_in_best_match\": %d, \"unused_pictures\": %d"
                    ", \"colour_delta_e_mean\": %.2f, \"colour_delta_e_p95\": %.2f"
                    ", \"pixel_delta_e_mean\": %.2f, \"pixel_delta_e_p95\": %.2f, \"unused\": [%s], \"candidates\": %d"
                    ", \"candidate_status\": %s}\n",
                    n, t, cov.distinct_best, cov.unused_pictures, cov.colour_mean, cov.colour_p95, cov.pixel_mean,
                    cov.pixel_p95, unused_list.c_str(), pack->candidates.count,
                    json_string(candidate_status_text(pack->candidates.status)).c_str());
    } else {
        std::printf("file:           %s (%lld bytes)\n", shown(path).c_str(), info.file_size);
        if (info.has_header) {
            std::printf("author:         %s\n", shown(author).c_str());
            std::printf("listed count:   %u\n", info.header.listed_count);
            std::printf("data offset:    %u\n", info.header.data_offset);
        } else {
            std::printf("header:         none (the card shows \"Unknown\")\n");
        }
        std::printf("pictures:       %d\n", n);
        std::printf("thumbnail size: %d x %d\n", t, t);
        std::printf("table usage:    %d pictures named by best_match, %d never used%s%s\n", cov.distinct_best,
                    cov.unused_pictures, unused_list.empty() ? "" : ": ", unused_list.c_str());
        std::printf("coverage:       all colours mean %.1f, 95%% within %.1f delta E 2000\n", cov.colour_mean,
                    cov.colour_p95);
        std::printf("                the pictures' own pixels mean %.1f, 95%% within %.1f\n", cov.pixel_mean,
                    cov.pixel_p95);
        if (pack->candidates.count)
            std::printf("candidates:     %d per colour (%s)\n", pack->candidates.count,
                        lists_vary(pack->candidates) ? "neighbouring tiles vary"
                                                     : "each names one picture: neighbouring tiles do not vary");
        else
            std::printf("candidates:     none (%s)\n", candidate_status_text(pack->candidates.status));
        std::string warning = coverage_warning(cov, n);
        if (!warning.empty()) std::printf("%s\n", warning.c_str());
    }
    return 0;
}

}  // namespace evgpack
