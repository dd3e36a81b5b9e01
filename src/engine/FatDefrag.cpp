// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/FatDefrag.h"

#include "engine/TextCodec.h"

namespace quillo {

namespace {

constexpr char16_t kBackslash = u'\\';
constexpr const char* kAllEntries = "*.*";
constexpr char kReplacementCharacter = '?';
constexpr uint32_t kPercent = 100;

// A path converted to the 8-bit code page. Characters without an 8-bit form
// become '?', which no file name may hold, so that such an entry fails to
// open instead of opening another file.
std::string ToCodePage(const std::u16string& path, bool& exact) {
  std::string out;
  exact = Utf16ToUtf8(path, out);
  if (exact) return out;
  out.clear();
  std::string piece;
  for (size_t i = 0; i < path.size(); ++i) {
    std::u16string unit(1, path[i]);
    bool pair = i + 1 < path.size() && path[i] >= 0xD800 && path[i] < 0xDC00 &&
                path[i + 1] >= 0xDC00 && path[i + 1] < 0xE000;
    if (pair) unit.push_back(path[++i]);
    if (Utf16ToUtf8(unit, piece))
      out += piece;
    else
      out.push_back(kReplacementCharacter);
  }
  return out;
}

bool HasWildcard(const std::string& path) {
  return path.find_first_of("*?") != std::string::npos;
}

} // namespace

Handle TFatDefrag::OpenFile(FILE_INFO& file) {
  // Wildcards are not valid in a path to open; a name that did not survive
  // the conversion carries one.
  if (HasWildcard(file.Name)) return kInvalidHandle;
  uint32_t attributes = Volume->GetFileAttributes(file.Name);
  bool directory = attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
  if (directory)
    return Volume->CreateFile(file.Name, kGenericRead,
                              kFileShareRead | kFileShareWrite | kFileShareDelete,
                              kFileFlagBackupSemantics);
  return Volume->CreateFile(file.Name, kGenericRead, kFileShareRead | kFileShareWrite,
                            kFileFlagNoBuffering);
}

uint32_t TFatDefrag::WalkPercentage(uint32_t counter) {
  // Signed 32-bit, as the share of the directories known so far.
  return uint32_t(int32_t(counter) * int32_t(kPercent) / (int32_t(Queue.size()) + 1));
}

void TFatDefrag::Analyze(uint8_t mode) {
  BeginAnalysis();
  auto record = std::make_unique<FILE_INFO>();

  std::u16string volume;
  Utf8ToUtf16(VolumeName, volume);
  Queue.assign(1, volume);
  std::vector<DirectoryEntry> entries;
  for (uint32_t counter = 0; counter < Queue.size(); ++counter) {
    if (Queue[counter].empty() || Queue[counter].back() != kBackslash)
      Queue[counter].push_back(kBackslash);
    const std::u16string directory = Queue[counter];
    bool exact = false;
    std::string listPath = ToCodePage(directory, exact);
    // The listing takes an 8-bit path: a directory whose path has no 8-bit
    // form cannot be listed. A device does not list a directory it reaches by
    // a second path (an entry leading back to a parent): that ends this walk
    // on a tree that loops.
    if (!exact || !Volume->ListDirectory(listPath + kAllEntries, entries)) continue;

    for (const DirectoryEntry& entry : entries) {
      if (entry.Name == u"." || entry.Name == u"..") continue;
      std::u16string path = directory + entry.Name;
      if (entry.FileAttributes & kFileAttributeDirectory) Queue.push_back(path);
      record->Name = ToCodePage(path, exact);
      if (!ExamineEntry(record, mode, counter)) {
        Queue.clear();
        return;
      }
    }
  }
  Queue.clear();
  record.reset();
  FinishAnalysis(mode);
}

} // namespace quillo
