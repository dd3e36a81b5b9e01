// SPDX-License-Identifier: GPL-2.0-or-later
// Notices on the desktop through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus), which every Linux
// desktop runs. The tray icon's balloon is not used for them: where the
// tray is an old-style one, Qt draws that balloon itself beside the icon,
// and where it is a StatusNotifierItem it goes to the same service, so a
// notice sent both ways would arrive twice.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace quillo {

class DesktopNotifications {
public:
  static constexpr const char* kService = "org.freedesktop.Notifications";
  static constexpr const char* kPath = "/org/freedesktop/Notifications";
  static constexpr const char* kInterface = "org.freedesktop.Notifications";
  // The name of the program's icon and of its desktop entry.
  static constexpr const char* kIconName = "quillodefrag";
  // As long as the tray's balloons.
  static constexpr int kTimeoutMilliseconds = 10000;

  explicit DesktopNotifications(QDBusConnection bus);

  // Sent without waiting for the service's answer; nothing happens where
  // there is no bus or no service.
  void Notify(const QString& summary, const QString& body);
  // How many were sent, answered or not.
  int SentCount() const { return Sent; }

private:
  QDBusConnection Bus;
  int Sent = 0;
};

} // namespace quillo
