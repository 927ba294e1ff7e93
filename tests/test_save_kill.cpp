// Saving the state block while being killed: a child process writes Evergreen.sav in a loop and
// is killed at random moments; every kill must leave the old or the new 50944-byte file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
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
[[noreturn]] void save_forever() {
    for (uint8_t pattern = 'A';; pattern = pattern == 'A' ? 'B' : 'A') {
        std::memset(&state_block, pattern, sizeof state_block);
        save_write();
    }
}

int torn_after_kills(unsigned seed) {
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
        if (child == 0) save_forever();
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

TEST(SaveKill, AtomicSaveNeverLeavesATornFile) { EXPECT_EQ(torn_after_kills(1234), 0); }
