// SPDX-License-Identifier: GPL-2.0-or-later
// Tswitchlangform: the small "Select Language" dialog. Created once at
// start, after the main window and the report window; its creation applies
// the settings to the windows for the first time in a run. The main
// window's header link "Language" shows it modally.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace quillo {

class TMainForm;

class Tswitchlangform final : public QDialog {
  Q_OBJECT

public:
  static constexpr int kClientWidth = 269;
  static constexpr int kClientHeight = 112;

  // Registers the dialog's translation after the windows registered so far,
  // then runs FormCreate. `mainForm` holds the settings, applies them and is
  // the window the dialog is centred on.
  explicit Tswitchlangform(TMainForm& mainForm);

  // Centred on the main window, modally; returns when it has been closed.
  int ShowModal();
  // Translates the dialog from the current language (section "switchlangform").
  void Translate();

  QLabel* desclabel;
  QPushButton* okbtn;
  QComboBox* LanBox;

  // Handlers.
  void FormCreate();
  void FormShow();
  void okbtnClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void CentreOnMainWindow();

  TMainForm& MainForm;
};

} // namespace quillo
