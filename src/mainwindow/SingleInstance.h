// SPDX-License-Identifier: GPL-2.0-or-later
// One running instance per user. The first instance holds a lock file for
// its whole life and listens on the instance socket; a later start finds the
// lock taken and hands its request over the socket instead of opening a
// window. See platform/InstanceChannel.h for the protocol.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace quillo {

class SingleInstance final : public QObject {
  Q_OBJECT

public:
  SingleInstance();
  ~SingleInstance() override;

  // SignalRunningInstance: true when another instance runs and was told
  // what to do (1126 for the single argument "/Schedule", exactly; 1124
  // otherwise). False for the first instance, which then holds the lock, and
  // for a start that found the lock but no listening instance.
  bool SignalRunningInstance(const std::vector<std::string>& arguments);

  // First instance: listens for the messages of other processes. False when
  // the socket cannot be set up (the instance then works alone).
  bool Listen();

signals:
  void MessageReceived(int message);

private:
  void ConnectionArrived();

  std::unique_ptr<QLockFile> Marker;
  bool OwnsMarker = false;
  QLocalServer* Server = nullptr;
};

} // namespace quillo
