// temporary
#include <cstring>
#include <string>
#include "tools/evgpack/commands.h"
using namespace evgpack;
int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string c = argv[1];
    if (c == "build") return cmd_build(argc - 2, argv + 2);
    if (c == "info") return cmd_info(argc - 2, argv + 2);
    if (c == "verify") return cmd_verify(argc - 2, argv + 2);
    if (c == "demo") return cmd_demo(argc - 2, argv + 2);
    if (c == "extract") return cmd_extract(argc - 2, argv + 2);
    return 2;
}
