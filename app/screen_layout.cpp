// The viewer's draw target; the layout itself is constants in the header.
#include "app/screen_layout.h"

uint16_t* draw_target = nullptr;
