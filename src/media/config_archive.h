// The boot configuration archive "scour": every scheme file, the script
// wipe_config and the add-ons listed in addons.txt.
#pragma once

#include <string>

#include "options/wizard_options.h"
#include "platform/services.h"

namespace scour {

// The text of wipe_config (without its terminating NUL). Applies ClampScheme.
std::string BuildConfigText(WizardOptions& options, platform::ITextCodec& codec);

// Builds the archive and copies it to destination; true when the copy succeeded.
bool WriteConfigArchive(WizardOptions& options, const std::wstring& destination,
                        const platform::Services& services);

}  // namespace scour
