// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace quillo {

// The update check's question to the user and the page it opens; both run
// on the window thread.
class UpdateQuestion {
public:
  virtual ~UpdateQuestion() = default;
  // A Yes/No box without icon; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
  // Opens the page in the user's browser; failures are not reported.
  virtual void OpenPage(const std::string& url) = 0;
};

} // namespace quillo
