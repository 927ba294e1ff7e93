// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TempDir {
    std::string path;  // no trailing slash
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Whole-file helpers for tests.
std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
long file_length(const std::string& path);  // -1 when missing
// The 8-bit RGB pixels of a PNG file (empty when it cannot be read) and its size.
std::vector<uint8_t> read_png_rgb(const std::string& path, int* width, int* height);
