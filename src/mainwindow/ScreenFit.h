// SPDX-License-Identifier: GPL-2.0-or-later
// Keeps a window of a fixed design size within the available area of its
// screen. Where the screen is smaller (a small screen, or a large scale
// factor), the window shrinks to the area and its content, which keeps its
// design size, scrolls; the window is moved so that its title bar and its
// bottom stay on the screen.
#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>

class QScreen;
class QScrollArea;
class QWidget;

namespace quillo {

class ScreenFit final : public QObject {
  Q_OBJECT

public:
  // `window` shows `area`, whose widget has the design size `content`.
  ScreenFit(QWidget& window, QScrollArea& area, QSize content);

  // The client size that shows `content` within `available` once the window
  // frame `frame` is added, with room for the scroll bars (`scrollBarExtent`
  // wide) that a clipped side needs.
  static QSize FittedClientSize(QSize content, const QRect& available, const QMargins& frame,
                                int scrollBarExtent);

  // Sizes and places the window for the screen it is on now.
  void Fit();
  // Gives the window back its fitted size, where it stands.
  void KeepSize();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FollowScreen(QScreen* screen);
  QMargins FrameMargins() const;

  QWidget& Window;
  QScrollArea& Area;
  QSize Content;
  QScreen* Followed = nullptr;
};

} // namespace quillo
