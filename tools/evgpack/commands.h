// The pack tool's commands. Each takes the arguments after its own name and returns the
// process exit status (0 success, 1 failure, 2 wrong usage).
#pragma once

namespace evgpack {

int cmd_build(int argc, char** argv);
int cmd_info(int argc, char** argv);
int cmd_verify(int argc, char** argv);
int cmd_demo(int argc, char** argv);
int cmd_extract(int argc, char** argv);

}  // namespace evgpack
