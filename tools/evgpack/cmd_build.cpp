// `evgpack build -o OUT.evg [options] PATH...`: a pack from a folder of photos. The build itself
// is builder/pack_build.h; this parses the options and prints what the build reports.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "builder/pack_build.h"
#include "pack/pack_candidates.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"

namespace evgpack {

namespace {

const char BUILD_HELP[] =
    "usage: evgpack build -o OUT.evg [options] PATH...\n"
    "\n"
    "Makes an image pack from photos. PATHs are files or folders (searched recursively; a\n"
    "symbolic link to a folder is followed once, a loop is reported); JPEG and PNG files are\n"
    "read, in path order.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the pack to write (required; replaced only when the build succeeds).\n"
    "                      An existing file is replaced only when it is a pack; a symbolic\n"
    "                      link has its target replaced\n"
    "  --force             replace FILE even when it is not a pack (or is one of the photos)\n"
    "  --quality Q         JPEG quality of the pictures, 1-100 (default 85)\n"
    "  --thumb-size T      thumbnail edge in pixels, 1-255 (default 64)\n"
    "  --variety D         let a colour use any picture within D delta E of its best (default 2, 0 = off)\n"
"  --candidates K      pictures listed per colour for varied neighbouring tiles, 0-16 (default 16, 0 = none)\n"
    "  --candidate-budget D  how far beyond a colour's nearest picture a candidate may lie (delta E, default 5)\n"
    "  --min-candidates M  list at least M pictures per colour, the nearest beyond the budget\n"
    "                      when too few lie within it, 0-16 (default 8)\n"
    "  --author NAME       author shown on the pack card (default: your name)\n"
    "  --icon K            picture number whose miniature is the pack's icon (default 0)\n"
    "  --max N             use at most N pictures, 2-2048 (default 2048)\n"
    "  --min-size PX       skip photos whose shorter side is below PX pixels (default 0: keep all;\n"
    "                      smaller photos are enlarged, and the summary counts them)\n"
    "  --jobs N            worker threads (default: all cores); the pack is the same for any N\n"
    "  --quiet             no progress or summary, only warnings and errors\n";

bool parse_build_args(int argc, char** argv, BuildOptions& o, bool& quiet) {
    std::string error;
    bool operands = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (operands) {
            o.paths.push_back(a);
            continue;
        }
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        bool ok = true;
        if (a == "-h" || a == "--help") {
            std::fputs(BUILD_HELP, stdout);
            std::exit(0);
        } else if (a == "-o" || a == "--output") {
            const char* v = value("-o");
            ok = v != nullptr;
            if (ok) o.output = v;
        } else if (a == "--quality") {
            ok = parse_int_option("--quality", value("--quality"), 1, 100, o.quality, error);
        } else if (a == "--thumb-size") {
            ok = parse_int_option("--thumb-size", value("--thumb-size"), 1, PACK_MAX_THUMB_SIZE, o.thumb_size, error);
        } else if (a == "--variety") {
            ok = parse_double_option("--variety", value("--variety"), 0, 100, o.variety, error);
        } else if (a == "--candidates") {
            ok = parse_int_option("--candidates", value("--candidates"), 0, CANDIDATE_MAX, o.candidates, error);
        } else if (a == "--min-candidates") {
            ok = parse_int_option("--min-candidates", value("--min-candidates"), 0, CANDIDATE_MAX, o.min_candidates, error);
        } else if (a == "--candidate-budget") {
            ok = parse_double_option("--candidate-budget", value("--candidate-budget"), 0, 100, o.candidate_budget, error);
        } else if (a == "--author") {
            const char* v = value("--author");
            ok = v != nullptr;
            if (ok) o.author = v, o.author_set = true;
        } else if (a == "--icon") {
            ok = parse_int_option("--icon", value("--icon"), 0, MAX_PICTURES - 1, o.icon, error);
        } else if (a == "--max") {
            ok = parse_int_option("--max", value("--max"), 2, MAX_PICTURES, o.max, error);
        } else if (a == "--min-size") {
            ok = parse_int_option("--min-size", value("--min-size"), 0, 1000000, o.min_size, error);
        } else if (a == "--jobs") {
            ok = parse_int_option("--jobs", value("--jobs"), 1, 256, o.jobs, error);
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a + " (see evgpack build --help)";
            ok = false;
        } else {
            o.paths.push_back(a);
        }
        if (!ok) {
            print_error(error);
            return false;
        }
    }
    if (o.output.empty()) {
        print_error("build needs an output file: evgpack build -o OUT.evg PATH... (see --help)");
        return false;
    }
    if (o.paths.empty()) {
        print_error("build needs at least one photo or folder (see evgpack build --help)");
        return false;
    }
    if (o.author.size() > PACK_AUTHOR_SIZE) {
        print_warning("the author name is cut to 32 bytes");
        o.author.resize(PACK_AUTHOR_SIZE);
    }
    return true;
}

// Prints each message as the build raises it and draws the progress of the photo reading.
struct BuildPrinter {
    bool quiet = false;
    std::unique_ptr<Progress> progress;

    static void message(void* context, const BuildMessage& m) {
        (void)context;
        if (m.error) print_error(build_message_text(m));
        else print_warning(build_message_text(m));
    }
    static void reading(void* context, int done, int total) {
        BuildPrinter& p = *static_cast<BuildPrinter*>(context);
        if (done == 0) p.progress = std::make_unique<Progress>("photos", total, p.quiet);
        else if (done > 0) p.progress->update(done);
        else p.progress->finish();
    }
};

}  // namespace

int cmd_build(int argc, char** argv) {
    BuildOptions o;
    bool quiet = false;
    if (!parse_build_args(argc, argv, o, quiet)) return 2;
    o.summary = !quiet;
    BuildPrinter printer;
    printer.quiet = quiet;
    BuildMonitor monitor;
    monitor.context = &printer;
    monitor.message = BuildPrinter::message;
    monitor.reading = BuildPrinter::reading;
    BuildReport report;
    if (build_pack(o, report, &monitor) != BUILD_OK) return 1;
    std::fputs(build_summary_text(report, o.output).c_str(), stdout);
    if (!report.coverage_warning.empty()) std::fprintf(stderr, "evgpack: %s\n", report.coverage_warning.c_str());
    return 0;
}

}  // namespace evgpack
