// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/WriteConfirmation.h"

#include <QCheckBox>
#include <QMessageBox>

#include "mainwindow/ProgramIdentity.h"

namespace quillo {

namespace {
constexpr const char* kDontAskAgain = "Do not ask again for this device";
} // namespace

std::string WriteQuestion(const std::string& root, const std::string& device,
                          const VolumeCatalog::Description& description, const std::string& size) {
  std::string what = device;
  if (!description.Label.empty()) what += ", '" + description.Label + "'";
  if (!size.empty()) what += ", " + size;
  if (!description.Model.empty()) what += ", " + description.Model;
  return root.substr(0, 2) + " is the disk partition " + what +
         ", not an image. The pass works on it offline, while nothing else may use it, and "
         "journals every move so that an interruption can be repaired. Defragment it?";
}

WriteAnswer AskBeforeFirstWrite(QWidget* parent, const std::string& question) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kProgramName),
                  QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::No);
  auto* dontAsk = new QCheckBox(QString::fromLatin1(kDontAskAgain), &box);
  box.setCheckBox(dontAsk);
  bool go = box.exec() == QMessageBox::Yes;
  return {go, go && dontAsk->isChecked()};
}

} // namespace quillo
