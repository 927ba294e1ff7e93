// libFuzzer target: an import cache entry as the pack build reads it. Whatever the reader
// accepts must write back to the same bytes, so nothing it accepts was half read.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "builder/import_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    evgpack::CacheKey key;
    evgpack::ImportedPhoto photo;
    if (evgpack::cache_entry_parse(data, size, key, photo)) {
        const std::vector<uint8_t> again = evgpack::cache_entry_bytes(key, photo);
        if (again != std::vector<uint8_t>(data, data + size)) std::abort();
    }
    return 0;
}
