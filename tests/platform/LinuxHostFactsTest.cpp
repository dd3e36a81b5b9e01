// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/LinuxHostFacts.h"

#include <gtest/gtest.h>

#include "monitor/CpuUsage.h"
#include "monitor/ProcActivityCounters.h"

namespace quillo {
namespace {

// 2020-01-01 in 100 ns units since 1970.
constexpr int64_t kYear2020 = int64_t(1'577'836'800) * 10'000'000;

TEST(LinuxHostFactsTest, ReportsTheRunningSystem) {
  LinuxHostFacts host;
  auto now = host.SystemTime();
  ASSERT_TRUE(now.has_value());
  EXPECT_GT(*now, kYear2020);
  EXPECT_GE(host.OnlineProcessors(), 1u);
  EXPECT_GT(host.ClockTicksPerSecond(), 0u);
}

// The monitor on this machine's own /proc: every counter can be read, and
// the first samples are the ones measured against zero.
TEST(LinuxHostFactsTest, ActivityMonitorReadsThisMachine) {
  LinuxHostFacts host;
  ProcActivityCounters counters("/", host);
  auto processor = counters.ReadProcessorTimes();
  ASSERT_TRUE(processor.has_value());
  EXPECT_GE(processor->IdleTime, 0);
  EXPECT_TRUE(counters.ReadDiskIdle().has_value());

  TCpuUsage usage({0, 0, TCpuUsage::kGraphWidth, TCpuUsage::kGraphHeight}, counters);
  EXPECT_EQ(usage.SampleCpu(), 100);
  EXPECT_EQ(usage.SampleDisk(), 0);
}

} // namespace
} // namespace quillo
