// SPDX-License-Identifier: GPL-2.0-or-later
// The "About Quillo Defrag" box: the program's version, its licence and the
// libraries it runs on with their versions, as the running libraries report
// them. Shown from the header link and the tray menu; it does not block the
// main window.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace quillo {

class TLanguage;

class AboutForm final : public QDialog {
  Q_OBJECT

public:
  static constexpr int kClientWidth = 400;
  static constexpr int kClientHeight = 236;

  explicit AboutForm(QWidget* mainWindow);

  // Shown and brought up, centred on the main window when it is shown.
  void ShowOver(const QWidget& mainWindow);
  // Translates the box from the current language (section "AboutForm").
  void Translate(TLanguage& language);

  QLabel* Label_AboutName;
  QLabel* VersionTitle;
  QLabel* VersionValue;
  QLabel* LicenceTitle;
  QLabel* LicenceText;
  QLabel* LibrariesTitle;
  QLabel* QtTitle;
  QLabel* QtValue;
  QLabel* NtfsTitle;
  QLabel* NtfsValue;
  QLabel* CurlTitle;
  QLabel* CurlValue;
  QPushButton* okbtn;
};

} // namespace quillo
