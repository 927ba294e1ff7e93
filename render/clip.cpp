// The per-frame clip table the kernels read.
#include "render/clip.h"

// Entry 0 is the whole screen until the first compose, so kernels can run before any frame.
ClipRect active_clips[CLIP_COUNT] = {{0, 0, 239, 319}};
