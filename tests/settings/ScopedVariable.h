// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace quillo::test {

// Sets or clears an environment variable for one test and restores it.
class ScopedVariable {
public:
  ScopedVariable(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Previous = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (Previous) {
      setenv(Name, Previous->c_str(), 1);
    } else {
      unsetenv(Name);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
  const char* Name;
  std::optional<std::string> Previous;
};

} // namespace quillo::test
