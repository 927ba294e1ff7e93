// The evgpack commands. Each lives in its own file (cmd_NAME.cpp) and is listed in the command
// table of main.cpp, which dispatches on the first argument.
#pragma once
#include <atomic>
#include <string>
#include <vector>

// A command gets the arguments after its name and returns the process exit status:
// 0 success, 1 failure (after printing one line saying why), 2 bad usage.
using CommandFunction = int (*)(int argc, char** argv);

struct Command {
    const char* name;
    const char* usage;    // arguments, e.g. "IN.jpg OUT.png"
    const char* summary;  // one line for the help text
    CommandFunction run;
};

int cmd_decode(int argc, char** argv);

// The pack commands (tools/evgpack/cmd_build.cpp, cmd_info.cpp, cmd_verify.cpp, cmd_demo.cpp,
// cmd_extract.cpp).
namespace evgpack {
int cmd_build(int argc, char** argv);
int cmd_info(int argc, char** argv);
int cmd_verify(int argc, char** argv);
int cmd_demo(int argc, char** argv);
int cmd_extract(int argc, char** argv);
int cmd_quality(int argc, char** argv);

// Lets another thread watch and stop a build (the viewer's build screen): build_pack publishes
// its progress here and checks `cancel` between photos and before writing.
struct BuildMonitor {
    std::atomic<int> done{0}, total{0};  // photos read so far, photos to read
    std::atomic<int> matching{0};        // 1 once the photos are read: colour tables, then the write
    std::atomic<int> cancel{0};          // set by the watcher: stop, write nothing, return 1
    std::atomic<int> written{0};         // 1 once the pack is in place (a later cancel keeps it)
};

// cmd_build with an optional monitor (null: the command line's own build).
int build_pack(int argc, char** argv, BuildMonitor* monitor);

// The JPEG and PNG files `evgpack build FOLDER` would read, sorted, without any warnings.
std::vector<std::string> find_photos(const std::string& folder);
}  // namespace evgpack
