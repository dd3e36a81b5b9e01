// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/HeaderStrip.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "mainwindow/FormControls.h"
#include "mainwindow/Pictures.h"
#include "mainwindow/ProgramIdentity.h"

namespace quillo {

namespace {
constexpr int kTitlePixels = 22;
constexpr int kLinkTop = 5;
constexpr int kLinkHeight = 16;
// The second row of links, right-aligned under the first.
constexpr int kSecondRowGap = 4;
constexpr QRect kAboutPlace(628, kLinkTop + kLinkHeight + kSecondRowGap, 116, kLinkHeight);

void MakeWhite(QLabel* label) { label->setStyleSheet(QStringLiteral("color: white;")); }
} // namespace

HeaderStrip::HeaderStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("HeaderStrip"));
  setGeometry(0, 0, kWidth, kHeight);

  Image_Header = MakePicture(this, "Image_Header", Picture(QStringLiteral("header"), kWidth, kHeight),
                             QRect(0, 0, kWidth, kHeight));

  Label_ProgramName = MakeLabel(this, "Label_ProgramName", QString::fromUtf8(kProgramName),
                                QRect(70, 9, 260, 28));
  QFont title(QStringLiteral("Arial"));
  title.setPixelSize(kTitlePixels);
  title.setBold(true);
  Label_ProgramName->setFont(title);
  FitHeightToFont(Label_ProgramName);
  MakeWhite(Label_ProgramName);

  Label_Version = MakeLabel(this, "Label_Version", QString::fromUtf8(kProgramVersion),
                            QRect(72, 38, 120, 16));
  MakeWhite(Label_Version);

  LabelCheckUpdate = MakeLink(this, "LabelCheckUpdate", "Check for updates",
                              QRect(520, kLinkTop, 100, kLinkHeight));
  LabelLanguage = MakeLink(this, "LabelLanguage", "Language", QRect(628, kLinkTop, 56, kLinkHeight));
  LabelFeedBack = MakeLink(this, "LabelFeedBack", "Feedback", QRect(688, kLinkTop, 56, kLinkHeight));
  LabelAbout = MakeLink(this, "LabelAbout", "About", kAboutPlace);
  for (QLabel* link : {LabelCheckUpdate, LabelLanguage, LabelFeedBack, LabelAbout}) {
    MakeWhite(link);
    link->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Reached by Tab; framed while it has the focus.
    link->setFocusPolicy(Qt::StrongFocus);
    link->installEventFilter(this);
  }
}

bool HeaderStrip::eventFilter(QObject* watched, QEvent* event) {
  const bool clicked = event->type() == QEvent::MouseButtonRelease &&
                       static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
  const bool keyed = event->type() == QEvent::KeyPress &&
                     IsActivationKey(static_cast<QKeyEvent*>(event)->key());
  if (clicked || keyed) {
    if (watched == LabelCheckUpdate) emit LinkClicked(kCheckUpdate);
    if (watched == LabelLanguage) emit LinkClicked(kLanguage);
    if (watched == LabelFeedBack) emit LinkClicked(kFeedBack);
    if (watched == LabelAbout) emit LinkClicked(kAbout);
    if (keyed) return true;
  }
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    if (auto* link = qobject_cast<QLabel*>(watched))
      link->setFrameShape(event->type() == QEvent::FocusIn ? QFrame::Box : QFrame::NoFrame);
  }
  return QWidget::eventFilter(watched, event);
}

} // namespace quillo
