// Loading a pack for the pack tool's inspection commands through the viewer's own loader
// (pack_load, with every check the viewer makes), plus the header when there is one.
#pragma once
#include <string>

#include "pack/pack_file.h"

namespace evgpack {

struct LoadedPack {
    bool has_header = false;
    PackHeader header{};
    long long file_size = 0;
};

// Reads the header (if any), sets the data offset and runs pack_load. On failure returns
// false with the viewer's reason in `error`. The open pack lives in the viewer's globals
// (best_match, thumbnails, picture_offsets, ...) until pack_close.
bool load_pack(const std::string& path, LoadedPack& pack, std::string& error);

}  // namespace evgpack
