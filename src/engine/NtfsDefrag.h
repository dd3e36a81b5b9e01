// SPDX-License-Identifier: GPL-2.0-or-later
// TNtfsDefrag: the engine for NTFS volumes. The analysis walks the master
// file table record by record, files are opened by record number, and a path
// is fetched only when one has to be shown, matched or reported.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/DefragClass.h"

namespace quillo {

class TNtfsDefrag final : public TDefrag {
public:
  using TDefrag::TDefrag;

  // Raises "NtFsControlFile Error" besides the errors of every analysis.
  void Analyze(uint8_t mode) override;
  // OpenFileById with the record number in FileRef, then the named stream
  // in StreamName when there is one.
  Handle OpenFile(FILE_INFO& file) override;

  // Opens the file of a record, provided the record is in use and belongs to
  // that number; kInvalidHandle otherwise.
  Handle OpenFileById(int64_t fileRef);
  // Name := the file's full path, or the failure text.
  void ResolveName(FILE_INFO& file);
  // The full path of an open file ("C:\dir\file"), or the volume name
  // followed by "//CANNOTGETREALPATH".
  std::string QueryFileName(Handle handle);

  // File records in the MFT's valid data, set by each analysis.
  int32_t MftRecordCount = 0;

protected:
  void BeforeFileInfo(uint32_t counter) override;
  void NameNeeded(FILE_INFO& file) override;
  uint32_t WalkPercentage(uint32_t counter) override;
  // Notes the file's named streams that have clusters, for the walk to
  // examine after the file.
  void AfterFileInfo(Handle handle, const FILE_INFO& file) override;

private:
  // The MFT zone and the MFT on the map; MftRecordCount.
  void PrepareWalk();

  std::vector<StreamInformation> PendingStreams;
  std::unique_ptr<NtfsFileRecordOutputBuffer> RecordBuffer =
      std::make_unique<NtfsFileRecordOutputBuffer>();
};

} // namespace quillo
