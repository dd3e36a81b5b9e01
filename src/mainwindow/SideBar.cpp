// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SideBar.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QFontMetrics>

#include "mainwindow/FormControls.h"
#include "mainwindow/Pictures.h"

namespace quillo {

namespace {

constexpr int kTileWidth = 79;
constexpr int kTileHeight = 74;
constexpr int kTileLeft = (SideBar::kWidth - kTileWidth) / 2;
constexpr int kFirstTileTop = 12;
constexpr int kTileStep = 88;
constexpr int kIconSize = 40;
constexpr int kIconTop = 6;
constexpr int kCaptionTop = 50;
constexpr int kCaptionHeight = 18;
// Room for a caption of two lines, between the icon and the tile's foot.
constexpr int kTwoLineTop = kIconTop + kIconSize;
constexpr int kSmallestCaptionPixels = 8;

struct TileDesign {
  QWidget* SideBar::*Panel;
  const char* PanelName;
  QLabel* SideBar::*Highlight;
  const char* HighlightName;
  QLabel* SideBar::*Caption;
  const char* CaptionName;
  const char* CaptionText;
  const char* Icon;
  const char* IconName;
  const char* OverlayName;
};

const TileDesign kTiles[SideBar::kTileCount] = {
    {&SideBar::PanelDefrag, "PanelDefrag", &SideBar::ImageDefragNow, "ImageDefragNow",
     &SideBar::Label_Tile_DefragNow, "Label_Tile_DefragNow", "&Defrag Now!", "tile_defrag",
     "Icon_Tile_DefragNow", "Overlay_Tile_DefragNow"},
    {&SideBar::PanelAutoDefrag, "PanelAutoDefrag", &SideBar::ImageAutoDefrag, "ImageAutoDefrag",
     &SideBar::Label_Tile_AutoDefrag, "Label_Tile_AutoDefrag", "&Auto Defrag", "tile_auto",
     "Icon_Tile_AutoDefrag", "Overlay_Tile_AutoDefrag"},
    {&SideBar::PanelSchedule, "PanelSchedule", &SideBar::ImageSchedule, "ImageSchedule",
     &SideBar::Label_Tile_Schedule, "Label_Tile_Schedule", "&Schedule", "tile_schedule",
     "Icon_Tile_Schedule", "Overlay_Tile_Schedule"},
    {&SideBar::PanelOption, "PanelOption", &SideBar::ImageOption, "ImageOption",
     &SideBar::Label_Tile_Option, "Label_Tile_Option", "&Option", "tile_option",
     "Icon_Tile_Option", "Overlay_Tile_Option"},
    {&SideBar::PanelDonate, "PanelDonate", &SideBar::ImageDonate, "ImageDonate",
     &SideBar::Label_Tile_Donate, "Label_Tile_Donate", "Donate", "tile_donate",
     "Icon_Tile_Donate", "Overlay_Tile_Donate"},
};

} // namespace

SideBar::SideBar(QWidget* parent, int top, int height) : QWidget(parent) {
  setObjectName(QStringLiteral("SideBar"));
  setGeometry(0, top, kWidth, height);
  setAutoFillBackground(true);
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(93, 93, 93));
  setPalette(grey);

  QPixmap highlight = Picture(QStringLiteral("tile_highlight"), kTileWidth, kTileHeight);
  for (int i = 0; i < kTileCount; ++i) {
    const TileDesign& design = kTiles[i];
    auto* panel = new QWidget(this);
    panel->setObjectName(QString::fromLatin1(design.PanelName));
    panel->setGeometry(kTileLeft, kFirstTileTop + i * kTileStep, kTileWidth, kTileHeight);
    this->*design.Panel = panel;

    QLabel* lit = MakePicture(panel, design.HighlightName, highlight,
                              QRect(0, 0, kTileWidth, kTileHeight));
    lit->setVisible(i == kDefragNow);
    this->*design.Highlight = lit;
    MakePicture(panel, design.IconName,
                Picture(QString::fromLatin1(design.Icon), kIconSize, kIconSize),
                QRect((kTileWidth - kIconSize) / 2, kIconTop, kIconSize, kIconSize));
    QLabel* caption = MakeLabel(panel, design.CaptionName, QString::fromUtf8(design.CaptionText),
                                QRect(0, kCaptionTop, kTileWidth, kCaptionHeight));
    caption->setAlignment(Qt::AlignCenter);
    caption->setStyleSheet(QStringLiteral("color: white;"));
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    this->*design.Caption = caption;
    QLabel* overlay = MakeLabel(panel, design.OverlayName, QString(),
                                QRect(0, 0, kTileWidth, kTileHeight));
    overlay->setCursor(Qt::PointingHandCursor);
    // Reached by Tab and by the caption's Alt shortcut, and lit while it has
    // the focus as while the mouse is over it.
    overlay->setFocusPolicy(Qt::StrongFocus);
    caption->setBuddy(overlay);
    overlay->installEventFilter(this);
    Tiles[size_t(i)] = {panel, lit, overlay, caption};
  }
}

void SideBar::FitCaptions() {
  for (TileParts& tile : Tiles) {
    QLabel* caption = tile.Caption;
    QFont captionFont = font();
    captionFont.setBold(true);
    const QString text = caption->text();
    if (QFontMetrics(captionFont).size(Qt::TextShowMnemonic, text).width() <= kTileWidth) {
      caption->setWordWrap(false);
      caption->setGeometry(0, kCaptionTop, kTileWidth, kCaptionHeight);
    } else {
      const QRect room(0, kTwoLineTop, kTileWidth, kTileHeight - kTwoLineTop);
      auto fits = [&](const QFont& candidate) {
        const QRect needed = QFontMetrics(candidate).boundingRect(
            room, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, text);
        return needed.width() <= room.width() && needed.height() <= room.height();
      };
      while (captionFont.pixelSize() > kSmallestCaptionPixels && !fits(captionFont))
        captionFont.setPixelSize(captionFont.pixelSize() - 1);
      caption->setWordWrap(true);
      caption->setGeometry(room);
    }
    if (caption->font() != captionFont) caption->setFont(captionFont);
  }
}

void SideBar::LightOnly(int tile) {
  Lit = tile;
  for (int i = 0; i < kTileCount; ++i) Tiles[size_t(i)].Highlight->setVisible(i == tile);
}

bool SideBar::eventFilter(QObject* watched, QEvent* event) {
  for (int i = 0; i < kTileCount; ++i) {
    TileParts& tile = Tiles[size_t(i)];
    if (watched != tile.Overlay) continue;
    switch (event->type()) {
    case QEvent::Enter:
      tile.Highlight->show();
      break;
    case QEvent::FocusIn:
      tile.Highlight->show();
      // The caption's Alt shortcut opens the page at once.
      if (static_cast<QFocusEvent*>(event)->reason() == Qt::ShortcutFocusReason) emit TileClicked(i);
      break;
    case QEvent::Leave:
    case QEvent::FocusOut:
      // A tile stays lit while its page is shown, or while it has the focus
      // or the mouse; Donate has no page.
      tile.Highlight->setVisible((i == Lit && i != kDonate) || tile.Overlay->hasFocus() ||
                                 (event->type() == QEvent::FocusOut && tile.Overlay->underMouse()));
      break;
    case QEvent::MouseButtonRelease:
      emit TileClicked(i);
      break;
    case QEvent::KeyPress:
      if (IsActivationKey(static_cast<QKeyEvent*>(event)->key())) {
        emit TileClicked(i);
        return true;
      }
      break;
    default:
      break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

} // namespace quillo
