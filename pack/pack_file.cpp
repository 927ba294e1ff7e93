// The open pack: loading with every count and length checked, and picture reads.
#include "pack/pack_file.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "media/jpeg_decoder.h"
#include "media/files.h"

OpenPack::~OpenPack() { pack_close(this); }

void pack_close(OpenPack* pack) {
    std::free(pack->thumbnails);
    std::free(pack->picture_offsets);
    std::free(pack->picture_sizes);
    pack->thumbnails = nullptr;
    pack->picture_offsets = nullptr;
    pack->picture_sizes = nullptr;
    pack->picture_count = 0;
    pack->thumb_size = 0;
    candidates_close(&pack->candidates);
}

const char* pack_status_text(int status) {
    switch (status) {
        case PACK_OK: return "OK";
        case PACK_CANNOT_OPEN: return "The file cannot be opened.";
        case PACK_TOO_SHORT: return "The file ends inside its tables.";
        case PACK_NO_PICTURES: return "The pack holds no pictures.";
        case PACK_BAD_THUMB_SIZE: return "Thumbnail size above 255.";
        case PACK_THUMBS_PAST_END: return "Thumbnails run past the end.";
        case PACK_ENTRY_PAST_END: return "A picture runs past the end.";
        case PACK_ENTRY_TOO_LONG: return "A picture is too large to read.";
        case PACK_NO_MEMORY: return "Not enough memory for the pack.";
        case PACK_TOO_MANY_PICTURES: return "More than 2048 pictures.";
        default: return "Unknown error.";
    }
}

// n little-endian 16-bit values into host order; `to` may be the same memory as `from`.
static void le16_to_host(uint16_t* to, const uint8_t* from, size_t n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (static_cast<const void*>(to) != from) std::memcpy(to, from, n * 2);
#else
    for (size_t i = 0; i < n; i++) to[i] = get_le16(from + 2 * i);
#endif
}

static int pack_fail(FILE* file, OpenPack* pack, int status) {
    if (file) std::fclose(file);
    pack_close(pack);
    return status;
}

int pack_load(const char* path, uint32_t data_offset, OpenPack* pack) {
    pack_close(pack);
    pack->bad_picture = -1;
    pack->data_offset = data_offset;
    size_t path_length = std::strlen(path);
    if (path_length >= PACK_PATH_SIZE) {
        pack->path[0] = '\0';
        return PACK_CANNOT_OPEN;
    }
    std::memcpy(pack->path, path, path_length + 1);
    FILE* file = file_open_regular(pack->path);
    if (!file) return PACK_CANNOT_OPEN;
    int64_t size = file_size(file);
    if (size < 0) return pack_fail(file, pack, PACK_CANNOT_OPEN);
    const uint64_t file_end = static_cast<uint64_t>(size);

    // Tables and counts must lie inside the file before any of them is trusted.
    const uint64_t data = data_offset;
    if (data + PACK_THUMBNAILS > file_end) return pack_fail(file, pack, PACK_TOO_SHORT);
    // The little-endian tables and counts are staged in the pack's own memory: the tables in
    // place (converted to host order there), the two counts in the read buffer.
    uint8_t* tables = reinterpret_cast<uint8_t*>(pack->best_match);
    static_assert(sizeof pack->best_match + sizeof pack->second_match == PACK_PICTURE_COUNT &&
                      offsetof(OpenPack, second_match) == offsetof(OpenPack, best_match) + PACK_TABLE_BYTES,
                  "the two tables are read as one block");
    if (std::fseek(file, static_cast<long>(data), SEEK_SET) != 0 ||
        std::fread(tables, 1, PACK_PICTURE_COUNT, file) != PACK_PICTURE_COUNT ||
        std::fread(pack->read_buffer, 1, PACK_THUMBNAILS - PACK_PICTURE_COUNT, file) !=
            PACK_THUMBNAILS - PACK_PICTURE_COUNT) {
        return pack_fail(file, pack, PACK_TOO_SHORT);
    }
    ByteCursor counts{pack->read_buffer, PACK_THUMBNAILS - PACK_PICTURE_COUNT, 0, false};
    uint16_t count = counts.le16();
    uint32_t edge = counts.le16();  // PACK_THUMB_SIZE follows the count
    if (edge == 0) edge = PACK_DEFAULT_THUMB_SIZE;
    if (count == 0) return pack_fail(file, pack, PACK_NO_PICTURES);
    if (count > PACK_MAX_PICTURES) return pack_fail(file, pack, PACK_TOO_MANY_PICTURES);
    if (edge > PACK_MAX_THUMB_SIZE) return pack_fail(file, pack, PACK_BAD_THUMB_SIZE);
    const uint64_t thumb_bytes = static_cast<uint64_t>(count) * edge * edge * 2;
    const uint64_t thumbs_start = data + PACK_THUMBNAILS;
    uint64_t pos = data + pack_entries_start(count, edge);
    if (pos > file_end) return pack_fail(file, pack, PACK_THUMBS_PAST_END);

    // Walk the entries before the thumbnails are read: each length field and its bytes inside
    // the file (and its offset representable in 32 bits), each JPEG no longer than the read
    // buffer. Only then is the thumbnail block, the one large allocation, made; a file whose
    // length covers it is at least that large on disk or sparse, and sparse files of a bogus
    // pack fail here without it.
    pack->picture_offsets = static_cast<uint32_t*>(std::malloc(count * sizeof(uint32_t)));
    pack->picture_sizes = static_cast<uint32_t*>(std::malloc(count * sizeof(uint32_t)));
    if (!pack->picture_offsets || !pack->picture_sizes) return pack_fail(file, pack, PACK_NO_MEMORY);
    for (uint32_t i = 0; i < count; i++) {
        uint8_t length_bytes[PACK_ENTRY_LENGTH_SIZE];
        if (pos + PACK_ENTRY_LENGTH_SIZE > file_end ||
            std::fseek(file, static_cast<long>(pos), SEEK_SET) != 0 ||
            std::fread(length_bytes, 1, PACK_ENTRY_LENGTH_SIZE, file) != PACK_ENTRY_LENGTH_SIZE) {
            pack->bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, pack, PACK_ENTRY_PAST_END);
        }
        uint32_t length = get_le32(length_bytes);
        uint64_t start = pos + PACK_ENTRY_LENGTH_SIZE;
        if (start + length > file_end || start + length > 0xFFFFFFFFull) {
            pack->bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, pack, PACK_ENTRY_PAST_END);
        }
        if (length > PACK_READ_BUFFER_SIZE) {
            pack->bad_picture = static_cast<int32_t>(i);
            return pack_fail(file, pack, PACK_ENTRY_TOO_LONG);
        }
        pack->picture_offsets[i] = static_cast<uint32_t>(start);
        pack->picture_sizes[i] = length;
        pos = start + length;
    }

    pack->thumbnails = static_cast<uint16_t*>(std::malloc(static_cast<size_t>(thumb_bytes)));
    if (!pack->thumbnails) return pack_fail(file, pack, PACK_NO_MEMORY);
    if (std::fseek(file, static_cast<long>(thumbs_start), SEEK_SET) != 0 ||
        std::fread(pack->thumbnails, 1, static_cast<size_t>(thumb_bytes), file) != thumb_bytes) {
        return pack_fail(file, pack, PACK_THUMBS_PAST_END);
    }
    le16_to_host(pack->thumbnails, reinterpret_cast<const uint8_t*>(pack->thumbnails), static_cast<size_t>(thumb_bytes / 2));
    le16_to_host(pack->best_match, tables + PACK_BEST_MATCH, PACK_TABLE_ENTRIES);
    le16_to_host(pack->second_match, tables + PACK_SECOND_MATCH, PACK_TABLE_ENTRIES);
    pack->picture_count = count;
    pack->thumb_size = static_cast<uint16_t>(edge);
    // Readers of the original layout stop at the last entry; an optional candidate section may
    // follow, checked against the tables just read.
    candidates_load(file, pos, file_end, pack->best_match, count, pack->thumbnails, static_cast<uint16_t>(edge),
                    &pack->candidates);
    std::fclose(file);
    return PACK_OK;
}


int32_t picture_bytes_read(OpenPack* pack, uint16_t n) {
    if (n >= pack->picture_count || !pack->picture_offsets || !pack->picture_sizes) return -1;
    // The pack is reopened for every picture; it may have changed or gone since pack_load,
    // so the read is checked again (the lengths were bounded by the read buffer there).
    uint32_t length = pack->picture_sizes[n];
    if (length > PACK_READ_BUFFER_SIZE) return -1;
    FILE* file = file_open_regular(pack->path);
    if (!file) return -1;
    bool ok = std::fseek(file, static_cast<long>(pack->picture_offsets[n]), SEEK_SET) == 0 &&
              std::fread(pack->read_buffer, 1, length, file) == length;
    std::fclose(file);
    return ok ? static_cast<int32_t>(length) : -1;
}

int picture_read(OpenPack* pack, uint16_t n, uint16_t* dest) {
    // The decoder leaves pixels outside whole MCUs untouched (a picture of the wrong size);
    // they start black rather than keep the previous picture, as does a picture that fails.
    std::memset(dest, 0, PICTURE_PIXELS * sizeof(uint16_t));
    int32_t length = picture_bytes_read(pack, n);
    if (length < 0) return 0;
    if (jpeg_decode(pack->read_buffer, static_cast<size_t>(length), dest, PICTURE_EDGE, PICTURE_EDGE) == JPEG_OK) {
        return 1;
    }
    std::memset(dest, 0, PICTURE_PIXELS * sizeof(uint16_t));
    return 0;
}
