// The viewer application from start to end: start-up, the pack menu with its cards, the start
// choice (custom, random, or view all by pressing Down three times), the no-pack and open
// failure screens, the viewer's sprites, the viewing loop, and the one save at the normal exit.
#pragma once
#include <cstdint>

#include "pack/pack_file.h"

constexpr uint8_t START_UNDECIDED = 0xFF, START_CUSTOM = 0, START_RANDOM = 1, START_VIEW_ALL = 2;

extern uint8_t start_mode;
extern uint16_t pack_count;      // packs found, capped at 8 after the scan
extern char chosen_pack_path[PACK_PATH_SIZE];
extern uint32_t chosen_pack_offset;  // where its data section starts (from its card)
// A pack named on the command line (file name in data_folder): the menu skips its cards and
// goes straight to the start choice for it. Empty = the menu as usual.
extern char preset_pack[512];
// Set from the command line before viewer_main: auto_start opens the first pack in auto mode,
// and start_picture (-1 = random) is the first picture; either skips the menu's card choice
// and the start choice.
extern uint8_t auto_start;
extern int32_t start_picture;

// Runs the whole application; returns the process exit status: 0, or 1 when the progress of
// the run could not be saved (the user has been told). Expects runtime_init done.
int viewer_main();
