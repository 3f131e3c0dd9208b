// Message boxes of the wizard: real boxes over the active window, or, in a
// scripted run, the script's answers.
#pragma once

#include "platform/reporter.h"

namespace scour::qt {

class QtReporter final : public platform::IReporter {
  public:
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override;
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override;
};

}  // namespace scour::qt
