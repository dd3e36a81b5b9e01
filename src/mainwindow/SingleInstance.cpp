// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SingleInstance.h"

#include <QLocalSocket>

#include "mainwindow/InstanceMessage.h"
#include "platform/InstanceChannel.h"

namespace quillo {

namespace {
constexpr const char* kScheduleSwitch = "/Schedule";
// A message line is a few digits; anything longer is not one of ours.
constexpr qint64 kMaxLineLength = 16;
} // namespace

SingleInstance::SingleInstance()
    : Marker(std::make_unique<QLockFile>(QString::fromStdString(InstanceLockPath().string()))) {
  // A lock left by a process that has ended is taken over at once.
  Marker->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  if (Server) Server->close();
}

bool SingleInstance::SignalRunningInstance(const std::vector<std::string>& arguments) {
  OwnsMarker = Marker->tryLock(0);
  if (OwnsMarker) return false;
  int message = arguments.size() == 1 && arguments.front() == kScheduleSwitch ? MSG_RUN_SCHEDULE
                                                                              : MSG_SHOW_WINDOW;
  return SendInstanceMessage(message);
}

bool SingleInstance::Listen() {
  // Only the holder of the lock may clear a socket left by a process that
  // ended without removing it.
  if (!OwnsMarker) return false;
  QString path = QString::fromStdString(InstanceSocketPath().string());
  QLocalServer::removeServer(path);
  Server = new QLocalServer(this);
  Server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(Server, &QLocalServer::newConnection, this, &SingleInstance::ConnectionArrived);
  return Server->listen(path);
}

void SingleInstance::ConnectionArrived() {
  while (QLocalSocket* socket = Server->nextPendingConnection()) {
    auto take = [this, socket](bool closing) {
      while (socket->canReadLine() || (closing && socket->bytesAvailable() > 0)) {
        QByteArray line = socket->readLine(kMaxLineLength).trimmed();
        bool isNumber = false;
        int message = line.toInt(&isNumber);
        if (isNumber) emit MessageReceived(message);
      }
      // A sender that writes no line end is not waited for.
      if (socket->bytesAvailable() > kMaxLineLength) socket->abort();
    };
    connect(socket, &QLocalSocket::readyRead, this, [take] { take(false); });
    connect(socket, &QLocalSocket::disconnected, this, [take, socket] {
      take(true);
      socket->deleteLater();
    });
  }
}

} // namespace quillo
