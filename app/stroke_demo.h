// The handwriting demo behind `evergreen --demo strokes`: the user draws one letter at a time
// with the mouse; the ink, the recognised letter, its direction codes and distance are shown on
// the console layer, and the letters recognised so far build up a line of text.
#pragma once

// Runs until Escape or the window is closed (the frame pump ends the process).
[[noreturn]] void stroke_demo_run();
