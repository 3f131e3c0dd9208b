// Values for assignments in the POSIX shell scripts the boot environment sources.
#pragma once

#include <string>
#include <string_view>

namespace scour {

// True when every byte is one a POSIX shell takes literally outside quotes:
// ASCII letters, digits and / . _ - : @ % + , =. The empty text counts as safe.
bool IsShellSafe(std::string_view value);

// The value as it stands when it is safe, otherwise in single quotes with each
// ' written as '\''. Sourcing NAME=<result> gives NAME the exact bytes of value.
std::string ShellQuote(std::string_view value);

}  // namespace scour
