// libFuzzer target: an import cache entry as the pack build reads it. Whatever the reader
// accepts must write back to the same bytes, so nothing it accepts was half read. Inputs of odd
// length get their checksum (the last 8 bytes) made right first, so that mutations
// reach the fields behind it instead of stopping at the checksum.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "builder/import_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> entry(data, data + size);
    if (size > 8 && (size & 1)) {
        uint64_t h = 1469598103934665603ull;  // FNV-1a 64, as the entries carry it
        for (size_t i = 0; i + 8 < size; ++i) h = (h ^ entry[i]) * 1099511628211ull;
        for (int i = 0; i < 8; ++i) entry[size - 8 + static_cast<size_t>(i)] = static_cast<uint8_t>(h >> (8 * i));
    }
    evgpack::CacheKey key;
    evgpack::ImportedPhoto photo;
    if (evgpack::cache_entry_parse(entry.data(), entry.size(), key, photo)) {
        if (evgpack::cache_entry_bytes(key, photo) != entry) std::abort();
    }
    return 0;
}
