// iso: the ISO image, made as the wizard's ISO page makes it.
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "cli/commands.h"
#include "media/iso_builder.h"

namespace scour::cli {

namespace {

std::wstring CheckIso(const std::vector<std::wstring>& args) {
    if (args.size() > 1 || (args.size() == 1 && args[0].empty())) {
        return L"iso takes at most one PATH";
    }
    return {};
}

int Iso(Context& c) {
    // PATH is for this run only; an absolute path makes the closing line plain.
    if (!c.args.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(ToFsPath(c.args[0]), ec);
        c.options.IsoPath = ec ? c.args[0] : FromFsPath(absolute);
    }
    // The builder has reported every failure through the reporter.
    if (!BuildIsoImage(c.options, c.services, c.reporter)) {
        return kExitFailed;
    }
    Print(L"ISO image written to " + *c.options.IsoPath + L"\n");
    return kExitDone;
}

const bool registered = RegisterCommand(
    {50, L"iso", L"iso [PATH]              make the ISO image (default: IsoPath)", CheckIso, Iso});

}  // namespace

}  // namespace scour::cli
