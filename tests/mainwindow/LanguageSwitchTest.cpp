// SPDX-License-Identifier: GPL-2.0-or-later
// Translation of the real windows, switching languages, and the language
// chooser.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "OptionsWindowRig.h"
#include "mainwindow/WindowTranslation.h"
#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportTab.h"
#include "settings/ProfileFile.h"
#include "settings/TextEncoding.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The text a key translates, read from the window: "Name.Caption",
// "Name.Column[i].Caption" or "Name.Items[i].Caption".
std::optional<QString> ShownText(const QList<QObject*>& roots, const std::string& key) {
  const QString text = QString::fromStdString(key);
  const int dot = text.indexOf('.');
  const QString name = text.left(dot);
  QObject* object = nullptr;
  for (QObject* root : roots) {
    if (root->objectName().compare(name, Qt::CaseInsensitive) == 0) object = root;
    if (!object) object = root->findChild<QObject*>(name);
    if (object) break;
  }
  if (!object) return std::nullopt;
  const QString part = text.mid(dot + 1);
  const int index = part.section('[', 1).section(']', 0, 0).toInt();
  if (part.startsWith("Column[")) return qobject_cast<QTreeWidget*>(object)->headerItem()->text(index);
  if (part.startsWith("Items[")) return qobject_cast<QComboBox*>(object)->itemText(index);
  if (auto* label = qobject_cast<QLabel*>(object)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(object)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(object)) return group->title();
  if (auto* action = qobject_cast<QAction*>(object)) return action->text();
  if (auto* window = qobject_cast<QWidget*>(object)) return window->windowTitle();
  return std::nullopt;
}

class LanguageSwitchTest : public ::testing::Test {
protected:
  void UseLanguageFiles() {
    Windows.LanguageFolder = Windows.Rig.Folder.Path() / "language";
    WriteFile(Windows.LanguageFolder / "Alpha.lng",
              "[MainForm]\n"
              "LabelLanguage.Caption=Alpha language\n"
              "SettingCancelBtn.Caption=Alpha cancel\n"
              "ComboBox_FastOrOptDefrag.Items[0].Caption=Alpha only\n"
              "ComboBox_FastOrOptDefrag.Items[1].Caption=Alpha optimize\n"
              "manulist.Column[1].Caption=Alpha status\n"
              "TrayMenu_Exit.Caption=Alpha exit\n"
              "[ReportForm]\n"
              "CloseBtn.Caption=Alpha close\n"
              "[switchlangform]\n"
              "switchlangform.Caption=Alpha chooser\n");
    WriteFile(Windows.LanguageFolder / "Beta.lng",
              "[MainForm]\n"
              "SettingCancelBtn.Caption=\n"
              "ComboBox_FastOrOptDefrag.Items[1].Caption=Beta optimize\n"
              "TrayMenu_Exit.Caption=Beta exit\n"
              "[ReportForm]\n"
              "CloseBtn.Caption=Beta close\n");
  }
  TMainForm& Start() {
    Form = &Windows.Start();
    return *Form;
  }
  Tswitchlangform& Chooser() { return Windows.Windows->LanguageChooser(); }
  QStringList ChooserItems() {
    QStringList items;
    for (int i = 0; i < Chooser().LanBox->count(); ++i) items << Chooser().LanBox->itemText(i);
    return items;
  }

  OptionsWindowRig Windows;
  TMainForm* Form = nullptr;
};

TEST_F(LanguageSwitchTest, ShippedLanguagesTranslateEveryWindow) {
  for (const char* language : {"Deutsch", "Francais", "English"}) {
    SCOPED_TRACE(language);
    OptionsWindowRig windows;
    windows.Rig.EditSettings([&](TSetting& settings) { settings.Language = language; });
    TMainForm& form = windows.Start();
    TLanguage expected(SourceDir() / "language");
    expected.Current = language;
    const ProfileFile file = ProfileFile::Parse(
        ToDisplayText(ReadFile(SourceDir() / "language" / (std::string(language) + ".lng"))));
    struct Window {
      const char* Section;
      QList<QObject*> Roots;
    };
    const Window windowsToCheck[] = {
        {"MainForm", {&form, form.Tray->TrayMenu}},
        {"ReportForm", {&windows.Windows->ReportForm()}},
        {"switchlangform", {&windows.Windows->LanguageChooser()}},
    };
    for (const Window& window : windowsToCheck) {
      const std::vector<std::string> keys = file.Keys(window.Section);
      EXPECT_FALSE(keys.empty()) << window.Section;
      for (const std::string& key : keys) {
        const std::optional<QString> shown = ShownText(window.Roots, key);
        ASSERT_TRUE(shown.has_value()) << window.Section << " " << key;
        EXPECT_EQ(shown->toStdString(), expected.Lookup(window.Section, key, "?"))
            << window.Section << " " << key;
      }
    }
  }
}

TEST_F(LanguageSwitchTest, SwitchingKeepsTextsTheNewFileLacksAndEmptiesEmptyOnes) {
  UseLanguageFiles();
  Windows.Rig.EditSettings([](TSetting& settings) { settings.Language = "Alpha"; });
  Start();
  QComboBox* method = Form->manualdefrag->ComboBox_FastOrOptDefrag;
  method->setCurrentIndex(1);
  EXPECT_EQ(Form->Header->LabelLanguage->text(), "Alpha language");
  EXPECT_EQ(Form->Option->SettingCancelBtn->text(), "Alpha cancel");
  EXPECT_EQ(Windows.Windows->ReportForm().CloseBtn->text(), "Alpha close");
  EXPECT_EQ(Chooser().windowTitle(), "Alpha chooser");

  // Chosen on the options page: taken with Apply.
  Form->SideBarTileClick(SideBar::kOption);
  Form->Option->ComboBox_Language->setCurrentText("Beta");
  Form->Option->SettingApplyBtn->click();
  EXPECT_EQ(Windows.Rig.StoredSettings()->Language, "Beta");
  EXPECT_EQ(Form->Settings->Translator.Current, "Beta");
  EXPECT_EQ(Form->Header->LabelLanguage->text(), "Alpha language");
  EXPECT_EQ(Form->manualdefrag->manulist->headerItem()->text(1), "Alpha status");
  EXPECT_EQ(Form->Option->SettingCancelBtn->text(), "");
  EXPECT_EQ(method->itemText(0), "Alpha only");
  EXPECT_EQ(method->itemText(1), "Beta optimize");
  EXPECT_EQ(method->currentIndex(), 1);
  EXPECT_EQ(Form->Tray->TrayMenu_Exit->text(), "Beta exit");
  EXPECT_EQ(Windows.Windows->ReportForm().CloseBtn->text(), "Beta close");
  EXPECT_EQ(Chooser().windowTitle(), "Alpha chooser");
  EXPECT_EQ(Form->Option->ComboBox_Language->currentText(), "Beta");
}

TEST_F(LanguageSwitchTest, ChooserListsTheLanguagesAndTakesTheChosenOne) {
  UseLanguageFiles();
  Windows.Rig.EditSettings([](TSetting& settings) { settings.Language = "alpha"; });
  Start();
  Chooser().FormShow();
  EXPECT_EQ(ChooserItems(), QStringList({"Alpha", "Beta"}));
  EXPECT_EQ(Chooser().LanBox->currentText(), "Alpha");

  Chooser().show();
  Chooser().LanBox->setCurrentIndex(1);
  Chooser().okbtnClick();
  EXPECT_FALSE(Chooser().isVisible());
  EXPECT_EQ(Windows.Rig.StoredSettings()->Language, "Beta");
  EXPECT_EQ(Form->Tray->TrayMenu_Exit->text(), "Beta exit");
  EXPECT_EQ(Form->Option->ComboBox_Language->currentText(), "Beta");
}

TEST_F(LanguageSwitchTest, OkWithNothingChosenChangesNothing) {
  UseLanguageFiles();
  Windows.Rig.EditSettings([](TSetting& settings) { settings.Language = "Gamma"; });
  Start();
  Chooser().show();
  EXPECT_EQ(ChooserItems(), QStringList({"Alpha", "Beta"}));
  EXPECT_EQ(Chooser().LanBox->currentIndex(), -1);
  const std::string before = ReadFile(Windows.Rig.SettingsFile());
  Chooser().okbtnClick();
  EXPECT_FALSE(Chooser().isVisible());
  EXPECT_EQ(ReadFile(Windows.Rig.SettingsFile()), before);
  EXPECT_EQ(Form->Settings->Language, "Gamma");
  EXPECT_EQ(Form->Option->ComboBox_Language->currentIndex(), -1);
}

TEST_F(LanguageSwitchTest, WithoutLanguageFilesTheChooserIsEmpty) {
  Windows.LanguageFolder = Windows.Rig.Folder.Path() / "no-languages";
  Start();
  Chooser().show();
  EXPECT_EQ(Chooser().LanBox->count(), 0);
  const std::string before = ReadFile(Windows.Rig.SettingsFile());
  Chooser().okbtnClick();
  EXPECT_FALSE(Chooser().isVisible());
  EXPECT_EQ(ReadFile(Windows.Rig.SettingsFile()), before);
  EXPECT_EQ(Form->Header->LabelLanguage->text(), "Language");
}

TEST_F(LanguageSwitchTest, HeaderLinkShowsTheChooserModallyOverTheWindow) {
  Start();
  Form->show();
  bool shown = false;
  QTimer::singleShot(0, [&] {
    shown = Chooser().isVisible() && Chooser().isModal();
    // Centred, give or take the rounding of odd sizes.
    const QPoint offset = Chooser().frameGeometry().center() - Form->frameGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 2);
    EXPECT_LE(std::abs(offset.y()), 2);
    EXPECT_EQ(Chooser().LanBox->currentText(), "English");
    Chooser().close();
  });
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Form->Header->LabelLanguage, &release);
  EXPECT_TRUE(shown);
}

// A label of the program's own making, derived from QLabel.
class DerivedLabel final : public QLabel {
  Q_OBJECT

public:
  using QLabel::QLabel;
};

TEST(WindowTranslationTest, ExactClassesInCreationOrderAndNothingElse) {
  TempDir folder;
  WriteFile(folder.Path() / "Probe.lng",
            "[Probe]\n"
            "Probe.Caption=Translated window\n"
            "Plain.Caption=Translated plain\n"
            "Derived.Caption=Translated derived\n"
            "Picture.Caption=Translated picture\n"
            "Nested.Caption=Translated nested\n"
            "Choice.Items[1].Caption=Translated second\n"
            "List.Column[0].Caption=Translated column\n"
            "Item.Caption=Translated item\n"
            "Inner.Caption=Translated inner dialog\n");
  TLanguage language(folder.Path());
  language.Current = "Probe";

  QWidget window;
  window.setObjectName("Probe");
  window.setWindowTitle("Window");
  auto* plain = new QLabel("plain", &window);
  plain->setObjectName("Plain");
  auto* derived = new DerivedLabel("derived", &window);
  derived->setObjectName("Derived");
  auto* picture = new QLabel(&window);
  picture->setObjectName("Picture");
  QPixmap pixels(4, 4);
  pixels.fill(Qt::red);
  picture->setPixmap(pixels);
  auto* group = new QGroupBox("group", &window);
  auto* nested = new QCheckBox("nested", group);
  nested->setObjectName("Nested");
  auto* choice = new QComboBox(&window);
  choice->setObjectName("Choice");
  choice->addItems({"first", "second"});
  choice->setCurrentIndex(1);
  auto* list = new QTreeWidget(&window);
  list->setObjectName("List");
  list->setHeaderLabels({"column"});
  auto* dialog = new QDialog(&window);
  auto* inner = new QLabel("inner", dialog);
  inner->setObjectName("Inner");
  QMenu menu;
  QAction* item = menu.addAction("item");
  item->setObjectName("Item");

  EXPECT_EQ(WindowTranslation::DesignClass(*plain), "TLabel");
  EXPECT_EQ(WindowTranslation::DesignClass(*derived), "");
  EXPECT_EQ(WindowTranslation::DesignClass(*picture), "");
  EXPECT_EQ(WindowTranslation::DesignClass(*item), "TMenuItem");
  WindowTranslation::Translate(language, window, {&menu});

  EXPECT_EQ(window.windowTitle(), "Translated window");
  EXPECT_EQ(plain->text(), "Translated plain");
  EXPECT_EQ(derived->text(), "derived");
  EXPECT_TRUE(picture->text().isEmpty());
  EXPECT_EQ(nested->text(), "Translated nested");
  EXPECT_EQ(choice->itemText(0), "first");
  EXPECT_EQ(choice->itemText(1), "Translated second");
  EXPECT_EQ(choice->currentIndex(), 1);
  EXPECT_EQ(list->headerItem()->text(0), "Translated column");
  EXPECT_EQ(item->text(), "Translated item");
  // A window of its own is translated in its own section.
  EXPECT_EQ(inner->text(), "inner");
}

TEST(WindowTranslationTest, AReportTabMetOnTheWayIsTranslatedInItsFramesSection) {
  TempDir folder;
  WriteFile(folder.Path() / "Probe.lng",
            "[Probe]\n"
            "Label_Suggestion_Caption.Caption=Not from this section\n"
            "[ReportContent]\n"
            "Label_Suggestion_Caption.Caption=Translated suggestion\n"
            "ReportList.Column[0].Caption=Translated name\n");
  TLanguage language(folder.Path());
  language.Current = "Probe";
  QWidget window;
  window.setObjectName("Probe");
  ReportSortOrder order;
  auto* tab = new TReportTab(order, &window);
  EXPECT_EQ(WindowTranslation::DesignClass(*tab), "TReportTab");
  EXPECT_EQ(WindowTranslation::DesignClass(*tab->Content), "TReportContent");
  WindowTranslation::Translate(language, window);
  EXPECT_EQ(tab->Content->Label_Suggestion_Caption->text(), "Translated suggestion");
  EXPECT_EQ(tab->Content->ReportList->headerItem()->text(0), "Translated name");
}

} // namespace
} // namespace quillo::test

#include "LanguageSwitchTest.moc"
