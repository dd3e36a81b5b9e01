// SPDX-License-Identifier: GPL-2.0-or-later
#include "FatHostileImages.h"

#include <cstddef>
#include <utility>

#include "FatImageEditor.h"
#include "platform/fat/Definitions.h"

namespace quillo::test {

namespace {

// Directories of the small fixture image.
constexpr const char* kDocs = "Docs";
constexpr const char* kReports = "Docs/Reports";
constexpr const char* kYear = "Docs/Reports/2024";
constexpr const char* kImages = "Docs/Images";
// ExtFlags' number of the second FAT.
constexpr uint16_t kSecondFat = 1;

// An entry that leads back into the tree: the analysis tells it, and the
// check before the first write finds it under the same name.
HostileFatImage LoopImage(const char* name, std::function<void(std::vector<uint8_t>&)> damage,
                          const char* finding) {
  return {name, std::move(damage), finding, finding};
}

void SetLe16(std::vector<uint8_t>& image, size_t offset, uint16_t value) {
  fat::Le16 field;
  field.Set(value);
  image[offset] = field.Bytes[0];
  image[offset + 1] = field.Bytes[1];
}

uint32_t GetLe32(const std::vector<uint8_t>& image, size_t offset) {
  fat::Le32 field;
  for (size_t i = 0; i < sizeof(field.Bytes); ++i)
    field.Bytes[i] = image[offset + i];
  return field.Get();
}

void SetLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
  fat::Le32 field;
  field.Set(value);
  for (size_t i = 0; i < sizeof(field.Bytes); ++i)
    image[offset + i] = field.Bytes[i];
}

} // namespace

std::vector<HostileFatImage> HostileFatImages() {
  return {
      LoopImage(
          "DotDotNamesItsOwnDirectory",
          [](auto& image) {
            FatImageEditor editor(image);
            editor.RenameDotDot(kReports);
            editor.SetDotDotCluster(kReports, editor.Chain(kReports).front());
          },
          "\\Docs\\Reports\\._: the directory is reached a second time"),
      LoopImage(
          "RenamedDotDotLeadsToTheParent",
          [](auto& image) { FatImageEditor(image).RenameDotDot(kYear); },
          "\\Docs\\Reports\\2024\\._: the directory is reached a second time"),
      LoopImage(
          "SubdirectoryLeadsToTheRoot",
          [](auto& image) {
            FatImageEditor editor(image);
            editor.SetFirstCluster(kImages, editor.Layout().RootCluster);
          },
          "\\Docs\\Images: the directory is reached a second time"),
      LoopImage(
          "SubdirectoryLeadsToItsGrandparent",
          [](auto& image) {
            FatImageEditor editor(image);
            editor.SetFirstCluster(kYear, editor.Chain(kDocs).front());
          },
          "\\Docs\\Reports\\2024: the directory is reached a second time"),
      {"FatMirroringTurnedOff",
       [](auto& image) {
         // FAT 2 alone is active; both copies still agree.
         SetLe16(image, offsetof(fat::BootSector, ExtFlags), fat::kExtFlagsMirroringDisabled | kSecondFat);
       },
       "", "FAT mirroring is turned off (FAT 2 is the only active copy)"},
      {"BackupBootSectorWithAnotherLayout",
       [](auto& image) {
         FatImageEditor editor(image);
         size_t backup = size_t(editor.Layout().BackupBootSector) * editor.Layout().BytesPerSector;
         size_t totalSectors = backup + offsetof(fat::BootSector, TotSec32);
         SetLe32(image, totalSectors, GetLe32(image, totalSectors) - 1);
       },
       "",
       "the boot sector and the backup boot sector (sector 6) describe different layouts "
       "(total sectors)"},
  };
}

} // namespace quillo::test
