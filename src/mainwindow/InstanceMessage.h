// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace quillo {

// The private messages other processes send to the running instance.
enum InstanceMessage : int {
  MSG_SHOW_WINDOW = 1124,
  MSG_STOP_AND_EXIT = 1125,
  MSG_RUN_SCHEDULE = 1126,
};

} // namespace quillo
