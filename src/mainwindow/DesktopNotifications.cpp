// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/DesktopNotifications.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "mainwindow/ProgramIdentity.h"

namespace quillo {

namespace {
// A new notice, not the replacement of an earlier one.
constexpr uint kNoReplacement = 0;
} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus) : Bus(std::move(bus)) {}

void DesktopNotifications::Notify(const QString& summary, const QString& body) {
  if (!Bus.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  QVariantMap hints;
  // The desktop groups the notice with the program's entry.
  hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kIconName));
  call << QString::fromUtf8(kProgramName) << kNoReplacement << QString::fromLatin1(kIconName)
       << summary << body << QStringList() << hints << kTimeoutMilliseconds;
  // The window thread does not wait for the desktop.
  call.setAutoStartService(true);
  Bus.send(call);
  ++Sent;
}

} // namespace quillo
