// Where the viewer starts, once the command line is read: the check of a pack named on it before
// any window opens, and the data home ($XDG_DATA_HOME/evergreen) that --library and a plain start
// in the home folder use. options_prepare calls these; viewer_main shows a pack the check refused.
#pragma once

// pack_load's verdict on the pack named on the command line: PACK_OK when none was named or it
// loads; otherwise the viewer shows the broken-pack screen instead of the start choice.
extern int preset_pack_status;

// Checks the pack named on the command line (`path`) with the viewer's loader. Returns -1 to go
// on (also for a file with a pack header whose contents fail the checks: preset_pack_status
// says why), or 1 after one line on standard error for a file that cannot be opened or is no
// pack at all (no pack header, and the loader refuses it).
int preset_pack_check(const char* path);

// Whether the current folder is the user's home folder: a plain start there uses the data home,
// so that a home folder is never offered for packing.
bool in_home_folder();

// Makes the data home the data folder. On first use it is created (mode 0700, with any missing
// parents) with the demo pack in it: the installed one copied, else one made on the spot. The
// no-pack screen then offers a pack of the user's pictures folder (XDG_PICTURES_DIR, else
// ~/Pictures), written into the data home. Returns -1 to go on, or 1 after one line on standard
// error when the folder cannot be made.
int data_home_use();
