// Work shared among workers and taken in order: each batch is named before
// any of its items starts, once, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <utility>
#include <vector>

#include "common/ordered_work.h"

namespace marbloom::test {
namespace {

TEST(OrderedWorkThreaded, EachBatchIsNamedBeforeItsItemsStartAndItemsAreTakenInOrder) {
  constexpr std::size_t kCount = 100, kBatch = 7;
  for (const int workers : {1, 2, 4}) {
    std::atomic<std::size_t> named{0};
    std::vector<std::pair<std::size_t, std::size_t>> batches;
    std::vector<char> early(kCount, 0);
    std::vector<std::size_t> taken;
    RunOrdered(
        kCount, workers, [](std::size_t) {}, [&](std::size_t i, int) { early[i] = i >= named.load(); },
        [&](std::size_t i) {
          taken.push_back(i);
          return true;
        },
        {kBatch, [&](std::size_t from, std::size_t to) {
           batches.emplace_back(from, to);
           named = to;
         }});
    EXPECT_EQ(std::count(early.begin(), early.end(), 1), 0) << workers;
    std::vector<std::size_t> order(kCount);
    std::iota(order.begin(), order.end(), 0);
    EXPECT_EQ(taken, order) << workers;
    std::size_t next = 0;
    for (const auto& [from, to] : batches) {
      EXPECT_TRUE(from == next && to > from && to - from <= kBatch) << workers;
      next = to;
    }
    EXPECT_EQ(next, kCount) << workers;
  }
}

}  // namespace
}  // namespace marbloom::test
