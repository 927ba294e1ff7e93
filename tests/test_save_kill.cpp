// Saving the state block while being killed: a child process writes Evergreen.sav in a loop and
// is killed at random moments; every kill must leave the old or the new 50944-byte file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <random>

#include "app/progress.h"
#include "runtime/save_store.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int KILLS = 300;

// Every byte of a saved block is the same pattern byte; a torn file mixes two or is short.
bool whole_pattern_file(const std::string& bytes) {
    if (bytes.size() != sizeof(StateBlock)) return false;
    for (char c : bytes) {
        if (c != bytes[0]) return false;
    }
    return bytes[0] == 'A' || bytes[0] == 'B';
}

// Child: alternate the block between two patterns and save it for ever.
[[noreturn]] void save_forever(bool plain_write, const std::string& path) {
    uint8_t pattern = 'A';
    for (;;) {
        pattern = pattern == 'A' ? 'B' : 'A';
        std::memset(&state_block, pattern, sizeof state_block);
        if (plain_write) {
            // The truncate-and-write a naive store would do, for comparison.
            FILE* file = std::fopen(path.c_str(), "wb+");
            if (file) {
                std::fwrite(&state_block, 1, sizeof state_block, file);
                std::fclose(file);
            }
        } else {
            save_write();
        }
    }
}

int torn_after_kills(bool plain_write, unsigned seed) {
    TempDir dir;
    const std::string path = dir.file("Evergreen.sav");
    EXPECT_TRUE(write_file(path, std::string(sizeof(StateBlock), 'A')));
    EXPECT_EQ(1, set_data_folder(dir.path.c_str()));
    state_load();
    set_data_folder("");
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_us(200, 6000);
    int torn = 0;
    for (int k = 0; k < KILLS; k++) {
        pid_t child = fork();
        if (child == 0) save_forever(plain_write, path);
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::string bytes = read_file(path);
        if (!whole_pattern_file(bytes)) {
            torn++;
            write_file(path, std::string(sizeof(StateBlock), 'A'));  // start the next from whole
        }
    }
    return torn;
}

}  // namespace

TEST(SaveKill, AtomicSaveNeverLeavesATornFile) {
    int torn = torn_after_kills(false, 1234);
    int plain = torn_after_kills(true, 1234);
    std::printf("torn files after %d kills: atomic save %d, plain \"wb+\" write %d\n", KILLS, torn,
                plain);
    EXPECT_EQ(torn, 0);
}
