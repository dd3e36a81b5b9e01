// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/UpdateQuestionBox.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace quillo {

bool UpdateQuestionBox::AskYesNo(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void UpdateQuestionBox::OpenPage(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

} // namespace quillo
