// Placeholder compositor: clears the frame to black. The sprite table and layers replace it.
#include "runtime/compositor.h"

#include <cstring>

#include "runtime/framebuffer.h"

void compose(int first_depth, int last_depth) {
    (void)first_depth;
    (void)last_depth;
    std::memset(Framebuffer, 0, sizeof(uint16_t) * SCREEN_WIDTH * screen_height);
}
