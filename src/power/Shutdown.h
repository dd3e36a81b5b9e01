// SPDX-License-Identifier: GPL-2.0-or-later
// TShutdown: the power-off countdown. A borderless window that stays on top
// and covers the screen with a frozen picture of the desktop, which fades to
// grey over the first ten seconds, and a panel in the middle that counts 30
// seconds down; at 0 it asks the system to switch the computer off, unless
// "Cancel" was pressed first. When the system refuses, the window closes and
// tells its caller why. Its texts are fixed, never translated.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mainwindow/PowerOffWindow.h"
#include "power/PowerOffRequest.h"

namespace quillo {

class TShutdown final : public QDialog, public PowerOffWindow {
  Q_OBJECT

public:
  static constexpr int kPanelWidth = 314;
  static constexpr int kPanelHeight = 200;
  static constexpr int kCountdownSeconds = 30;
  static constexpr int kTimerInterval = 1000;

  // `capture` gives the desktop picture at each showing; empty: the screen.
  explicit TShutdown(PowerOffRequest& request, std::function<QImage()> capture = {},
                     QWidget* parent = nullptr);

  // Shown maximised; returns when "Cancel" closes the window (nothing) or
  // the system refused to switch off (why).
  std::optional<std::string> ShowModal() override;

  QFrame* Panel_shutdown;
  QLabel* Image_shutdown;
  QLabel* Label_caption;
  QLabel* Image_screen_snap;
  QTimer* Timer_shutdown;
  QLabel* Label_countdown;
  QPushButton* Button_cancel_shutdown;

  int32_t SecondsLeft = kCountdownSeconds;

  // Why the system refused this showing's request; nothing while it has not.
  const std::optional<std::string>& Refusal() const { return RefusalText; }

  // The desktop picture as it is shown now.
  const QImage& ScreenPicture() const { return Snapshot; }

public slots:
  void Timer_shutdownTimer();
  void Button_cancel_shutdownClick();

protected:
  void showEvent(QShowEvent* event) override;
  // Escape closes the window as "Cancel" does.
  void reject() override;

private:
  void FormShow();
  void ShutDownComputer();
  void ShowSnapshot();

  PowerOffRequest& Request;
  std::function<QImage()> Capture;
  QImage Snapshot;
  std::optional<std::string> RefusalText;
};

} // namespace quillo
