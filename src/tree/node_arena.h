// A block arena for the source tree: nodes and strings are carved from large zeroed
// blocks without alignment, and the whole tree is released with one walk over the
// block chain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumcast {

// The header and the first block are one allocation: the header, the first block's
// link word, then the block's space. Every later block is one allocation whose first
// word links to the block after it. Each block counts blockSize - 8 bytes as usable.
struct NodeArena {
  void** chainHead;    // the link word after the header
  void** currentLink;  // link word of the block being carved
  uint8_t* nextFree;   // first unused byte of the current block
  uint32_t bytesLeft;  // bytes still free in the current block
  uint32_t blockSize;  // size of every block
};

// Block size rules: 0 becomes 4096, below 1024 becomes 1024, above 64 MiB becomes 64 MiB.
NodeArena* CreateArena(uint32_t blockSize);
// n zeroed bytes, or null for a null arena, n >= blockSize, or a refused allocation.
void* ArenaAlloc(NodeArena* arena, uint32_t n);
void* ArenaCopy(NodeArena* arena, const void* source, uint32_t n);
// ArenaAlloc at an address that is a multiple of `alignment` (a power of two up to 8):
// the bytes up to it are skipped. Tree nodes and UTF-16 names are carved this way, since
// the host requires its pointers and 16-bit units aligned.
void* ArenaAllocAligned(NodeArena* arena, uint32_t n, uint32_t alignment);
// Frees every block and the header; 0 for a null arena, else 1.
int DestroyArena(NodeArena* arena);

// Number of heap allocations the arena has made and not yet freed, over all arenas of
// the process; lets tests see that destruction frees every block.
int64_t ArenaLiveAllocations();

}  // namespace vellumcast
