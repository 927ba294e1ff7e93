// The console printer: a small printf that writes characters into the cells of the console tile
// layer (render/console.h). The frame pump uses it for the frame-rate display, applications for
// message lines. Nothing happens while there is no console layer.
#pragma once
#include <cstdint>

// Conversions: "%cD" sets the colour number to D - '0' for the rest of the call; "%s" a string;
// "%x" hexadecimal (upper case, no leading zeros, 0 prints nothing); "%d" a 32-bit signed
// integer; "%fD" a double with D decimals (the character after "%f" is always consumed);
// "%PWd" a padded integer (pad character P, width digit W); a line feed or "/n" starts the next
// row. Any other character prints itself; codes outside the character table print blank cells.
// Cells past the console's last row are not written.
void console_print(uint16_t column, uint16_t row, const char* format, ...);
