// SPDX-License-Identifier: GPL-2.0-or-later
#include "QtTestApplication.h"

#include <QApplication>
#include <QLocale>

namespace quillo::test {

void EnsureQtApplication() {
  if (QApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Texts with decimals and times are checked in the C locale unless a test
  // picks another.
  QLocale::setDefault(QLocale::c());
  static int argc = 1;
  static char name[] = "quillo_reportwindow_tests";
  static char* argv[] = {name, nullptr};
  // Deliberately never destroyed: Qt's fonts and platform live as long as
  // the test program.
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

} // namespace quillo::test

// Fontconfig keeps a small cache for the life of the process and never frees
// it; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
