// SPDX-License-Identifier: GPL-2.0-or-later
// The manual list's menu: "Add image…" puts an image, or a partition of a
// disk image, into the drive table; "Remove" takes a volume the drive
// table names off it. The list follows through the window's refresh.
#pragma once

#include <QObject>
#include <QPoint>
#include <QTreeWidget>

#include <functional>
#include <string>

#include "mainwindow/VolumeCatalog.h"

namespace quillo {

class VolumeMenu final : public QObject {
  Q_OBJECT

public:
  // `chooseImage` may be null: the file dialog, then the choice of a
  // partition. `tell` shows a message; `refresh` lists the volumes again.
  VolumeMenu(QTreeWidget& list, VolumeCatalog& catalog, std::function<std::string()> chooseImage,
             std::function<void(const std::string&)> tell, std::function<void()> refresh);

  void AddImage();
  void Remove(const std::string& root);

private:
  void Show(const QPoint& at);
  std::string AskForImage();

  QTreeWidget& List;
  VolumeCatalog& Catalog;
  std::function<std::string()> ChooseImage;
  std::function<void(const std::string&)> Tell;
  std::function<void()> Refresh;
};

} // namespace quillo
