// Save-file store. Writes go through file_replace_atomic so that a crash during a save never
// loses the earlier progress (a plain truncate-and-write left torn files when killed mid-way).
#include "runtime/save_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char data_folder[SAVE_PATH_SIZE] = "";
SaveSlot save_slot = {};

int set_data_folder(const char* folder) {
    size_t n = std::strlen(folder);
    bool add_slash = n > 0 && folder[n - 1] != '/';
    if (n + (add_slash ? 1 : 0) >= SAVE_PATH_SIZE) return 0;
    std::memcpy(data_folder, folder, n);
    if (add_slash) data_folder[n++] = '/';
    data_folder[n] = '\0';
    return 1;
}

int save_register(const char* name, void* block, uint32_t length) {
    int n = std::snprintf(save_slot.path, sizeof save_slot.path, "%s%s.sav", data_folder, name);
    if (n < 0 || n >= static_cast<int>(sizeof save_slot.path)) {
        save_slot.enabled = 0;
        save_slot.path[0] = '\0';
        return 0;
    }
    save_slot.enabled = 1;
    save_slot.block = block;
    save_slot.length = length;
    FILE* file = std::fopen(save_slot.path, "rb");
    if (!file) return 0;
    std::fclose(file);
    save_read();
    return 1;
}

int save_read() {
    if (!save_slot.enabled) return 0;
    FILE* file = std::fopen(save_slot.path, "rb");
    if (!file) return 0;
    size_t got = std::fread(save_slot.block, 1, save_slot.length, file);
    (void)got;  // a short file fills only the start of the block
    std::fclose(file);
    return 1;
}

static int write_all(int fd, const uint8_t* data, uint32_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        data += n;
        length -= static_cast<uint32_t>(n);
    }
    return 1;
}

static void fsync_parent_folder(const char* path) {
    char folder[SAVE_PATH_SIZE + 16];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (!slash) {
        std::strcpy(folder, ".");
    } else if (slash == folder) {
        folder[1] = '\0';
    } else {
        *slash = '\0';
    }
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int file_replace_atomic(const char* path, const void* data, uint32_t length) {
    char temp[SAVE_PATH_SIZE + 16];
    int n = std::snprintf(temp, sizeof temp, "%s.tmpXXXXXX", path);
    if (n < 0 || n >= static_cast<int>(sizeof temp)) return 0;
    int fd = ::mkstemp(temp);
    if (fd < 0) return 0;
    // mkstemp creates the file 0600; a save file is an ordinary user file.
    ::fchmod(fd, 0644);
    bool ok = write_all(fd, static_cast<const uint8_t*>(data), length) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp, path) != 0) ok = false;
    if (!ok) {
        ::unlink(temp);
        return 0;
    }
    fsync_parent_folder(path);
    return 1;
}

int save_write() {
    if (!save_slot.enabled) return 0;
    return file_replace_atomic(save_slot.path, save_slot.block, save_slot.length);
}

int save_write_backup() {
    if (!save_slot.enabled) return 0;
    char backup[512];
    int n = std::snprintf(backup, sizeof backup, "%s.bak", save_slot.path);
    if (n < 0 || n >= static_cast<int>(sizeof backup)) return 0;
    return file_replace_atomic(backup, save_slot.block, save_slot.length);
}
