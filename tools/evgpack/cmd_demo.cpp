// `evgpack demo -o OUT.evg [--count N]`: a pack of procedural pictures, the same bytes every time.
#include <cstdio>
#include <string>
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
    std::vector<uint8_t> bytes =
        demo_pack_bytes(static_cast<int>(count), static_cast<int>(jobs), static_cast<int>(candidates));
    if (!write_file_replacing(output, bytes, error)) {
        print_error(error);
        return 1;
    }
    std::printf("wrote %s: %ld demo pictures, %.1f MB\n", shown(output).c_str(), count, bytes.size() / 1e6);
    return 0;
}

}  // namespace evgpack
