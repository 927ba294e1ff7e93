// Save-file store. Writes go through file_replace_atomic so that a crash during a save never
// loses the earlier progress (a plain truncate-and-write left torn files when killed mid-way).
#include "runtime/save_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

char data_folder[SAVE_PATH_SIZE] = "";
SaveSlot save_slot = {};

static bool path_too_long = false;
static char failure[SAVE_PATH_SIZE + 64] = "";
static char problem[SAVE_PATH_SIZE + 64] = "";
static char unread[SAVE_PATH_SIZE + 64] = "";

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
// from waiting for a writer; it changes nothing for regular files. O_NOFOLLOW: a link in the
// save file's place could point at any file of the user's, which the next save would copy
// into the folder. -1 otherwise.
static int open_regular(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
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
    unread[0] = '\0';
    struct stat st;
    if (::lstat(save_slot.path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        std::snprintf(unread, sizeof unread, "%s is %s", save_slot.path,
                      S_ISLNK(st.st_mode) ? "a symbolic link" : "not a regular file");
    }
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

// A new name for the temporary next to `path`: "<path>.tmp" and six letters or digits.
static void temporary_name(char* out, size_t size, const char* path) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static uint32_t counter = 0;
    uint32_t mix = static_cast<uint32_t>(::getpid()) * 2654435761u ^ static_cast<uint32_t>(std::time(nullptr)) ^
                   (++counter * 40503u);
    char suffix[7];
    for (int i = 0; i < 6; i++, mix = mix * 1103515245u + 12345u) suffix[i] = letters[(mix >> 16) % 62];
    suffix[6] = '\0';
    std::snprintf(out, size, "%s.tmp%s", path, suffix);
}

// The data in an unnamed file of the folder (O_TMPFILE), given the temporary name only once it
// is complete and flushed, so that a process killed while writing leaves nothing behind. -1 when
// the file system has no unnamed files (or /proc is missing): the caller writes a named one.
static int write_unnamed(const char* folder, const char* path, const void* data, uint32_t length, char* temp,
                         size_t temp_size) {
    // The mode is the one an ordinary new file gets: 0666 less the umask (or the folder's ACL).
    int fd = ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    if (!write_all(fd, static_cast<const uint8_t*>(data), length) || ::fsync(fd) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return 0;
    }
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    int linked = -1;
    for (int tries = 0; tries < 100 && linked != 0; tries++) {
        temporary_name(temp, temp_size, path);
        linked = ::linkat(AT_FDCWD, proc, AT_FDCWD, temp, AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno != EEXIST) break;
    }
    int saved = errno;
    ::close(fd);
    errno = saved;
    return linked == 0 ? 1 : (saved == ENOENT ? -1 : 0);
}

// The same through a named temporary created exclusively (never through a link of that name).
static int write_named(const char* path, const void* data, uint32_t length, char* temp, size_t temp_size) {
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; tries++) {
        temporary_name(temp, temp_size, path);
        fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return 0;
    }
    if (fd < 0) return 0;
    bool ok = write_all(fd, static_cast<const uint8_t*>(data), length) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        int saved = errno;
        ::unlink(temp);
        errno = saved;
    }
    return ok ? 1 : 0;
}

int file_replace_atomic(const char* path, const void* data, uint32_t length) {
    char temp[SAVE_PATH_SIZE + 16];
    if (std::strlen(path) + 11 >= sizeof temp) {
        errno = ENAMETOOLONG;
        return 0;
    }
    char folder[SAVE_PATH_SIZE + 16];
    folder_of(path, folder);
    int written = write_unnamed(folder, path, data, length, temp, sizeof temp);
    if (written < 0) written = write_named(path, data, length, temp, sizeof temp);
    if (!written) return 0;
    // rename replaces the name itself: a link or FIFO in the file's place is replaced, never
    // written through.
    if (::rename(temp, path) != 0) {
        int saved = errno;  // the caller reports the write's error, not the clean-up's
        ::unlink(temp);
        errno = saved;
        return 0;
    }
    fsync_parent_folder(path);
    return 1;
}

// Temporaries of `path` that a process killed between writing and renaming left behind. Called
// under the folder lock: every viewer writes its temporary only while holding it, so any that
// exists now is stale.
static void remove_stale_temporaries(const char* path, const char* folder) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    const size_t base_length = std::strlen(base);
    DIR* dir = ::opendir(folder);
    if (!dir) return;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strlen(name) != base_length + 10 || std::strncmp(name, base, base_length) != 0 ||
            std::strncmp(name + base_length, ".tmp", 4) != 0) {
            continue;
        }
        struct stat st;
        if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(dir), name, 0);
    }
    ::closedir(dir);
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
    char backup[SAVE_PATH_SIZE + 8];
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
    if (lock >= 0) remove_stale_temporaries(save_slot.path, folder);
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

const char* save_not_read() { return unread[0] ? unread : nullptr; }
