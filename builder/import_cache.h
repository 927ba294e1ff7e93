// The import cache of the pack build: what importing one photo gave (the pack picture, its icon,
// its traits, or why it was refused), kept as one file per photo so that a rebuild decodes only
// the photos that changed. Called by pack_build.cpp; the entry reader is also a fuzz target.
// Entries are untrusted: each carries its key and a checksum, and anything that does not match is
// ignored (and rebuilt by the caller). Writes go through a temporary file and a rename, so two
// builds sharing one cache never see a torn entry.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/near_duplicates.h"
#include "builder/pack_writer.h"

namespace evgpack {

// What makes an entry valid for a photo: the photo's place, size and modification time, and the
// build settings that shape the stored picture.
struct CacheKey {
    std::string path;  // absolute
    uint64_t size = 0;
    int64_t mtime_ns = 0;
    uint32_t quality = 0, thumb_size = 0;
};

// The outcome of importing one photo.
struct ImportedPhoto {
    bool ok = false;
    std::string reason;          // why the photo was refused (ok false)
    uint64_t content_hash = 0;   // FNV-1a 64 of the file's bytes
    uint64_t content_size = 0;
    int32_t short_side = 0;      // the photo's shorter side before scaling
    PictureTraits traits;
    PackPicture picture;         // ok only
    std::vector<uint16_t> icon;  // ok only: 40 x 40 RGB565
};

// The entry's bytes for a key and an outcome.
std::vector<uint8_t> cache_entry_bytes(const CacheKey& key, const ImportedPhoto& photo);

// Reads an entry: false for anything damaged, cut short, from another version or not an entry
// at all. On success `key` holds the key stored in it (the caller compares).
bool cache_entry_parse(const uint8_t* data, size_t size, CacheKey& key, ImportedPhoto& photo);

// $XDG_CACHE_HOME/evgpack, else ~/.cache/evgpack; empty when neither is known.
std::string default_cache_dir();

// The entries' folder inside a cache folder, created (0700) when missing. Empty on failure (the
// build then goes on without a cache).
std::string cache_open(const std::string& dir);

// The entry for `key` from the folder cache_open gave, when present and valid for that key; a hit
// marks the entry as recently used.
bool cache_load(const std::string& entries, const CacheKey& key, ImportedPhoto& photo);

// Stores the entry (write to a temporary file, rename over the entry). Best effort: a full disk
// or a read-only folder only loses the entry.
void cache_store(const std::string& entries, const CacheKey& key, const ImportedPhoto& photo);

// Removes the least recently used entries until the folder holds at most `limit` bytes, and
// temporary files left by builds that were killed.
void cache_trim(const std::string& entries, uint64_t limit);

}  // namespace evgpack
