// SPDX-License-Identifier: GPL-2.0-or-later
// The side bar: five tiles, each a highlight picture (shown while lit), an
// icon, a caption and a transparent overlay that takes hovering and clicks.
#pragma once

#include <QLabel>
#include <QWidget>

#include <array>

namespace quillo {

class SideBar final : public QWidget {
  Q_OBJECT

public:
  enum Tile : int { kDefragNow = 0, kAutoDefrag, kSchedule, kOption, kDonate, kTileCount };
  static constexpr int kWidth = 113;

  SideBar(QWidget* parent, int top, int height);

  // Lights this tile's highlight only (the tile of the active page).
  void LightOnly(int tile);
  int LitTile() const { return Lit; }
  // Fits each caption into its tile after its text changed (a translation):
  // one line where it fits, else two lines, in a smaller font if need be.
  void FitCaptions();

  QWidget* PanelDefrag;
  QWidget* PanelAutoDefrag;
  QWidget* PanelSchedule;
  QWidget* PanelOption;
  QWidget* PanelDonate;
  QLabel* ImageDefragNow;
  QLabel* ImageAutoDefrag;
  QLabel* ImageSchedule;
  QLabel* ImageOption;
  QLabel* ImageDonate;
  QLabel* Label_Tile_DefragNow;
  QLabel* Label_Tile_AutoDefrag;
  QLabel* Label_Tile_Schedule;
  QLabel* Label_Tile_Option;
  QLabel* Label_Tile_Donate;

signals:
  void TileClicked(int tile);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct TileParts {
    QWidget* Panel = nullptr;
    QLabel* Highlight = nullptr;
    QLabel* Overlay = nullptr;
    QLabel* Caption = nullptr;
  };
  std::array<TileParts, kTileCount> Tiles;
  int Lit = kDefragNow;
};

} // namespace quillo
