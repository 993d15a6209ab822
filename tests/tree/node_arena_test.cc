// The node arena: block size rules, carving without alignment, growth and destruction.
#include "tree/node_arena.h"

#include <gtest/gtest.h>

namespace vellumcast {
namespace {

TEST(NodeArena, BlockSizeRules) {
  struct Case {
    uint32_t asked, expected;
  };
  for (Case c : {Case{0, 4096},
                 {100, 1024},
                 {1024, 1024},
                 {8192, 8192},
                 {67108864, 67108864},
                 {67108865, 67108864}}) {
    NodeArena* arena = CreateArena(c.asked);
    ASSERT_NE(arena, nullptr);
    EXPECT_EQ(arena->blockSize, c.expected) << c.asked;
    EXPECT_EQ(arena->bytesLeft, c.expected - 8);
    DestroyArena(arena);
  }
}

TEST(NodeArena, CarvesBackToBackAndGrowsWhenFull) {
  int64_t before = ArenaLiveAllocations();
  NodeArena* arena = CreateArena(1024);
  auto* a = static_cast<uint8_t*>(ArenaAlloc(arena, 3));
  auto* b = static_cast<uint8_t*>(ArenaAlloc(arena, 5));
  EXPECT_EQ(b, a + 3);  // neither rounded up nor aligned
  uint32_t left = arena->bytesLeft;
  auto* c = static_cast<uint8_t*>(ArenaAlloc(arena, left));  // exactly what is left
  EXPECT_EQ(c, b + 5);
  EXPECT_EQ(arena->bytesLeft, 0u);
  EXPECT_EQ(ArenaLiveAllocations(), before + 1);
  auto* d = static_cast<uint8_t*>(ArenaAlloc(arena, 1));  // one more opens a new block
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(*d, 0);
  EXPECT_EQ(ArenaLiveAllocations(), before + 2);
  EXPECT_EQ(DestroyArena(arena), 1);
  EXPECT_EQ(ArenaLiveAllocations(), before);
  EXPECT_EQ(DestroyArena(nullptr), 0);
}

TEST(NodeArena, RefusesRequestsThatCannotFitABlock) {
  NodeArena* arena = CreateArena(1024);
  EXPECT_EQ(ArenaAlloc(arena, 1024), nullptr);  // blockSize itself
  EXPECT_EQ(ArenaAlloc(arena, 1017), nullptr);  // more than a block's 1016 usable bytes
  EXPECT_NE(ArenaAlloc(arena, 1016), nullptr);
  EXPECT_EQ(ArenaAlloc(nullptr, 1), nullptr);
  DestroyArena(arena);
}

TEST(NodeArena, AlignedRequestsSkipToTheNextMultiple) {
  NodeArena* arena = CreateArena(1024);
  auto* odd = static_cast<uint8_t*>(ArenaAlloc(arena, 3));
  auto* node = static_cast<uint8_t*>(ArenaAllocAligned(arena, 16, 8));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(node) % 8, 0u);
  EXPECT_LT(node - odd, 3 + 8);
  ArenaAlloc(arena, arena->bytesLeft - 1);  // one byte left: the padding opens a new block
  auto* fresh = static_cast<uint8_t*>(ArenaAllocAligned(arena, 8, 8));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fresh) % 8, 0u);
  DestroyArena(arena);
}

}  // namespace
}  // namespace vellumcast
