// archive and banner: the two files the boot environment reads.
#include "cli/commands.h"
#include "media/config_archive.h"
#include "media/welcome_banner.h"

namespace scour::cli {

namespace {

int Archive(Context& c) {
    if (!WriteConfigArchive(c.options, c.args[0], c.services)) {
        PrintError(L"scourline-media: the boot configuration archive could not be written to " +
                   c.args[0] + L"\n");
        return kExitFailed;
    }
    return kExitDone;
}

std::wstring CheckBanner(const std::vector<std::wstring>& args) {
    std::size_t paths = 0;
    for (const auto& a : args) {
        if (a == L"--sparc") {
            continue;
        }
        if (a.empty() || a.rfind(L"--", 0) == 0) {
            return L"banner takes PATH [--sparc], not \"" + a + L"\"";
        }
        ++paths;
    }
    return paths == 1 ? std::wstring() : L"banner takes one PATH";
}

int Banner(Context& c) {
    BannerForm form = BannerForm::Main;
    std::wstring path;
    for (const auto& a : c.args) {
        if (a == L"--sparc") {
            form = BannerForm::Sparc;
        } else {
            path = a;
        }
    }
    if (!WriteWelcomeBanner(path, form)) {
        PrintError(L"scourline-media: the welcome banner could not be written to " + path + L"\n");
        return kExitFailed;
    }
    return kExitDone;
}

const bool registered =
    RegisterCommand({30, L"archive",
                     L"archive PATH            write the boot configuration archive", OnePath,
                     Archive}) &&
    RegisterCommand(
        {40, L"banner", L"banner PATH [--sparc]   write the welcome banner", CheckBanner, Banner});

}  // namespace

}  // namespace scour::cli
