#include <windows.h>

#include "platform/privileges.h"

namespace scour::platform {

// Only an administrator may open the service control manager with all access
// rights; the handle is released at once.
bool IsAdministrator() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return false;
    }
    CloseServiceHandle(manager);
    return true;
}

}  // namespace scour::platform
