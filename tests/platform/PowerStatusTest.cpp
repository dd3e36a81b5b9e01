// SPDX-License-Identifier: GPL-2.0-or-later
// The mains line status from recorded /sys/class/power_supply folders.
#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "platform/BlockDeviceMonitor.h"
#include "platform/PowerStatus.h"

namespace quillo::test {
namespace {

struct Supply {
  std::string Name;
  std::string Type;
  std::string Online; // "" for no online file
};

void Record(const std::filesystem::path& folder, const std::vector<Supply>& supplies) {
  std::filesystem::create_directories(folder);
  for (const Supply& supply : supplies) {
    std::filesystem::path entry = folder / supply.Name;
    std::filesystem::create_directories(entry);
    std::ofstream(entry / "type") << supply.Type << "\n";
    if (!supply.Online.empty()) std::ofstream(entry / "online") << supply.Online << "\n";
  }
}

TEST(PowerStatusTest, MainsDecidesTheLineStatus) {
  struct Case {
    const char* What;
    std::vector<Supply> Supplies;
    uint8_t Expected;
  };
  const Case cases[] = {
      {"laptop on mains", {{"AC", "Mains", "1"}, {"BAT0", "Battery", ""}}, kAcLineOnline},
      {"laptop on battery", {{"AC", "Mains", "0"}, {"BAT0", "Battery", ""}}, kAcLineOffline},
      {"two adapters, one plugged", {{"AC", "Mains", "0"}, {"ADP1", "Mains", "1"}}, kAcLineOnline},
      {"battery only, no mains entry", {{"BAT0", "Battery", ""}}, kAcLineUnknown},
      {"a USB supply is not mains", {{"usb", "USB", "0"}}, kAcLineUnknown},
      {"mains without an online file", {{"AC", "Mains", ""}}, kAcLineUnknown},
      {"no supplies at all", {}, kAcLineUnknown},
  };
  for (const Case& c : cases) {
    TempDir folder;
    Record(folder.Path() / "power_supply", c.Supplies);
    EXPECT_EQ(int(ReadAcLineStatus(folder.Path() / "power_supply")), int(c.Expected)) << c.What;
  }
  TempDir missing;
  EXPECT_EQ(int(ReadAcLineStatus(missing.Path() / "absent")), int(kAcLineUnknown));
}

TEST(BlockDeviceMonitorTest, ReadingWithoutEventsDoesNotBlock) {
  BlockDeviceMonitor monitor;
  std::string action;
  // Whether udev is there or not, the reads end once nothing waits.
  int events = 0;
  while (monitor.ReadEvent(action) && events < 10000) ++events;
  EXPECT_FALSE(monitor.ReadEvent(action));
  EXPECT_EQ(monitor.IsOpen(), monitor.Descriptor() >= 0);
}

} // namespace
} // namespace quillo::test
