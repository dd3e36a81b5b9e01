// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SwitchLangForm.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>

#include "mainwindow/FormControls.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/Pictures.h"
#include "mainwindow/WindowTranslation.h"
#include "settings/TextEncoding.h"

namespace quillo {

namespace {
constexpr int kFontPointSize = 8;
constexpr int kControlFontPixels = 12;
// The description spans the window but for this margin on either side, so
// that every language's text has room.
constexpr int kDescLeft = 20;
constexpr int kWindowIconSize = 64;

QFont ArialPixels(bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(kControlFontPixels);
  font.setBold(bold);
  return font;
}
} // namespace

Tswitchlangform::Tswitchlangform(TMainForm& mainForm) : QDialog(&mainForm), MainForm(mainForm) {
  setObjectName(QStringLiteral("switchlangform"));
  setWindowTitle(QStringLiteral("Select Language"));
  setWindowIcon(PictureIcon(QStringLiteral("quillodefrag"), kWindowIconSize));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(QFont(QStringLiteral("Tahoma"), kFontPointSize));
  setFixedSize(kClientWidth, kClientHeight);

  desclabel = MakeLabel(this, "desclabel", QStringLiteral("Select the language of the program :"),
                        QRect(kDescLeft, 16, kClientWidth - 2 * kDescLeft, 15));
  desclabel->setFont(ArialPixels(true));
  FitHeightToFont(desclabel);
  okbtn = MakeButton(this, "okbtn", QStringLiteral("OK"), QRect(144, 72, 73, 25));
  okbtn->setFont(ArialPixels(false));
  LanBox = MakeDropDown(this, "LanBox", {}, QRect(64, 37, 153, 21));
  connect(okbtn, &QPushButton::clicked, this, &Tswitchlangform::okbtnClick);

  // Translated after the main window and the report window.
  MainForm.Language().AddTranslatedWindow([dialog = QPointer<Tswitchlangform>(this)] {
    if (dialog) dialog->Translate();
  });
  FormCreate();
}

void Tswitchlangform::FormCreate() {
  LanBox->setCurrentIndex(-1);
  MainForm.ApplyToWindow();
}

int Tswitchlangform::ShowModal() {
  CentreOnMainWindow();
  return exec();
}

void Tswitchlangform::CentreOnMainWindow() {
  QRect frame = frameGeometry();
  frame.moveCenter(MainForm.frameGeometry().center());
  move(frame.topLeft());
}

void Tswitchlangform::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A window coming back from the task bar is not a new showing.
  if (!event->spontaneous()) FormShow();
}

void Tswitchlangform::FormShow() {
  LanBox->clear();
  const TSetting& settings = *MainForm.Settings;
  int selected = -1;
  for (const std::string& name : settings.Translator.Names) {
    if (selected < 0 && EqualsIgnoringCase(name, settings.Language)) selected = LanBox->count();
    LanBox->addItem(QString::fromStdString(name));
  }
  LanBox->setCurrentIndex(selected);
}

void Tswitchlangform::okbtnClick() {
  const std::string chosen = LanBox->currentText().toStdString();
  if (!chosen.empty()) {
    MainForm.Settings->Language = chosen;
    MainForm.SaveAndApply();
  }
  close();
}

void Tswitchlangform::Translate() { WindowTranslation::Translate(MainForm.Language(), *this); }

} // namespace quillo
