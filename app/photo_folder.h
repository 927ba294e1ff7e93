// A data folder that holds photos but no pack: the no-pack screen offers to make one, and the
// build screen runs the pack builder (the same build as `evgpack build`) on a worker thread
// while a progress bar is drawn on the device screen.
#pragma once
#include <atomic>

// Photos (JPEG, PNG) under data_folder, searched as `evgpack build FOLDER` does. `counted`, when
// given, follows the count as it grows (the viewer counts on a worker thread).
int photo_folder_count(std::atomic<int>* counted = nullptr);

// Whether a pack could be written in data_folder (the folder lets this user create files).
bool photo_folder_writable();

// Builds "<folder name>.evg" in data_folder with a progress bar over the current screen (text
// layer 0, primitives on layer 1). Returns 1 when the pack was written, 0 when the build failed
// (after a message screen that waits for a tap; Escape or the close button there end the process
// with status 1). Escape or closing the window during the build stop it, remove anything it wrote
// and end the process with status 0.
int photo_folder_build();
