// SPDX-License-Identifier: GPL-2.0-or-later
// The window's analysis of an image against qdefrag's, in alternating rounds:
//
//   quillo_window_bench --qdefrag PATH --image PATH [--rounds N]
//
// A window round builds the program's windows as the program does, on a
// configuration folder of its own whose drives.ini names the image as C:,
// without a display (the offscreen platform), clicks Analyze on the manual
// page and waits until the job has parked with its analysis. It is timed
// from the click ("click") and from before the windows are built ("start",
// which includes building them and opening the volume). A qdefrag round
// runs `qdefrag analyze --quiet IMAGE` as a process. Prints the medians, the
// ratios against qdefrag and the load average.
#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mainwindow/MainForm.h"
#include "mainwindow/ManualPage.h"
#include "mainwindow/ProgramWindows.h"
#include "mainwindow/SystemServices.h"
#include "mainwindow/VolumeList.h"

namespace quillo {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDefaultRounds = 5;
constexpr auto kRoundLimit = std::chrono::minutes(10);
constexpr int kPumpMilliseconds = 1;

double Seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string line;
  std::getline(in, line);
  return line;
}

struct WindowTimes {
  double FromStart = -1;
  double FromClick = -1;
};

WindowTimes TimeWindow(const std::string& image) {
  QTemporaryDir home;
  std::ofstream(home.filePath("drives.ini").toStdString()) << "[drives]\nC=" << image << "\n";
  qputenv("QUILLODEFRAG_HOME", home.path().toLocal8Bit());
  WindowTimes times;
  Clock::time_point start = Clock::now();
  SystemServices system({});
  ProgramWindows windows(system.Services());
  TMainForm& form = windows.MainForm();
  if (!form.StartedWithVolumes() || form.Volumes().Count() != 1) {
    std::fprintf(stderr, "window_bench: the window did not list the image as its one volume\n");
    return times;
  }
  form.show();
  Clock::time_point click = Clock::now();
  form.manualdefrag->ManuAnalyzeBtn->click();
  auto analysed = [&] {
    TDefragThread& job = form.Volumes().Job(0);
    return job.State() == dsAnalyzed && job.IsParked();
  };
  while (!analysed()) {
    if (Clock::now() - click > kRoundLimit) {
      std::fprintf(stderr, "window_bench: no analysis within the round's limit\n");
      return times;
    }
    QApplication::processEvents(QEventLoop::AllEvents, kPumpMilliseconds);
  }
  Clock::time_point done = Clock::now();
  times.FromStart = Seconds(done - start);
  times.FromClick = Seconds(done - click);
  return times;
}

double TimeQdefrag(const std::string& qdefrag, const std::string& image) {
  QTemporaryDir home;
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QUILLODEFRAG_HOME"), home.path());
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.setStandardOutputFile(QProcess::nullDevice());
  Clock::time_point start = Clock::now();
  process.start(QString::fromStdString(qdefrag),
                {QStringLiteral("analyze"), QStringLiteral("--quiet"), QString::fromStdString(image)});
  if (!process.waitForFinished(int(std::chrono::milliseconds(kRoundLimit).count())) ||
      process.exitCode() != 0) {
    std::fprintf(stderr, "window_bench: qdefrag analyze failed (%d)\n", process.exitCode());
    return -1;
  }
  return Seconds(Clock::now() - start);
}

} // namespace
} // namespace quillo

int main(int argc, char** argv) {
  using namespace quillo;
  std::string qdefrag;
  std::string image;
  int rounds = kDefaultRounds;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--qdefrag") qdefrag = argv[i + 1];
    else if (name == "--image") image = argv[i + 1];
    else if (name == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  if (qdefrag.empty() || image.empty()) {
    std::fprintf(stderr, "usage: quillo_window_bench --qdefrag PATH --image PATH [--rounds N]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::printf("load average at start: %s\n", LoadAverage().c_str());

  // Once each untimed, so that both read the image from the page cache.
  TimeQdefrag(qdefrag, image);
  TimeWindow(image);
  std::vector<double> cli;
  std::vector<double> fromStart;
  std::vector<double> fromClick;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first.
    auto runCli = [&] { cli.push_back(TimeQdefrag(qdefrag, image)); };
    auto runWindow = [&] {
      WindowTimes times = TimeWindow(image);
      fromStart.push_back(times.FromStart);
      fromClick.push_back(times.FromClick);
    };
    if (round % 2 == 0) {
      runCli();
      runWindow();
    } else {
      runWindow();
      runCli();
    }
  }
  for (double value : cli)
    if (value < 0) return 1;
  for (double value : fromClick)
    if (value < 0) return 1;
  double cliMedian = Median(cli);
  std::printf("%s, %d rounds\n", image.c_str(), rounds);
  std::printf("  qdefrag analyze --quiet (process)   median %7.3f s\n", cliMedian);
  std::printf("  window, Analyze clicked to analysed median %7.3f s  ratio %.2f  target <= 1.10\n",
              Median(fromClick), Median(fromClick) / cliMedian);
  std::printf("  window, built to analysed           median %7.3f s  ratio %.2f\n", Median(fromStart),
              Median(fromStart) / cliMedian);
  std::printf("load average at end: %s\n", LoadAverage().c_str());
  return 0;
}
