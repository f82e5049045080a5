#include "util/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

namespace fpskit {
namespace {

TEST(WorkerCount, NeverExceedsTheBlocksNorFallsBelowOne) {
  EXPECT_EQ(WorkerCount(4, 2), 2u);
  EXPECT_EQ(WorkerCount(3, 100), 3u);
  EXPECT_EQ(WorkerCount(5, 0), 1u);
  EXPECT_GE(WorkerCount(0, 1000), 1u);
}

TEST(ProcessBlocksInOrder, ProcessesEveryBlockOnceAndDeliversInOrder) {
  for (unsigned workers : {1u, 2u, 5u}) {
    SCOPED_TRACE(workers);
    constexpr size_t kBlocks = 503;
    constexpr size_t kSlots = 7;
    std::vector<std::atomic<int>> processed(kBlocks);
    std::vector<unsigned> slots(kSlots);
    std::vector<size_t> delivered;
    std::atomic<size_t> deliveredCount{0};
    std::atomic<bool> workerInRange{true};
    std::atomic<bool> slotWasFree{true};
    ProcessBlocksInOrder(
        kBlocks, workers, kSlots,
        [&](unsigned worker, size_t block) {
          if (worker >= workers) workerInRange = false;
          if (block >= deliveredCount.load() + kSlots) slotWasFree = false;
          processed[block].fetch_add(1);
          slots[block % kSlots] = unsigned(block);
        },
        [&](size_t block) {
          // The slot still holds this block's result.
          EXPECT_EQ(slots[block % kSlots], block);
          EXPECT_EQ(processed[block].load(), 1);
          delivered.push_back(block);
          deliveredCount.fetch_add(1);
        });
    EXPECT_TRUE(workerInRange);
    EXPECT_TRUE(slotWasFree);
    ASSERT_EQ(delivered.size(), kBlocks);
    for (size_t i = 0; i < kBlocks; ++i) {
      EXPECT_EQ(delivered[i], i);
      EXPECT_EQ(processed[i].load(), 1);
    }
  }
}

TEST(ProcessBlocksInOrder, AnExceptionOnAnyThreadReachesTheCaller) {
  for (unsigned workers : {1u, 4u}) {
    SCOPED_TRACE(workers);
    std::atomic<size_t> delivered{0};
    EXPECT_THROW(ProcessBlocksInOrder(
                     100, workers, 8,
                     [&](unsigned, size_t block) {
                       if (block == 37) throw std::bad_alloc();
                     },
                     [&](size_t) { delivered.fetch_add(1); }),
                 std::bad_alloc);
    EXPECT_LE(delivered.load(), 37u);
  }
}

}  // namespace
}  // namespace fpskit
