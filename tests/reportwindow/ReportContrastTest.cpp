// SPDX-License-Identifier: GPL-2.0-or-later
// The report's blue texts are readable (WCAG AA, 4.5:1) on a light and on a
// dark palette.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPalette>

#include "ReportWindowFixture.h"
#include "reportwindow/ReadableColour.h"

namespace quillo::test {
namespace {

QPalette DarkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(53, 53, 53));
  dark.setColor(QPalette::WindowText, Qt::white);
  dark.setColor(QPalette::Base, QColor(35, 35, 35));
  dark.setColor(QPalette::Text, Qt::white);
  dark.setColor(QPalette::Button, QColor(53, 53, 53));
  dark.setColor(QPalette::ButtonText, Qt::white);
  return dark;
}

QPalette LightPalette() {
  QPalette light;
  light.setColor(QPalette::Window, QColor(240, 240, 240));
  light.setColor(QPalette::WindowText, Qt::black);
  light.setColor(QPalette::Base, Qt::white);
  light.setColor(QPalette::Text, Qt::black);
  return light;
}

TEST(ReadableColour, TheMeasureOfTheGuidelines) {
  EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(QColor(0, 0, 255), Qt::white), 8.59, 0.01);
  EXPECT_NEAR(ContrastRatio(QColor(119, 119, 119), Qt::white), 4.48, 0.01);
  // Enough contrast already: the design colour itself.
  EXPECT_EQ(ReadableOn(QColor(0, 0, 255), Qt::white), QColor(0, 0, 255));
}

TEST(ReportContrast, BlueTextsReachLevelAaOnLightAndDarkPalettes) {
  // The design's blue alone is not readable on the dark palette: the check
  // below has something to find.
  ASSERT_LT(ContrastRatio(QColor(0, 0, 255), DarkPalette().color(QPalette::Window)), kReadableContrast);
  for (const auto& [name, palette] : {std::pair{"light", LightPalette()}, std::pair{"dark", DarkPalette()}}) {
    SCOPED_TRACE(name);
    ReportWorld world;
    world.AddVolume("C:", 1000, dsAnalyzed);
    world.AddVolume("D:", 1000, dsDefragged);
    world.Form->setPalette(palette);
    world.Open();
    for (int tab = 0; tab < world.Form->ReportPages->count(); ++tab) {
      TReportContent& page = world.Page(tab);
      for (const QLabel* label : {page.FragmentionBTitle, page.FragmentionATitle, page.Label_Suggestion}) {
        const QColor text = label->palette().color(QPalette::WindowText);
        const QColor background = page.palette().color(QPalette::Window);
        EXPECT_EQ(background, palette.color(QPalette::Window));
        EXPECT_GE(ContrastRatio(text, background), kReadableContrast)
            << label->objectName().toStdString() << " " << text.name().toStdString();
        // Still a blue.
        EXPECT_GT(text.blue(), std::max(text.red(), text.green()));
      }
    }
    // A palette changed while the window is open recolours it too.
    world.Form->setPalette(name == std::string("light") ? DarkPalette() : LightPalette());
    const QLabel& title = *world.Page(0).FragmentionBTitle;
    EXPECT_GE(ContrastRatio(title.palette().color(QPalette::WindowText),
                            world.Page(0).palette().color(QPalette::Window)),
              kReadableContrast);
  }
}

} // namespace
} // namespace quillo::test
