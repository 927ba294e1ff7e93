// Whole-file reading: sizes around the 1024-byte chunk, empty and missing files, and a reader
// that is always left either filled or cleared.
#include <gtest/gtest.h>

#include <filesystem>

#include "media/files.h"
#include "tests/support/temp_dir.h"

TEST(FileReadAll, ReadsAroundTheChunkSizeAndClearsOnFailure) {
    TempDir dir;
    for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 5000u}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>(i * 7 + 3);
        ASSERT_TRUE(write_file(dir.file("f"), bytes));
        FileReader reader;
        ASSERT_EQ(1, file_read_all(&reader, dir.file("f").c_str())) << size;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(reader.buffer), reader.size), bytes);
        EXPECT_EQ(std::ftell(reader.file), static_cast<long>(size));
        file_reader_close(&reader);
        EXPECT_TRUE(reader.file == nullptr && reader.buffer == nullptr && reader.size == 0);
    }
    FileReader reader;
    // A missing file, and a folder (it opens for reading on Linux but no read succeeds): nothing
    // is left held.
    for (const std::string& path : {dir.file("missing"), dir.path}) {
        EXPECT_EQ(0, file_read_all(&reader, path.c_str()));
        EXPECT_TRUE(reader.file == nullptr && reader.buffer == nullptr) << path;
    }

    FILE* file = std::fopen(dir.file("f").c_str(), "rb");
    std::fseek(file, 100, SEEK_SET);
    EXPECT_EQ(file_size(file), 5000);
    EXPECT_EQ(std::ftell(file), 0);  // back at the start
    std::fclose(file);
    std::filesystem::resize_file(dir.file("f"), (int64_t(1) << 32) + 1);  // sparse: past 32 bits is refused
    file = std::fopen(dir.file("f").c_str(), "rb");
    EXPECT_EQ(file_size(file), -1);
    std::fclose(file);
}
