// SPDX-License-Identifier: GPL-2.0-or-later
// The notification-area icon: seven icons (six frames of the busy animation
// and the resting icon), the menu, and balloons shown for ten seconds. Where
// the desktop has no notification area the object still keeps its state, so
// the window works the same without one.
#pragma once

#include <QAction>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

#include <string>

namespace quillo {

class TrayIcon final : public QObject {
  Q_OBJECT

public:
  static constexpr int kBusyFrames = 6;
  static constexpr int kRestingIcon = 6;
  static constexpr int kBalloonMilliseconds = 10000;
  static constexpr int kMaxBalloonTitle = 63;
  static constexpr int kMaxBalloonText = 255;

  explicit TrayIcon(QObject* parent);
  ~TrayIcon() override;

  // Whether the desktop shows notification-area icons.
  bool IsAvailable() const;
  void ShowIcon(int index);
  int IconIndex() const { return Index; }
  // An information balloon; title and text are cut to what the area takes.
  void ShowBalloon(const std::string& title, const std::string& text);
  // The last balloon asked for, shown or not (there may be no area).
  const QString& LastBalloonText() const { return LastText; }
  int BalloonCount() const { return Balloons; }

  QSystemTrayIcon* trayicon;
  QMenu* TrayMenu;
  QAction* TrayMenu_Restore;
  QAction* TrayMenu_HomePage;
  QAction* TrayMenu_FeedBack;
  QAction* TrayMenu_About;
  QAction* TrayMenu_Exit;
  QList<QIcon> ImageList_AutoDefrag;
  // The animation's frame counter, -1 while resting.
  int FrameTag = -1;

signals:
  // A left click or double click on the icon.
  void ShowWindowRequested();

private:
  void trayiconActivated(QSystemTrayIcon::ActivationReason reason);

  // The menu has no parent widget.
  std::unique_ptr<QMenu> MenuHolder;
  int Index = kRestingIcon;
  QString LastText;
  int Balloons = 0;
};

} // namespace quillo
