// The wizard runs as the desktop user; what needs root goes through the disk
// helper. So "administrator" means: root, or able to start that helper.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/linux/helper_disk_preparer.h"
#include "platform/linux/helper_protocol.h"
#include "platform/privileges.h"

namespace scour::platform {

bool IsAdministrator() {
    if (geteuid() == 0) {
        return true;
    }
    // polkit reads actions from this folder only; the tests point it elsewhere.
    std::string actions = "/usr/share/polkit-1/actions";
    if (const char* dir = std::getenv("SCOUR_TEST_POLKIT_ACTIONS");
        dir != nullptr && *dir != '\0') {
        actions = dir;
    }
    std::string policy = actions + "/" + helper::kHelperPolicyId + ".policy";
    return !FindPkexec().empty() && access(policy.c_str(), R_OK) == 0;
}

}  // namespace scour::platform
