// The frame clock shared by the frame pump and the modules that pace themselves by it: the
// measured frame rate (sprite animation steps by it) and the frame timers. The pump calls
// measure_frame_rate once per presented frame.
#pragma once
#include <cstdint>

// Timer modes: 0 stopped, 2 advances 25 ms per frame, any other value advances by the measured
// frame duration. Arm a timer by writing its mode and zeroing its value.
struct FrameTimer {
    uint8_t mode;
    int32_t value;  // milliseconds
};
constexpr int FRAME_TIMER_COUNT = 16;
constexpr int FPS_SAMPLE_COUNT = 64;

extern int16_t last_frame_ms;    // measured duration of the last frame
extern uint32_t previous_tick;
extern uint32_t fps_samples[FPS_SAMPLE_COUNT];  // eight times the rate of each frame, plus 4
extern uint8_t fps_sample_index;
extern uint32_t fps_value;       // averaged frames per second, refreshed every 32 frames; never 0
extern uint8_t fps_double_once;
extern FrameTimer frame_timers[FRAME_TIMER_COUNT];

// The pump's frame-rate step with `now` as the presentation time: measures the frame, stores
// its sample, advances the frame timers and refreshes fps_value every 32 frames.
void measure_frame_rate(uint32_t now);
