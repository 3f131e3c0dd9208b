// The platform services handed to the portable layers. Tests swap single
// services for fakes or for the real ones pointed at their own folders.
#pragma once

#include "platform/network.h"
#include "platform/settings_store.h"
#include "platform/system.h"

namespace scour::platform {

struct Services {
    IEnvironment* environment = nullptr;
    ITempFiles* tempFiles = nullptr;
    ITextCodec* text = nullptr;
    IProcessRunner* processes = nullptr;
    ISettingsStore* settings = nullptr;
    INetwork* network = nullptr;
};

// The real services of the platform this program was built for.
Services& DefaultServices();

}  // namespace scour::platform
