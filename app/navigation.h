// The viewer's control loop: the surface wait, the zoom into a point, navigation at zoom 8
// and 40 (pen, minimap, arrows, Return), the zooms to 40 and 240, the rewind to the surface,
// auto mode and the speed, auto, surface and exit buttons.
#pragma once
#include <cstdint>

// Button sprite slots.
constexpr int EXIT_BUTTON = 0, SPEED_BUTTON = 10, SURFACE_BUTTON = 11, AUTO_BUTTON = 12;

extern uint8_t auto_mode;        // 1 = the viewer picks points and tiles itself
extern uint8_t leave_key_noted;  // Right Shift pressed since the last exit test; cleared on leaving
extern float speed_factor;       // 0.5 until the speed button is set up
extern const float speed_table[3];

// Runs until the exit button or Right Shift. zoom is 240 on entry and current_picture the
// first picture.
void viewer_loop();

// The interactive phase at zoom 8 (target 40) or 40 (target 240).
void navigate(uint16_t target);
void zoom_in_from_surface(int16_t end_x, int16_t end_y);
void zoom_to(int16_t target, int16_t start_x, int16_t start_y, int16_t end_x, int16_t end_y);
void rewind_to_surface();

// Auto mode's point on the surface: of 160 random samples, the one whose tile picture has been
// the surface least often.
void auto_pick_point();

// Installed as the frame hook: the speed and auto buttons answer in every frame, and a Right
// Shift press is noted (note_leave_key) for the next exit test.
void viewer_frame_hook();
void note_leave_key();
void speed_cycle();
void auto_toggle();
