// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "jobs/DefragThread.h"
#include "mainwindow/AutoDefragJob.h"

namespace quillo {

// A volume's job seen by the automatic defragmentation.
class ThreadAutoDefragJob final : public AutoDefragJob {
public:
  explicit ThreadAutoDefragJob(TDefragThread& job) : Job(job) {}

  uint8_t State() const override { return Job.State(); }
  uint8_t Command() const override { return Job.Command(); }
  // A job whose thread has ended takes no command any more.
  bool IsSettled() const override { return Job.IsParked() || Job.IsDead(); }
  void DefragDeal(uint8_t command, uint8_t mode) override { Job.DefragDeal(command, mode); }
  void PauseDeal() override { Job.PauseDeal(); }
  void ResumeDeal() override { Job.ResumeDeal(); }

private:
  TDefragThread& Job;
};

} // namespace quillo
