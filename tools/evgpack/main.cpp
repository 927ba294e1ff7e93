// evgpack: the command-line tool for image packs. Dispatches to one command per file.
#include <cstdio>
#include <cstring>

#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"

namespace {

const Command commands[] = {
    {"build", "[-o OUT.evg] [options] PATH...", "make a pack from JPEG and PNG photos (see build --help)",
     evgpack::cmd_build},
    {"info", "PACK [--json]", "show a pack's header, counts and colour coverage", evgpack::cmd_info},
    {"verify", "PACK", "check a pack as the viewer does and decode every picture", evgpack::cmd_verify},
    {"demo", "-o OUT.evg [--count N]", "make a pack of procedural pictures", evgpack::cmd_demo},
    {"extract", "PACK DIR", "write a pack's pictures as 0000.jpg, 0001.jpg, ...", evgpack::cmd_extract},
    {"quality", "PACK [options]", "measure how varied and faithful the pack's mosaic is (see quality --help)",
     evgpack::cmd_quality},
    {"poster", "PACK -o OUT.png|OUT.jpg [options]", "make a mosaic image of a photo or picture (see poster --help)",
     evgpack::cmd_poster},
    {"decode", "IN.jpg OUT.png", "decode a JPEG with the viewer's decoder and write it as a PNG",
     cmd_decode},
};

void print_usage(FILE* out) {
    std::fprintf(out, "usage: evgpack COMMAND ARGS...   (evgpack --version: the version)\n");
    for (const Command& c : commands) std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    if (!std::strcmp(argv[1], "help") || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        print_usage(stdout);
        return 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("evgpack %s\n", EVG_VERSION);
        return 0;
    }
    // Each command prints its own one-line complaint for a bad command line.
    for (const Command& c : commands) {
        if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "evgpack: unknown %s '%s'; see 'evgpack --help'\n", argv[1][0] == '-' ? "option" : "command",
                 evgpack::shown(argv[1]).c_str());
    return 2;
}
