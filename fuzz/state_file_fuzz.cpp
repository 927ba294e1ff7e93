// libFuzzer target: Evergreen.sav as the viewer reads it. The block is loaded from the input,
// records are looked up and claimed (one name taken from the input), and pictures are shown in
// the found record, which sets viewed bits and the percentage; the rest of the block must stay
// as loaded. Then the block is saved, merged with the input as the file on disk.
#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pack/pack_file.h"
#include "app/progress.h"
#include "app/viewer_pack.h"
#include "runtime/save_store.h"

static char folder[256];
static char path[300];
static StateBlock before;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!folder[0]) {
        // A memory-backed folder when there is one: every input is written as the state file.
        const char* tmp = std::getenv("TMPDIR");
        if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(folder, sizeof folder, "%s/evg-state-fuzz-%d/", tmp, static_cast<int>(getpid()));
        mkdir(folder, 0700);
        std::snprintf(path, sizeof path, "%sEvergreen.sav", folder);
    }
    FILE* out = std::fopen(path, "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    set_data_folder(folder);
    state_load();
    set_data_folder("");

    // A name from the input's first bytes (up to 40, stopping at a zero byte).
    char name[41];
    size_t n = 0;
    while (n < size && n < 40 && data[n]) {
        name[n] = static_cast<char>(data[n]);
        n++;
    }
    name[n] = '\0';
    record_find_or_add("Default.evg");
    int record = record_find_or_add(name);
    if (record < -1 || record >= STATE_RECORDS) std::abort();
    if (record >= 0 && !names_equal(name, state_block.records[record].name)) std::abort();

    before = state_block;
    current_record = static_cast<int8_t>(record);
    viewer_pack.picture_count = size >= 2 ? static_cast<uint16_t>(data[size - 1] << 8 | data[size - 2]) : 1;
    for (size_t k = 0; k + 1 < size && k < 16; k += 2) {
        picture_show(static_cast<uint16_t>(data[k] << 8 | data[k + 1]));
        if (viewed_percent < 0 || viewed_percent > 100) std::abort();
    }
    // Only the current record's viewed bits and percent may have changed.
    for (int i = 0; i < STATE_RECORDS; i++) {
        const PackRecord& a = before.records[i];
        const PackRecord& b = state_block.records[i];
        if (i == record) {
            if (std::memcmp(a.name, b.name, sizeof a.name) != 0 || a.reserved != b.reserved ||
                std::memcmp(a.reserved_end, b.reserved_end, sizeof a.reserved_end) != 0) {
                std::abort();
            }
        } else if (std::memcmp(&a, &b, sizeof a) != 0) {
            std::abort();
        }
    }

    // The save merges the block into the file as it is on disk (the input itself here): the
    // open pack keeps every bit it has, in a record of its name, and the file keeps its size.
    const PackRecord mine = record >= 0 ? state_block.records[record] : PackRecord{};
    set_data_folder(folder);
    state_load();  // registers the path again
    if (record >= 0) state_block.records[record] = mine;
    current_record = static_cast<int8_t>(record);
    const int saved = state_save();
    std::memset(&state_block, 0, sizeof state_block);
    state_load();
    set_data_folder("");
    struct stat st;
    if (saved && (stat(path, &st) != 0 || st.st_size != static_cast<off_t>(sizeof(StateBlock)))) std::abort();
    if (saved && record >= 0 && record_name_plausible(mine)) {
        int found = -1;
        for (int i = 0; i < STATE_RECORDS && found < 0; i++)
            if (names_equal(mine.name, state_block.records[i].name)) found = i;
        if (found < 0) std::abort();
        for (int k = 0; k < RECORD_VIEWED_BYTES; k++)
            if ((state_block.records[found].viewed[k] & mine.viewed[k]) != mine.viewed[k]) std::abort();
    }
    return 0;
}
