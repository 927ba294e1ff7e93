#include "builder/pack_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace evgpack {

bool load_pack(const std::string& path, LoadedPack& info, OpenPack& pack, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = path + " is a folder, not a pack";
        return false;
    }
    info.file_size = st.st_size;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t bytes[PACK_HEADER_SIZE];
    size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    info.has_header = got == sizeof bytes && pack_magic_matches(bytes);
    if (info.has_header) pack_header_decode(bytes, &info.header);
    pack_close(&pack);
    int status = pack_load(path.c_str(), info.has_header ? info.header.data_offset : 0, &pack);
    if (status != PACK_OK) {
        error = path + ": " + pack_status_text(status);
        if (pack.bad_picture >= 0) error += " (picture " + std::to_string(pack.bad_picture) + ")";
        return false;
    }
    return true;
}

}  // namespace evgpack
