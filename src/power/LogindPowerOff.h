// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDBusMessage>

#include <string>

#include "power/PowerOffRequest.h"

namespace quillo {

// Switches the computer off through systemd-logind on the system bus.
// polkit decides whether the user may; nothing asks for a password, so a
// refusal comes back at once. Other sessions' inhibitors may delay or block
// the power-off.
class LogindPowerOff final : public PowerOffRequest {
public:
  // The call that is sent: org.freedesktop.login1.Manager.PowerOff(false).
  static QDBusMessage PowerOffCall();

  bool RequestPowerOff() override;
  std::string RefusalReason() const override { return Reason; }

private:
  std::string Reason;
};

} // namespace quillo
