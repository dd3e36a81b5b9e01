// SPDX-License-Identifier: GPL-2.0-or-later
// The window on FAT32 fixture images: a drive table in a folder of its own,
// the fixture script and the tools that check an image afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "platform/DriveEnvironment.h"

namespace quillo::test {

// Runs a program to its end; its standard output, or nullopt on failure.
inline std::optional<std::string> RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString() << " failed: "
                  << process.readAllStandardError().toStdString();
    return std::nullopt;
  }
  return process.readAllStandardOutput().toStdString();
}

// tests/fixtures/fat32_image.py with the arguments.
inline std::optional<std::string> Fixture(const QStringList& arguments) {
  return RunTool(QStringLiteral("python3"),
                 QStringList{QString::fromStdString((SourceDir() / "tests/fixtures/fat32_image.py").string())} +
                     arguments);
}

// What the fixture script's check found: fsck.fat -n's exit status and the
// files that read back as written or not.
struct FixtureCheck {
  int Fsck = -1;
  int Good = 0;
  int Bad = -1;
};

inline FixtureCheck ParseFixtureCheck(const std::string& output) {
  FixtureCheck result;
  std::istringstream facts(output);
  std::string fact;
  while (facts >> fact) {
    if (fact == "FSCK") facts >> result.Fsck;
    if (fact == "CONTENT") facts >> result.Good >> result.Bad;
    std::getline(facts, fact);
  }
  return result;
}

// A FAT32 image of the fixture script's small profile at `image`, its files
// listed in `manifest`; false when the script failed.
inline bool MakeSmallFixture(const std::filesystem::path& image,
                             const std::filesystem::path& manifest) {
  return Fixture({"make", "--profile", "small", "--image", QString::fromStdString(image.string()),
                  "--manifest", QString::fromStdString(manifest.string())})
      .has_value();
}

// Expects the fixture script to find the image sound: fsck.fat -n clean and
// every file of the manifest reading back as written.
inline void ExpectSoundFixture(const std::filesystem::path& image,
                               const std::filesystem::path& manifest) {
  std::optional<std::string> check =
      Fixture({"check", "--image", QString::fromStdString(image.string()), "--manifest",
               QString::fromStdString(manifest.string())});
  ASSERT_TRUE(check);
  FixtureCheck found = ParseFixtureCheck(*check);
  EXPECT_EQ(found.Fsck, 0) << *check;
  EXPECT_GT(found.Good, 0) << *check;
  EXPECT_EQ(found.Bad, 0) << *check;
}

// A drive table in a folder of its own that sees no block device.
class FixtureWorld {
public:
  FixtureWorld() {
    Environment.ConfigurationFolder = Dir.Path() / "config";
    Environment.SysClassBlock = Dir.Path() / "sys/class/block";
    Environment.DeviceFolder = Dir.Path() / "dev";
    Environment.MountInfo = Dir.Path() / "mountinfo";
    Environment.Discover = false;
    std::filesystem::create_directories(Environment.ConfigurationFolder);
    std::filesystem::create_directories(Environment.SysClassBlock);
    std::filesystem::create_directories(Environment.DeviceFolder);
    std::ofstream(Environment.MountInfo).flush();
  }
  void WriteDrives(const std::string& lines) {
    // Written beside and renamed, as an editor saves.
    std::filesystem::path file = Environment.ConfigurationFolder / "drives.ini";
    std::filesystem::path next = Environment.ConfigurationFolder / "drives.ini.new";
    std::ofstream(next) << "[drives]\n" << lines;
    std::filesystem::rename(next, file);
  }
  // An empty FAT32 file system of 40 MiB.
  std::filesystem::path BlankImage(const std::string& name) {
    std::filesystem::path image = Dir.Path() / name;
    std::ofstream(image).flush();
    std::filesystem::resize_file(image, 40ull << 20);
    RunTool(QStringLiteral("mkfs.fat"),
            {"-F", "32", "-S", "512", "-s", "1", QString::fromStdString(image.string())});
    return image;
  }

  TempDir Dir;
  DriveEnvironment Environment;
};

} // namespace quillo::test
