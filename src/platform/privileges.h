// The administrator check at start-up.
#pragma once

namespace scour::platform {

// Windows: the service control manager opens with all access rights. Linux:
// the process runs as root, or it can start the privileged disk helper: pkexec
// is installed and so is the helper's polkit policy.
bool IsAdministrator();

}  // namespace scour::platform
