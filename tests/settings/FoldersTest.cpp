// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <stdexcept>

#include "settings/ConfigurationFolder.h"
#include "settings/ExecutableFolder.h"
#include "settings/LanguageFolder.h"
#include "ScopedVariable.h"

namespace quillo {
namespace {

using test::ScopedVariable;

TEST(FoldersTest, ConfigurationFolderFollowsTheVariablesInOrder) {
  const struct {
    const char* Home;
    const char* Xdg;
    const char* Override;
    const char* Expected;
  } cases[] = {
      {"/home/u", nullptr, nullptr, "/home/u/.config/quillodefrag"},
      {"/home/u", "", "", "/home/u/.config/quillodefrag"},
      {"/home/u", "relative/dir", nullptr, "/home/u/.config/quillodefrag"},
      {"/home/u", "/xdg", nullptr, "/xdg/quillodefrag"},
      {"/home/u", "/xdg", "/portable/settings", "/portable/settings"},
      {nullptr, nullptr, "/portable/settings", "/portable/settings"},
  };
  for (const auto& c : cases) {
    ScopedVariable home("HOME", c.Home);
    ScopedVariable xdg("XDG_CONFIG_HOME", c.Xdg);
    ScopedVariable override("QUILLODEFRAG_HOME", c.Override);
    EXPECT_EQ(ConfigurationFolder(), c.Expected);
  }
  ScopedVariable home("HOME", nullptr);
  ScopedVariable xdg("XDG_CONFIG_HOME", nullptr);
  ScopedVariable override("QUILLODEFRAG_HOME", nullptr);
  EXPECT_THROW(ConfigurationFolder(), std::runtime_error);
}

TEST(FoldersTest, LanguageFolderPrefersTheOverrideThenTheExecutablesFolder) {
  {
    ScopedVariable override("QUILLODEFRAG_LANGUAGE_DIR", "/somewhere/language");
    EXPECT_EQ(LanguageFolder(), "/somewhere/language");
  }
  ScopedVariable override("QUILLODEFRAG_LANGUAGE_DIR", nullptr);
  // The test program has no "language" folder beside it, so the installed
  // one is named.
  ASSERT_FALSE(ExecutableFolder().empty());
  EXPECT_TRUE(ExecutableFolder().is_absolute());
  EXPECT_EQ(LanguageFolder().filename(), "language");
  EXPECT_EQ(LanguageFolder().parent_path().filename(), "quillodefrag");
}

} // namespace
} // namespace quillo
