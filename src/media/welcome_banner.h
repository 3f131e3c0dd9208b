// The welcome text the boot loader shows first.
#pragma once

#include <string>

namespace scour {

enum class BannerForm {
    Main,   // x86, x64 and Itanium boot loader, with screen control codes
    Sparc,  // 64-bit SPARC, plain text and a system information block
};

// Writes the banner, replacing any file of that name; false when it cannot be created.
bool WriteWelcomeBanner(const std::wstring& path, BannerForm form);

}  // namespace scour
