// The boot configuration archive "scour": every scheme file, the script
// wipe_config and the add-ons listed in addons.txt.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "options/wizard_options.h"
#include "platform/services.h"

namespace scour {

// The text of wipe_config (without its terminating NUL). Applies ClampScheme.
std::string BuildConfigText(WizardOptions& options, platform::ITextCodec& codec);

// Reads an add-on list (addons.txt) from where it stands to its end and calls take with
// each name that it accepts, in list order: the text after a line's first run of white
// space, without the white space at its end, and neither absolute nor with a ".." step.
void ReadAddOnList(std::FILE* list, const std::function<void(std::string_view)>& take);

// Builds the archive and copies it to destination; true when the copy succeeded.
bool WriteConfigArchive(WizardOptions& options, const std::wstring& destination,
                        const platform::Services& services);

}  // namespace scour
