// SPDX-License-Identifier: GPL-2.0-or-later
// The layout rule of the manual page: the whole table, then state by state
// through the buttons on jobs the test holds at each step.
#include <gtest/gtest.h>

#include <QTest>

#include "WindowTestSupport.h"
#include "mainwindow/ManualLayout.h"

namespace quillo::test {
namespace {

constexpr ButtonLayout kHidden{false, false};
constexpr ButtonLayout kOff{true, false};
constexpr ButtonLayout kOn{true, true};

struct LayoutCase {
  std::vector<uint8_t> Ticked;
  ManualLayout Expected;
};

ManualLayout Layout(ButtonLayout analyze, ButtonLayout go, ButtonLayout box, ButtonLayout pause,
                    ButtonLayout resume, ButtonLayout stop, std::optional<bool> report,
                    StandIn place) {
  return {analyze, go, box, pause, resume, stop, report, place};
}

TEST(ManualLayoutRuleTest, FullTable) {
  const auto A = StandIn::AtAnalyze;
  const auto G = StandIn::AtGo;
  const LayoutCase cases[] = {
      // A: two or more ticked, one of them busy.
      {{dsIdle, dsDefragging}, Layout(kHidden, kOff, kOff, kOff, kHidden, kOn, {}, A)},
      {{dsStopping, dsAnalyzed, dsIdle}, Layout(kHidden, kOff, kOff, kOff, kHidden, kOn, {}, A)},
      // B: nothing ticked.
      {{}, Layout(kHidden, kOff, kOff, kOff, kHidden, kOff, {}, A)},
      // C: the first ticked row's state.
      {{dsAnalyzing}, Layout(kOff, kHidden, kHidden, kOn, kHidden, kOn, false, G)},
      {{dsAnalyzePaused}, Layout(kOff, kHidden, kHidden, kHidden, kOn, kOn, false, G)},
      {{dsAnalyzed}, Layout(kOn, kOn, kOn, kHidden, kHidden, kOff, true, A)},
      {{dsDefragging}, Layout(kHidden, kOff, kOff, kOn, kHidden, kOn, false, A)},
      {{dsDefragPaused}, Layout(kHidden, kOff, kOff, kHidden, kOn, kOn, false, A)},
      {{dsDefragged}, Layout(kOn, kOn, kOn, kHidden, kHidden, kOff, true, A)},
      {{dsIdle}, Layout(kOn, kOn, kOn, kHidden, kHidden, kOff, false, A)},
      {{dsStopping}, Layout(kHidden, kOff, kOff, kOff, kHidden, kOn, false, A)},
      // Two at rest: still the first one's state.
      {{dsDefragged, dsIdle}, Layout(kOn, kOn, kOn, kHidden, kHidden, kOff, true, A)},
  };
  for (const LayoutCase& c : cases) {
    ManualLayout layout = DecideManualLayout(c.Ticked);
    EXPECT_EQ(layout, c.Expected) << "first state " << (c.Ticked.empty() ? -1 : int(c.Ticked[0]))
                                  << ", " << c.Ticked.size() << " ticked";
  }
}

// Holds the analysis of C: at a gate and the moves of its pass at another,
// so that the test can look at the page in every state.
class ManualButtonsTest : public ::testing::Test {
protected:
  void SetUp() override {
    Script.Steps = 2;
    Script.AnalysisGate = &AnalysisGate;
    Script.SleepPerStep = true;
    Factory = std::make_unique<ScriptedFactory>(Script);
    Volume = std::make_shared<GatedVolume>(MakeWindowVolume("C:"));
    Rig.Catalog.Add("C:\\", Volume);
    Rig.Catalog.Add("D:\\", std::make_shared<GatedVolume>(MakeWindowVolume("D:")));
    Rig.Engines = Factory.get();
    Form = Rig.Create();
    Page = Form->manualdefrag;
  }
  void TearDown() override {
    AnalysisGate.OpenFully();
    Volume->Moves.OpenFully();
    Form.reset();
  }
  TDefragThread& JobC() { return Form->Volumes().Job(0); }
  void Press(QPushButton* button) {
    ASSERT_TRUE(button->isVisible() && button->isEnabled()) << button->objectName().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void WaitForState(uint8_t state) {
    EXPECT_TRUE(PumpUntil([&] { return JobC().State() == state; })) << "state " << int(state);
    Form->RunStatusTick();
  }
  void ExpectButtons(bool analyze, bool go, bool box, bool pause, bool resume, bool stop) {
    EXPECT_EQ(Page->ManuAnalyzeBtn->isEnabled() && Page->ManuAnalyzeBtn->isVisible(), analyze);
    EXPECT_EQ(Page->ManuDefragBtn->isEnabled() && Page->ManuDefragBtn->isVisible(), go);
    EXPECT_EQ(Page->ComboBox_FastOrOptDefrag->isEnabled() && Page->ComboBox_FastOrOptDefrag->isVisible(), box);
    EXPECT_EQ(Page->ManuPauseBtn->isEnabled() && Page->ManuPauseBtn->isVisible(), pause);
    EXPECT_EQ(Page->ManuResumeBtn->isEnabled() && Page->ManuResumeBtn->isVisible(), resume);
    EXPECT_EQ(Page->ManuStopBtn->isEnabled() && Page->ManuStopBtn->isVisible(), stop);
  }

  Gate AnalysisGate{false};
  ScriptedEngine::Script Script;
  std::unique_ptr<ScriptedFactory> Factory;
  std::shared_ptr<GatedVolume> Volume;
  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
  ManualPage* Page = nullptr;
};

TEST_F(ManualButtonsTest, AnalysisPausedResumedAndFinished) {
  Form->show();
  ExpectButtons(true, true, true, false, false, false);
  Press(Page->ManuAnalyzeBtn);
  WaitForState(dsAnalyzing);
  // Pause takes GO's place next to the disabled Analyze button.
  ExpectButtons(false, false, false, true, false, true);
  EXPECT_FALSE(Page->ManuDefragBtn->isVisible());
  EXPECT_TRUE(Page->ManuAnalyzeBtn->isVisible());
  EXPECT_EQ(Page->ManuPauseBtn->x(), 14);
  EXPECT_FALSE(Page->ViewReportBtn->isEnabled());

  Press(Page->ManuPauseBtn);
  EXPECT_EQ(int(JobC().State()), int(dsAnalyzePaused));
  ExpectButtons(false, false, false, false, true, true);
  EXPECT_EQ(Page->ManuResumeBtn->x(), 14);

  Press(Page->ManuResumeBtn);
  EXPECT_EQ(int(JobC().State()), int(dsAnalyzing));
  AnalysisGate.OpenFully();
  WaitForState(dsAnalyzed);
  ExpectButtons(true, true, true, false, false, false);
  EXPECT_TRUE(Page->ViewReportBtn->isEnabled());
}

TEST_F(ManualButtonsTest, DefragmentationPausedAndStopped) {
  Form->show();
  AnalysisGate.OpenFully();
  Volume->Moves.Close();
  Press(Page->ManuDefragBtn);
  ASSERT_TRUE(PumpUntil([&] { return Volume->Moves.ArrivalCount() >= 1; }));
  WaitForState(dsDefragging);
  // Pause takes Analyze's place next to the disabled GO button.
  ExpectButtons(false, false, false, true, false, true);
  EXPECT_TRUE(Page->ManuDefragBtn->isVisible());
  EXPECT_FALSE(Page->ManuAnalyzeBtn->isVisible());
  EXPECT_EQ(Page->ManuPauseBtn->x(), 423);

  Press(Page->ManuPauseBtn);
  EXPECT_EQ(int(JobC().State()), int(dsDefragPaused));
  ExpectButtons(false, false, false, false, true, true);
  EXPECT_EQ(Page->ManuResumeBtn->x(), 423);

  Press(Page->ManuStopBtn);
  // Resumed first, then asked to stop; the move in progress holds it.
  EXPECT_EQ(int(JobC().State()), int(dsStopping));
  ExpectButtons(false, false, false, false, false, true);
  EXPECT_TRUE(Page->ManuPauseBtn->isVisible());
  EXPECT_EQ(Page->ManuPauseBtn->x(), 423);
  Volume->Moves.OpenFully();
  WaitForState(dsIdle);
  ExpectButtons(true, true, true, false, false, false);
  EXPECT_FALSE(Page->ViewReportBtn->isEnabled());
}

TEST_F(ManualButtonsTest, TwoTickedOneBusyLeavesOnlyStop) {
  Form->show();
  Press(Page->ManuAnalyzeBtn);
  WaitForState(dsAnalyzing);
  // Tick D: through its check box.
  QTreeWidget* list = Page->manulist;
  QTreeWidgetItem* second = list->topLevelItem(1);
  second->setCheckState(0, Qt::Checked);
  PumpPending();
  Form->RunStatusTick();
  EXPECT_EQ(Form->CurrentVolumeIndex, 1);
  EXPECT_TRUE(second->isSelected());
  ExpectButtons(false, false, false, false, false, true);
  EXPECT_TRUE(Page->ManuDefragBtn->isVisible());
  EXPECT_FALSE(Page->ManuAnalyzeBtn->isVisible());

  // Stop goes to every ticked job; the idle one ignores it.
  Press(Page->ManuStopBtn);
  AnalysisGate.OpenFully();
  WaitForState(dsIdle);
  EXPECT_EQ(int(Form->Volumes().Job(1).State()), int(dsIdle));
}

TEST_F(ManualButtonsTest, NothingTickedDisablesEveryCommand) {
  Form->show();
  QTreeWidgetItem* first = Page->manulist->topLevelItem(0);
  first->setCheckState(0, Qt::Unchecked);
  PumpPending();
  Form->RunStatusTick();
  EXPECT_FALSE(first->isSelected());
  ExpectButtons(false, false, false, false, false, false);
  EXPECT_FALSE(Page->ManuAnalyzeBtn->isVisible());
  EXPECT_TRUE(Page->ManuDefragBtn->isVisible());
  // Unticking the current row keeps its map on screen.
  EXPECT_EQ(Form->CurrentVolumeIndex, 0);
  EXPECT_FALSE(Form->Volumes().Map(0).Image()->isHidden());
}

TEST_F(ManualButtonsTest, RowMarkersFollowTheCurrentVolume) {
  Form->show();
  QTreeWidget* list = Page->manulist;
  QTreeWidgetItem* second = list->topLevelItem(1);
  QRect box = list->visualItemRect(second);
  // A click on the label of an unticked row does not make it current.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
  PumpPending();
  EXPECT_EQ(Form->CurrentVolumeIndex, 0);
  EXPECT_FALSE(second->isSelected()); // the selection mirrors the ticks
  second->setCheckState(0, Qt::Checked);
  PumpPending();
  EXPECT_EQ(Form->CurrentVolumeIndex, 1);
  Form->RunStatusTick();
  EXPECT_TRUE(Form->Volumes().Map(0).Image()->isHidden());
  EXPECT_FALSE(Form->Volumes().Map(1).Image()->isHidden());
  // Clicking the ticked first row's label brings it back.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(0)).center());
  PumpPending();
  EXPECT_EQ(Form->CurrentVolumeIndex, 0);
}

TEST_F(ManualButtonsTest, RefusedCommandShowsTheJobsError) {
  Form->show();
  Press(Page->ManuAnalyzeBtn);
  WaitForState(dsAnalyzing);
  // A second Analyze, as a context menu could ask: the job refuses it.
  Page->ManuAnalyzeBtnClick();
  ASSERT_FALSE(Rig.Messages.Messages().empty());
  EXPECT_EQ(Rig.Messages.Messages().back().Text, "AnalyzeBeginState Error!");
  EXPECT_EQ(Rig.Messages.Messages().back().Caption, "Quillo Defrag");
  AnalysisGate.OpenFully();
  WaitForState(dsAnalyzed);
}

} // namespace
} // namespace quillo::test
