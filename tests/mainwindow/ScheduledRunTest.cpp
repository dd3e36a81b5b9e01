// SPDX-License-Identifier: GPL-2.0-or-later
// A scheduled start on FAT32 fixture images: the window started with
// "/Schedule" defragments the scheduled volumes and leaves the others alone.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>

#include "FixtureWorld.h"
#include "WindowTestSupport.h"
#include "mainwindow/DriveTableCatalog.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

QByteArray Digest(const fs::path& file) {
  QFile image(QString::fromStdString(file.string()));
  if (!image.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&image);
  return hash.result();
}

TEST(ScheduledRunTest, ScheduledStartDefragmentsExactlyTheScheduledVolumes) {
  FixtureWorld world;
  const fs::path manifest = world.Dir.Path() / "fat32.manifest";
  const fs::path imageC = world.Dir.Path() / "c.img";
  const fs::path imageD = world.Dir.Path() / "d.img";
  ASSERT_TRUE(MakeSmallFixture(imageC, manifest));
  // Two volumes alike, fragmented the same way.
  fs::copy_file(imageC, imageD);
  const QByteArray before = Digest(imageC);
  ASSERT_FALSE(before.isEmpty());
  world.WriteDrives("C=" + imageC.string() + "\nD=" + imageD.string() + "\n");

  FormRig rig;
  rig.EditSettings([](TSetting& settings) {
    settings.scheduledisk = "d"; // letters match without regard to case
    settings.IsOptDefrag_Task = true;
  });
  rig.Arguments = {"/Schedule"};
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  auto form = std::make_unique<TMainForm>(services);
  ASSERT_TRUE(form->StartedWithVolumes());
  ASSERT_EQ(form->Volumes().Count(), 2);
  ASSERT_EQ(form->Volumes().Letter(1), 'D');

  TDefragThread& jobC = form->Volumes().Job(0);
  TDefragThread& jobD = form->Volumes().Job(1);
  EXPECT_EQ(int(jobD.Mode()), int(dmOptimize));
  const size_t d = size_t(TSetting::DriveIndex('D'));
  ASSERT_TRUE(PumpUntil([&] { return form->Settings->LastOptimizeTime[d] != 0; }));
  EXPECT_EQ(int(jobD.State()), int(dsDefragged));
  EXPECT_EQ(int(jobC.State()), int(dsIdle));
  // Started in the tray: no report window comes up by itself.
  EXPECT_EQ(rig.Reports.Openings, 0);
  std::unique_ptr<TSetting> stored = rig.StoredSettings();
  EXPECT_NE(stored->LastOptimizeTime[d], 0);
  EXPECT_EQ(stored->LastOptimizeTime[size_t(TSetting::DriveIndex('C'))], 0);
  EXPECT_EQ(stored->LastDefragTime[size_t(TSetting::DriveIndex('C'))], 0);
  form.reset();

  // C: is byte for byte as it was; D: was worked on and is sound, every
  // file reading back as written.
  EXPECT_EQ(Digest(imageC), before);
  EXPECT_NE(Digest(imageD), before);
  ExpectSoundFixture(imageD, manifest);
}

} // namespace
} // namespace quillo::test
