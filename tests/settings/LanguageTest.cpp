// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/Language.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/MessageText.h"
#include "settings/TranslationAction.h"
#include "TestSupport.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Moves a file's modification time on, so that a rewrite is noticed however
// coarse the file system's clock is.
void Touch(const fs::path& path, int seconds) {
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(seconds));
}

class LanguageTest : public ::testing::Test {
protected:
  fs::path Folder() const { return Dir.Path() / "language"; }
  void SetUp() override { fs::create_directory(Folder()); }

  test::TempDir Dir;
};

TEST_F(LanguageTest, ListsEveryEntryByTheNameBeforeTheFirstDot) {
  WriteAll(Folder() / "English.lng", "");
  WriteAll(Folder() / "English.txt", "");
  WriteAll(Folder() / "Deutsch.old.lng", "");
  WriteAll(Folder() / "francais.lng", "");
  WriteAll(Folder() / "README", "");
  fs::create_directory(Folder() / "drafts");
  fs::create_directory(Folder() / "Polski.d");

  const TLanguage language(Folder());
  EXPECT_THAT(language.Names,
              ElementsAre("Deutsch", "", "English", "English", "francais", "Polski", ""));
  EXPECT_EQ(language.Current, "english");
}

TEST_F(LanguageTest, MissingFolderListsNothingAndLooksUpDefaults) {
  TLanguage language(Dir.Path() / "absent");
  EXPECT_TRUE(language.Names.empty());
  EXPECT_EQ(language.Current, "");
  EXPECT_EQ(language.Lookup(messages::kIdle), "Idle");
  EXPECT_EQ(language.Lookup(messages::kNeverDefragAuto), "Never defragged");

  // An empty folder can be listed, so "english" becomes current.
  const TLanguage empty(Folder());
  EXPECT_TRUE(empty.Names.empty());
  EXPECT_EQ(empty.Current, "english");
}

TEST_F(LanguageTest, LooksUpTheCurrentFileMatchedWithoutRegardToCase) {
  WriteAll(Folder() / "English.lng", "[M]\nIdle=Idle (file)\nEmptyText=\n");
  WriteAll(Folder() / "DEUTSCH.LNG", "[m]\nidle=Leerlauf\n");
  TLanguage language(Folder());

  EXPECT_EQ(language.Lookup("M", "Idle", "Idle"), "Idle (file)");
  EXPECT_EQ(language.Lookup("M", "EmptyText", "fallback"), "");
  EXPECT_EQ(language.Lookup("M", "Absent", "fallback"), "fallback");

  language.Current = "Deutsch";
  EXPECT_EQ(language.Lookup(messages::kIdle), "Leerlauf");
  EXPECT_EQ(language.Lookup(messages::kPause), "Pause");

  language.Current = "Klingon";
  EXPECT_EQ(language.Lookup(messages::kIdle), "Idle");
}

TEST_F(LanguageTest, ReadsTheFileAgainOnlyWhenItChanges) {
  const fs::path file = Folder() / "English.lng";
  WriteAll(file, "[M]\nIdle=first\n");
  TLanguage language(Folder());
  EXPECT_EQ(language.Lookup(messages::kIdle), "first");

  // The parsed file is kept while the file's time and size stay the same.
  const auto stamp = fs::last_write_time(file);
  WriteAll(file, "[M]\nIdle=fifth\n");
  fs::last_write_time(file, stamp);
  EXPECT_EQ(language.Lookup(messages::kIdle), "first");

  WriteAll(file, "[M]\nIdle=second\n");
  Touch(file, 10);
  EXPECT_EQ(language.Lookup(messages::kIdle), "second");

  // A file that appears for a language that had none is found.
  language.Current = "Deutsch";
  EXPECT_EQ(language.Lookup(messages::kIdle), "Idle");
  WriteAll(Folder() / "Deutsch.lng", "[M]\nIdle=Leerlauf\n");
  Touch(Folder(), 10);
  EXPECT_EQ(language.Lookup(messages::kIdle), "Leerlauf");

  // A removed file falls back to the built-in texts.
  fs::remove(Folder() / "Deutsch.lng");
  EXPECT_EQ(language.Lookup(messages::kIdle), "Idle");
}

TEST_F(LanguageTest, ConvertsWindows1252FilesForDisplay) {
  // "Französisch – Leerlauf" in Windows-1252: o-umlaut 0xF6, en dash 0x96.
  WriteAll(Folder() / "Legacy.lng", "[M]\nIdle=Franz\xF6sisch \x96 Leerlauf\n");
  WriteAll(Folder() / "Modern.lng", "[M]\nIdle=Franz\xC3\xB6sisch \xE2\x80\x93 Leerlauf\n");
  TLanguage language(Folder());
  language.Current = "Legacy";
  EXPECT_EQ(language.Lookup(messages::kIdle), "Franz\xC3\xB6sisch \xE2\x80\x93 Leerlauf");
  language.Current = "Modern";
  EXPECT_EQ(language.Lookup(messages::kIdle), "Franz\xC3\xB6sisch \xE2\x80\x93 Leerlauf");
}

TEST_F(LanguageTest, SetLanguageSwitchesThenTranslatesEveryWindowInOrder) {
  WriteAll(Folder() / "Deutsch.lng", "[M]\nIdle=Leerlauf\n");
  TLanguage language(Folder());
  std::vector<std::string> seen;
  language.AddTranslatedWindow([&] { seen.push_back("main:" + language.Lookup(messages::kIdle)); });
  language.AddTranslatedWindow([&] { seen.push_back("report:" + language.Current); });
  language.SetLanguage("Deutsch");
  EXPECT_THAT(seen, ElementsAre("main:Leerlauf", "report:Deutsch"));
}

TEST(TranslationActionTest, ActsByTheExactClassName) {
  const struct {
    const char* ClassName;
    TranslationAction Action;
  } cases[] = {
      {"TLabel", TranslationAction::Caption},       {"TButton", TranslationAction::Caption},
      {"TGroupBox", TranslationAction::Caption},    {"TCheckBox", TranslationAction::Caption},
      {"TRzCheckBox", TranslationAction::Caption},  {"TRzRadioButton", TranslationAction::Caption},
      {"TToolButton", TranslationAction::Caption},  {"TSpeedButton", TranslationAction::Caption},
      {"TMenuItem", TranslationAction::Caption},    {"TListView", TranslationAction::Columns},
      {"TRzListView", TranslationAction::Columns},  {"TComboBox", TranslationAction::Items},
      {"TReportTab", TranslationAction::OwnSection}, {"TReportContent", TranslationAction::OwnSection},
      {"tlabel", TranslationAction::None},          {"TLabelEx", TranslationAction::None},
      {"TPanel", TranslationAction::None},          {"TTabSheet", TranslationAction::None},
      {"TTrackBar", TranslationAction::None},       {"TImage", TranslationAction::None},
      {"TTimer", TranslationAction::None},          {"", TranslationAction::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ActionForClass(c.ClassName), c.Action) << c.ClassName;
  }
}

Component Control(const std::string& className, const std::string& name,
                  const std::string& caption) {
  Component component;
  component.ClassName = className;
  component.Name = name;
  component.Caption = caption;
  return component;
}

class TranslateTest : public LanguageTest {
protected:
  // A small main window: one of each kind of control.
  static Component MainWindow() {
    Component window = Control("TMainForm", "MainForm", "Quillo Defrag");
    window.Owned.push_back(Control("TButton", "ManuDefragBtn", "GO"));
    window.Owned.push_back(Control("TLabel", "LabelLanguage", "Language"));
    window.Owned.push_back(Control("TPanel", "PanelDefrag", "panel text"));
    window.Owned.push_back(Control("TCustomLabel", "Subclassed", "subclass text"));
    Component list = Control("TListView", "manulist", "");
    list.Columns = {"Volume", "Status", "Time"};
    window.Owned.push_back(list);
    Component combo = Control("TComboBox", "ComboBox_FastOrOptDefrag", "");
    combo.Items = {"Defrag", "Defrag & Optimize"};
    combo.ItemIndex = 1;
    window.Owned.push_back(combo);
    window.Owned.push_back(Control("TMenuItem", "MenuExit", "Exit"));
    window.Owned.push_back(Control("TLabel", "", "unnamed"));
    return window;
  }

  static Component ReportWindow() {
    Component window = Control("TReportForm", "ReportForm", "Report");
    window.Owned.push_back(Control("TButton", "CloseBtn", "Close"));
    Component tab = Control("TReportTab", "", "C:\\");
    Component frame = Control("TReportContent", "ReportContent", "");
    frame.Owned.push_back(Control("TLabel", "DiskSizeTitle", "Disk Size:"));
    Component list = Control("TListView", "ReportList", "");
    list.Columns = {"FileName", "Fragment"};
    frame.Owned.push_back(list);
    tab.Owned.push_back(frame);
    window.Owned.push_back(tab);
    return window;
  }
};

TEST_F(TranslateTest, ReplacesCaptionsColumnsAndItemsFromExistingKeys) {
  WriteAll(Folder() / "Deutsch.lng", "[mainform]\n"
                                     "MainForm.caption=Quillo Defrag (DE)\n"
                                     "manudefragbtn.CAPTION=LOS\n"
                                     "PanelDefrag.Caption=never used\n"
                                     "Subclassed.Caption=never used\n"
                                     "manulist.Column[0].Caption=Laufwerk\n"
                                     "manulist.Column[2].Caption=Zeit\n"
                                     "manulist.Column[01].Caption=never used\n"
                                     "ComboBox_FastOrOptDefrag.Items[0].Caption=Nur defragmentieren\n"
                                     "ComboBox_FastOrOptDefrag.Items[1].Caption=\n"
                                     "MenuExit.Caption=Beenden\n"
                                     ".Caption=never used\n");
  TLanguage language(Folder());
  language.Current = "Deutsch";
  Component window = MainWindow();
  language.Translate(window);

  EXPECT_EQ(window.Caption, "Quillo Defrag (DE)");
  EXPECT_EQ(window.Owned[0].Caption, "LOS");
  EXPECT_EQ(window.Owned[1].Caption, "Language"); // no key: unchanged
  EXPECT_EQ(window.Owned[2].Caption, "panel text");
  EXPECT_EQ(window.Owned[3].Caption, "subclass text");
  EXPECT_THAT(window.Owned[4].Columns, ElementsAre("Laufwerk", "Status", "Zeit"));
  EXPECT_THAT(window.Owned[5].Items, ElementsAre("Nur defragmentieren", ""));
  EXPECT_EQ(window.Owned[5].ItemIndex, 1);
  EXPECT_EQ(window.Owned[6].Caption, "Beenden");
  EXPECT_EQ(window.Owned[7].Caption, "unnamed");
}

TEST_F(TranslateTest, KeepsTextsThatTheNewLanguageLacks) {
  WriteAll(Folder() / "A.lng", "[MainForm]\nMainForm.Caption=Title A\nManuDefragBtn.Caption=Go A\n"
                               "LabelLanguage.Caption=Language A\n");
  WriteAll(Folder() / "B.lng", "[MainForm]\nManuDefragBtn.Caption=Go B\n");
  TLanguage language(Folder());
  Component window = MainWindow();
  language.Current = "A";
  language.Translate(window);
  language.Current = "B";
  language.Translate(window);
  EXPECT_EQ(window.Caption, "Title A");
  EXPECT_EQ(window.Owned[0].Caption, "Go B");
  EXPECT_EQ(window.Owned[1].Caption, "Language A");
}

TEST_F(TranslateTest, ReportTabsAndFramesUseTheirOwnSections) {
  WriteAll(Folder() / "Deutsch.lng", "[ReportForm]\n"
                                     "ReportForm.Caption=Bericht\n"
                                     "CloseBtn.Caption=Schliessen\n"
                                     "DiskSizeTitle.Caption=wrong section\n"
                                     "[ReportContent]\n"
                                     "DiskSizeTitle.Caption=Datentraegergroesse:\n"
                                     "ReportList.Column[1].Caption=Fragmente\n"
                                     "CloseBtn.Caption=wrong section\n");
  TLanguage language(Folder());
  language.Current = "Deutsch";
  Component window = ReportWindow();
  language.Translate(window);

  EXPECT_EQ(window.Caption, "Bericht");
  EXPECT_EQ(window.Owned[0].Caption, "Schliessen");
  const Component& tab = window.Owned[1];
  EXPECT_EQ(tab.Caption, "C:\\");
  const Component& frame = tab.Owned[0];
  EXPECT_EQ(frame.Owned[0].Caption, "Datentraegergroesse:");
  EXPECT_THAT(frame.Owned[1].Columns, ElementsAre("FileName", "Fragmente"));
}

} // namespace
} // namespace quillo
