// A data folder without a pack whose photos (its own, or the pictures folder's for the data
// home) can make one: the no-pack screen offers it, and the build screen runs the pack builder
// (the same build as `evgpack build`) on a worker thread while a progress bar is drawn on the
// device screen.
#pragma once
#include <atomic>
#include <memory>
#include <string>

// The folder whose photos are offered: data_folder (the default, "" here), or another one such
// as the user's pictures folder for the data home, whose pack still goes into data_folder.
void photo_folder_set_source(const std::string& folder);
bool photo_folder_elsewhere();  // a source other than data_folder was set

// The photos (JPEG, PNG) under the source folder, searched as `evgpack build FOLDER` does and
// counted on a worker thread, since a library may hold many: `found` grows as they are checked
// and `done` is set at the end. The worker holds a share of the record, so the
// process may end (Escape) while it runs.
struct PhotoCount {
    std::atomic<int> found{0};
    std::atomic<bool> done{false};
};
std::shared_ptr<PhotoCount> photo_folder_count_start();

// Whether a pack could be written in data_folder (the folder lets this user create files).
bool photo_folder_writable();

// Builds "<source folder name>.evg" in data_folder from the source's photos with a progress bar
// over the current screen (text
// layer 0, primitives on layer 1). Returns 1 when the pack was written, 0 when the build failed
// (after a message screen that waits for a tap; Escape or the close button there end the process
// with status 1). Escape or closing the window during the build stop it, remove anything it wrote
// and end the process with status 0.
int photo_folder_build();
