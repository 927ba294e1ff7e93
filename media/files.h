// Whole-file reading for applications of the runtime: the length of an open file, and a file
// read into one allocated buffer. (The viewer reads its packs and state file by other means.)
#pragma once
#include <cstdint>
#include <cstdio>

// The open file, its size and its contents; all zero when nothing is held.
struct FileReader {
    FILE* file;
    uint32_t size;
    uint8_t* buffer;
};

// The file's length in bytes, found by seeking to its end; the position is back at the start
// afterwards. -1 when the length cannot be found (not seekable) or does not fit 32 bits.
int64_t file_size(FILE* file);

// Opens `path` ("rb"), allocates a buffer of the file's size and reads the file into it, 1024
// bytes at a time. Returns 1 with the file still open and the buffer filled; 0 when the file
// does not open, its size cannot be had, the allocation fails or any read comes up short (the
// reader is then closed and cleared: nothing is left half-filled).
int file_read_all(FileReader* reader, const char* path);

// Opens `path` for reading ("rb") when it is a regular file. The open does not block (a FIFO
// named like a file would otherwise wait for a writer for ever); anything else gives nullptr,
// with errno EINVAL for a file that is not regular.
FILE* file_open_regular(const char* path);

// Closes the file, frees the buffer and clears the record.
void file_reader_close(FileReader* reader);
