#include "render/clip.h"

ClipRect active_clips[CLIP_COUNT] = {{0, 0, 239, 319}};
