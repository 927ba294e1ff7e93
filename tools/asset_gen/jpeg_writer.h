// Baseline JPEG output for the menu background through libjpeg-turbo's encoder, laid out for a
// small decoder that reads the picture size at fixed offsets: start marker, a 16-byte JFIF
// segment, then the frame header (height at bytes 25-26, width at 27-28), then the
// quantisation and Huffman tables and the single scan. Y is sampled 2 x 1, chroma 1 x 1.
#pragma once
#include <cstdint>
#include <vector>

#include "image.h"

std::vector<uint8_t> encode_menu_jpeg(const Image& img, int quality);

// Largest magnitude among the quantised AC coefficients of the file (read back with libjpeg).
// Below 512 every AC value needs at most 9 extra bits, so no code plus value exceeds 25 bits.
int largest_ac_coefficient(const std::vector<uint8_t>& jpeg);
