// SPDX-License-Identifier: GPL-2.0-or-later
// A message bus daemon of the test's own, so that what the window says to
// the desktop goes nowhere else.
#pragma once

#include <QProcess>
#include <QString>

namespace quillo::test {

class PrivateSessionBus {
public:
  static constexpr int kWaitMilliseconds = 10000;

  PrivateSessionBus() {
    Daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    if (Daemon.waitForReadyRead(kWaitMilliseconds))
      Address = QString::fromUtf8(Daemon.readLine()).trimmed();
  }
  ~PrivateSessionBus() {
    Daemon.kill();
    Daemon.waitForFinished();
  }
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when the daemon did not start.
  QString Address;

private:
  QProcess Daemon;
};

} // namespace quillo::test
