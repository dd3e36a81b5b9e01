// SPDX-License-Identifier: GPL-2.0-or-later
// Directory entries built byte by byte: long names, their checksums and
// order, short names with the NT case flags, deleted entries, labels.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/fat/DirectoryParser.h"

namespace quillo::test {
namespace {

using namespace quillo::fat;

using Raw = std::vector<uint8_t>;

DirEntry Short(const char (&name)[12], uint8_t attributes = kAttrArchive, uint8_t ntFlags = 0,
               uint32_t cluster = 0, uint32_t size = 0) {
  DirEntry entry{};
  std::memcpy(entry.Name, name, kShortNameLength);
  entry.Attr = attributes;
  entry.NTRes = ntFlags;
  entry.SetFirstCluster(cluster);
  entry.FileSize.Set(size);
  return entry;
}

// The long-name entries of `name` for `entry`, in on-disk order (last part
// first).
std::vector<LongNameEntry> LongParts(const std::u16string& name, const DirEntry& entry) {
  size_t parts = (name.size() + kLongNameCharsPerEntry) / kLongNameCharsPerEntry;
  std::u16string padded = name;
  if (padded.size() % kLongNameCharsPerEntry) padded.push_back(kLongNameTerminator);
  while (padded.size() % kLongNameCharsPerEntry) padded.push_back(kLongNamePadding);
  parts = padded.size() / kLongNameCharsPerEntry;
  std::vector<LongNameEntry> out;
  for (size_t ord = parts; ord >= 1; --ord) {
    LongNameEntry part{};
    part.Ord = uint8_t(ord | (ord == parts ? kLongNameLast : 0));
    part.Attr = kAttrLongName;
    part.Chksum = ShortNameChecksum(entry.Name);
    const char16_t* chars = padded.data() + (ord - 1) * kLongNameCharsPerEntry;
    for (int i = 0; i < 5; ++i) part.Name1[i].Set(chars[i]);
    for (int i = 0; i < 6; ++i) part.Name2[i].Set(chars[5 + i]);
    for (int i = 0; i < 2; ++i) part.Name3[i].Set(chars[11 + i]);
    out.push_back(part);
  }
  return out;
}

template <typename T> void Append(Raw& raw, const T& entry) {
  static_assert(sizeof(T) == kDirEntryBytes);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&entry);
  raw.insert(raw.end(), bytes, bytes + sizeof(T));
}

void AppendNamed(Raw& raw, const std::u16string& name, const DirEntry& entry) {
  for (const LongNameEntry& part : LongParts(name, entry)) Append(raw, part);
  Append(raw, entry);
}

std::vector<std::u16string> Names(const ParsedDirectory& parsed) {
  std::vector<std::u16string> names;
  for (const FatDirEntry& entry : parsed.Entries) names.push_back(entry.Name);
  return names;
}

TEST(FatDirectoryParser, ShortNamesFollowTheNtCaseFlags) {
  Raw raw;
  Append(raw, Short("README  TXT"));
  Append(raw, Short("README  TXT", kAttrArchive, kNtLowerCaseBase));
  Append(raw, Short("README  TXT", kAttrArchive, kNtLowerCaseExtension));
  Append(raw, Short("MAKEFILE   ", kAttrArchive, kNtLowerCaseBase | kNtLowerCaseExtension));
  Append(raw, Short("\x05" "BC     DAT"));
  ParsedDirectory parsed = ParseDirectory(raw.data(), raw.size());
  EXPECT_EQ(Names(parsed), (std::vector<std::u16string>{u"README.TXT", u"readme.TXT", u"README.txt",
                                                         u"makefile", u"\u03C3BC.DAT"}));
}

TEST(FatDirectoryParser, LongNamesNeedCompletePartsInOrderWithTheRightChecksum) {
  const std::u16string name = u"A long name with ünïcödé and 😀 beyond 13 chars.txt";
  DirEntry entry = Short("ALONGN~1TXT", kAttrArchive, 0, 1234, 99);
  Raw raw;
  AppendNamed(raw, name, entry);

  DirEntry wrongSum = Short("OTHER~1 TXT");
  auto parts = LongParts(u"wrong checksum.txt", wrongSum);
  for (auto& part : parts) part.Chksum ^= 0x5A;
  for (auto& part : parts) Append(raw, part);
  Append(raw, wrongSum);

  DirEntry missing = Short("MISSIN~1TXT");
  parts = LongParts(u"a name whose middle part is missing.txt", missing);
  ASSERT_GE(parts.size(), 3u);
  parts.erase(parts.begin() + 1);
  for (auto& part : parts) Append(raw, part);
  Append(raw, missing);

  DirEntry orphan = Short("ORPHAN  TXT");
  parts = LongParts(u"orphaned long name.txt", orphan);
  for (auto& part : parts) Append(raw, part);
  Raw deleted(kDirEntryBytes, 0);
  deleted[0] = kEntryFree;
  raw.insert(raw.end(), deleted.begin(), deleted.end());
  Append(raw, orphan);

  ParsedDirectory parsed = ParseDirectory(raw.data(), raw.size());
  ASSERT_EQ(parsed.Entries.size(), 4u);
  EXPECT_EQ(parsed.Entries[0].Name, name);
  EXPECT_EQ(parsed.Entries[0].ShortName, u"ALONGN~1.TXT");
  EXPECT_EQ(parsed.Entries[0].FirstCluster, 1234u);
  EXPECT_EQ(parsed.Entries[0].Size, 99u);
  EXPECT_EQ(parsed.Entries[0].Slot, uint32_t(LongParts(name, entry).size()));
  EXPECT_EQ(parsed.Entries[1].Name, u"OTHER~1.TXT");
  EXPECT_EQ(parsed.Entries[2].Name, u"MISSIN~1.TXT");
  EXPECT_EQ(parsed.Entries[3].Name, u"ORPHAN.TXT");
}

TEST(FatDirectoryParser, SkipsLabelsAndDeletedEntriesAndStopsAtTheEnd) {
  Raw raw;
  Append(raw, Short(".          ", kAttrDirectory, 0, 77));
  Append(raw, Short("..         ", kAttrDirectory, 0, 0));
  Append(raw, Short("MY VOLUME  ", kAttrVolumeId));
  DirEntry gone = Short("GONE    TXT");
  gone.Name[0] = kEntryFree;
  Append(raw, gone);
  Append(raw, Short("SUBDIR     ", kAttrDirectory, 0, 80));
  Append(raw, Short("HIDDEN  SYS", kAttrHidden | kAttrSystem));
  Raw end(kDirEntryBytes, 0);
  raw.insert(raw.end(), end.begin(), end.end());
  Append(raw, Short("AFTER   TXT"));

  ParsedDirectory parsed = ParseDirectory(raw.data(), raw.size());
  EXPECT_EQ(Names(parsed), (std::vector<std::u16string>{u".", u"..", u"SUBDIR", u"HIDDEN.SYS"}));
  EXPECT_TRUE(parsed.Entries[0].IsDot);
  EXPECT_TRUE(parsed.Entries[1].IsDotDot);
  EXPECT_EQ(parsed.Entries[0].FirstCluster, 77u);
  EXPECT_TRUE(parsed.Entries[2].IsDirectory());
  EXPECT_EQ(parsed.Entries[3].Attributes, kAttrHidden | kAttrSystem);
  EXPECT_EQ(parsed.VolumeLabel, u"MY VOLUME");
}

} // namespace
} // namespace quillo::test
