// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "update/UpdateQuestion.h"

namespace quillo {

// The update question as a Yes/No message box of the application (owned by
// no window), and the page opened in the desktop's browser.
class UpdateQuestionBox final : public UpdateQuestion {
public:
  bool AskYesNo(const std::string& text, const std::string& title) override;
  void OpenPage(const std::string& url) override;
};

} // namespace quillo
