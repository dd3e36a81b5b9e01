// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ScreenFit.h"

#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace quillo {

ScreenFit::ScreenFit(QWidget& window, QScrollArea& area, QSize content)
    : QObject(&window), Window(window), Area(area), Content(content) {
  Window.installEventFilter(this);
  Fit();
}

QSize ScreenFit::FittedClientSize(QSize content, const QRect& available, const QMargins& frame,
                                  int scrollBarExtent) {
  const int roomWidth = available.width() - frame.left() - frame.right();
  const int roomHeight = available.height() - frame.top() - frame.bottom();
  bool scrollsAcross = content.width() > roomWidth;
  bool scrollsDown = content.height() > roomHeight;
  // A scroll bar on one side takes room from the other.
  if (scrollsDown && content.width() + scrollBarExtent > roomWidth) scrollsAcross = true;
  if (scrollsAcross && content.height() + scrollBarExtent > roomHeight) scrollsDown = true;
  const int width = std::min(content.width() + (scrollsDown ? scrollBarExtent : 0), roomWidth);
  const int height = std::min(content.height() + (scrollsAcross ? scrollBarExtent : 0), roomHeight);
  return {width, height};
}

QMargins ScreenFit::FrameMargins() const {
  QMargins frame;
  if (const QWindow* handle = Window.windowHandle()) frame = handle->frameMargins();
  // Before the window manager has framed the window its frame is unknown:
  // count a title bar at least.
  const int titleBar = Window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &Window);
  frame.setTop(std::max(frame.top(), titleBar));
  return frame;
}

void ScreenFit::KeepSize() {
  const QScreen* screen = Window.screen();
  if (screen == nullptr) return;
  const int scrollBarExtent = Window.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &Area);
  const QSize client =
      FittedClientSize(Content, screen->availableGeometry(), FrameMargins(), scrollBarExtent);
  if (Window.size() != client || Window.minimumSize() != client || Window.maximumSize() != client)
    Window.setFixedSize(client);
  if (Area.geometry() != QRect(QPoint(0, 0), client)) Area.setGeometry(0, 0, client.width(), client.height());
}

void ScreenFit::Fit() {
  QScreen* screen = Window.screen();
  if (screen == nullptr) return;
  FollowScreen(screen);
  KeepSize();
  const QRect available = screen->availableGeometry();
  const QMargins frame = FrameMargins();
  const QSize client = Window.size();

  // Title bar and bottom on the screen.
  const QRect outer(Window.pos(), client.grownBy(frame));
  const int left = std::clamp(outer.left(), available.left(),
                              std::max(available.left(), available.right() + 1 - outer.width()));
  const int top = std::clamp(outer.top(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - outer.height()));
  if (QPoint(left, top) != outer.topLeft()) Window.move(left, top);
}

void ScreenFit::FollowScreen(QScreen* screen) {
  if (screen == Followed) return;
  if (Followed != nullptr) disconnect(Followed, nullptr, this, nullptr);
  Followed = screen;
  connect(screen, &QScreen::availableGeometryChanged, this, &ScreenFit::Fit);
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event) {
  // Shown, or moved to another screen.
  if (watched == &Window && (event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal))
    Fit();
  return QObject::eventFilter(watched, event);
}

} // namespace quillo
