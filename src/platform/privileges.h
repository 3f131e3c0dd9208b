// Whether the wizard runs with the rights it needs to write to disks.
#pragma once

namespace scour::platform {
// Windows: the service control manager opens with all access rights.
bool IsAdministrator();
}  // namespace scour::platform
