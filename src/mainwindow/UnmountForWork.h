// SPDX-License-Identifier: GPL-2.0-or-later
// The mounted volumes of the manual page: a command on one asks its user
// once whether to unmount it; on yes it is unmounted through the catalog
// (the desktop's disk service) and mounted again once its job is done.
// Nothing is unmounted without that word.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mainwindow/VolumeCatalog.h"

namespace quillo {

class UnmountForWork {
public:
  // `ask` puts a question and says whether the user said yes; `tell` shows
  // a message.
  using Ask = std::function<bool(const std::string& question)>;
  using Tell = std::function<void(const std::string& text)>;
  UnmountForWork(VolumeCatalog& catalog, Ask ask, Tell tell);

  // The question for the volume of `root`, mounted at `mountPoint`, with
  // what the catalog tells of it and the size its row shows.
  static std::string Question(const std::string& root, const std::string& mountPoint,
                              const VolumeCatalog::Description& description,
                              const std::string& size);

  // Before a command on the volume of `root`: true when it is not mounted,
  // or was unmounted on the user's word; false when the user said no or it
  // could not be unmounted (told, with the reason).
  bool Prepare(const std::string& root, const std::string& size);
  // Mounts again every volume unmounted here whose work `isDone` says is
  // over; one that cannot be mounted again is told.
  void MountFinished(const std::function<bool(const std::string& root)>& isDone);
  bool Waiting() const { return !Roots.empty(); }

private:
  VolumeCatalog& Catalog;
  Ask AskUser;
  Tell TellUser;
  std::vector<std::string> Roots; // unmounted, in order
};

} // namespace quillo
