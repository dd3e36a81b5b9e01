// SPDX-License-Identifier: GPL-2.0-or-later
#include "FatImageKit.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TestSupport.h"

namespace quillo::test {

namespace {

std::filesystem::path FixtureDir() { return QUILLO_FIXTURE_DIR; }

std::filesystem::path CheckerScript() { return SourceDir() / "tests/fixtures/fat32_image.py"; }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  return fields;
}

} // namespace

std::filesystem::path FixtureImage(const std::string& profile) {
  return FixtureDir() / (profile + ".img");
}

std::filesystem::path FixtureManifest(const std::string& profile) {
  return FixtureDir() / (profile + ".manifest");
}

std::filesystem::path CopyFixture(const std::string& profile, const std::filesystem::path& dir) {
  std::filesystem::path copy = dir / (profile + ".img");
  std::filesystem::copy_file(FixtureImage(profile), copy,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);
  return copy;
}

Manifest ReadManifest(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("no manifest at " + path.string());
  Manifest manifest;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitTabs(line);
    if (fields[0] == "D" && fields.size() == 2) {
      manifest.Directories.push_back(fields[1]);
    } else if (fields[0] == "F" && fields.size() == 5) {
      Manifest::File file;
      file.Sha256 = fields[1];
      file.Size = std::stoull(fields[2]);
      file.Attributes = fields[3] == "-" ? "" : fields[3];
      manifest.Files[fields[4]] = file;
    } else if (fields[0] == "X" && fields.size() == 2) {
      manifest.Fragmented.push_back(fields[1]);
    }
  }
  return manifest;
}

bool CheckResult::FsckClean() const {
  if (FsckStatus != 0) return false;
  for (const std::string& line : FsckLines)
    if (!StartsWith(line, "fsck.fat ") && line.find(" files, ") == std::string::npos)
      return false;
  return true;
}

bool CheckResult::FatsDiffer() const {
  for (const std::string& line : FsckLines)
    if (StartsWith(line, "FATs differ")) return true;
  return false;
}

bool CheckResult::FsckOnlyCrashTraces(std::string& unexpected, bool& staleDotDot) const {
  // What fsck.fat -n prints for the traces of a stopped write session.
  static const char* const kExpected[] = {
      "fsck.fat ",
      "FATs differ but appear to be intact.",
      "  Using first FAT.",
      "Dirty bit is set. Fs was not properly unmounted",
      " Automatically removing dirty bit.",
      "Free cluster summary uninitialized",
      "Reclaimed ",
      "Leaving filesystem unchanged.",
  };
  static const std::string kStaleDotDot = "  Invalid '..' entry in the second slot.";
  staleDotDot = false;
  for (size_t i = 0; i < FsckLines.size(); ++i) {
    const std::string& line = FsckLines[i];
    if (line.empty() || line.find(" files, ") != std::string::npos) continue;
    bool known = false;
    for (const char* prefix : kExpected) known = known || StartsWith(line, prefix);
    // fsck.fat names the directory on one line and the fault on the next.
    if (!known && StartsWith(line, "/") && i + 1 < FsckLines.size() &&
        StartsWith(FsckLines[i + 1], kStaleDotDot)) {
      staleDotDot = true;
      ++i;
      known = true;
    }
    if (!known) {
      unexpected = line;
      return false;
    }
  }
  return FsckStatus == 0 || FsckStatus == 1;
}

std::string CheckResult::Summary() const {
  std::string text = "fsck.fat status " + std::to_string(FsckStatus) + "\n";
  for (const std::string& line : FsckLines) text += "  " + line + "\n";
  text += "files good " + std::to_string(FilesGood) + ", bad " + std::to_string(FilesBad) + "\n";
  for (const std::string& line : Mismatches) text += "  " + line + "\n";
  return text;
}

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

CheckResult CheckImage(const std::filesystem::path& image, const std::filesystem::path& manifest,
                       bool contiguous) {
  std::string command = ShellQuote(QUILLO_PYTHON) + " " + ShellQuote(CheckerScript().string()) + " check --image " +
                        ShellQuote(image.string()) + " --manifest " +
                        ShellQuote(manifest.string()) + (contiguous ? " --contiguous" : "");
  std::string output;
  if (RunCommand(command, output) != 0) throw std::runtime_error("check failed:\n" + output);
  CheckResult result;
  std::stringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    if (StartsWith(line, "FSCK_LINE ")) {
      result.FsckLines.push_back(line.substr(10));
    } else if (StartsWith(line, "FSCK ")) {
      result.FsckStatus = std::stoi(line.substr(5));
    } else if (StartsWith(line, "CONTENT ")) {
      std::stringstream counts(line.substr(8));
      counts >> result.FilesGood >> result.FilesBad;
    } else if (StartsWith(line, "MISMATCH ")) {
      result.Mismatches.push_back(line.substr(9));
    } else if (StartsWith(line, "RUNS ")) {
      size_t space = line.find(' ', 5);
      result.Runs[line.substr(space + 1)] = std::stoi(line.substr(5, space - 5));
    }
  }
  return result;
}

int RepairImage(const std::filesystem::path& image, std::string& output) {
  return RunCommand("fsck.fat -a " + ShellQuote(image.string()), output);
}

std::unique_ptr<FileBlockDevice> OpenImage(const std::filesystem::path& path, bool readOnly) {
  int fd = open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  uint64_t size = DescriptorSize(fd);
  return std::make_unique<FileBlockDevice>(fd, 0, size, readOnly);
}

std::string FileSha256(const std::filesystem::path& path) {
  constexpr size_t kHexDigits = 64;
  std::string output;
  if (RunCommand("sha256sum " + ShellQuote(path.string()), output) != 0 ||
      output.size() < kHexDigits)
    throw std::runtime_error("sha256sum failed:\n" + output);
  return output.substr(0, kHexDigits);
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(std::filesystem::file_size(path));
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace quillo::test
