// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/VolumeMenu.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>

namespace quillo {

namespace {
constexpr const char* kAddImageCaption = "Add image…";
constexpr const char* kRemoveCaption = "Remove %1";
constexpr const char* kPartitionQuestion = "Partition of %1:";
} // namespace

VolumeMenu::VolumeMenu(QTreeWidget& list, VolumeCatalog& catalog,
                       std::function<std::string()> chooseImage,
                       std::function<void(const std::string&)> tell, std::function<void()> refresh)
    : QObject(&list), List(list), Catalog(catalog), ChooseImage(std::move(chooseImage)),
      Tell(std::move(tell)), Refresh(std::move(refresh)) {
  List.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&List, &QWidget::customContextMenuRequested, this, &VolumeMenu::Show);
}

void VolumeMenu::Show(const QPoint& at) {
  QMenu menu(&List);
  menu.addAction(QString::fromUtf8(kAddImageCaption), this, &VolumeMenu::AddImage);
  // Unusable volumes too: a missing image is taken off this way.
  if (QTreeWidgetItem* item = List.itemAt(at)) {
    std::string root = item->text(0).toStdString();
    QAction* remove = menu.addAction(QString::fromLatin1(kRemoveCaption).arg(item->text(0)), this,
                                     [this, root] { Remove(root); });
    remove->setEnabled(Catalog.CanRemove(root));
  }
  menu.exec(List.viewport()->mapToGlobal(at));
}

std::string VolumeMenu::AskForImage() {
  QString caption = QString::fromUtf8(kAddImageCaption);
  QString file = QFileDialog::getOpenFileName(List.window(), caption);
  if (file.isEmpty()) return {};
  std::string image = file.toStdString();
  std::vector<VolumeCatalog::ImagePartition> partitions = Catalog.PartitionsOf(image);
  if (partitions.empty()) return image;
  QStringList choices;
  for (const VolumeCatalog::ImagePartition& partition : partitions)
    choices << QString::fromStdString(partition.Text);
  bool chosen = false;
  QString choice = QInputDialog::getItem(List.window(), caption,
                                         QString::fromLatin1(kPartitionQuestion).arg(file),
                                         choices, 0, false, &chosen);
  if (!chosen) return {};
  qsizetype index = choices.indexOf(choice);
  if (index < 0) return {};
  return image + "#" + std::to_string(partitions[size_t(index)].Number);
}

void VolumeMenu::AddImage() {
  std::string location = ChooseImage ? ChooseImage() : AskForImage();
  if (location.empty()) return;
  std::string why;
  if (!Catalog.AddImage(location, why)) {
    Tell(why);
    return;
  }
  Refresh();
}

void VolumeMenu::Remove(const std::string& root) {
  std::string why;
  if (!Catalog.Remove(root, why)) {
    Tell(why);
    return;
  }
  Refresh();
}

} // namespace quillo
