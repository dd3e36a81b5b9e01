// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the main window to PNG files: each page, the manual page after an
// analysis, while a "Defrag & Optimize" pass is paused and after it, and the
// report window as it opens by itself. The volumes are the command-line
// tool's in-memory demo volumes (C: NTFS, D: FAT32); nothing is written to
// any disk, and the settings live in a temporary folder.
//
//   quillo_mainwindow_screenshot [--output DIR] [--language NAME]
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>

#include "cli/DemoDisk.h"
#include "cli/DemoVolume.h"
#include "mainwindow/ProgramWindows.h"
#include "monitor/ProcActivityCounters.h"
#include "platform/LinuxHostFacts.h"
#include "platform/SystemClock.h"
#include "settings/Setting.h"

namespace quillo {
namespace {

constexpr auto kPatience = std::chrono::minutes(3);
// Samples of the activity graphs before the auto page is taken.
constexpr int kGraphSamples = 12;
constexpr int kPauseAtPercent = 40;

class StderrNotifier final : public UserNotifier {
public:
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
};

// The demo volumes as fixed drives.
class DemoCatalog final : public VolumeCatalog {
public:
  explicit DemoCatalog(Clock& clock) {
    Disks["C:\\"] = std::make_shared<DemoDisk>(BuildDemoVolume({"NTFS"}, "C:", clock.Now()), clock);
    Disks["D:\\"] = std::make_shared<DemoDisk>(BuildDemoVolume({"FAT32"}, "D:", clock.Now()), clock);
  }
  std::vector<std::string> LogicalDriveStrings() override {
    std::vector<std::string> roots;
    for (const auto& [root, disk] : Disks) roots.push_back(root);
    return roots;
  }
  uint32_t DriveType(const std::string& /*root*/) override { return kDriveFixed; }
  std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName, std::string& why) override {
    auto found = Disks.find(volumeName + "\\");
    if (found == Disks.end()) {
      why = "no such demo volume";
      return nullptr;
    }
    return found->second;
  }

private:
  std::map<std::string, std::shared_ptr<DemoDisk>> Disks;
};

// Runs the event loop until the condition holds.
bool RunUntil(const std::function<bool()>& condition) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (condition()) loop.quit();
  });
  look.start(10);
  QTimer::singleShot(kPatience, &loop, &QEventLoop::quit);
  if (!condition()) loop.exec();
  return condition();
}

bool Save(QWidget& window, const QDir& folder, const QString& name) {
  QString path = folder.filePath(name + QStringLiteral(".png"));
  bool saved = window.grab().save(path);
  std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

int Render(const QDir& output, const std::string& language) {
  QTemporaryDir home;
  // The log-on entry and the weekly task go to the temporary folder, and no
  // service manager is asked.
  setenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral("xdg")).toLocal8Bit().constData(), 1);
  setenv("JOBSCHED_SYSTEMCTL", "", 1);
  SystemClock clock;
  LinuxHostFacts host;
  ProcActivityCounters activity("/", host);
  DemoCatalog catalog(clock);
  StderrNotifier messages;
  FormServices services;
  services.Catalog = &catalog;
  services.SystemClock = &clock;
  services.Activity = &activity;
  services.Messages = &messages;
  services.AcLineStatus = [] { return uint8_t(255); };
  services.SettingsFile = QDir(home.path()).filePath(QStringLiteral("config.ini")).toStdString();
  services.LanguageFolder = QUILLO_LANGUAGE_DIR;
  {
    TSetting settings(services.SettingsFile, services.LanguageFolder);
    settings.Language = language;
    settings.Save();
  }

  ProgramWindows windows(services);
  TMainForm& form = windows.MainForm();
  if (!form.StartedWithVolumes()) return 1;
  form.show();
  ManualPage& page = *form.manualdefrag;
  TDefragThread& job = form.Volumes().Job(0);
  bool ok = true;

  // The report window opens by itself when a run ends: taken, then closed.
  int reports = 0;
  QTimer reportWatch;
  QObject::connect(&reportWatch, &QTimer::timeout, [&] {
    TReportForm& report = windows.ReportForm();
    if (!report.isVisible()) return;
    ++reports;
    ok &= Save(report, output, reports == 1 ? QStringLiteral("report-analyzed")
                                            : QStringLiteral("report-optimized"));
    report.CloseBtnClick();
  });
  reportWatch.start(200);

  ok &= Save(form, output, QStringLiteral("manual-idle"));
  page.ManuAnalyzeBtn->click();
  ok &= RunUntil([&] { return reports == 1 && !windows.ReportForm().isVisible(); });
  ok &= Save(form, output, QStringLiteral("manual-analyzed"));

  page.ComboBox_FastOrOptDefrag->setCurrentIndex(ManualPage::kMethodOptimize);
  page.ManuDefragBtn->click();
  ok &= RunUntil([&] {
    return job.State() == dsDefragging && job.Engine().Map->GetProgressBar() >= kPauseAtPercent;
  });
  page.ManuPauseBtn->click();
  form.RunStatusTick();
  ok &= Save(form, output, QStringLiteral("manual-paused"));
  page.ManuResumeBtn->click();
  ok &= RunUntil([&] { return reports == 2 && !windows.ReportForm().isVisible(); });
  form.RunStatusTick();
  ok &= Save(form, output, QStringLiteral("manual-optimized"));

  // The activity graphs fill once a second.
  form.SideBarTileClick(SideBar::kAutoDefrag);
  int samples = 0;
  QObject::connect(form.CpuTimer, &QTimer::timeout, [&] { ++samples; });
  ok &= RunUntil([&] { return samples >= kGraphSamples; });
  ok &= Save(form, output, QStringLiteral("auto-defrag"));
  form.ShowPage(SideBar::kSchedule);
  ok &= Save(form, output, QStringLiteral("schedule"));
  form.SideBarTileClick(SideBar::kOption);
  ok &= Save(form, output, QStringLiteral("options"));
  Tswitchlangform& chooser = windows.LanguageChooser();
  chooser.show();
  ok &= Save(chooser, output, QStringLiteral("language-chooser"));
  chooser.close();
  return ok ? 0 : 1;
}

} // namespace
} // namespace quillo

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption outputOption(QStringLiteral("output"), QStringLiteral("Folder of the PNG files."),
                                  QStringLiteral("dir"), QStringLiteral("screenshots"));
  parser.addOption(outputOption);
  QCommandLineOption languageOption(QStringLiteral("language"),
                                    QStringLiteral("Language of the windows."),
                                    QStringLiteral("name"), QStringLiteral("English"));
  parser.addOption(languageOption);
  parser.process(application);
  QDir output(parser.value(outputOption));
  if (!output.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(output.path()));
    return 1;
  }
  return quillo::Render(output, parser.value(languageOption).toStdString());
}
