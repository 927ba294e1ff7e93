#include "media/console_print.h"

void console_print(uint16_t, uint16_t, const char*, ...) {}
