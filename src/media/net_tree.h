// The network boot tree builder: writes the folder a TFTP server serves, with
// the boot files, the banner, the boot configuration archive and a dnsmasq
// configuration for serving it. The tree is filled beside its folder and moved
// into place whole, so a running server never serves half of it.
#pragma once

#include <optional>
#include <string>

#include "options/wizard_options.h"
#include "platform/reporter.h"
#include "platform/services.h"

namespace scour {

// A tree this builder wrote holds this file; only such a folder (or an empty
// one) is replaced.
inline constexpr wchar_t kNetTreeMarker[] = L".scourline-net-tree";
inline constexpr wchar_t kDnsmasqConfigName[] = L"dnsmasq.conf";
// What BIOS and UEFI x86-64 clients are sent, from the program folder's net/.
inline constexpr wchar_t kNetBiosLoader[] = L"pxelinux.0";
inline constexpr wchar_t kNetUefiLoader[] = L"bootx64.efi";

// The dnsmasq configuration for a tree whose folder is root (an absolute path
// in the system's 8-bit text). Nothing when dnsmasq could not read that path
// back: a comma ends the value, a line break ends the line.
std::optional<std::string> MakeDnsmasqConfig(const std::string& root);

// Writes the tree into folder (a relative one is taken from the current
// folder). The folder must be absent, empty, or a tree this builder wrote.
// True only when the whole new tree is in place; every failure has been
// reported when it returns, and whatever the run made is gone.
bool BuildNetTree(const std::wstring& folder, WizardOptions& options,
                  const platform::Services& services, platform::IReporter& reporter);

}  // namespace scour
