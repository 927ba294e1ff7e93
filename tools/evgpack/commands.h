// The evgpack commands. Each lives in its own file (cmd_NAME.cpp) and is listed in the command
// table of main.cpp, which dispatches on the first argument.
#pragma once

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
int cmd_poster(int argc, char** argv);
}  // namespace evgpack
