// `evgpack decode IN.jpg OUT.png`: decodes a JPEG with the viewer's own decoder into a buffer of
// the picture's size and writes it as an 8-bit RGB PNG, to see exactly what the viewer shows.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "media/files.h"
#include "media/jpeg_decoder.h"
#include "media/png_writer.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"

namespace {
// Larger pictures are refused rather than allocated (the viewer's pictures are 240 x 320 at most).
constexpr long MAX_PIXELS = 8192L * 8192L;
constexpr char USAGE[] = "usage: evgpack decode IN.jpg OUT.png";
}

int cmd_decode(int argc, char** argv) {
    if (argc == 1 && (std::string(argv[0]) == "-h" || std::string(argv[0]) == "--help")) {
        std::printf("%s\n\nDecodes a JPEG with the viewer's own decoder and writes what the viewer shows as a PNG.\n",
                    USAGE);
        return 0;
    }
    if (argc == 3 && std::string(argv[0]) == "--") ++argv, --argc;  // "--" ends the (absent) options
    if (argc != 2) {
        evgpack::print_error(USAGE);
        return 2;
    }
    const std::string in_shown = evgpack::shown(argv[0]);  // the path as printed
    const char* in_path = argv[0];
    const char* out_path = argv[1];
    // A regular file only, opened without blocking (a FIFO would wait for a writer for ever).
    FILE* in = file_open_regular(in_path);
    if (!in) {
        std::fprintf(stderr, "evgpack decode: cannot read %s%s\n", in_shown.c_str(),
                     errno == EINVAL ? ": not a regular file" : "");
        return 1;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + got);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "evgpack decode: cannot read %s\n", in_shown.c_str());
        return 1;
    }
    // A refusal gives the decoder's reason: a kind of JPEG the viewer does not read (progressive,
    // arithmetic coding, ...) or headers that are damaged.
    auto refuse = [&](JpegStatus status) {
        std::fprintf(stderr, "evgpack decode: %s: does not decode: %s\n", in_shown.c_str(),
                     jpeg_status_text(status));
        return 1;
    };
    int width = 0, height = 0;
    JpegStatus status = jpeg_picture_size(data.data(), data.size(), &width, &height);
    if (status != JPEG_OK) return refuse(status);
    if (static_cast<long>(width) * height > MAX_PIXELS) {
        std::fprintf(stderr, "evgpack decode: %s: picture too large (%d x %d)\n", in_shown.c_str(), width, height);
        return 1;
    }
    // Edges that are not whole MCUs are not drawn by the decoder and stay black.
    std::vector<uint16_t> pixels(static_cast<size_t>(width) * height, 0);
    status = jpeg_decode(data.data(), data.size(), pixels.data(), width, height);
    if (status != JPEG_OK) return refuse(status);
    if (!png_write_rgb565(out_path, pixels.data(), width, height, width)) {
        std::fprintf(stderr, "evgpack decode: cannot write %s\n", evgpack::shown(out_path).c_str());
        return 1;
    }
    return 0;
}
