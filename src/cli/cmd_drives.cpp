// drives: the removable drives as the USB disk page lists them.
#include "cli/commands.h"
#include "media/drive_discovery.h"
#include "platform/volumes.h"

namespace scour::cli {

namespace {

int Drives(Context& c) {
    auto volumes = platform::CreateVolumeSystem(c.services.environment->ProgramFolder());
    DriveList drives;
    if (!DiscoverRemovableDrives(*volumes, drives)) {
        PrintError(L"scourline-media: the volumes could not be enumerated\n");
        return kExitFailed;
    }
    if (drives.empty()) {
        Print(L"No removable drive was found.\n");
        return kExitDone;
    }
    Print(FormatDriveTable(drives));
    return kExitDone;
}

const bool registered = RegisterCommand(
    {70, L"drives",
     L"drives                  list removable drives as the wizard's list shows them", NoArgs,
     Drives});

}  // namespace

}  // namespace scour::cli
