// The node arena: one header-plus-first-block allocation, then linked blocks.
#include "tree/node_arena.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vellumcast {
namespace {

constexpr uint32_t kDefaultBlockSize = 4096;
constexpr uint32_t kMinimumBlockSize = 1024;
constexpr uint32_t kMaximumBlockSize = 64u * 1024 * 1024;  // 67108864
constexpr uint32_t kLinkWordBytes = 8;                     // every block starts with its link word

std::atomic<int64_t> liveAllocations{0};

void* ZeroedAllocation(size_t bytes) {
  void* p = std::calloc(1, bytes);
  if (p) ++liveAllocations;
  return p;
}

void Release(void* p) {
  if (!p) return;
  std::free(p);
  --liveAllocations;
}

}  // namespace

NodeArena* CreateArena(uint32_t blockSize) {
  if (blockSize == 0)
    blockSize = kDefaultBlockSize;
  else if (blockSize < kMinimumBlockSize)
    blockSize = kMinimumBlockSize;
  else if (blockSize > kMaximumBlockSize)
    blockSize = kMaximumBlockSize;
  // The header, then the first block's link word, then blockSize bytes of space.
  auto* raw =
      static_cast<uint8_t*>(ZeroedAllocation(sizeof(NodeArena) + kLinkWordBytes + blockSize));
  if (!raw) return nullptr;
  auto* arena = reinterpret_cast<NodeArena*>(raw);
  arena->chainHead = reinterpret_cast<void**>(raw + sizeof(NodeArena));
  arena->currentLink = arena->chainHead;
  arena->nextFree = raw + sizeof(NodeArena) + kLinkWordBytes;
  arena->bytesLeft = blockSize - kLinkWordBytes;
  arena->blockSize = blockSize;
  return arena;
}

void* ArenaAlloc(NodeArena* arena, uint32_t n) {
  if (!arena || n >= arena->blockSize) return nullptr;
  // A block offers blockSize - 8 bytes after its link word; a larger request could
  // never fit and would run past the end of a fresh block.
  if (n > arena->blockSize - kLinkWordBytes) return nullptr;
  if (n > arena->bytesLeft) {
    auto* block = static_cast<uint8_t*>(ZeroedAllocation(arena->blockSize));
    if (!block) return nullptr;
    *arena->currentLink = block;  // the rest of the old block is abandoned
    arena->currentLink = reinterpret_cast<void**>(block);
    arena->nextFree = block + kLinkWordBytes;
    arena->bytesLeft = arena->blockSize - kLinkWordBytes;
  }
  uint8_t* result = arena->nextFree;
  arena->nextFree += n;
  arena->bytesLeft -= n;
  return result;
}

void* ArenaCopy(NodeArena* arena, const void* source, uint32_t n) {
  void* p = ArenaAlloc(arena, n);
  if (p && n) std::memcpy(p, source, n);
  return p;
}

void* ArenaAllocAligned(NodeArena* arena, uint32_t n, uint32_t alignment) {
  if (!arena) return nullptr;
  uint32_t misalignment = uint32_t(reinterpret_cast<uintptr_t>(arena->nextFree) & (alignment - 1));
  if (misalignment) {
    uint32_t padding = alignment - misalignment;
    // Without room for the padding the request opens a new block, which starts aligned.
    if (padding <= arena->bytesLeft) {
      arena->nextFree += padding;
      arena->bytesLeft -= padding;
    }
  }
  return ArenaAlloc(arena, n);
}

int DestroyArena(NodeArena* arena) {
  if (!arena) return 0;
  void* block = *arena->chainHead;
  while (block) {
    void* next = *static_cast<void**>(block);
    Release(block);
    block = next;
  }
  Release(arena);
  return 1;
}

int64_t ArenaLiveAllocations() { return liveAllocations.load(); }

}  // namespace vellumcast
