#pragma once

#include <string>

#include "options/wizard_options.h"

namespace scour {

// The plain-text list of settings the boot disk will carry. Applies ClampScheme.
std::wstring BuildSummaryText(WizardOptions& options);

}  // namespace scour
