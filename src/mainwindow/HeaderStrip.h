// SPDX-License-Identifier: GPL-2.0-or-later
// The coloured strip at the top of the main window: the program's name and
// version and the header links.
#pragma once

#include <QLabel>
#include <QWidget>

namespace quillo {

class HeaderStrip final : public QWidget {
  Q_OBJECT

public:
  enum Link : int { kCheckUpdate = 0, kLanguage, kFeedBack, kAbout };
  static constexpr int kWidth = 748;
  static constexpr int kHeight = 66;

  explicit HeaderStrip(QWidget* parent);

  QLabel* Image_Header;
  QLabel* Label_ProgramName;
  QLabel* Label_Version;
  QLabel* LabelCheckUpdate;
  QLabel* LabelLanguage;
  QLabel* LabelFeedBack;
  // Under the row of the others: the About box.
  QLabel* LabelAbout;

signals:
  // A left click on one of the links, or Enter while it has the focus.
  void LinkClicked(int link);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace quillo
