// SPDX-License-Identifier: GPL-2.0-or-later
// A volume whose job thread died in the middle of a pass (its device threw
// on a move): the window shows the error once, treats the job as no longer
// running and never gives it another command.
#include <gtest/gtest.h>

#include <QTest>

#include <algorithm>
#include <stdexcept>

#include "WindowTestSupport.h"

namespace quillo::test {
namespace {

constexpr const char* kDeviceError = "device gone during a move";
constexpr int kStatusColumn = 1;
// Ticks run after the death, more than enough for a box per tick to show.
constexpr int kTicksAfterDeath = 5;

// A memory volume whose first move throws, as a device lost mid-pass does.
class DyingVolume final : public VolumeDevice {
public:
  explicit DyingVolume(std::shared_ptr<MemoryVolume> inner) : Inner(std::move(inner)) {}

  Handle OpenVolume(const std::string& path) override { return Inner->OpenVolume(path); }
  bool GetGeometry(const std::string& root, DiskGeometry& out) override {
    return Inner->GetGeometry(root, out);
  }
  bool GetFreeSpace(const std::string& root, DiskFreeSpace& out) override {
    return Inner->GetFreeSpace(root, out);
  }
  bool GetVolumeInformation(const std::string& root, size_t capacity,
                            VolumeInformation& out) override {
    return Inner->GetVolumeInformation(root, capacity, out);
  }
  NtStatus GetVolumeBitmap(Handle volume, int64_t lcn, VolumeBitmapBuffer& out,
                           IoStatusBlock& iosb) override {
    return Inner->GetVolumeBitmap(volume, lcn, out, iosb);
  }
  uint32_t GetFileAttributes(const std::string& path) override {
    return Inner->GetFileAttributes(path);
  }
  Handle CreateFile(const std::string& path, uint32_t access, uint32_t share,
                    uint32_t flags) override {
    return Inner->CreateFile(path, access, share, flags);
  }
  bool GetFileInformationByHandle(Handle file, FileInformation& out) override {
    return Inner->GetFileInformationByHandle(file, out);
  }
  NtStatus GetRetrievalPointers(Handle file, int64_t vcn, RetrievalPointersBuffer& out,
                                IoStatusBlock& iosb) override {
    return Inner->GetRetrievalPointers(file, vcn, out, iosb);
  }
  NtStatus MoveFile(Handle, const MoveFileData&, IoStatusBlock&) override {
    throw std::runtime_error(kDeviceError);
  }
  NtStatus GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) override {
    return Inner->GetNtfsVolumeData(volume, out);
  }
  NtStatus GetNtfsFileRecord(Handle volume, int64_t ref, NtfsFileRecordOutputBuffer& out) override {
    return Inner->GetNtfsFileRecord(volume, ref, out);
  }
  NtStatus OpenFileById(Handle volume, uint64_t id, Handle& out) override {
    return Inner->OpenFileById(volume, id, out);
  }
  NtStatus QueryFileName(Handle file, FileNameInformation& out) override {
    return Inner->QueryFileName(file, out);
  }
  bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
    return Inner->ListDirectory(path, out);
  }
  void CloseHandle(Handle handle) override { Inner->CloseHandle(handle); }

private:
  std::shared_ptr<MemoryVolume> Inner;
};

class DeadJobTest : public ::testing::Test {
protected:
  // C: dies on its first move; D: is sound.
  void Start() {
    Rig.Catalog.Add("C:\\", std::make_shared<DyingVolume>(MakeWindowVolume("C:")));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
    Form = Rig.Create();
    ASSERT_TRUE(Form->StartedWithVolumes());
    ASSERT_EQ(Form->Volumes().Count(), 2);
    Page = Form->manualdefrag;
    Form->show();
  }
  // Defragments C: until its job has died mid-pass and a tick has seen it.
  void KillJobC() {
    QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return JobC().IsDead(); }));
    Form->RunStatusTick();
  }
  TDefragThread& JobC() { return Form->Volumes().Job(0); }
  std::string StatusOf(int row) { return RowTexts(Page->manulist, row)[kStatusColumn]; }
  std::vector<std::string> MessageTexts() {
    std::vector<std::string> texts;
    for (const RecordedMessage& message : Rig.Messages.Messages()) texts.push_back(message.Text);
    return texts;
  }
  size_t DeathMessages() {
    std::vector<std::string> texts = MessageTexts();
    return size_t(std::count(texts.begin(), texts.end(), std::string("C: Error: ") + kDeviceError));
  }
  void TickTimes(int count) {
    for (int i = 0; i < count; ++i) {
      Form->RunStatusTick();
      PumpPending();
    }
  }

  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
  ManualPage* Page = nullptr;
};

TEST_F(DeadJobTest, ShowsItsErrorOnceStopsTheTrayAndTakesNoCommand) {
  Rig.EditSettings([](TSetting& settings) { settings.StopWhenBattary = true; });
  Start();
  Form->Timer_GetDefragRuntimeData->stop(); // the test ticks by itself
  KillJobC();
  // The box is not opened inside the tick, where the timer would go on
  // firing under it, but once the tick has returned.
  EXPECT_TRUE(Rig.Messages.Messages().empty());
  // It died while defragmenting and keeps that state inside the job.
  EXPECT_EQ(int(JobC().State()), int(dsDefragging));
  const std::string status = std::string("Error: ") + kDeviceError;
  EXPECT_EQ(StatusOf(0), status);
  EXPECT_EQ(Form->Volumes().Item(0)->toolTip(kStatusColumn).toStdString(), kDeviceError);
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
  EXPECT_EQ(Form->Tray->FrameTag, -1);
  // Nothing can be started on it, and no button would reach it.
  EXPECT_FALSE(Page->ManuDefragBtn->isEnabled());
  EXPECT_FALSE(Page->ManuStopBtn->isEnabled());
  EXPECT_TRUE(Form->TickedJobs().empty());

  PumpPending();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"C: " + status});

  // On battery the guard leaves it alone: no "DefragThread Error" box, and
  // the death is not told again.
  Rig.LineStatus = 0;
  TickTimes(kTicksAfterDeath);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"C: " + status});
  EXPECT_EQ(StatusOf(0), status);
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
}

TEST_F(DeadJobTest, DoesNotHoldUpTheOtherVolumesReportOrThePowerOff) {
  Start();
  KillJobC();
  ManualPage::SetTicked(Form->Volumes().Item(0), false);
  ManualPage::SetTicked(Form->Volumes().Item(1), true);
  Form->RunStatusTick();
  EXPECT_TRUE(Page->ManuAnalyzeBtn->isEnabled());

  // D: analysed alone: its report opens by itself although C: died busy.
  QTest::mouseClick(Page->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Rig.Reports.Openings == 1; }));
  EXPECT_EQ(Rig.Reports.CurrentRows.front(), 1);

  // D: defragmented with the power-off ticked: the countdown comes.
  Page->CheckBox_auto_shutdown->click();
  QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Rig.PowerOff.Shown == 1; }));
  EXPECT_EQ(int(Form->Volumes().Job(1).State()), int(dsDefragged));
  // C: was never commanded again: still the error it died with, told once,
  // and no refusal of a command came from it.
  EXPECT_EQ(StatusOf(0), std::string("Error: ") + kDeviceError);
  EXPECT_EQ(DeathMessages(), 1u);
  for (const std::string& text : MessageTexts())
    EXPECT_EQ(text.find("DefragThread Error"), std::string::npos) << text;
}

TEST_F(DeadJobTest, AVolumeListedAnewGetsAFreshJob) {
  Start();
  KillJobC();
  Rig.Catalog.Remove("C:\\");
  Form->RefreshVolumes();
  ASSERT_EQ(Form->Volumes().Count(), 1);
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  ASSERT_TRUE(PumpUntil([&] {
    Form->RefreshVolumes();
    return Form->Volumes().Count() == 2;
  }));
  int rowC = Form->Volumes().Letter(0) == 'C' ? 0 : 1;
  ASSERT_EQ(Form->Volumes().Letter(rowC), 'C');
  TDefragThread& fresh = Form->Volumes().Job(rowC);
  EXPECT_FALSE(fresh.IsDead());
  Form->RunStatusTick();
  EXPECT_EQ(StatusOf(rowC), "Idle");
  for (int row = 0; row < 2; ++row) ManualPage::SetTicked(Form->Volumes().Item(row), row == rowC);
  Form->RunStatusTick();
  // The fresh job takes commands again.
  QTest::mouseClick(Page->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Rig.Reports.Openings == 1; }));
  EXPECT_EQ(int(fresh.State()), int(dsAnalyzed));
  EXPECT_EQ(DeathMessages(), 1u);
}

} // namespace
} // namespace quillo::test
