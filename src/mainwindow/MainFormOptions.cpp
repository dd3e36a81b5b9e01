// SPDX-License-Identifier: GPL-2.0-or-later
// TMainForm: the side bar, the header links, the tray menu's links, the
// options page's buttons, and the settings on the window.
#include <QDesktopServices>
#include <QUrl>

#include <exception>

#include "mainwindow/FormSettings.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/ProgramLinks.h"
#include "mainwindow/SwitchLangForm.h"
#include "mainwindow/WindowTranslation.h"

namespace quillo {

void TMainForm::ConnectOptions() {
  WindowSettings = std::make_unique<FormSettings>(*this);
  Option->UseLanguage(Language());
  // The main window is translated first whenever the language is set.
  Language().AddTranslatedWindow([this] { Translate(); });

  connect(Header, &HeaderStrip::LinkClicked, this, [this](int link) {
    switch (link) {
    case HeaderStrip::kCheckUpdate:
      OpenLink(ProductPageLink(kProductDownload));
      break;
    case HeaderStrip::kFeedBack:
      OpenLink(ProductPageLink(kProductPurchase));
      break;
    case HeaderStrip::kLanguage:
      ShowLanguageChooser();
      break;
    case HeaderStrip::kAbout:
      ShowAbout();
      break;
    default:
      break;
    }
  });
  connect(Tray->TrayMenu_HomePage, &QAction::triggered, this,
          [this] { OpenLink(std::string(kHomePageLink)); });
  connect(Tray->TrayMenu_FeedBack, &QAction::triggered, this,
          [this] { OpenLink(ProductPageLink(kProductPurchase)); });

  connect(Option->SettingOkBtn, &QPushButton::clicked, this, [this] {
    if (StoreFromWindow()) SideBarTileClick(SideBar::kDefragNow);
  });
  connect(Option->SettingApplyBtn, &QPushButton::clicked, this, [this] {
    if (StoreFromWindow()) Option->SettingApplyBtn->setEnabled(false);
  });
  connect(schedule, &SchedulePage::SettingsEdited, this, [this] { StoreFromWindow(); });
  connect(autodefrag, &AutoDefragPage::SettingsEdited, this, [this] { StoreFromWindow(); });
  connect(autodefrag, &AutoDefragPage::SettingsReapplyRequested, this, [this] { ApplyToWindow(); });
  // Nothing is saved; the page shows the stored settings when next opened.
  connect(Option->SettingCancelBtn, &QPushButton::clicked, this,
          [this] { SideBarTileClick(SideBar::kDefragNow); });
}

void TMainForm::SideBarTileClick(int tile) {
  switch (tile) {
  case SideBar::kAutoDefrag:
    ShowPage(tile);
    // The page asks for ApplyToWindow, then disables its Apply.
    autodefrag->PageOpened();
    break;
  case SideBar::kOption:
    ShowPage(tile);
    ApplyToWindow();
    Option->SettingApplyBtn->setEnabled(false);
    break;
  case SideBar::kDonate:
    OpenLink(ProductPageLink(kProductPurchase));
    break;
  default:
    ShowPage(tile);
    break;
  }
}

void TMainForm::ReadFromWindow() { WindowSettings->ReadFromWindow(); }

void TMainForm::ApplyToWindow() {
  try {
    WindowSettings->ApplyToWindow();
  } catch (const std::exception& error) {
    ShowPlainMessage(error.what());
  }
}

bool TMainForm::StoreFromWindow() {
  ReadFromWindow();
  return SaveAndApply();
}

bool TMainForm::SaveAndApply() {
  try {
    Settings->Save();
  } catch (const std::exception& error) {
    // The change stops here; what is on the window stays as it is.
    ShowPlainMessage(error.what());
    return false;
  }
  ApplyToWindow();
  return true;
}

void TMainForm::ApplySizeLimits() { WindowSettings->ApplySizeLimits(); }

void TMainForm::Translate() {
  // The tray menu has no parent window but belongs to this one.
  WindowTranslation::Translate(Language(), *this, {Tray->TrayMenu});
  // Texts of another length need their places again.
  Side->FitCaptions();
  manualdefrag->ArrangeTexts();
  About->Translate(Language());
}

void TMainForm::OpenLink(const std::string& link) {
  // Nothing is reported when no program takes the link.
  if (Service.OpenLink)
    Service.OpenLink(link);
  else
    QDesktopServices::openUrl(QUrl(QString::fromStdString(link)));
}

void TMainForm::ShowAbout() { About->ShowOver(*this); }

void TMainForm::ShowLanguageChooser() {
  if (LanguageChooser != nullptr) LanguageChooser->ShowModal();
}

} // namespace quillo
