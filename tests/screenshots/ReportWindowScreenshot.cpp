// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the report window to PNG files so that people can look at it
// without running a defragmentation: an NTFS volume after a fast pass (C:)
// and a FAT32 volume after an analysis (D:), both in memory.
//
//   quillo_report_screenshot [--output DIR] [--language NAME]
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>

#include "engine/DateTime.h"
#include "engine/FatDefrag.h"
#include "engine/MemoryVolume.h"
#include "engine/NtfsDefrag.h"
#include "platform/SystemClock.h"
#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportForm.h"
#include "reportwindow/ReportTab.h"

namespace quillo {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;
constexpr uint32_t kTotalClusters = 24000;
constexpr uint32_t kMftClusters = 64;
constexpr uint32_t kClusterBytes = 4096;

class StderrNotifier final : public UserNotifier {
public:
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
};

// Files of a few everyday folders, each cut into several runs spread over
// the volume, and a free run at the front that holds only some of them.
std::shared_ptr<MemoryVolume> BuildVolume(const std::string& fileSystem, const std::string& name,
                                          double daysOld, Clock& clock) {
  MemoryVolume::Options options;
  options.VolumeName = name;
  options.FileSystemName = fileSystem;
  options.TotalClusters = kTotalClusters;
  auto volume = std::make_shared<MemoryVolume>(options);
  if (fileSystem == "NTFS") {
    volume->Reserve(0, kMftClusters);
    volume->SetNtfsLayout(0, 0, 0, kMftClusters * kClusterBytes);
  }
  const uint64_t written = DateTimeToFileTime(clock.Now() - daysOld);
  const std::vector<std::pair<std::string, std::vector<std::string>>> folders = {
      {"Documents", {"Budget 2024.xlsx", "Thesis draft.docx", "Letter to the bank.odt",
                     "Holiday plans.pdf", "Recipes.txt"}},
      {"Music", {"Concerto in D.flac", "Evening Walk.mp3", "Long Night Mix.ogg"}},
      {"Pictures", {"IMG_2041.jpg", "IMG_2042.jpg", "Panorama harbour.png", "Scan 0007.tif"}},
      {"Projects", {"quillo-src.tar.gz", "build.log", "notes.md"}},
      {"Videos", {"Birthday.mp4", "Lecture 3 recording.mkv"}},
  };
  uint32_t next = 6000;
  uint32_t seed = 7;
  for (const auto& [folder, files] : folders) {
    const uint32_t directory = volume->AddDirectory(kRoot, folder, written);
    for (const std::string& file : files) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t pieces = 2 + (seed >> 16) % 9;
      const uint32_t pieceLength = 4 + (seed >> 8) % 60;
      std::vector<MemoryRun> runs;
      for (uint32_t i = 0; i < pieces; ++i) {
        runs.push_back({int64_t(next), pieceLength});
        next += pieceLength + 3 + i % 5;
      }
      volume->AddFile(directory, file, runs, uint64_t(pieces) * pieceLength * kClusterBytes,
                      written);
    }
  }
  // Free: 1200 clusters at the front and the gaps between the pieces.
  for (uint32_t lcn = kMftClusters; lcn < kTotalClusters; ++lcn) {
    const bool keepFree = (lcn >= 200 && lcn < 1400) || (lcn >= 6000 && lcn < next);
    if (!keepFree && !volume->IsAllocated(lcn)) volume->Reserve(lcn, 1);
  }
  return volume;
}

struct ScreenshotVolume {
  std::shared_ptr<MemoryVolume> Volume;
  std::unique_ptr<TDefrag> Engine;
};

int Run(QApplication& application) {
  QCommandLineParser parser;
  parser.setApplicationDescription("Renders the report window to PNG files.");
  parser.addHelpOption();
  const QCommandLineOption output({"o", "output"}, "Folder for the pictures.", "dir", "screenshots");
  const QCommandLineOption language({"l", "language"}, "Language file name.", "name", "English");
  parser.addOption(output);
  parser.addOption(language);
  parser.process(application);

  SystemClock clock;
  InlineDispatcher dispatcher;
  StderrNotifier notifier;
  const EngineServices services{clock, dispatcher, notifier};

  ScreenshotVolume c{BuildVolume("NTFS", "C:", 40, clock), nullptr};
  c.Engine = std::make_unique<TNtfsDefrag>("c:", c.Volume, services);
  c.Engine->Analyze(dmFast);
  c.Engine->State = dsDefragging;
  c.Engine->Defrag(dmFast);
  ScreenshotVolume d{BuildVolume("FAT32", "D:", 12, clock), nullptr};
  d.Engine = std::make_unique<TFatDefrag>("d:", d.Volume, services);
  d.Engine->Analyze(dmFast);

  QTemporaryDir configuration;
  TSetting settings(configuration.filePath("config.ini").toStdString(), QUILLO_LANGUAGE_DIR);
  settings.Translator.Current = parser.value(language).toStdString();
  TReportForm form(settings, clock);
  form.SetVolumeSource([&] {
    return std::vector<ReportVolume>{{c.Engine->Report.get(), c.Engine->State.load()},
                                     {d.Engine->Report.get(), d.Engine->State.load()}};
  });
  form.show();
  QApplication::processEvents();

  const QDir folder(parser.value(output));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "Cannot create %s\n", qPrintable(folder.path()));
    return 1;
  }
  for (int i = 0; i < form.ReportPages->count(); ++i) {
    form.ReportPages->setCurrentIndex(i);
    QApplication::processEvents();
    const QString letter = form.ReportPages->tabText(i).left(1);
    const QString file = folder.filePath(QStringLiteral("report-%1.png").arg(letter));
    if (!form.grab().save(file)) {
      std::fprintf(stderr, "Cannot write %s\n", qPrintable(file));
      return 1;
    }
    std::printf("%s\n", qPrintable(file));
  }
  form.close();
  return 0;
}

} // namespace
} // namespace quillo

// Fontconfig and D-Bus keep small caches for the life of the process; they
// are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  return quillo::Run(application);
}
