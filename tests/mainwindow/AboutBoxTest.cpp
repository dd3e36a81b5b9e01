// SPDX-License-Identifier: GPL-2.0-or-later
// The About box: opened from the header link and from the tray menu, it
// names the program's version and licence and the versions that the
// libraries in use report themselves, in the chosen language, and closes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTest>

#include <curl/curl.h>

#include "OptionsWindowRig.h"
#include "mainwindow/AboutForm.h"
#include "mainwindow/HeaderStrip.h"

namespace quillo::test {
namespace {

void ClickLink(QWidget* label) {
  const QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(label, &press);
  QCoreApplication::sendEvent(label, &release);
}

// What a program prints, its first line.
QString FirstLineOf(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished();
  return QString::fromUtf8(process.readAllStandardOutput())
      .section(QLatin1Char('\n'), 0, 0)
      .trimmed();
}

// The file name of the NTFS library this process has loaded.
QString LoadedNtfsLibrary() {
  QFile maps(QStringLiteral("/proc/self/maps"));
  if (!maps.open(QIODevice::ReadOnly)) return {};
  for (const QByteArray& line : maps.readAll().split('\n')) {
    const QString path = QString::fromUtf8(line).section(QLatin1Char(' '), -1);
    if (path.contains(QStringLiteral("/libntfs-3g.so"))) return path.section(QLatin1Char('/'), -1);
  }
  return {};
}

struct Case {
  const char* Language;
  const char* Title;
  const char* Licence;
  const char* BuiltWith;
};

TEST(AboutBox, OpensFromTheHeaderAndTheTrayWithTheLibrariesOwnVersionsAndCloses) {
  // "qdefrag (Quillo Defrag) 0.1.0": the build's version, as the command line tells it.
  const QString version = FirstLineOf(QStringLiteral(QDEFRAG_PATH), {QStringLiteral("--version")})
                              .section(QLatin1Char(' '), -1);
  ASSERT_FALSE(version.isEmpty());
  const QString ntfsBuilt = FirstLineOf(
      QStringLiteral("pkg-config"), {QStringLiteral("--modversion"), QStringLiteral("libntfs-3g")});
  const QString ntfsFile = LoadedNtfsLibrary();
  ASSERT_FALSE(ntfsFile.isEmpty());
  const QString curl = QString::fromLatin1(curl_version_info(CURLVERSION_NOW)->version);

  const Case cases[] = {
      {"English", "About Quillo Defrag", "GNU General Public License, version 2 or later",
       "built with"},
      {"Deutsch", "Über Quillo Defrag", "GNU General Public License, Version 2 oder neuer",
       "kompiliert mit"},
      {"Francais", "À propos de Quillo Defrag",
       "GNU General Public License, version 2 ou ultérieure", "compilé avec"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Language);
    OptionsWindowRig windows;
    windows.Rig.EditSettings([&](TSetting& settings) { settings.Language = test.Language; });
    TMainForm& form = windows.Start();
    form.show();
    AboutForm& about = *form.About;
    ASSERT_FALSE(about.isVisible());
    EXPECT_EQ(form.Tray->TrayMenu_About->text(), QString::fromUtf8(test.Title));

    ClickLink(form.Header->LabelAbout);
    ASSERT_TRUE(about.isVisible());
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8(test.Title));
    EXPECT_EQ(about.VersionValue->text(), version);
    EXPECT_EQ(about.LicenceText->text(), QString::fromUtf8(test.Licence));
    EXPECT_EQ(about.QtValue->text(),
              QStringLiteral("%1 (%2 %3)")
                  .arg(QString::fromLatin1(qVersion()), QString::fromUtf8(test.BuiltWith),
                       QStringLiteral(QT_VERSION_STR)));
    // The library's name as it was loaded ("libntfs-3g.so.89"), which the
    // file in the process's map ("libntfs-3g.so.89.0.0") begins with.
    const QString ntfs = about.NtfsValue->text();
    EXPECT_TRUE(ntfs.startsWith(ntfsBuilt + QStringLiteral(" (libntfs-3g.so.")))
        << ntfs.toStdString();
    EXPECT_TRUE(ntfs.endsWith(QLatin1Char(')')));
    EXPECT_TRUE(ntfsFile.startsWith(ntfs.section(QLatin1Char('('), 1).chopped(1)))
        << ntfs.toStdString();
    EXPECT_TRUE(about.CurlValue->text().startsWith(curl)) << about.CurlValue->text().toStdString();
    QTest::mouseClick(about.okbtn, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());

    // From the tray, the window hidden; Escape closes it.
    form.hide();
    form.Tray->TrayMenu_About->trigger();
    ASSERT_TRUE(about.isVisible());
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(windows.Links.empty());
  }
}

} // namespace
} // namespace quillo::test
