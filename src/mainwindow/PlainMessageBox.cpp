// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/PlainMessageBox.h"

#include <QMessageBox>

namespace quillo {

void PlainMessageBox::ShowMessage(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, Parent.data());
  box.exec();
}

} // namespace quillo
