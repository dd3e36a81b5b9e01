// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/LogindPowerOff.h"

#include <QDBusConnection>
#include <QDBusError>

namespace quillo {

namespace {
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kPowerOffMethod = "PowerOff";
// No password dialog: the countdown is unattended.
constexpr bool kInteractive = false;
// logind answers at once; a bus that does not must not freeze the window.
constexpr int kReplyTimeoutMs = 10000;
constexpr const char* kNoSystemBus = "the system bus is not available";
} // namespace

QDBusMessage LogindPowerOff::PowerOffCall() {
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                                     QString::fromLatin1(kLogindManager), QString::fromLatin1(kPowerOffMethod));
  call << kInteractive;
  return call;
}

bool LogindPowerOff::RequestPowerOff() {
  Reason.clear();
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    QString detail = bus.lastError().message();
    Reason = kNoSystemBus + (detail.isEmpty() ? std::string() : " (" + detail.toStdString() + ")");
    return false;
  }
  QDBusMessage reply = bus.call(PowerOffCall(), QDBus::Block, kReplyTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  // logind absent, polkit saying no, an inhibitor, or no answer in time.
  QString detail = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
  Reason = detail.toStdString();
  return false;
}

} // namespace quillo
