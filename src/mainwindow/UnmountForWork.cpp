// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/UnmountForWork.h"

#include <algorithm>

namespace quillo {

namespace {
std::string VolumeNameOf(const std::string& root) { return root.substr(0, 2); }
} // namespace

UnmountForWork::UnmountForWork(VolumeCatalog& catalog, Ask ask, Tell tell)
    : Catalog(catalog), AskUser(std::move(ask)), TellUser(std::move(tell)) {}

std::string UnmountForWork::Question(const std::string& root, const std::string& mountPoint,
                                     const VolumeCatalog::Description& description,
                                     const std::string& size) {
  std::string what = description.Location;
  if (!description.Label.empty()) what += ", '" + description.Label + "'";
  if (!size.empty()) what += ", " + size;
  return VolumeNameOf(root) + " (" + what + ") is mounted at " + mountPoint +
         ". Unmount it to work on it?";
}

bool UnmountForWork::Prepare(const std::string& root, const std::string& size) {
  std::string mountPoint = Catalog.MountPoint(root);
  if (mountPoint.empty()) return true;
  if (!AskUser(Question(root, mountPoint, Catalog.Describe(root), size))) return false;
  std::string why;
  if (!Catalog.Unmount(root, why)) {
    TellUser(VolumeNameOf(root) + " cannot be unmounted: " + why);
    return false;
  }
  Roots.push_back(root);
  return true;
}

void UnmountForWork::MountFinished(const std::function<bool(const std::string& root)>& isDone) {
  std::vector<std::string> done;
  std::erase_if(Roots, [&](const std::string& root) {
    if (!isDone(root)) return false;
    done.push_back(root);
    return true;
  });
  for (const std::string& root : done) {
    std::string place;
    std::string why;
    if (!Catalog.MountAgain(root, place, why))
      TellUser(VolumeNameOf(root) + " cannot be mounted again: " + why);
  }
}

} // namespace quillo
