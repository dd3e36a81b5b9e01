// SPDX-License-Identifier: GPL-2.0-or-later
// The question before the first write to a real block device from the
// manual page: which device it is, and that the work is offline and
// journalled, with "Do not ask again for this device".
#pragma once

#include <QWidget>

#include <string>

#include "mainwindow/VolumeCatalog.h"

namespace quillo {

struct WriteAnswer {
  bool Go = false;
  bool DontAskAgain = false;
};

// The question about the volume of `root` on `device`, with what the
// catalog tells of it and the size shown in its row.
std::string WriteQuestion(const std::string& root, const std::string& device,
                          const VolumeCatalog::Description& description, const std::string& size);

// The box; Go when the user said yes.
WriteAnswer AskBeforeFirstWrite(QWidget* parent, const std::string& question);

} // namespace quillo
