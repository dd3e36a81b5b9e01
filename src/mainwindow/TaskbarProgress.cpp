// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/TaskbarProgress.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

namespace quillo {

namespace {
constexpr double kPercent = 100.0;
}

TaskbarProgress::TaskbarProgress(QWidget& window, QDBusConnection bus)
    : Window(window), Bus(std::move(bus)) {}

QString TaskbarProgress::TitleWith(int percent, const QString& restingTitle) {
  return QStringLiteral("%1 % \u2013 %2").arg(percent).arg(restingTitle);
}

void TaskbarProgress::Show(std::optional<int> percent, const QString& restingTitle) {
  const QString title = percent ? TitleWith(*percent, restingTitle) : restingTitle;
  if (Window.windowTitle() != title) Window.setWindowTitle(title);
  // The dock hears of changes only; at rest it is told once that the bar is
  // gone.
  if (percent == Shown && EverShown) return;
  if (!percent && !Shown) return;
  Shown = percent;
  EverShown = true;
  SendEntryUpdate(percent);
}

void TaskbarProgress::SendEntryUpdate(std::optional<int> percent) {
  if (!Bus.isConnected()) return;
  QDBusMessage update = QDBusMessage::createSignal(QString::fromLatin1(kEntryPath),
                                                   QString::fromLatin1(kEntryInterface),
                                                   QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"), percent ? *percent / kPercent : 0.0);
  properties.insert(QStringLiteral("progress-visible"), percent.has_value());
  update << QString::fromLatin1(kDesktopEntry) << properties;
  Bus.send(update);
}

} // namespace quillo
