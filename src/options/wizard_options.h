// The one record of the user's choices, its defaults, and its persistence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace scour {

// One wiping scheme of the catalogue; its position is the scheme number.
struct SchemeEntry {
    std::wstring Name;
    std::wstring Path;
    std::int32_t PassCount = 0;
    std::int32_t Weight = 0;
};

class WizardOptions {
  public:
    // Fields in their declared order. Booleans hold 0 or 1; readers take non-zero as true.
    std::int32_t AllowTestMode = 0;
    std::int32_t AutoStart = 0;
    std::int32_t SelectDisks = 1;
    std::int32_t NoDelay = 0;
    std::int32_t TestMode = 0;
    std::int32_t WriteLog = 0;
    std::int32_t NetLog = 0;
    std::wstring NetShare;
    std::wstring NetUser;
    std::wstring NetPassword;
    std::wstring NetShareIp;
    std::int32_t NetAskPassword = 0;
    std::int32_t Scheme = 0;
    std::vector<SchemeEntry> Schemes;
    std::int32_t Verify = 0;
    std::int32_t ResetHPA = 0;
    std::int32_t ResetDCO = 0;
    std::int32_t AtaErase = 0;
    std::int32_t IsoUsb = 1;
    std::optional<std::wstring> IsoPath;
    std::int32_t IsoShowFolder = 1;

    // Fills the record from the store, builds the catalogue, repairs Scheme and IsoPath.
    void Load(const platform::Services& services);
    // Writes the stored fields; returns the store's status (0 on success), which no caller needs.
    long Save(const platform::Services& services);
    // An out-of-range Scheme becomes 0.
    void ClampScheme();
    // IsoPath becomes the default image path unless PathOrFolderExists holds for it.
    void SetDefaultIsoPath(const platform::Services& services);
    // The documents folder (or the program folder), a separator and "scourcd.iso"; nothing
    // when neither folder is known or the path would not fit a path buffer.
    static std::optional<std::wstring> DefaultIsoPath(const platform::Services& services);

    // Rebuilds Schemes from <program folder>/schemes/*.sch; false when the folder cannot be listed.
    bool BuildSchemeCatalogue(const platform::Services& services);
    // Reads one scheme file and appends its entry when it qualifies.
    bool ReadSchemeFile(const platform::Services& services, const std::wstring& path);

    // The chosen scheme after ClampScheme, or null when the catalogue is empty.
    const SchemeEntry* ChosenScheme();
};

// True when the path names an existing file or folder, or its folder part (up to
// and including the last separator) names an existing folder.
bool PathOrFolderExists(const std::optional<std::wstring>& path);

}  // namespace scour
