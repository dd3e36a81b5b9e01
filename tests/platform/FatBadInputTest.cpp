// SPDX-License-Identifier: GPL-2.0-or-later
// Damaged and foreign images: each gets a clear error, nothing crashes, and
// nothing is ever written to them, not even by a whole defragmentation.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "BorrowedBlockDevice.h"
#include "FatEngineRig.h"
#include "FatImageEditor.h"
#include "FatImageKit.h"
#include "MemoryBlockDevice.h"
#include "TestSupport.h"
#include "platform/fat/FatVolume.h"

namespace quillo::test {
namespace {

using fat::FatVolume;
using Damage = std::function<void(std::vector<uint8_t>&)>;

constexpr const char* kLarge = "Frag/Large/large_000.bin";

std::vector<uint8_t> SmallImage() { return ReadWholeFile(FixtureImage("small")); }

void SetLe16(std::vector<uint8_t>& image, size_t offset, uint16_t value) {
  image[offset] = uint8_t(value);
  image[offset + 1] = uint8_t(value >> 8);
}

void SetLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[offset + i] = uint8_t(value >> (8 * i));
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// --- Images that must not open at all ---

struct Refusal {
  const char* Name;
  Damage Apply;
  const char* Why; // part of the error text
};

class FatRefusedImage : public ::testing::TestWithParam<Refusal> {};

TEST_P(FatRefusedImage, FailsToOpenWithAClearErrorAndWritesNothing) {
  std::vector<uint8_t> image = SmallImage();
  GetParam().Apply(image);
  MemoryBlockDevice device(image);
  std::string why;
  auto volume = FatVolume::Open("C:", std::make_unique<BorrowedBlockDevice>(device), why);
  EXPECT_FALSE(volume);
  EXPECT_TRUE(Contains(why, GetParam().Why)) << why;
  EXPECT_EQ(device.WriteCount(), 0u);
}

std::vector<uint8_t> RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, FatRefusedImage,
    ::testing::Values(
        Refusal{"Truncated", [](auto& i) { i.resize(20 << 20); }, "may be truncated"},
        Refusal{"TooSmallForABootSector", [](auto& i) { i.resize(300); }, "too small"},
        Refusal{"ZeroedBootSector", [](auto& i) { std::fill_n(i.begin(), 512, 0); }, "55AA"},
        Refusal{"RandomBootSector",
                [](auto& i) {
                  auto noise = RandomBytes(512, 7);
                  std::copy(noise.begin(), noise.end(), i.begin());
                },
                "55AA"},
        Refusal{"RandomFieldsBehindAValidSignature",
                [](auto& i) {
                  auto noise = RandomBytes(507, 11);
                  std::copy(noise.begin(), noise.end(), i.begin() + 3);
                  i[510] = 0x55;
                  i[511] = 0xAA;
                },
                "bytes per sector"},
        Refusal{"OddSectorSize", [](auto& i) { SetLe16(i, 11, 700); }, "bytes per sector 700"},
        Refusal{"ClusterSizeNotAPowerOfTwo", [](auto& i) { i[13] = 3; }, "sectors per cluster 3"},
        Refusal{"NoFats", [](auto& i) { i[16] = 0; }, "0 FATs"},
        Refusal{"Fat16Fields", [](auto& i) { SetLe16(i, 17, 512); }, "not a FAT32 volume"},
        Refusal{"TooFewClustersForFat32", [](auto& i) { SetLe32(i, 32, 60000); },
                "not a FAT32 volume"},
        Refusal{"FatTooSmall", [](auto& i) { SetLe32(i, 36, 100); }, "too small"},
        Refusal{"RootClusterOutside", [](auto& i) { SetLe32(i, 44, 0x0FFFFFF0); },
                "root cluster"},
        Refusal{"FatDoesNotMatchMedia", [](auto& i) { i[32 * 512] = 0x12; }, "media byte"},
        Refusal{"RootChainLoops",
                [](auto& i) { FatImageEditor(i).SetFatEntry(2, 2); }, "root directory"}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- Images that open, analyse, and refuse every write ---

struct Corruption {
  const char* Name;
  Damage Apply;
  const char* Problem; // part of the volume's problem report
};

class FatDamagedVolume : public ::testing::TestWithParam<Corruption> {};

TEST_P(FatDamagedVolume, AnalysesButNeverWrites) {
  std::vector<uint8_t> image = SmallImage();
  GetParam().Apply(image);
  MemoryBlockDevice device(image);
  std::vector<std::string> problems;
  {
    FatEngineRig rig(std::make_unique<BorrowedBlockDevice>(device));
    rig.Run(dmFast, true);
    EXPECT_EQ(rig.Engine->State.load(), dsDefragged);
    // The analysis still counts what can be read.
    EXPECT_GT(rig.Engine->Report->FileCount.load(), 100);
    problems = rig.Volume->Problems();
  }
  EXPECT_EQ(device.WriteCount(), 0u);
  EXPECT_EQ(device.Image(), image);
  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  EXPECT_TRUE(Contains(all, GetParam().Problem)) << all;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, FatDamagedVolume,
    ::testing::Values(
        Corruption{"ChainLoops",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     auto chain = editor.Chain(kLarge);
                     editor.SetFatEntry(chain.back(), chain[1]);
                   },
                   "large_000.bin: its cluster chain loops"},
        Corruption{"ChainLeavesTheVolume",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     editor.SetFatEntry(editor.Chain(kLarge)[2], editor.Layout().MaxCluster() + 5);
                   },
                   "large_000.bin: its cluster chain leaves the volume"},
        Corruption{"ChainRunsIntoAFreeCluster",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     editor.SetFatEntry(editor.Chain(kLarge)[1], 0);
                   },
                   "large_000.bin: its cluster chain runs into a free cluster"},
        Corruption{"EntryPointsOutsideTheVolume",
                   [](auto& i) { FatImageEditor(i).SetFirstCluster(kLarge, 0x0FFFFF00); },
                   "large_000.bin: its first cluster lies outside the volume"},
        Corruption{"FilesShareClusters",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     editor.SetFirstCluster("Frag/Large/large_001.bin", editor.Chain(kLarge)[3]);
                   },
                   "shares clusters with another file"},
        Corruption{"DirectoryChainLoops",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     auto chain = editor.Chain("Frag/Crowded Directory");
                     editor.SetFatEntry(chain.back(), chain.front());
                   },
                   "Crowded Directory: its cluster chain loops"},
        Corruption{"VolumeMarkedDirty",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     editor.SetFatEntry(1, editor.FatEntry(1) & ~fat::kFatCleanShutdownBit);
                   },
                   "not cleanly unmounted"},
        Corruption{"FatCopiesDiffer",
                   [](auto& i) {
                     FatImageEditor editor(i);
                     editor.SetFatEntry(editor.Layout().MaxCluster(), fat::kFatEndOfChain, 1);
                   },
                   "FAT copies differ"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
