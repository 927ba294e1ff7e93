// `evgpack demo -o OUT.evg [--count N]`: a pack of procedural pictures, the same bytes every time.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "pack/pack_file.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/demo_pictures.h"
#include "builder/pack_build.h"
#include "builder/pack_writer.h"

namespace evgpack {

int cmd_demo(int argc, char** argv) {
    std::string output;
    long count = 256, jobs = default_jobs(), candidates = DEFAULT_CANDIDATES;
    std::string error;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (a == "--" && i + 1 == argc) {  // ends the options; demo takes no operands
            continue;
        } else if (a == "-h" || a == "--help") {
            std::fputs("usage: evgpack demo -o OUT.evg [--count N] [--jobs N] [--candidates K]\n\nMakes a pack of N (default 256, "
                       "2-2048) procedural pictures: fractals, landscapes and patterns, with K candidates per\n"
                       "colour (default 16, 0 = none; see build --help).\n",
                       stdout);
            return 0;
        } else if (a == "-o" || a == "--output") {
            ok = value != nullptr;
            if (ok) output = value, ++i;
            else error = "-o needs a value";
        } else if (a == "--count") {
            ok = parse_int_option("--count", value, 2, 2048, count, error), ++i;
        } else if (a == "--candidates") {
            ok = parse_int_option("--candidates", value, 0, CANDIDATE_MAX, candidates, error), ++i;
        } else if (a == "--jobs") {
            ok = parse_int_option("--jobs", value, 1, 256, jobs, error), ++i;
        } else {
            ok = false;
            error = "unknown argument " + a + " (see evgpack demo --help)";
        }
        if (!ok) {
            print_error(error);
            return 2;
        }
    }
    if (output.empty()) {
        print_error("usage: evgpack demo -o OUT.evg [--count N]");
        return 2;
    }
    PackContent content;
    content.author = "Evergreen demo";
    content.thumb_size = PACK_DEFAULT_THUMB_SIZE;
    content.pictures.resize(static_cast<size_t>(count));
    std::atomic<int> next{0};
    auto worker = [&]() {
        for (int i; (i = next.fetch_add(1)) < count;) {
            LinearPicture picture = demo_picture(i, static_cast<int>(count));
            make_pack_picture(picture, 85, content.thumb_size, content.pictures[static_cast<size_t>(i)]);
            if (i == 0) content.icon = make_icon(picture);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < jobs; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    std::vector<Lab> colours;
    for (const PackPicture& p : content.pictures) colours.push_back(p.colour);
    content.tables = compute_match_tables(colours, DEFAULT_VARIETY, static_cast<int>(jobs), static_cast<int>(candidates),
                                          DEFAULT_CANDIDATE_BUDGET, DEFAULT_MIN_CANDIDATES);
    std::vector<uint8_t> bytes = pack_serialise(content);
    if (!write_file_replacing(output, bytes, error)) {
        print_error(error);
        return 1;
    }
    std::printf("wrote %s: %ld demo pictures, %.1f MB\n", shown(output).c_str(), count, bytes.size() / 1e6);
    return 0;
}

}  // namespace evgpack
