// Whole-file reading: file_size, file_read_all, file_reader_close, file_open_regular.
#include "media/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

int64_t file_size(FILE* file) {
    if (!file || std::fseek(file, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    if (end < 0 || static_cast<unsigned long>(end) > 0xFFFFFFFFul) return -1;
    return end;
}

void file_reader_close(FileReader* reader) {
    if (reader->file) std::fclose(reader->file);
    std::free(reader->buffer);
    reader->file = nullptr;
    reader->size = 0;
    reader->buffer = nullptr;
}

int file_read_all(FileReader* reader, const char* path) {
    reader->file = nullptr;
    reader->size = 0;
    reader->buffer = nullptr;
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    reader->file = file;
    int64_t size = file_size(file);
    if (size < 0) {
        file_reader_close(reader);
        return 0;
    }
    reader->size = static_cast<uint32_t>(size);
    // One byte at least, so an empty file still gets a buffer the caller can free.
    reader->buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
    if (!reader->buffer) {
        file_reader_close(reader);
        return 0;
    }
    uint32_t done = 0;
    while (reader->size - done > 1024) {
        if (std::fread(reader->buffer + done, 1, 1024, file) != 1024) {
            file_reader_close(reader);
            return 0;
        }
        done += 1024;
    }
    // The remainder is checked too: a file that shrank since its size was taken would
    // otherwise leave the end of the buffer uninitialised.
    uint32_t rest = reader->size - done;
    if (rest > 0 && std::fread(reader->buffer + done, 1, rest, file) != rest) {
        file_reader_close(reader);
        return 0;
    }
    return 1;
}

FILE* file_open_regular(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "rb");
    if (!file) ::close(fd);
    return file;
}
