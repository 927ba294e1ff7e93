// libFuzzer target: a pack file as the menu and the viewer read it. The card header is read,
// the pack is loaded from the card's data offset, and every picture's bytes are read; one
// picture, chosen by the last input byte, is also decoded (decoding dominates the time, and the
// decoder has a fuzz target of its own). Inputs whose first byte is odd get the two 128 KiB colour tables inserted at the data
// offset, so that short inputs reach the counts, thumbnails and picture entries behind them.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/pack_menu.h"
#include "app/progress.h"
#include "app/viewer_pack.h"
#include "pack/pack_file.h"
#include "render/framebuffer.h"
#include "runtime/save_store.h"

static char folder[256];
static char path[300];
static uint16_t target[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];
static uint8_t tables[2 * PACK_TABLE_BYTES];  // the inserted colour tables, built once
static std::vector<uint8_t> file;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (!folder[0]) {
        // A memory-backed folder when there is one: every input is written as a file.
        const char* tmp = std::getenv("TMPDIR");
        if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(folder, sizeof folder, "%s/", tmp);
        std::snprintf(path, sizeof path, "%sevg-pack-fuzz-%d.evg", folder, static_cast<int>(getpid()));
        screen_height = SCREEN_MAX_HEIGHT;
        for (size_t v = 0; v < PACK_TABLE_ENTRIES; v++) {
            put_le16(&tables[2 * v], static_cast<uint16_t>(v % 7));
            put_le16(&tables[PACK_TABLE_BYTES + 2 * v], static_cast<uint16_t>(v % 5));
        }
    }
    const bool insert_tables = data[0] & 1;
    const uint8_t* rest = data + 1;
    const size_t rest_size = size - 1;

    file.assign(rest, rest + rest_size);
    if (insert_tables) {
        size_t at = 0;
        if (rest_size >= static_cast<size_t>(PACK_HEADER_SIZE) && pack_magic_matches(rest)) {
            at = get_le16(rest + PACK_HEADER_DATA_OFFSET);
        }
        if (at <= rest_size) {
            file.insert(file.begin() + static_cast<long>(at), tables, tables + sizeof tables);
        }
    }
    FILE* out = std::fopen(path, "wb");
    if (!out) return 0;
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);

    // The menu: card 0 from the file's header (no text layer exists, so only the panel and icon
    // are drawn), then the viewer opens the pack at the card's data offset.
    set_data_folder(folder);
    std::snprintf(name_table[0], NAME_SLOT_SIZE, "%s", path + std::strlen(folder));
    draw_target = target;
    std::memset(&pack_cards[0], 0, sizeof pack_cards[0]);
    cards_build(1);
    if (pack_load(path, pack_cards[0].data_offset, &viewer_pack) == PACK_OK) {
        for (int n = 0; n < viewer_pack.picture_count; n++) {
            if (picture_bytes_read(&viewer_pack, static_cast<uint16_t>(n)) != static_cast<int32_t>(viewer_pack.picture_sizes[n])) {
                std::abort();  // the file has not changed since it was opened
            }
        }
        picture_read(&viewer_pack, static_cast<uint16_t>(data[size - 1] % viewer_pack.picture_count), picture_buffer);
        if (picture_read(&viewer_pack, viewer_pack.picture_count, picture_buffer) != 0) std::abort();  // one past the end
        // Every stored offset and size lies inside the file and the read buffer.
        for (int n = 0; n < viewer_pack.picture_count; n++) {
            if (viewer_pack.picture_sizes[n] > PACK_READ_BUFFER_SIZE ||
                static_cast<uint64_t>(viewer_pack.picture_offsets[n]) + viewer_pack.picture_sizes[n] > file.size()) {
                std::abort();
            }
        }
    }
    pack_close(&viewer_pack);
    return 0;
}
