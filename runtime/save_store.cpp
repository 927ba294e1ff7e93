// Save-file store. Writes go through file_replace_atomic so that a crash during a save never
// loses the earlier progress (a plain truncate-and-write left torn files when killed mid-way).
#include "runtime/save_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char data_folder[SAVE_PATH_SIZE] = "";
SaveSlot save_slot = {};

static bool path_too_long = false;
static char failure[SAVE_PATH_SIZE + 64] = "";
static char problem[SAVE_PATH_SIZE + 64] = "";

int set_data_folder(const char* folder) {
    size_t n = std::strlen(folder);
    bool add_slash = n > 0 && folder[n - 1] != '/';
    if (n + (add_slash ? 1 : 0) >= SAVE_PATH_SIZE) return 0;
    std::memcpy(data_folder, folder, n);
    if (add_slash) data_folder[n++] = '/';
    data_folder[n] = '\0';
    return 1;
}

// Opens `path` for reading when it is a regular file. O_NONBLOCK keeps the open of a FIFO
// from waiting for a writer; it changes nothing for regular files. -1 otherwise.
static int open_regular(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `length` bytes; returns how many arrived.
static uint32_t read_up_to(int fd, uint8_t* data, uint32_t length) {
    uint32_t got = 0;
    while (got < length) {
        ssize_t n = ::read(fd, data + got, length - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<uint32_t>(n);
    }
    return got;
}

int save_register(const char* name, void* block, uint32_t length) {
    int n = std::snprintf(save_slot.path, sizeof save_slot.path, "%s%s.sav", data_folder, name);
    path_too_long = n < 0 || n >= static_cast<int>(sizeof save_slot.path);
    if (path_too_long) {
        save_slot.enabled = 0;
        save_slot.path[0] = '\0';
        return 0;
    }
    save_slot.enabled = 1;
    save_slot.block = block;
    save_slot.length = length;
    int fd = open_regular(save_slot.path);
    if (fd < 0) return 0;
    ::close(fd);
    save_read();
    return 1;
}

int save_read() {
    if (!save_slot.enabled) return 0;
    int fd = open_regular(save_slot.path);
    if (fd < 0) return 0;
    read_up_to(fd, static_cast<uint8_t*>(save_slot.block), save_slot.length);  // a short file fills the start
    ::close(fd);
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

// The folder part of `path` ("." for a bare name) into `folder`.
static void folder_of(const char* path, char (&folder)[SAVE_PATH_SIZE + 16]) {
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (!slash) {
        std::strcpy(folder, ".");
    } else if (slash == folder) {
        folder[1] = '\0';
    } else {
        *slash = '\0';
    }
}

static void fsync_parent_folder(const char* path) {
    char folder[SAVE_PATH_SIZE + 16];
    folder_of(path, folder);
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
        int saved = errno;  // the caller reports the write's error, not the clean-up's
        ::unlink(temp);
        errno = saved;
        return 0;
    }
    fsync_parent_folder(path);
    return 1;
}

static int note_result(int ok) {
    if (!ok) std::snprintf(failure, sizeof failure, "%s", std::strerror(errno));
    return ok;
}

int save_write() {
    if (!save_slot.enabled) return 0;
    return note_result(file_replace_atomic(save_slot.path, save_slot.block, save_slot.length));
}

int save_write_backup() {
    if (!save_slot.enabled) return 0;
    char backup[512];
    int n = std::snprintf(backup, sizeof backup, "%s.bak", save_slot.path);
    if (n < 0 || n >= static_cast<int>(sizeof backup)) return 0;
    return file_replace_atomic(backup, save_slot.block, save_slot.length);
}

int save_write_merged(SaveMerge merge) {
    if (!save_slot.enabled) {
        std::snprintf(failure, sizeof failure, "%s", save_problem());
        return 0;
    }
    // The lock is taken on the folder, not the file: the file is replaced by a rename, so a
    // lock on it would be held on an inode that the next writer no longer opens.
    char folder[SAVE_PATH_SIZE + 16];
    folder_of(save_slot.path, folder);
    int lock = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock >= 0) {
        while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    // Without the folder or memory there is nothing to merge; the write below still tells.
    uint8_t* disk = static_cast<uint8_t*>(std::malloc(save_slot.length ? save_slot.length : 1));
    uint32_t got = 0;
    int fd = disk ? open_regular(save_slot.path) : -1;
    if (fd >= 0) {
        got = read_up_to(fd, disk, save_slot.length);
        ::close(fd);
    }
    if (merge) merge(save_slot.block, disk, got);
    std::free(disk);
    int ok = note_result(file_replace_atomic(save_slot.path, save_slot.block, save_slot.length));
    if (lock >= 0) ::close(lock);  // releases the lock once the new file is in place
    return ok;
}

const char* save_problem() {
    if (!save_slot.enabled) {
        return path_too_long ? "the folder path is too long for the save file" : "no save file registered";
    }
    struct stat st;
    if (::stat(save_slot.path, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::snprintf(problem, sizeof problem, "%s is a folder", save_slot.path);
        return problem;
    }
    char folder[SAVE_PATH_SIZE + 16];
    folder_of(save_slot.path, folder);
    if (::access(folder, W_OK | X_OK) != 0) {
        std::snprintf(problem, sizeof problem, "cannot write in %s: %s", folder, std::strerror(errno));
        return problem;
    }
    return nullptr;
}

const char* save_failure_reason() { return failure; }
