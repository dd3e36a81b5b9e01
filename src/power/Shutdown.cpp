// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/Shutdown.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QShowEvent>

#include "mainwindow/FormControls.h"
#include "power/FadeToGrey.h"
#include "power/ScreenCapture.h"

namespace quillo {

namespace {

constexpr const char* kCaption = "shutdown";
constexpr const char* kTitleText = "Corvana QuilloDefrag - Auto Shutdown";
constexpr const char* kCancelText = "Cancel";
constexpr int kBorder = 1;
const QRect kCaptionBounds(8, 16, 287, 20);
constexpr int kCaptionPixels = 16;
const QRect kCountdownBounds(0, 56, 313, 97);
constexpr int kCountdownPixels = 85;
const QRect kCancelBounds(240, 168, 57, 17);
// The panel's background picture: a dark blue wash.
const QColor kPanelTop(24, 52, 104);
const QColor kPanelBottom(8, 20, 48);

QPixmap PanelBackground(QSize size) {
  QPixmap picture(size);
  QPainter painter(&picture);
  QLinearGradient wash(0, 0, 0, size.height());
  wash.setColorAt(0, kPanelTop);
  wash.setColorAt(1, kPanelBottom);
  painter.fillRect(picture.rect(), wash);
  return picture;
}

void MakeTransparent(QLabel* label) {
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setAutoFillBackground(false);
}

} // namespace

TShutdown::TShutdown(PowerOffRequest& request, std::function<QImage()> capture, QWidget* parent)
    : QDialog(parent), Request(request), Capture(std::move(capture)) {
  setObjectName(QStringLiteral("shutdown"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  if (!Capture) Capture = CaptureScreen;

  // Declared order; the panel is raised above the desktop picture below.
  Panel_shutdown = new QFrame(this);
  Panel_shutdown->setObjectName(QStringLiteral("Panel_shutdown"));
  Panel_shutdown->setFrameStyle(QFrame::Box | QFrame::Plain);
  Panel_shutdown->setLineWidth(kBorder);
  Panel_shutdown->resize(kPanelWidth, kPanelHeight);

  Image_shutdown = new QLabel(Panel_shutdown);
  Image_shutdown->setObjectName(QStringLiteral("Image_shutdown"));
  Image_shutdown->setGeometry(kBorder, kBorder, kPanelWidth - 2 * kBorder, kPanelHeight - 2 * kBorder);
  Image_shutdown->setPixmap(PanelBackground(Image_shutdown->size()));

  Label_caption = new QLabel(QString::fromLatin1(kTitleText), Panel_shutdown);
  Label_caption->setObjectName(QStringLiteral("Label_caption"));
  Label_caption->setGeometry(kCaptionBounds);
  MakeTransparent(Label_caption);
  QFont captionFont = Label_caption->font();
  captionFont.setBold(true);
  captionFont.setPixelSize(kCaptionPixels);
  Label_caption->setFont(captionFont);
  FitFontToWidth(Label_caption);
  Label_caption->setStyleSheet(QStringLiteral("color: white;"));

  Image_screen_snap = new QLabel(this);
  Image_screen_snap->setObjectName(QStringLiteral("Image_screen_snap"));
  Image_screen_snap->move(0, 0);

  Timer_shutdown = new QTimer(this);
  Timer_shutdown->setObjectName(QStringLiteral("Timer_shutdown"));
  Timer_shutdown->setInterval(kTimerInterval);
  connect(Timer_shutdown, &QTimer::timeout, this, &TShutdown::Timer_shutdownTimer);

  Label_countdown = new QLabel(QString::number(kCountdownSeconds), Panel_shutdown);
  Label_countdown->setObjectName(QStringLiteral("Label_countdown"));
  Label_countdown->setGeometry(kCountdownBounds);
  Label_countdown->setAlignment(Qt::AlignCenter);
  MakeTransparent(Label_countdown);
  QFont countdownFont(QStringLiteral("Arial"));
  countdownFont.setBold(true);
  countdownFont.setPixelSize(kCountdownPixels);
  Label_countdown->setFont(countdownFont);
  FitHeightToFont(Label_countdown);
  Label_countdown->setStyleSheet(QStringLiteral("color: red;"));

  Button_cancel_shutdown = new QPushButton(QString::fromLatin1(kCancelText), Panel_shutdown);
  Button_cancel_shutdown->setObjectName(QStringLiteral("Button_cancel_shutdown"));
  Button_cancel_shutdown->setGeometry(kCancelBounds);
  connect(Button_cancel_shutdown, &QPushButton::clicked, this, &TShutdown::Button_cancel_shutdownClick);

  Panel_shutdown->raise();
}

std::optional<std::string> TShutdown::ShowModal() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
  setWindowState(windowState() | Qt::WindowMaximized);
  exec();
  return RefusalText;
}

void TShutdown::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Coming back from another window is no new showing.
  if (!event->spontaneous()) FormShow();
}

void TShutdown::FormShow() {
  SecondsLeft = kCountdownSeconds;
  RefusalText.reset();
  Label_countdown->setText(QString::number(kCountdownSeconds));
  Snapshot = Capture();
  ShowSnapshot();
  Image_screen_snap->resize(Snapshot.size());
  QScreen* screen = QGuiApplication::primaryScreen();
  QSize screenSize = screen ? screen->geometry().size() : size();
  Panel_shutdown->move((screenSize.width() - kPanelWidth) / 2, (screenSize.height() - kPanelHeight) / 2);
  Timer_shutdown->start();
}

void TShutdown::ShowSnapshot() { Image_screen_snap->setPixmap(QPixmap::fromImage(Snapshot)); }

void TShutdown::Timer_shutdownTimer() {
  // Only the running countdown steps; the request is made once.
  if (SecondsLeft <= 0) return;
  --SecondsLeft;
  Label_countdown->setText(QString::number(SecondsLeft));
  if (SecondsLeft == 0) {
    Timer_shutdown->stop();
    ShutDownComputer();
  }
  if (SecondsLeft >= kCountdownSeconds - kFadeSteps) {
    FadeToGrey(Snapshot, kCountdownSeconds - SecondsLeft);
    ShowSnapshot();
  }
}

// A refusal ends the countdown: the window closes and the caller shows why,
// rather than leaving a screen stuck at 0.
void TShutdown::ShutDownComputer() {
  if (Request.RequestPowerOff()) return;
  RefusalText = Request.RefusalReason();
  QDialog::reject();
}

void TShutdown::Button_cancel_shutdownClick() {
  Timer_shutdown->stop();
  QDialog::reject();
}

void TShutdown::reject() { Button_cancel_shutdownClick(); }

} // namespace quillo
