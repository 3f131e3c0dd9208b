#include "options/wizard_options.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "options/stored_values.h"

namespace scour {

namespace {

using platform::ISettingsKey;
using platform::RegValue;

// The stored booleans, in the order Load reads and Save writes them.
struct BoolField {
    const wchar_t* name;
    std::int32_t WizardOptions::*field;
};

constexpr BoolField kStoredBools[] = {
    {L"AutoStart", &WizardOptions::AutoStart},
    {L"SelectDisks", &WizardOptions::SelectDisks},
    {L"NoDelay", &WizardOptions::NoDelay},
    {L"WriteLog", &WizardOptions::WriteLog},
    {L"NetLog", &WizardOptions::NetLog},
    {L"Verify", &WizardOptions::Verify},
    {L"ResetHPA", &WizardOptions::ResetHPA},
    {L"ResetDCO", &WizardOptions::ResetDCO},
    {L"AtaErase", &WizardOptions::AtaErase},
    {L"IsoUsb", &WizardOptions::IsoUsb},
    {L"IsoShowFolder", &WizardOptions::IsoShowFolder},
};

constexpr wchar_t kImageFileName[] = L"scourcd.iso";

std::optional<std::int32_t> QueryDword(ISettingsKey& key, const wchar_t* name) {
    RegValue value;
    if (!key.Query(name, value)) {
        return std::nullopt;
    }
    return DecodeDword(value);
}

std::optional<std::wstring> QueryText(ISettingsKey& key, const wchar_t* name) {
    RegValue value;
    if (!key.Query(name, value)) {
        return std::nullopt;
    }
    return DecodeText(value);
}

bool IsSeparator(wchar_t c) {
#ifdef _WIN32
    return c == L'\\' || c == L'/';
#else
    return c == kPathSep;
#endif
}

bool Exists(std::wstring_view path) {
    std::error_code ec;
    return std::filesystem::exists(ToFsPath(path), ec);
}

bool IsFolder(std::wstring_view path) {
    std::error_code ec;
    return std::filesystem::is_directory(ToFsPath(path), ec);
}

}  // namespace

void WizardOptions::Load(const platform::Services& services) {
    std::unique_ptr<ISettingsKey> key;
    if (services.settings != nullptr) {
        key = services.settings->OpenKey();
    }
    if (key) {
        for (const auto& b : kStoredBools) {
            if (auto v = QueryDword(*key, b.name)) {
                this->*b.field = *v != 0 ? 1 : 0;
            }
        }
        // A key without a usable "Scheme" selects the fourth scheme; ClampScheme repairs it
        // when there are fewer.
        Scheme = QueryDword(*key, L"Scheme").value_or(3);
        IsoPath = QueryText(*key, L"IsoPath");
        NetShare = QueryText(*key, L"NetShare").value_or(std::wstring());
        NetUser = QueryText(*key, L"NetUser").value_or(std::wstring());
        NetPassword.clear();
    }
    BuildSchemeCatalogue(services);
    ClampScheme();
    SetDefaultIsoPath(services);
}

long WizardOptions::Save(const platform::Services& services) {
    if (services.settings == nullptr) {
        return -1;
    }
    long status = 0;
    auto key = services.settings->CreateKey(status);
    if (!key) {
        return status != 0 ? status : -1;
    }
    // Single write failures are ignored: the rest is still worth storing.
    for (const auto& b : kStoredBools) {
        key->Set(b.name, platform::kRegDword, EncodeDword(this->*b.field != 0 ? 1 : 0));
    }
    ClampScheme();
    key->Set(L"Scheme", platform::kRegDword, EncodeDword(Scheme));
    // Too short or empty texts are not written, so the stored value stays. Texts that Load
    // would refuse as too long are not written either.
    if (IsoPath && IsoPath->size() > 3 && FitsStoredText(*IsoPath)) {
        key->Set(L"IsoPath", platform::kRegSz, EncodeText(*IsoPath));
    }
    if (!NetShare.empty() && FitsStoredText(NetShare)) {
        key->Set(L"NetShare", platform::kRegSz, EncodeText(NetShare));
    }
    if (!NetUser.empty() && FitsStoredText(NetUser)) {
        key->Set(L"NetUser", platform::kRegSz, EncodeText(NetUser));
    }
    return key->Commit();
}

void WizardOptions::ClampScheme() {
    if (Scheme < 0 || static_cast<std::size_t>(Scheme) >= Schemes.size()) {
        Scheme = 0;
    }
}

void WizardOptions::SetDefaultIsoPath(const platform::Services& services) {
    if (!PathOrFolderExists(IsoPath)) {
        IsoPath = DefaultIsoPath(services);
    }
}

std::optional<std::wstring> WizardOptions::DefaultIsoPath(const platform::Services& services) {
    if (services.environment == nullptr) {
        return std::nullopt;
    }
    // The documents folder first; the program folder when that is unknown or too deep
    // for a path buffer.
    std::optional<std::wstring> folders[2] = {services.environment->DocumentsFolder(),
                                              services.environment->ProgramFolder()};
    for (const auto& folder : folders) {
        if (!folder || folder->empty()) {
            continue;
        }
        std::wstring path = JoinPath(*folder, kImageFileName);
        if (FitsPathBuffer(path)) {
            return path;
        }
    }
    return std::nullopt;
}

const SchemeEntry* WizardOptions::ChosenScheme() {
    ClampScheme();
    if (Schemes.empty()) {
        return nullptr;
    }
    return &Schemes[static_cast<std::size_t>(Scheme)];
}

bool PathOrFolderExists(const std::optional<std::wstring>& path) {
    if (!path || path->empty() || !FitsPathBuffer(*path)) {
        return false;
    }
    if (Exists(*path)) {
        return true;
    }
    std::size_t cut = path->size();
    while (cut > 0 && !IsSeparator((*path)[cut - 1])) {
        --cut;
    }
    return cut > 0 && IsFolder(std::wstring_view(*path).substr(0, cut));
}

}  // namespace scour
