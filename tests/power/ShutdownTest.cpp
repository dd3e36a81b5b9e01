// SPDX-License-Identifier: GPL-2.0-or-later
// The power-off countdown on its own: the fade of the desktop picture, the
// count from 30 to 0, the single request at 0 and "Cancel".
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "power/FadeToGrey.h"
#include "power/LogindPowerOff.h"
#include "power/Shutdown.h"

namespace quillo::test {
namespace {

// Counts the requests and notes what the window showed at each.
class CountingPowerOff final : public PowerOffRequest {
public:
  bool RequestPowerOff() override {
    if (Window) LabelsAtRequest.push_back(Window->Label_countdown->text().toStdString());
    return Accept;
  }
  std::string RefusalReason() const override { return "Interactive authentication required."; }
  TShutdown* Window = nullptr;
  std::vector<std::string> LabelsAtRequest;
  bool Accept = false;
};

struct Rgb {
  int Red;
  int Green;
  int Blue;
};

QImage Picture(Rgb colour, QImage::Format format = QImage::Format_RGB32) {
  QImage picture(8, 6, format);
  picture.fill(QColor(colour.Red, colour.Green, colour.Blue));
  return picture;
}

Rgb PixelAt(const QImage& picture, int x = 0, int y = 0) {
  QColor colour = picture.pixelColor(x, y);
  return {colour.red(), colour.green(), colour.blue()};
}

bool IsGrey(const QImage& picture) {
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      Rgb pixel = PixelAt(picture, x, y);
      if (pixel.Red != pixel.Green || pixel.Green != pixel.Blue) return false;
    }
  return true;
}

TEST(FadeToGreyTest, PureRedAtStepOneMovesATenthTowardItsGrey) {
  // Bytes blue 0, green 0, red 255 and a fourth byte: grey level 76.
  EXPECT_EQ(FadePixel(0x00FF0000u, 1), 0x00EE0707u);
  // The fourth byte becomes 0.
  EXPECT_EQ(FadePixel(0xABFF0000u, 1), 0x00EE0707u);

  QImage picture = Picture({255, 0, 0});
  FadeToGrey(picture, 1);
  Rgb pixel = PixelAt(picture);
  EXPECT_EQ(pixel.Red, 238);
  EXPECT_EQ(pixel.Green, 7);
  EXPECT_EQ(pixel.Blue, 7);
  // The picture stays opaque.
  EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 255);
}

TEST(FadeToGreyTest, StepsTruncateTowardZeroBothWays) {
  struct Case {
    uint32_t Pixel;
    int Step;
    uint32_t Faded;
  };
  const Case cases[] = {
      // Red 10, green 20, blue 250: grey (77*10 + 151*20 + 28*250) / 256 = 42.
      {0x000A14FAu, 3, 0x00131ABCu}, // red 10+9, green 20+6, blue 250-62
      {0x000A14FAu, 10, 0x002A2A2Au},
      {0x00000000u, 7, 0x00000000u},
      {0x00FFFFFFu, 5, 0x00FFFFFFu},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FadePixel(c.Pixel, c.Step), c.Faded) << std::hex << c.Pixel << " step " << c.Step;
  }
}

TEST(FadeToGreyTest, PicturesOfSixteenOrTwentyFourBitsKeepTheirColours) {
  for (QImage::Format format : {QImage::Format_RGB16, QImage::Format_RGB888}) {
    QImage picture = Picture({255, 0, 0}, format);
    const QImage before = picture.copy();
    FadeToGrey(picture, kFadeSteps);
    EXPECT_EQ(picture, before) << format;
  }
}

TEST(LogindPowerOffTest, AsksLogindToPowerOffWithoutAskingTheUser) {
  // Only the message is looked at: it is never sent from a test.
  QDBusMessage call = LogindPowerOff::PowerOffCall();
  EXPECT_EQ(call.type(), QDBusMessage::MethodCallMessage);
  EXPECT_EQ(call.service(), QStringLiteral("org.freedesktop.login1"));
  EXPECT_EQ(call.path(), QStringLiteral("/org/freedesktop/login1"));
  EXPECT_EQ(call.interface(), QStringLiteral("org.freedesktop.login1.Manager"));
  EXPECT_EQ(call.member(), QStringLiteral("PowerOff"));
  ASSERT_EQ(call.arguments().size(), 1);
  EXPECT_EQ(call.arguments().front(), QVariant(false));
}

class ShutdownTest : public ::testing::Test {
protected:
  ShutdownTest() : Window(Request, [this] {
      ++Captures;
      return Picture({255, 0, 0});
    }) {
    Request.Window = &Window;
  }
  ~ShutdownTest() override { Window.hide(); }

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) Window.Timer_shutdownTimer();
  }
  std::string Label() const { return Window.Label_countdown->text().toStdString(); }

  CountingPowerOff Request;
  int Captures = 0;
  TShutdown Window;
};

TEST_F(ShutdownTest, IsABorderlessWindowOnTopWithItsFixedTexts) {
  EXPECT_EQ(Window.windowTitle(), QStringLiteral("shutdown"));
  EXPECT_TRUE(Window.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(Window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(Window.Label_caption->text(), QStringLiteral("Corvana QuilloDefrag - Auto Shutdown"));
  EXPECT_EQ(Window.Button_cancel_shutdown->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(Window.Panel_shutdown->size(), QSize(TShutdown::kPanelWidth, TShutdown::kPanelHeight));
  EXPECT_EQ(Window.Image_shutdown->geometry(), QRect(1, 1, 312, 198));
  EXPECT_FALSE(Window.Timer_shutdown->isActive());
}

TEST_F(ShutdownTest, CountsDownFadesForTenSecondsAndAsksOnceAtZero) {
  Window.show();
  EXPECT_EQ(Label(), "30");
  EXPECT_EQ(Captures, 1);
  EXPECT_TRUE(Window.Timer_shutdown->isActive());
  EXPECT_EQ(Window.Timer_shutdown->interval(), 1000);
  QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  EXPECT_EQ(Window.Panel_shutdown->pos(), QPoint((screen.width() - TShutdown::kPanelWidth) / 2,
                                                 (screen.height() - TShutdown::kPanelHeight) / 2));

  Ticks(1);
  EXPECT_EQ(Label(), "29");
  Rgb first = PixelAt(Window.ScreenPicture());
  EXPECT_EQ(first.Red, 238);
  EXPECT_EQ(first.Green, 7);
  EXPECT_EQ(first.Blue, 7);

  Ticks(8);
  EXPECT_FALSE(IsGrey(Window.ScreenPicture()));
  Ticks(1);
  EXPECT_EQ(Label(), "20");
  EXPECT_TRUE(IsGrey(Window.ScreenPicture()));
  const QImage grey = Window.ScreenPicture().copy();

  Ticks(19);
  EXPECT_EQ(Label(), "1");
  EXPECT_TRUE(Request.LabelsAtRequest.empty());
  EXPECT_EQ(Window.ScreenPicture(), grey);

  Ticks(1);
  ASSERT_EQ(Request.LabelsAtRequest, std::vector<std::string>{"0"});
  EXPECT_FALSE(Window.Timer_shutdown->isActive());
  // Refused: the countdown ends with the system's reason and asks no more.
  EXPECT_FALSE(Window.isVisible());
  EXPECT_EQ(Window.Refusal(), std::optional<std::string>("Interactive authentication required."));
  Ticks(3);
  EXPECT_EQ(Request.LabelsAtRequest.size(), 1u);
  EXPECT_EQ(Label(), "0");
}

TEST_F(ShutdownTest, ARefusalEndsTheModalCountdownWithTheReason) {
  std::optional<std::string> refusal;
  // The countdown runs out while the window is up; nobody presses "Cancel".
  QTimer::singleShot(0, &Window, [&] { Ticks(TShutdown::kCountdownSeconds); });
  refusal = Window.ShowModal();
  EXPECT_EQ(refusal, std::optional<std::string>("Interactive authentication required."));
  EXPECT_FALSE(Window.isVisible());
  EXPECT_EQ(Request.LabelsAtRequest, std::vector<std::string>{"0"});

  // An accepted request leaves the window up at 0 while the system goes down.
  Request.Accept = true;
  bool stillShown = false;
  QTimer::singleShot(0, &Window, [&] {
    Ticks(TShutdown::kCountdownSeconds);
    stillShown = Window.isVisible() && !Window.Refusal();
    Window.Button_cancel_shutdown->click();
  });
  EXPECT_EQ(Window.ShowModal(), std::nullopt);
  EXPECT_TRUE(stillShown);
  EXPECT_EQ(Request.LabelsAtRequest.size(), 2u);
}

TEST_F(ShutdownTest, CancelAtTwentyFiveAsksNothingAndTheNextShowingStartsAgain) {
  Window.show();
  Ticks(5);
  EXPECT_EQ(Label(), "25");
  QTest::mouseClick(Window.Button_cancel_shutdown, Qt::LeftButton);
  EXPECT_FALSE(Window.isVisible());
  EXPECT_FALSE(Window.Timer_shutdown->isActive());
  EXPECT_TRUE(Request.LabelsAtRequest.empty());

  Window.show();
  EXPECT_EQ(Label(), "30");
  EXPECT_EQ(Window.SecondsLeft, 30);
  EXPECT_EQ(Captures, 2);
  Rgb fresh = PixelAt(Window.ScreenPicture());
  EXPECT_EQ(fresh.Red, 255);
  EXPECT_EQ(fresh.Green, 0);
  EXPECT_TRUE(Window.Timer_shutdown->isActive());
  EXPECT_TRUE(Request.LabelsAtRequest.empty());
}

TEST_F(ShutdownTest, ShownModallyMaximisedUntilCancelled) {
  bool wasMaximised = false;
  QTimer::singleShot(0, &Window, [&] {
    wasMaximised = Window.isMaximized();
    Window.Button_cancel_shutdown->click();
  });
  Window.ShowModal();
  EXPECT_TRUE(wasMaximised);
  EXPECT_FALSE(Window.isVisible());
  EXPECT_TRUE(Request.LabelsAtRequest.empty());
  EXPECT_EQ(Window.Refusal(), std::nullopt);
}

} // namespace
} // namespace quillo::test
