// `evgpack build [-o OUT.evg] [options] PATH...`: a pack from a folder of photos. The build itself
// is builder/pack_build.h; this parses the options and prints what the build reports.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/pack_build.h"
#include "builder/pack_writer.h"
#include "builder/printable.h"
#include "pack/pack_candidates.h"
#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"

namespace evgpack {

namespace {

const char BUILD_HELP[] =
    "usage: evgpack build [-o OUT.evg] [options] PATH...\n"
    "\n"
    "Makes an image pack from photos. PATHs are files or folders (searched recursively; a\n"
    "symbolic link to a folder is followed once, a loop is reported); JPEG and PNG files are\n"
    "read, in path order. Byte-identical files are used once, and of near-identical photos\n"
    "(burst shots, resized, recompressed, slightly cropped or re-exposed copies) one is kept.\n"
    "With more usable photos than --max, every photo is read and the set that covers the\n"
    "colours best and varies most is chosen, with every top-level folder represented (with\n"
    "more folders than half of --max, those that add the most).\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the pack to write (default: <name of the last folder>.evg in the\n"
    "                      current folder), replaced only when the build succeeds. An existing\n"
    "                      file is replaced only when it is a pack; a symbolic link named by -o\n"
    "                      has its target replaced\n"
    "  --force             replace FILE even when it is not a pack (or is one of the photos)\n"
    "  --quality Q         JPEG quality of the pictures, 1-100 (default 85)\n"
    "  --thumb-size T      thumbnail edge in pixels, 1-255 (default 64)\n"
    "  --variety D         let a colour use any picture within D delta E of its best (default 2, 0 = off)\n"
"  --candidates K      pictures listed per colour for varied neighbouring tiles, 0-16 (default 16, 0 = none)\n"
    "  --candidate-budget D  how far beyond a colour's nearest picture a candidate may lie (delta E, default 5)\n"
    "  --min-candidates M  list at least M pictures per colour, the nearest beyond the budget\n"
    "                      when too few lie within it, 0-16 (default 16)\n"
    "  --author NAME       author shown on the pack card (default: your name)\n"
    "  --icon K            picture number whose miniature is the pack's icon (default 0)\n"
    "  --max N             use at most N pictures, 2-2048 (default 2048)\n"
    "  --min-size PX       skip photos whose shorter side is below PX pixels (default 0: keep all;\n"
    "                      smaller photos are enlarged, and the summary counts them)\n"
    "  --jobs N            worker threads (default: all cores); the pack is the same for any N\n"
    "  --order path        with more photos than --max, take the first ones by path (and keep\n"
    "                      near-duplicates) instead of choosing\n"
    "  --keep-similar      keep near-duplicate photos\n"
    "  --report FILE.json  list every input and what became of it\n"
    "  --cache DIR         import cache folder (default $XDG_CACHE_HOME/evgpack, else\n"
    "                      ~/.cache/evgpack)\n"
    "  --cache-limit SIZE  how much the cache keeps, such as 500M or 4G (a plain number is\n"
    "                      megabytes; default 2G); least recently used entries go first\n"
    "  --no-cache          neither read nor write the import cache\n"
    "  --quiet             no progress or summary, only warnings and errors\n";

// "<name of the last folder among the paths>.evg" in the current folder, as an absolute path so
// that the summary says where it went; "" when no path is a folder.
std::string default_output(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
        std::error_code ec;
        if (!fs::is_directory(*path, ec)) continue;
        const fs::path real = fs::canonical(*path, ec);
        std::string name = ec ? std::string() : real.filename().string();
        if (name.empty()) name = "Photos";  // the root folder has no name
        return (fs::current_path(ec) / (name + ".evg")).string();
    }
    return "";
}

bool parse_build_args(int argc, char** argv, BuildOptions& o, bool& quiet, bool& output_chosen,
                      std::string& report_file) {
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
        } else if (a == "--order") {
            const char* v = value("--order");
            ok = v && (std::string(v) == "path" || std::string(v) == "coverage");
            if (v && !ok) error = std::string("--order takes path or coverage, not ") + v;
            if (ok) o.order_path = std::string(v) == "path";
        } else if (a == "--keep-similar") {
            o.keep_similar = true;
        } else if (a == "--report") {
            const char* v = value("--report");
            ok = v != nullptr;
            if (ok) report_file = v, o.list_inputs = true;
        } else if (a == "--cache") {
            const char* v = value("--cache");
            ok = v != nullptr;
            if (ok) o.cache_dir = v, o.use_cache = true;
        } else if (a == "--cache-limit") {
            ok = parse_size_option("--cache-limit", value("--cache-limit"), o.cache_limit, error);
        } else if (a == "--no-cache") {
            o.use_cache = false;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "'; see 'evgpack build --help'";
            ok = false;
        } else {
            o.paths.push_back(a);
        }
        if (!ok) {
            print_error(error);
            return false;
        }
    }
    if (o.paths.empty()) {
        print_error("build needs at least one photo or folder; see 'evgpack build --help'");
        return false;
    }
    output_chosen = o.output.empty();
    if (output_chosen) {
        o.output = default_output(o.paths);
        // A link in the place of a name the user did not give is refused, not followed.
        o.follow_output_link = false;
    }
    if (o.output.empty()) {
        print_error("build needs -o OUT.evg when no folder is given; see 'evgpack build --help'");
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
    static void counting(void* context, int found) {
        if (!static_cast<BuildPrinter*>(context)->quiet) Progress::transient("counting photos... " + std::to_string(found));
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
    bool quiet = false, output_chosen = false;
    std::string report_file;
    if (!parse_build_args(argc, argv, o, quiet, output_chosen, report_file)) return 2;
    o.summary = !quiet;
    BuildPrinter printer;
    printer.quiet = quiet;
    BuildMonitor monitor;
    monitor.context = &printer;
    monitor.message = BuildPrinter::message;
    monitor.reading = BuildPrinter::reading;
    monitor.counting = BuildPrinter::counting;
    BuildReport report;
    const BuildStatus status = build_pack(o, report, &monitor);
    if (!report_file.empty() && !report.inputs.empty()) {
        const std::string json = build_report_json(report);
        std::string error;
        if (!write_file_replacing(report_file, std::vector<uint8_t>(json.begin(), json.end()), error)) {
            print_error("cannot write " + shown(report_file) + ": " + error);
            return 1;
        }
    }
    if (status != BUILD_OK) return 1;
    std::fputs(build_summary_text(report, o.output).c_str(), stdout);
    if (quiet && output_chosen) std::printf("wrote %s\n", shown(o.output).c_str());  // a name the user did not give
    if (!report.coverage_warning.empty()) std::fprintf(stderr, "evgpack: %s\n", report.coverage_warning.c_str());
    return 0;
}

}  // namespace evgpack
