// The contact sheet: every file in the asset folder read back (GIFs through giflib, the JPEG
// through libjpeg, the font tables as the runtime reads them) and laid out with labels.
#pragma once
#include <string>

bool write_preview(const std::string& asset_dir, const std::string& png_path);
