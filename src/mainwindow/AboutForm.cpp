// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/AboutForm.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtGlobal>

#include "mainwindow/FormControls.h"
#include "mainwindow/Pictures.h"
#include "mainwindow/ProgramIdentity.h"
#include "mainwindow/StatusTexts.h"
#include "mainwindow/WindowTranslation.h"
#include "platform/ntfs/NtfsLibraryVersion.h"
#include "settings/Language.h"
#include "settings/MessageText.h"
#include "update/FetchLibraryVersion.h"

namespace quillo {

namespace {
constexpr int kFontPixels = 11;
constexpr int kNamePixels = 18;
constexpr int kWindowIconSize = 64;
constexpr int kMargin = 16;
constexpr int kTitleWidth = 110;
constexpr int kValueLeft = kMargin + kTitleWidth + 6;
constexpr int kValueWidth = AboutForm::kClientWidth - kValueLeft - kMargin;
constexpr int kLineHeight = 18;
constexpr int kLibraryIndent = 12;
constexpr QSize kButtonSize(75, 25);
constexpr int kBottomMargin = 12;

QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("DejaVu Sans")});
  font.setPixelSize(kFontPixels);
  return font;
}

QRect TitleAt(int top, int indent = 0) {
  return QRect(kMargin + indent, top, kTitleWidth - indent, kLineHeight);
}
// The running Qt and the one the program was built with may differ.
QString QtVersionText(const std::string& pattern) {
  const std::string running = FormatWithText(pattern, qVersion());
  return QString::fromStdString(FormatWithText(running, QT_VERSION_STR));
}

QRect ValueAt(int top, int lines = 1) {
  return QRect(kValueLeft, top, kValueWidth, kLineHeight * lines);
}
} // namespace

AboutForm::AboutForm(QWidget* mainWindow) : QDialog(mainWindow) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About Quillo Defrag"));
  setWindowIcon(PictureIcon(QStringLiteral("quillodefrag"), kWindowIconSize));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  setFixedSize(kClientWidth, kClientHeight);

  Label_AboutName = MakeLabel(this, "Label_AboutName", QString::fromUtf8(kProgramName),
                              QRect(kMargin, 12, kClientWidth - 2 * kMargin, 26));
  QFont name = WindowFont();
  name.setPixelSize(kNamePixels);
  name.setBold(true);
  Label_AboutName->setFont(name);
  FitHeightToFont(Label_AboutName);

  int top = 48;
  VersionTitle = MakeLabel(this, "VersionTitle", QStringLiteral("Version:"), TitleAt(top));
  VersionValue = MakeLabel(this, "VersionValue", QStringLiteral(QUILLO_VERSION), ValueAt(top));
  top += kLineHeight + 4;
  LicenceTitle = MakeLabel(this, "LicenceTitle", QStringLiteral("Licence:"), TitleAt(top));
  LicenceText =
      MakeLabel(this, "LicenceText",
                QStringLiteral("GNU General Public License, version 2 or later"), ValueAt(top, 2));
  LicenceText->setWordWrap(true);
  LicenceText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  top += 2 * kLineHeight + 6;
  // A heading over the libraries, as wide as the box.
  LibrariesTitle = MakeLabel(this, "LibrariesTitle", QStringLiteral("Libraries used:"),
                             QRect(kMargin, top, kClientWidth - 2 * kMargin, kLineHeight));
  top += kLineHeight;
  // The libraries' names are their own and never translated.
  QtTitle = MakeLabel(this, "QtTitle", QStringLiteral("Qt"), TitleAt(top, kLibraryIndent));
  QtValue = MakeLabel(this, "QtValue", QtVersionText(std::string(messages::kBuiltWith.Default)),
                      ValueAt(top));
  top += kLineHeight;
  NtfsTitle =
      MakeLabel(this, "NtfsTitle", QStringLiteral("libntfs-3g"), TitleAt(top, kLibraryIndent));
  NtfsValue =
      MakeLabel(this, "NtfsValue", QString::fromStdString(NtfsLibraryVersion()), ValueAt(top));
  top += kLineHeight;
  CurlTitle = MakeLabel(this, "CurlTitle", QStringLiteral("libcurl"), TitleAt(top, kLibraryIndent));
  CurlValue =
      MakeLabel(this, "CurlValue", QString::fromStdString(FetchLibraryVersion()), ValueAt(top));
  for (QLabel* value : {VersionValue, NtfsValue, CurlValue, QtValue})
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);

  okbtn = MakeButton(this, "okbtn", QStringLiteral("OK"),
                     QRect(QPoint(kClientWidth - kMargin - kButtonSize.width(),
                                  kClientHeight - kBottomMargin - kButtonSize.height()),
                           kButtonSize));
  okbtn->setDefault(true);
  connect(okbtn, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutForm::ShowOver(const QWidget& mainWindow) {
  QRect frame = frameGeometry();
  if (mainWindow.isVisible())
    frame.moveCenter(mainWindow.frameGeometry().center());
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
  show();
  raise();
  activateWindow();
  okbtn->setFocus(Qt::OtherFocusReason);
}

void AboutForm::Translate(TLanguage& language) {
  WindowTranslation::Translate(language, *this);
  QtValue->setText(QtVersionText(language.Lookup(messages::kBuiltWith)));
}

} // namespace quillo
