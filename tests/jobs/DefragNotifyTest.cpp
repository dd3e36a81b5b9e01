// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/DefragDefine.h"
#include "jobs/DefragNotify.h"

namespace quillo {
namespace {

TEST(DefragNotify, FirstInFirstOutThenZero) {
  TNotify queue;
  EXPECT_EQ(queue.Pop(), ncNone);
  for (uint8_t code : {ncAnalyzed, ncDefragged, ncAutoDefragged, ncAnalyzed})
    queue.Push(code);
  EXPECT_EQ(queue.Pop(), ncAnalyzed);
  EXPECT_EQ(queue.Pop(), ncDefragged);
  EXPECT_EQ(queue.Pop(), ncAutoDefragged);
  EXPECT_EQ(queue.Pop(), ncAnalyzed);
  EXPECT_EQ(queue.Pop(), ncNone);
  EXPECT_EQ(queue.Pop(), ncNone);
}

TEST(DefragNotify, ConcurrentPushesAreAllTakenOnce) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  TNotify queue;
  std::vector<std::thread> pushers;
  for (int t = 0; t < kThreads; ++t)
    pushers.emplace_back([&queue, t] {
      for (int i = 0; i < kPerThread; ++i)
        queue.Push(uint8_t(1 + t % 3));
    });
  int taken = 0;
  int sum = 0;
  auto drain = [&] {
    while (uint8_t code = queue.Pop()) {
      ++taken;
      sum += code;
    }
  };
  while (taken < kThreads * kPerThread / 2)
    drain();
  for (std::thread& pusher : pushers)
    pusher.join();
  drain();
  EXPECT_EQ(taken, kThreads * kPerThread);
  EXPECT_EQ(sum, kPerThread * (1 + 2 + 3 + 1));
}

} // namespace
} // namespace quillo
