// The evergreen executable: parses the command line, starts the runtime and runs the screen
// loop. Escape or closing the window ends the process from inside the frame pump.
#include <cstring>

#include "app/options.h"
#include "app/stroke_demo.h"
#include "app/text_demo.h"
#include "app/viewer_main.h"
#include "runtime/host.h"

int main(int argc, char** argv) {
    host_program_path = argv[0];
    Options options;
    int status = options_parse(argc, argv, &options);
    if (status >= 0) return status;
    status = options_prepare(options);
    if (status >= 0) return status;
    // A failed start of the host has printed its reason; the viewer cannot run without it.
    if (runtime_init() != 0) return 1;
    options_apply(options);
    if (options.demo && !std::strcmp(options.demo, "text")) text_demo_run();
    if (options.demo) stroke_demo_run();
    return viewer_main();
}
