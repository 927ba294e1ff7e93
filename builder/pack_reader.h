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

// Reads the header (if any) into `info` and runs pack_load from the data offset it names into
// `pack` (allocate it on the heap: it is large). On failure returns false with the viewer's
// reason in `error` and `pack` empty.
bool load_pack(const std::string& path, LoadedPack& info, OpenPack& pack, std::string& error);

}  // namespace evgpack
