// The save store: registration reads, atomic writes, backups, and failures told, never lost data.
// (Short and long files are loaded by the state-file tests in test_progress.cpp.)
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/save_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/check.h"

namespace {

// Each test runs with data_folder pointing at its own scratch folder.
class SaveStore : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        save_slot = SaveSlot{};
        ASSERT_EQ(set_data_folder(dir.path.c_str()), 1);
    }
    // Files in the folder: a write leaves the save file itself and no temporary.
    long entries() const {
        auto all = std::filesystem::directory_iterator(dir.path);
        return std::distance(std::filesystem::begin(all), std::filesystem::end(all));
    }
    void TearDown() override {
        set_data_folder("");
        data_folder[0] = '\0';
        save_slot = SaveSlot{};
    }
};

TEST_F(SaveStore, MissingFileKeepsBlockAndLaterWriteCreatesIt) {
    EXPECT_EQ(vals(save_write(), save_read(), save_write_backup()), vals(0, 0, 0));  // nothing registered yet
    std::vector<uint8_t> block(50944, 0xAB);
    EXPECT_EQ(save_register("Evergreen", block.data(), 50944), 0);
    EXPECT_EQ(vals(block[0], block[50943]), vals(0xAB, 0xAB));
    EXPECT_EQ(std::string(save_slot.path), dir.file("Evergreen.sav"));
    EXPECT_EQ(save_write(), 1);
    EXPECT_EQ(file_length(dir.file("Evergreen.sav")), 50944);
    EXPECT_EQ(read_file(dir.file("Evergreen.sav")), std::string(50944, '\xAB'));
}

TEST_F(SaveStore, WriteReplacesWholeFileAndLeavesNoTemporary) {
    write_file(dir.file("App.sav"), std::string(100, 'x'));  // longer than the block
    char block[10];
    ASSERT_EQ(save_register("App", block, 10), 1);
    std::memcpy(block, "NEWCONTENT", 10);
    EXPECT_EQ(save_write(), 1);
    EXPECT_EQ(read_file(dir.file("App.sav")), "NEWCONTENT");
    EXPECT_EQ(entries(), 1);
}

TEST_F(SaveStore, FailedWriteKeepsOldFile) {
    // A write that fails half-way (here: a file size limit, which binds root too) must leave
    // the earlier save as it was and no temporary behind.
    write_file(dir.file("App.sav"), "old!");
    std::vector<uint8_t> block(64 * 1024, 'n');
    ASSERT_EQ(save_register("App", block.data(), static_cast<uint32_t>(block.size())), 1);
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = save_write();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(dir.file("App.sav")), "old!");
    EXPECT_EQ(entries(), 1);

    // A folder where no file can be created at all.
    ASSERT_EQ(set_data_folder((dir.path + "/missing").c_str()), 1);
    save_register("App", block.data(), 4);
    EXPECT_EQ(save_write(), 0);
}

TEST_F(SaveStore, ProblemsAreToldBeforeAndAfterWriting) {
    char block[4] = {'a', 'b', 'c', 'd'};
    ASSERT_EQ(save_register("App", block, 4), 0);
    EXPECT_EQ(save_problem(), nullptr);
    // A folder in the file's place: seen at start-up, and the write fails with a reason.
    std::filesystem::create_directory(dir.file("App.sav"));
    ASSERT_NE(save_problem(), nullptr);
    EXPECT_NE(std::string(save_problem()).find("is a folder"), std::string::npos);
    EXPECT_EQ(save_write(), 0);
    EXPECT_STRNE(save_failure_reason(), "");
    std::filesystem::remove(dir.file("App.sav"));
    // A FIFO of that name is neither waited on nor read; the write replaces it with a file.
    ASSERT_EQ(::mkfifo(dir.file("App.sav").c_str(), 0600), 0);
    EXPECT_EQ(save_register("App", block, 4), 0);
    EXPECT_EQ(save_read(), 0);
    EXPECT_EQ(save_write(), 1);
    EXPECT_EQ(read_file(dir.file("App.sav")), "abcd");
}

uint32_t merged_disk_length = 0;
void note_disk(void*, const uint8_t*, uint32_t disk_length) { merged_disk_length = disk_length; }

TEST_F(SaveStore, LinkIsNeitherReadNorFollowedAndStaleTemporariesGo) {
    // A link to a private file in the save file's place: not read, not merged, told once; the
    // save replaces the link with a file of the umask's mode and removes a killed save's temporary.
    ASSERT_TRUE(write_file(dir.file("private"), "secret"));
    ASSERT_EQ(::symlink("private", dir.file("App.sav").c_str()), 0);
    ASSERT_TRUE(write_file(dir.file("App.sav.tmpAb12Cd"), "stale"));
    char block[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(save_register("App", block, 4), 0);
    EXPECT_EQ(std::string(block, 4), "abcd");
    ASSERT_NE(save_not_read(), nullptr);
    EXPECT_NE(std::string(save_not_read()).find("symbolic link"), std::string::npos);
    const mode_t old_mask = ::umask(077);
    merged_disk_length = 99;
    EXPECT_EQ(save_write_merged(note_disk), 1);
    ::umask(old_mask);
    EXPECT_EQ(merged_disk_length, 0u);
    struct stat st;
    ASSERT_EQ(::lstat(dir.file("App.sav").c_str(), &st), 0);
    EXPECT_EQ(vals(S_ISREG(st.st_mode), st.st_mode & 0777), vals(1, 0600));
    EXPECT_EQ(read_file(dir.file("App.sav")) + read_file(dir.file("private")), "abcdsecret");
    EXPECT_FALSE(file_exists(dir.file("App.sav.tmpAb12Cd")));
    EXPECT_EQ(save_register("App", block, 4), 1);
    EXPECT_EQ(save_not_read(), nullptr);
}

TEST_F(SaveStore, OverlongPathDisablesStoreWithoutOverflow) {
    std::string name(SAVE_PATH_SIZE, 'n');
    char block[4] = {};
    EXPECT_EQ(save_register(name.c_str(), block, 4), 0);
    EXPECT_EQ(save_slot.enabled, 0);
    EXPECT_EQ(save_write(), 0);
    EXPECT_NE(std::string(save_problem()).find("too long"), std::string::npos);
    std::string folder(SAVE_PATH_SIZE, 'f');
    EXPECT_EQ(set_data_folder(folder.c_str()), 0);
}

}  // namespace
