#include "builder/pack_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace evgpack {

bool load_pack(const std::string& path, LoadedPack& info, OpenPack& pack, std::string& error) {
    // Regular files only, opened without blocking: a FIFO named like a pack is refused at once.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + (S_ISDIR(st.st_mode) ? " is a folder, not a pack" : " is not a regular file");
        ::close(fd);
        return false;
    }
    info.file_size = st.st_size;
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        ::close(fd);
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
