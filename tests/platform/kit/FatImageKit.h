// SPDX-License-Identifier: GPL-2.0-or-later
// Test images of FAT32 volumes: the prepared fixtures (made at build time by
// tests/fixtures/fat32_image.py), their manifests, and the checks by the
// independent tools (fsck.fat, mcopy, mshowfat).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileBlockDevice.h"

namespace quillo::test {

struct Manifest {
  std::vector<std::string> Directories; // "Docs/Reports"
  struct File {
    std::string Sha256;
    uint64_t Size = 0;
    std::string Attributes; // "hs", "r", or empty
  };
  std::map<std::string, File> Files;   // "Docs/Reports/notes.md"
  std::vector<std::string> Fragmented; // files and directories in more than one run
};

struct CheckResult {
  int FsckStatus = -1;
  std::vector<std::string> FsckLines;
  int FilesGood = 0;
  int FilesBad = 0;
  std::vector<std::string> Mismatches;
  std::map<std::string, int> Runs; // with `contiguous`: runs per file and directory

  // fsck.fat found nothing at all.
  bool FsckClean() const;
  // fsck.fat found nothing but what a stopped write session may leave: the
  // dirty bit, lost clusters, the free count left unknown, FAT copies that
  // differ (each copy is then checked on its own), and, between the switch
  // of a moved directory's first cluster and the update of its
  // subdirectories, ".." entries that name its old first cluster (reported
  // in `staleDotDot`). Otherwise `unexpected` is the first other line.
  bool FsckOnlyCrashTraces(std::string& unexpected, bool& staleDotDot) const;
  bool FatsDiffer() const;
  std::string Summary() const;
};

// The prepared image and manifest of a profile ("small", "crash").
std::filesystem::path FixtureImage(const std::string& profile);
std::filesystem::path FixtureManifest(const std::string& profile);
// A private copy of a prepared image, made in `dir`.
std::filesystem::path CopyFixture(const std::string& profile, const std::filesystem::path& dir);

Manifest ReadManifest(const std::filesystem::path& path);
CheckResult CheckImage(const std::filesystem::path& image, const std::filesystem::path& manifest,
                       bool contiguous);

// Lets fsck.fat repair an image in place (fsck.fat -a); returns its status.
int RepairImage(const std::filesystem::path& image, std::string& output);

// Opens an image file as the drive table would, without locks.
std::unique_ptr<FileBlockDevice> OpenImage(const std::filesystem::path& path, bool readOnly);

// The SHA-256 of a file, in hex, as sha256sum computes it.
std::string FileSha256(const std::filesystem::path& path);

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; returns its exit status and fills its output.
int RunCommand(const std::string& command, std::string& output);
std::string ShellQuote(const std::string& text);

} // namespace quillo::test
