// `evgpack verify PACK`: the viewer's own checks, and every picture decoded by the runtime's
// decoder at 240 x 240.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/jpeg_decoder.h"
#include "pack/pack_candidates.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/pack_reader.h"
#include "builder/photo_import.h"

namespace evgpack {

int cmd_verify(int argc, char** argv) {
    std::string path;
    bool operands = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (operands && path.empty()) {
            path = a;
            continue;
        }
        if (a == "-h" || a == "--help") {
            std::fputs("usage: evgpack verify PACK\n\nChecks a pack as the viewer does and decodes every "
                       "picture; exit status 1 lists each problem.\n",
                       stdout);
            return 0;
        }
        if (a[0] == '-' || !path.empty()) {
            print_error("usage: evgpack verify PACK");
            return 2;
        }
        path = a;
    }
    if (path.empty()) {
        print_error("usage: evgpack verify PACK");
        return 2;
    }
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    std::string error;
    if (!load_pack(path, info, *pack, error)) {
        std::printf("%s: FAILED\n  %s\n", shown(path).c_str(), shown(error).c_str());
        return 1;
    }
    std::vector<std::string> problems;
    const int n = pack->picture_count;
    long outside_best = 0, outside_second = 0;
    for (int c = 0; c < PACK_TABLE_ENTRIES; ++c) {
        outside_best += pack->best_match[c] >= n;
        outside_second += pack->second_match[c] >= n;
    }
    if (outside_best)
        problems.push_back("best_match names no picture for " + std::to_string(outside_best) + " colours (drawn black)");
    if (outside_second)
        problems.push_back("second_match names no picture for " + std::to_string(outside_second) + " colours");
    // A damaged candidate section is ignored by the viewer (the pack shows as without it), but
    // it is still a fault of the file.
    if (pack->candidates.status != CANDIDATES_ABSENT && pack->candidates.status != CANDIDATES_OK)
        problems.push_back(std::string(candidate_status_text(pack->candidates.status)) + " (ignored by the viewer)");
    std::vector<uint16_t> pixels(PICTURE_PIXELS);
    for (int p = 0; p < n; ++p) {
        // The viewer's read and decode (picture_read), keeping the decoder's reason for a refusal.
        const std::string size = " (" + std::to_string(pack->picture_sizes[p]) + " bytes)";
        const int32_t length = picture_bytes_read(pack.get(), static_cast<uint16_t>(p));
        if (length < 0) {
            problems.push_back("picture " + std::to_string(p) + " cannot be read" + size);
            continue;
        }
        const JpegStatus status = jpeg_decode(pack->read_buffer, static_cast<size_t>(length), pixels.data(),
                                              PICTURE_EDGE, PICTURE_EDGE);
        if (status != JPEG_OK) {
            problems.push_back("picture " + std::to_string(p) + " does not decode" + size + ": " +
                               jpeg_status_text(status));
            continue;
        }
        // The viewer's decoder shows a picture whose data stops early with its missing blocks
        // left as they were; libjpeg, decoding all of it, tells where the data ends or breaks.
        const std::string damage = jpeg_damage(pack->read_buffer, pack->picture_sizes[p]);
        if (!damage.empty())
            problems.push_back("picture " + std::to_string(p) + " is damaged" + size + ": " + damage);
    }
    if (problems.empty()) {
        std::printf("%s: OK, %d pictures decode\n", shown(path).c_str(), n);
        return 0;
    }
    std::printf("%s: %zu problem%s\n", shown(path).c_str(), problems.size(), problems.size() == 1 ? "" : "s");
    for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
    return 1;
}

}  // namespace evgpack
