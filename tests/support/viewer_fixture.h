// Opens small test packs for the viewer's tests and puts the mosaic, navigation and sprite state
// back to the start of a viewing session.
#pragma once
#include "tests/support/pack_builder.h"
#include "tests/support/temp_dir.h"

// Writes `spec` as dir/test.evg and loads it into viewer_pack. Returns false when it does not load.
bool open_test_pack(const TempDir& dir, const PackSpec& spec);

// Mosaic and navigation globals as before a session: zoom 8, no current picture, history
// empty, speed 1, auto off; draw_target = the Framebuffer (cleared); visit counts zeroed.
void reset_viewer_state();

// The viewer's buttons as the main flow sets them up (exit 0, surface 11, speed 10, auto 12),
// from the built-in graphics.
void set_up_viewer_buttons();
