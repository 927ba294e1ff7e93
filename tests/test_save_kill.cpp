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

// Child: alternate the block between two patterns and save it for ever.
[[noreturn]] void save_forever() {
    for (uint8_t pattern = 'A';; pattern = pattern == 'A' ? 'B' : 'A') {
        std::memset(&state_block, pattern, sizeof state_block);
        save_write();
    }
}

}  // namespace

// 300 kills at random moments: each leaves a whole 'A' or 'B' file (a torn one mixes the two or
// is short); the next round starts from a whole file either way.
TEST(SaveKill, AtomicSaveNeverLeavesATornFile) {
    TempDir dir;
    const std::string path = dir.file("Evergreen.sav"), whole_a(sizeof(StateBlock), 'A');
    ASSERT_TRUE(write_file(path, whole_a));
    ASSERT_EQ(1, set_data_folder(dir.path.c_str()));
    state_load();
    set_data_folder("");
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> delay_us(200, 6000);
    int torn = 0;
    for (int k = 0; k < 300; k++) {
        const pid_t child = fork();
        if (child == 0) save_forever();
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string bytes = read_file(path);
        if (bytes != whole_a && bytes != std::string(sizeof(StateBlock), 'B')) torn++, write_file(path, whole_a);
    }
    EXPECT_EQ(torn, 0);
}
