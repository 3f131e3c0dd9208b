// How builders tell the user what happened. The wizard frames show message
// boxes; scourline-media prints the texts and takes answers from its flags.
#pragma once

#include <string>

namespace scour::platform {

enum class BoxKind {
    Error,        // error icon, OK
    Information,  // information icon, OK
    Plain,        // no icon, OK
    Question,     // question with Yes and No
};

class IReporter {
  public:
    virtual ~IReporter() = default;
    virtual void ShowMessage(BoxKind kind, const std::wstring& caption,
                             const std::wstring& text) = 0;
    // True only for Yes.
    virtual bool AskYesNo(const std::wstring& caption, const std::wstring& text) = 0;
};

}  // namespace scour::platform
