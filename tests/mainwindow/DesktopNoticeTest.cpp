// SPDX-License-Identifier: GPL-2.0-or-later
// The end of a run the user started is told on the desktop when the window
// is out of sight: one notice through the freedesktop notification service,
// heard here by a stand-in service on a bus of the test's own.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

#include "PrivateSessionBus.h"
#include "WindowTestSupport.h"
#include "mainwindow/DesktopNotifications.h"

namespace quillo::test {

// What a desktop's notification service hears of Notify.
class NotificationStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  struct Notice {
    QString Application;
    QString Icon;
    QString Summary;
    QString Body;
  };
  QList<Notice> Heard;

public slots:
  uint Notify(const QString& application, uint /*replaces*/, const QString& icon,
              const QString& summary, const QString& body, const QStringList& /*actions*/,
              const QVariantMap& /*hints*/, int /*timeout*/) {
    Heard.push_back({application, icon, summary, body});
    return uint(Heard.size());
  }
};

namespace {

constexpr const char* kWindowConnection = "quillo-notice-window";
constexpr const char* kServiceConnection = "quillo-notice-service";
// Sent after the run through the window's own connection: the bus keeps the
// order of one sender's messages, so once it is heard anything the window
// sent before it has been heard too.
const QString kMarker = QStringLiteral("marker");

enum class Start { Analyze, Go, GoOptimize, Schedule };
enum class Sight { Hidden, Minimised, Shown };

struct Case {
  const char* Name;
  Start How;
  Sight Where;
  const char* Language;
  // Empty: no notice.
  QString Summary;
  std::function<QString(const TDefragReport&)> Body;
};

TEST(DesktopNotice, OneNoticePerRunStartedByHandWhileOutOfSightAndNoneOtherwise) {
  PrivateSessionBus bus;
  ASSERT_FALSE(bus.Address.isEmpty()) << "no dbus-daemon";
  QDBusConnection service =
      QDBusConnection::connectToBus(bus.Address, QString::fromLatin1(kServiceConnection));
  ASSERT_TRUE(service.isConnected());
  NotificationStandIn standIn;
  ASSERT_TRUE(service.registerObject(QString::fromLatin1(DesktopNotifications::kPath), &standIn,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService(QString::fromLatin1(DesktopNotifications::kService)));

  auto analysed = [](const TDefragReport& report) {
    return QStringLiteral("%1 files and directories, %2 of them fragmented")
        .arg(report.FileCount + report.DirCount)
        .arg(report.FragmentedFileCount + report.FragmentedDirCount);
  };
  auto joined = [](const TDefragReport&) {
    return QStringLiteral("3 files and directories defragmented");
  };
  auto optimised = [](const TDefragReport& report) {
    return QStringLiteral("%1 files and directories defragmented")
        .arg(report.DefraggedFileCount + report.DefraggedDirCount);
  };
  auto german = [](const TDefragReport& report) {
    return QStringLiteral("%1 Dateien und Ordner, davon %2 fragmentiert")
        .arg(report.FileCount + report.DirCount)
        .arg(report.FragmentedFileCount + report.FragmentedDirCount);
  };
  const Case cases[] = {
      {"analysis, hidden", Start::Analyze, Sight::Hidden, "English", "Analysis of C: finished",
       analysed},
      {"defrag, hidden", Start::Go, Sight::Hidden, "English", "Defragmentation of C: finished",
       joined},
      {"defrag and optimize, hidden", Start::GoOptimize, Sight::Hidden, "English",
       "Defragmentation and optimization of C: finished", optimised},
      {"defrag, minimised", Start::Go, Sight::Minimised, "English",
       "Defragmentation of C: finished", joined},
      {"analysis, hidden, German", Start::Analyze, Sight::Hidden, "Deutsch",
       "Analyse von C: abgeschlossen", german},
      {"analysis, shown", Start::Analyze, Sight::Shown, "English", {}, {}},
      {"defrag, shown", Start::Go, Sight::Shown, "English", {}, {}},
      {"scheduled, hidden", Start::Schedule, Sight::Hidden, "English", {}, {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Name);
    standIn.Heard.clear();
    FormRig rig;
    rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    rig.DesktopBus = [&bus] {
      return QDBusConnection::connectToBus(bus.Address, QString::fromLatin1(kWindowConnection));
    };
    rig.EditSettings([&](TSetting& settings) {
      settings.Language = test.Language;
      settings.scheduledisk = "C";
    });
    if (test.How == Start::Schedule) rig.Arguments = {"/Schedule"};
    std::unique_ptr<TMainForm> form = rig.Create();
    ASSERT_TRUE(form->StartedWithVolumes());
    // The chosen language, as the language chooser's creation applies it.
    form->ApplyToWindow();
    if (test.Where == Sight::Shown) form->show();
    if (test.Where == Sight::Minimised) form->showMinimized();
    TDefragThread& job = form->Volumes().Job(0);
    if (test.How == Start::Analyze) form->manualdefrag->ManuAnalyzeBtn->click();
    if (test.How == Start::GoOptimize)
      form->manualdefrag->ComboBox_FastOrOptDefrag->setCurrentIndex(ManualPage::kMethodOptimize);
    if (test.How == Start::Go || test.How == Start::GoOptimize)
      form->manualdefrag->ManuDefragBtn->click();
    const uint8_t done = test.How == Start::Analyze ? dsAnalyzed : dsDefragged;
    // Finished, and the tick that takes the completion has run.
    ASSERT_TRUE(PumpUntil([&] { return job.State() == done && job.IsParked(); }));
    form->RunStatusTick();
    form->RunStatusTick();

    DesktopNotifications marker(QDBusConnection(QString::fromLatin1(kWindowConnection)));
    marker.Notify(kMarker, kMarker);
    ASSERT_TRUE(PumpUntil(
        [&] { return !standIn.Heard.isEmpty() && standIn.Heard.back().Summary == kMarker; }));
    standIn.Heard.pop_back();
    if (test.Summary.isEmpty()) {
      EXPECT_TRUE(standIn.Heard.isEmpty()) << standIn.Heard.front().Summary.toStdString();
    } else {
      ASSERT_EQ(standIn.Heard.size(), 1);
      const NotificationStandIn::Notice& notice = standIn.Heard.front();
      EXPECT_EQ(notice.Application, "Quillo Defrag");
      EXPECT_EQ(notice.Icon, "quillodefrag");
      EXPECT_EQ(notice.Summary, test.Summary);
      EXPECT_EQ(notice.Body, test.Body(*job.Engine().Report));
    }
    form.reset();
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kWindowConnection));
  }
  service.unregisterService(QString::fromLatin1(DesktopNotifications::kService));
  QDBusConnection::disconnectFromBus(QString::fromLatin1(kServiceConnection));
}

} // namespace
} // namespace quillo::test

#include "DesktopNoticeTest.moc"
