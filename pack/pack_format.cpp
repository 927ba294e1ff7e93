// The pack header's byte coding, field by field, so that the layout never depends on the
// compiler's struct layout.
#include "pack/pack_format.h"

#include <cstring>

void pack_header_encode(const PackHeader& header, uint8_t out[PACK_HEADER_SIZE]) {
    std::memcpy(out, header.magic, PACK_MAGIC_SIZE);
    put_le16(out + PACK_HEADER_RESERVED1, header.reserved1);
    put_le16(out + PACK_HEADER_DATA_OFFSET, header.data_offset);
    put_le16(out + PACK_HEADER_LISTED_COUNT, header.listed_count);
    put_le16(out + PACK_HEADER_RESERVED2, header.reserved2);
    std::memcpy(out + PACK_HEADER_AUTHOR, header.author, PACK_AUTHOR_SIZE);
    for (int i = 0; i < PACK_ICON_PIXELS; i++) put_le16(out + PACK_HEADER_ICON + 2 * i, header.icon[i]);
}

void pack_header_decode(const uint8_t in[PACK_HEADER_SIZE], PackHeader* header) {
    std::memcpy(header->magic, in, PACK_MAGIC_SIZE);
    header->reserved1 = get_le16(in + PACK_HEADER_RESERVED1);
    header->data_offset = get_le16(in + PACK_HEADER_DATA_OFFSET);
    header->listed_count = get_le16(in + PACK_HEADER_LISTED_COUNT);
    header->reserved2 = get_le16(in + PACK_HEADER_RESERVED2);
    std::memcpy(header->author, in + PACK_HEADER_AUTHOR, PACK_AUTHOR_SIZE);
    for (int i = 0; i < PACK_ICON_PIXELS; i++) header->icon[i] = get_le16(in + PACK_HEADER_ICON + 2 * i);
}

int pack_magic_matches(const uint8_t* bytes) {
    return std::memcmp(bytes, PACK_MAGIC, PACK_MAGIC_COMPARED) == 0 ? 1 : 0;
}
