// The viewer's poster key (P): a mosaic poster of the current surface, 100 x 100 tiles of 48 px,
// saved as evergreen-poster-NNNN.jpg in the pack folder beside the F12 screenshots, with a line
// on the screen saying so. The viewer's frame hook calls poster_key_frame every frame.
#pragma once
#include <cstddef>

constexpr int POSTER_KEY_TILES = 100, POSTER_KEY_TILE_PX = 48;

// Saves a poster when the key was pressed this frame, and takes the confirmation line away
// again after two seconds when nothing has been drawn over it meanwhile.
void poster_key_frame();

// Writes the poster of the current surface to the first free evergreen-poster-NNNN.jpg of the
// data folder. Returns 1 with its path, or 0 with the reason, in `line`.
int poster_save(char* line, size_t line_size);
