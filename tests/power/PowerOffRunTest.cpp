// SPDX-License-Identifier: GPL-2.0-or-later
// The countdown behind the main window: with "Turn off computer after
// defragment" ticked, the status tick shows it once the last busy volume has
// finished, instead of the report window.
#include <gtest/gtest.h>

#include <QTest>

#include "WindowTestSupport.h"
#include "power/Shutdown.h"

namespace quillo::test {
namespace {

class NoPowerOff final : public PowerOffRequest {
public:
  bool RequestPowerOff() override {
    ++Requests;
    return false;
  }
  std::string RefusalReason() const override { return "Access denied"; }
  int Requests = 0;
};

class PowerOffRunTest : public ::testing::Test {
protected:
  void TearDown() override {
    if (VolumeD) VolumeD->Moves.OpenFully();
    Form.reset();
  }

  NoPowerOff Request;
  TShutdown Shutdown{Request};
  FormRig Rig;
  std::shared_ptr<GatedVolume> VolumeD;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(PowerOffRunTest, TwoVolumesShowTheCountdownOnlyWhenTheSecondFinishes) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  VolumeD = std::make_shared<GatedVolume>(MakeWindowVolume("D:"));
  VolumeD->Moves.Close();
  Rig.Catalog.Add("D:\\", VolumeD);
  FormServices services = Rig.Services();
  services.PowerOff = &Shutdown;
  Form = std::make_unique<TMainForm>(services);
  ASSERT_TRUE(Form->StartedWithVolumes());
  ASSERT_EQ(Form->Volumes().Count(), 2);
  Form->show();
  ManualPage* page = Form->manualdefrag;
  ManualPage::SetTicked(Form->Volumes().Item(1), true);
  page->CheckBox_auto_shutdown->click();

  int shown = 0;
  bool tickTimerWasOff = false;
  std::vector<uint8_t> statesWhenShown;
  auto answerCountdown = [&] {
    if (!Shutdown.isVisible()) return;
    ++shown;
    tickTimerWasOff = !Form->Timer_GetDefragRuntimeData->isActive();
    for (TDefragThread* job : Form->Volumes().Jobs()) statesWhenShown.push_back(job->State());
    EXPECT_EQ(Shutdown.Label_countdown->text(), QStringLiteral("30"));
    Shutdown.Button_cancel_shutdown->click();
  };

  QTest::mouseClick(page->ManuDefragBtn, Qt::LeftButton);
  const int letterC = TSetting::DriveIndex('C');
  ASSERT_TRUE(PumpUntil([&] {
    answerCountdown();
    return Form->Settings->LastDefragTime[size_t(letterC)] != 0;
  }));
  // C: has finished and been recorded while D: still works.
  EXPECT_EQ(shown, 0);
  EXPECT_FALSE(IsAtRest(Form->Volumes().Job(1).State()));

  VolumeD->Moves.OpenFully();
  ASSERT_TRUE(PumpUntil([&] {
    answerCountdown();
    return shown == 1 && !Shutdown.isVisible();
  }));
  EXPECT_TRUE(tickTimerWasOff);
  EXPECT_EQ(statesWhenShown, (std::vector<uint8_t>{dsDefragged, dsDefragged}));
  EXPECT_TRUE(Form->Timer_GetDefragRuntimeData->isActive());
  Form->RunStatusTick();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(Rig.Reports.Openings, 0);
  EXPECT_EQ(Request.Requests, 0);
}

TEST_F(PowerOffRunTest, ARefusedPowerOffEndsTheCountdownAndSaysWhy) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Rig.EditSettings([](TSetting& settings) { settings.Language = "Deutsch"; });
  FormServices services = Rig.Services();
  services.PowerOff = &Shutdown;
  Form = std::make_unique<TMainForm>(services);
  ASSERT_TRUE(Form->StartedWithVolumes());
  // The window's language as the settings choose it.
  Form->Settings->Translator.SetLanguage(Form->Settings->Language);
  Form->show();
  ManualPage* page = Form->manualdefrag;
  page->CheckBox_auto_shutdown->click();
  size_t messagesBefore = Rig.Messages.Messages().size();

  // The countdown runs out unanswered; the system says no.
  bool ranOut = false;
  QTest::mouseClick(page->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] {
    if (Shutdown.isVisible() && !ranOut) {
      ranOut = true;
      for (int i = 0; i < TShutdown::kCountdownSeconds; ++i) Shutdown.Timer_shutdownTimer();
    }
    return ranOut && Rig.Messages.Messages().size() > messagesBefore;
  }));
  EXPECT_EQ(Request.Requests, 1);
  EXPECT_FALSE(Shutdown.isVisible());
  ASSERT_EQ(Rig.Messages.Messages().size(), messagesBefore + 1);
  EXPECT_EQ(Rig.Messages.Messages().back().Text,
            "Der Computer konnte nicht ausgeschaltet werden: Access denied");
  // The window goes on: its status timer runs again.
  EXPECT_TRUE(Form->Timer_GetDefragRuntimeData->isActive());
  EXPECT_EQ(Rig.Reports.Openings, 0);
}

} // namespace
} // namespace quillo::test
