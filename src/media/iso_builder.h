// The ISO image builder: stages the boot files, the banners and the boot
// configuration archive, runs the image maker over them and delivers the image
// to IsoPath.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "options/wizard_options.h"
#include "platform/reporter.h"
#include "platform/services.h"

namespace scour {

// The image maker in the program folder.
#ifdef _WIN32
inline constexpr wchar_t kIsoMakerName[] = L"mkisofs.exe";
#else
inline constexpr wchar_t kIsoMakerName[] = L"mkisofs";
#endif
// The file the image maker leaves in the staging folder.
inline constexpr wchar_t kIsoImageName[] = L"scourcd.iso";
inline constexpr wchar_t kIsoStagingPrefix[] = L"SCRLIN";
// A smaller image is taken for a failed run of the image maker.
inline constexpr std::uint64_t kMinIsoImageSize = 1048576;

// The image maker's command for the given program and staging folders: the whole
// line (program folder inserted unquoted, as the wizard always did) and the same
// words as an argument vector. Nothing when the line does not fit its buffer.
std::optional<platform::ProcessRequest> MakeIsoMakerRequest(const std::wstring& programFolder,
                                                            const std::wstring& stagingFolder);

// Makes the image and copies it to options.IsoPath. True only when the image was
// delivered; every failure has been reported when it returns. The staging folder
// is removed on every way out.
bool BuildIsoImage(WizardOptions& options, const platform::Services& services,
                   platform::IReporter& reporter);

// The string's text in an error box captioned with the wizard's name.
void ShowIsoError(platform::IReporter& reporter, int id);

}  // namespace scour
