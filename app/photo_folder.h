// A data folder that holds photos but no pack: the no-pack screen offers to make one, and the
// build screen runs the pack builder (the same build as `evgpack build`) on a worker thread
// while a progress bar is drawn on the device screen.
#pragma once

// Photos (JPEG, PNG) under data_folder, searched as `evgpack build FOLDER` does.
int photo_folder_count();

// Builds "<folder name>.evg" in data_folder with a progress bar over the current screen (text
// layer 0, primitives on layer 1). Returns 1 when the pack was written, 0 when the build failed
// (after a message screen that waits for a tap). Escape or closing the window stop the build,
// remove anything it wrote and end the process with status 0.
int photo_folder_build();
