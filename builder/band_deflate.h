// A fast deflate encoder for the poster's PNG rows: one greedy pass with a single-entry hash of
// 4-byte sequences, then one dynamic Huffman block per run of symbols. Each call's output is a
// piece of one raw deflate stream, so pieces made on several threads can be laid end to end.
// The poster writer (builder/poster.cpp) calls it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace evgpack {

// Memory one encoder keeps between calls (the hash table and a run of symbols, 144 KB).
struct BandDeflate {
    std::vector<uint32_t> head, symbols;
};

// Compresses `size` bytes of `data` into `out`, which has room for band_deflate_bound(size)
// bytes, and returns the bytes written. Back-references stay inside `data`. With `last` the
// output ends the stream (its final block); otherwise it ends on a byte boundary after an empty
// stored block, as zlib's sync flush does, and the next piece continues the stream.
size_t band_deflate(BandDeflate& state, const uint8_t* data, size_t size, bool last, uint8_t* out);
size_t band_deflate_bound(size_t size);

// Huffman code lengths for `n` symbols, none longer than `limit`. Every symbol with a count gets
// a length; callers give at least two symbols a count, so the code is complete.
void huffman_lengths(const uint32_t* count, int n, int limit, uint8_t* length);

}  // namespace evgpack
