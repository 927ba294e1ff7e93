// The frame clock: frame-rate samples, their average and the frame timers.
#include "runtime/frame_rate.h"

int16_t last_frame_ms = 0;
uint32_t previous_tick = 0;
uint32_t fps_samples[FPS_SAMPLE_COUNT];
uint8_t fps_sample_index = 0;
uint32_t fps_value = 40;
uint8_t fps_double_once = 0;
FrameTimer frame_timers[FRAME_TIMER_COUNT];

void measure_frame_rate(uint32_t now) {
    uint32_t delta = now - previous_tick;
    previous_tick = now;
    last_frame_ms = static_cast<int16_t>(delta);
    // A frame cannot measure 0 ms with a period of at least 1 ms, but a clock that stands still
    // must not divide by zero: such a frame counts as 1 ms.
    fps_samples[fps_sample_index] = 8000u / (delta ? delta : 1u) + 4u;

    for (FrameTimer& timer : frame_timers) {
        if (timer.mode == 0) continue;
        int32_t step = timer.mode == 2 ? 25 : last_frame_ms;
        timer.value = static_cast<int32_t>(static_cast<uint32_t>(timer.value) +
                                           static_cast<uint32_t>(step));
    }

    unsigned i = fps_sample_index + 1u;
    if (i % 32 != 0) {
        fps_sample_index = static_cast<uint8_t>(i);
        return;
    }
    uint32_t sum = 0;
    for (uint32_t sample : fps_samples) sum += sample;
    uint32_t value = sum / 512;  // mean sample / 8
    if (fps_double_once) value *= 2;  // the first refresh saw 32 zero samples
    // Frames slower than about 2 s average to 0; keep at least 1 so that callers can divide.
    fps_value = value ? value : 1;
    fps_double_once = 0;
    fps_sample_index = static_cast<uint8_t>(i % FPS_SAMPLE_COUNT);
}
