// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include "engine/UserNotifier.h"

namespace quillo {

// A plain message box with an OK button, on the window thread. It carries
// the messages of the main window and the errors its handlers raise.
class PlainMessageBox final : public UserNotifier {
public:
  void SetParentWindow(QWidget* parent) { Parent = parent; }
  void ShowMessage(const std::string& text, const std::string& caption) override;

private:
  QPointer<QWidget> Parent;
};

} // namespace quillo
