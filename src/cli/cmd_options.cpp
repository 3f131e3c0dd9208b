// show and save: the options record itself.
#include "cli/commands.h"
#include "cli/option_fields.h"
#include "options/summary.h"

namespace scour::cli {

namespace {

int Show(Context& c) {
    std::wstring summary = BuildSummaryText(c.options);
    Print(DescribeOptions(c.options) + L"\n" + summary);
    return kExitDone;
}

int Save(Context& c) {
    long status = c.options.Save(c.services);
    if (status != 0) {
        PrintError(L"scourline-media: the options could not be stored (status " +
                   std::to_wstring(status) + L")\n");
        return kExitFailed;
    }
    return kExitDone;
}

const bool registered =
    RegisterCommand({10, L"show", L"show                    print the options and the summary text",
                     NoArgs, Show}) &&
    RegisterCommand({20, L"save",
                     L"save                    store the options where the wizard stores them",
                     NoArgs, Save});

}  // namespace

}  // namespace scour::cli
