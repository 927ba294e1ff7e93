// The text demo behind `evergreen --demo text`: one screen with a line in each of the built-in
// fonts 0 to 4 and the font sheet as font 5, the four alignments, and the console with the
// frame rate and a few printer conversions. Used to look at text rendering and in a replay test.
#pragma once

// Runs until Escape or the window is closed (the frame pump ends the process).
[[noreturn]] void text_demo_run();
