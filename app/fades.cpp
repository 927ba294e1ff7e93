#include "app/fades.h"

#include "runtime/host.h"
#include "runtime/sprites.h"

void fade_out(uint8_t step) {
    // A step of 0 would never reach the end; it fades in one frame instead.
    const int s = step ? step : 32;
    for (int level = 32; level >= 0; level -= s) {
        fade_level = static_cast<uint8_t>(level);
        frame_yield();
    }
    fade_level = 0;
    frame_yield();
}

void fade_in(uint8_t step) {
    const int s = step ? step : 32;
    for (int level = 0; level <= 32; level += s) {
        fade_level = static_cast<uint8_t>(level);
        frame_yield();
    }
    fade_level = 32;
    frame_yield();
}
