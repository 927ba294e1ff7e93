// The start-up choices that need the file system: the pack named on the command line is loaded
// once here, so that a file that is no pack is refused before a window opens; and the data home
// is found, made and given its demo pack.
#include "app/start_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/pack_menu.h"
#include "app/photo_folder.h"
#include "app/viewer_pack.h"
#include "builder/colour_match.h"
#include "builder/demo_pictures.h"
#include "builder/pack_build.h"
#include "builder/pack_writer.h"
#include "media/files.h"
#include "pack/pack_file.h"
#include "runtime/save_store.h"

int preset_pack_status = PACK_OK;

namespace {

constexpr int DEMO_PICTURES = 256;  // as `evgpack demo` makes it

std::string home_folder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

bool same_folder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISDIR(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// $XDG_DATA_HOME/evergreen, else ~/.local/share/evergreen (a relative XDG_DATA_HOME is ignored,
// as the base directory rules say).
std::string data_home_folder(const std::string& home) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/evergreen";
    return home.empty() ? "" : home + "/.local/share/evergreen";
}

// The pictures folder as xdg-user-dir PICTURES finds it: the XDG_PICTURES_DIR="..." line of
// user-dirs.dirs ("$HOME/..." or an absolute path), else ~/Pictures. That file switches a folder
// off by naming the home folder, which is never packed: ~/Pictures then too.
std::string pictures_folder(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::ifstream dirs((config && config[0] == '/' ? std::string(config) : home + "/.config") + "/user-dirs.dirs");
    const std::string key = "XDG_PICTURES_DIR=\"";
    std::string line, found;
    while (std::getline(dirs, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0 || line.back() != '"') continue;
        std::string value = line.substr(start + key.size(), line.size() - start - key.size() - 1);
        if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
        if (!value.empty() && value[0] == '/') found = value;
    }
    if (found.empty() || same_folder(found, home)) found = home + "/Pictures";
    return found;
}

// Makes `path` and any missing parents with mode 0700. Returns 1 when `path` was made now, 0
// when it was there, -1 (errno set) when it cannot be made.
int make_folders(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : (errno = ENOTDIR, -1);
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return -1;
        if (slash == std::string::npos) return 1;
    }
}

// The installed demo pack's bytes; false when it is missing or unreadable.
bool read_installed_demo(std::vector<uint8_t>& bytes) {
    FILE* file = file_open_regular(EVERGREEN_DATA_DIR "/Default.evg");
    if (!file) return false;
    const int64_t size = file_size(file);
    if (size > 0) bytes.resize(static_cast<size_t>(size));
    const bool read = size > 0 && std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    return read;
}

// The demo pack into a new data home, written whole or not at all; a failure is told and the
// viewer goes on (its no-pack screen).
void demo_pack_put(const std::string& folder) {
    const std::string path = folder + "/" + DEFAULT_PACK_NAME;
    std::vector<uint8_t> bytes;
    if (!read_installed_demo(bytes)) {
        std::printf("Making the demo pack %s...\n", path.c_str());
        std::fflush(stdout);
        bytes = evgpack::demo_pack_bytes(DEMO_PICTURES, evgpack::default_jobs(), evgpack::DEFAULT_CANDIDATES);
    }
    std::string error;
    if (!evgpack::write_file_replacing(path, bytes, error)) std::fprintf(stderr, "evergreen: %s\n", error.c_str());
}

}  // namespace

int preset_pack_check(const char* path) {
    // The data offset as the pack's card reads it: from a whole header, else 0.
    uint8_t bytes[PACK_HEADER_SIZE];
    size_t got = 0;
    if (FILE* file = file_open_regular(path)) {
        got = std::fread(bytes, 1, sizeof bytes, file);
        std::fclose(file);
    }
    const bool header = got >= PACK_MAGIC_COMPARED && pack_magic_matches(bytes);
    PackHeader decoded{};
    if (header && got == sizeof bytes) pack_header_decode(bytes, &decoded);
    const int status = pack_load(path, decoded.data_offset, &viewer_pack);
    if (status == PACK_OK) {
        pack_close(&viewer_pack);  // loaded again once the start choice is made
        return -1;
    }
    if (status == PACK_CANNOT_OPEN || !header) {
        pack_failure_print(status, path, false);
        return 1;
    }
    preset_pack_status = status;
    return -1;
}

bool in_home_folder() {
    const std::string home = home_folder();
    return !home.empty() && same_folder(".", home);
}

int data_home_use() {
    const std::string home = home_folder();
    const std::string folder = data_home_folder(home);
    const int made = folder.empty() ? (errno = ENOENT, -1) : make_folders(folder);
    if (made < 0 || !set_data_folder(folder.c_str())) {
        std::fprintf(stderr, "evergreen: cannot make the data folder %s: %s\n",
                     folder.empty() ? "(no home folder)" : folder.c_str(),
                     made < 0 ? std::strerror(errno) : "path too long");
        return 1;
    }
    if (made) demo_pack_put(folder);
    photo_folder_set_source(pictures_folder(home));
    return -1;
}
