// The wizard runs elevated on Windows: its disk operations are the direct ones.
#include "platform/disk_ops.h"

namespace scour::platform {

std::unique_ptr<IDiskPreparer> CreateWizardDiskPreparer(const std::wstring& programFolder,
                                                        void* ownerWindow) {
    return CreateDiskPreparer(programFolder, ownerWindow);
}

}  // namespace scour::platform
