// SPDX-License-Identifier: GPL-2.0-or-later
// The window tests need an application object; they run on the offscreen
// platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "TestSupport.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The windows register their tasks through the task library: this program
  // keeps them in a temporary folder, and no service manager is asked.
  quillo::test::TempDir taskHome;
  setenv("XDG_CONFIG_HOME", (taskHome.Path() / "config").c_str(), 1);
  setenv("JOBSCHED_SYSTEMCTL", "", 1);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
