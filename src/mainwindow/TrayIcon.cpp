// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/TrayIcon.h"

#include "mainwindow/Pictures.h"
#include "mainwindow/ProgramIdentity.h"

namespace quillo {

namespace {
constexpr int kIconSize = 32;
} // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
  setObjectName(QStringLiteral("TrayIconHolder"));
  for (int i = 0; i < kBusyFrames; ++i)
    ImageList_AutoDefrag << PictureIcon(QStringLiteral("tray_busy%1").arg(i), kIconSize);
  ImageList_AutoDefrag << PictureIcon(QStringLiteral("tray_rest"), kIconSize);

  MenuHolder = std::make_unique<QMenu>();
  TrayMenu = MenuHolder.get();
  TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
  TrayMenu_Restore = TrayMenu->addAction(QStringLiteral("Restore QuilloDefrag"));
  TrayMenu_Restore->setObjectName(QStringLiteral("TrayMenu_Restore"));
  TrayMenu->addSeparator();
  TrayMenu_HomePage = TrayMenu->addAction(QStringLiteral("HomePage"));
  TrayMenu_HomePage->setObjectName(QStringLiteral("TrayMenu_HomePage"));
  TrayMenu_FeedBack = TrayMenu->addAction(QStringLiteral("FeedBack"));
  TrayMenu_FeedBack->setObjectName(QStringLiteral("TrayMenu_FeedBack"));
  TrayMenu_About = TrayMenu->addAction(QStringLiteral("About Quillo Defrag"));
  TrayMenu_About->setObjectName(QStringLiteral("TrayMenu_About"));
  TrayMenu_Exit = TrayMenu->addAction(QStringLiteral("Exit"));
  TrayMenu_Exit->setObjectName(QStringLiteral("TrayMenu_Exit"));

  trayicon = new QSystemTrayIcon(ImageList_AutoDefrag.value(kRestingIcon), this);
  trayicon->setObjectName(QStringLiteral("trayicon"));
  trayicon->setToolTip(QString::fromUtf8(kTrayHint));
  trayicon->setContextMenu(TrayMenu);
  connect(trayicon, &QSystemTrayIcon::activated, this, &TrayIcon::trayiconActivated);
  if (IsAvailable()) trayicon->show();
}

TrayIcon::~TrayIcon() {
  // The icon refers to its menu; it goes first.
  delete trayicon;
}

bool TrayIcon::IsAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcon::ShowIcon(int index) {
  if (index == Index) return;
  Index = index;
  trayicon->setIcon(ImageList_AutoDefrag.value(index));
}

void TrayIcon::ShowBalloon(const std::string& title, const std::string& text) {
  LastText = QString::fromStdString(text).left(kMaxBalloonText);
  ++Balloons;
  if (!IsAvailable()) return;
  trayicon->showMessage(QString::fromStdString(title).left(kMaxBalloonTitle), LastText,
                        QSystemTrayIcon::Information, kBalloonMilliseconds);
}

void TrayIcon::trayiconActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
    emit ShowWindowRequested();
}

} // namespace quillo
