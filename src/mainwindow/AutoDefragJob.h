// SPDX-License-Identifier: GPL-2.0-or-later
// The system volume's job as the idle-time automatic defragmentation sees
// it: what it polls and the three commands it gives. The window hands over
// the real job; the scheduler's tests hand over a scripted one.
#pragma once

#include <cstdint>

namespace quillo {

class AutoDefragJob {
public:
  virtual ~AutoDefragJob() = default;

  virtual uint8_t State() const = 0;
  virtual uint8_t Command() const = 0;
  // No command handed over and none under way. A job that has been given a
  // command still shows the state it rested in until its thread takes the
  // command, and it passes through "analysed" between an analysis and the
  // pass; only a settled job is really at rest.
  virtual bool IsSettled() const = 0;

  // The commands raise the job's error when its state does not allow them.
  virtual void DefragDeal(uint8_t command, uint8_t mode) = 0;
  virtual void PauseDeal() = 0;
  virtual void ResumeDeal() = 0;
};

} // namespace quillo
