// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/DirectoryParser.h"

#include <cstring>

#include "platform/fat/NameFolding.h"

namespace quillo::fat {

namespace {

constexpr uint8_t kDotName[kShortNameLength] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr uint8_t kDotDotName[kShortNameLength] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 0x20) : c; }

std::u16string ShortPart(const uint8_t* bytes, size_t length, bool lower, bool first) {
  std::u16string out;
  for (size_t i = 0; i < length; ++i) {
    uint8_t c = bytes[i];
    if (first && i == 0 && c == kEntryKanjiE5) c = kEntryFree;
    char16_t wide = OemToUnicode(c);
    out.push_back(lower ? LowerAscii(wide) : wide);
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

// The name parts one long-name entry carries, in order.
void AppendLongNameChars(const LongNameEntry& entry, char16_t (&out)[kLongNameCharsPerEntry]) {
  size_t k = 0;
  for (const Le16& c : entry.Name1) out[k++] = char16_t(c.Get());
  for (const Le16& c : entry.Name2) out[k++] = char16_t(c.Get());
  for (const Le16& c : entry.Name3) out[k++] = char16_t(c.Get());
}

// Collects the long-name entries before a short entry.
class LongNameCollector {
public:
  void Reset() {
    Count = 0;
    Next = 0;
    Complete = false;
  }

  void Add(const LongNameEntry& entry) {
    uint8_t ord = entry.Ord & kLongNameOrdMask;
    if (entry.Ord & kLongNameLast) {
      // The physically first entry carries the highest ordinal.
      if (ord == 0 || ord > kMaxLongNameEntries) {
        Reset();
        return;
      }
      Count = ord;
      Checksum = entry.Chksum;
      Chars.assign(size_t(ord) * kLongNameCharsPerEntry, kLongNamePadding);
    } else if (Count == 0 || Complete || ord != Next || entry.Chksum != Checksum) {
      Reset();
      return;
    }
    char16_t part[kLongNameCharsPerEntry];
    AppendLongNameChars(entry, part);
    std::memcpy(&Chars[size_t(ord - 1) * kLongNameCharsPerEntry], part, sizeof(part));
    Next = uint8_t(ord - 1);
    Complete = Next == 0;
  }

  // The long name for a short entry, when one is complete and belongs to it.
  bool Take(const DirEntry& entry, std::u16string& name) {
    bool ok = Complete && Checksum == ShortNameChecksum(entry.Name);
    Reset();
    if (!ok) return false;
    name.clear();
    for (char16_t c : Chars) {
      if (c == kLongNameTerminator) break;
      name.push_back(c);
    }
    return !name.empty();
  }

private:
  uint8_t Count = 0;
  uint8_t Next = 0;
  uint8_t Checksum = 0;
  bool Complete = false;
  std::u16string Chars;
};

} // namespace

std::u16string FormatShortName(const DirEntry& entry) {
  std::u16string base =
      ShortPart(entry.Name, kShortBaseLength, entry.NTRes & kNtLowerCaseBase, true);
  std::u16string extension = ShortPart(entry.Name + kShortBaseLength,
                                       kShortNameLength - kShortBaseLength,
                                       entry.NTRes & kNtLowerCaseExtension, false);
  return extension.empty() ? base : base + u"." + extension;
}

ParsedDirectory ParseDirectory(const uint8_t* data, size_t length) {
  ParsedDirectory parsed;
  LongNameCollector longName;
  size_t slots = length / kDirEntryBytes;
  for (size_t slot = 0; slot < slots; ++slot) {
    const uint8_t* raw = data + slot * kDirEntryBytes;
    if (raw[0] == kEntryEnd) break;
    if (raw[0] == kEntryFree) {
      longName.Reset();
      continue;
    }
    DirEntry entry;
    std::memcpy(&entry, raw, sizeof(entry));
    if ((entry.Attr & kAttrLongNameMask) == kAttrLongName) {
      LongNameEntry part;
      std::memcpy(&part, raw, sizeof(part));
      longName.Add(part);
      continue;
    }
    if (entry.Attr & kAttrVolumeId) {
      longName.Reset();
      if (!(entry.Attr & kAttrDirectory) && parsed.VolumeLabel.empty()) {
        for (uint8_t c : entry.Name) parsed.VolumeLabel.push_back(OemToUnicode(c));
        while (!parsed.VolumeLabel.empty() && parsed.VolumeLabel.back() == u' ')
          parsed.VolumeLabel.pop_back();
      }
      continue;
    }

    FatDirEntry out;
    out.IsDot = std::memcmp(entry.Name, kDotName, kShortNameLength) == 0;
    out.IsDotDot = std::memcmp(entry.Name, kDotDotName, kShortNameLength) == 0;
    if (out.IsDot || out.IsDotDot) {
      longName.Reset();
      out.ShortName = out.IsDot ? u"." : u"..";
      out.Name = out.ShortName;
    } else {
      out.ShortName = FormatShortName(entry);
      if (!longName.Take(entry, out.Name)) out.Name = out.ShortName;
    }
    out.Attributes = entry.Attr;
    out.FirstCluster = entry.FirstCluster();
    out.Size = entry.FileSize.Get();
    out.WriteTime = entry.WrtTime.Get();
    out.WriteDate = entry.WrtDate.Get();
    out.Slot = uint32_t(slot);
    parsed.Entries.push_back(std::move(out));
  }
  return parsed;
}

} // namespace quillo::fat
