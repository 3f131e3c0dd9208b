// share-test: the log options page's Test button, with the share and the
// credentials of the options record.
#include "base/strings.h"
#include "cli/commands.h"
#include "pages/share_test.h"

namespace scour::cli {

namespace {

int ShareTest(Context& c) {
    std::wstring share = CutTrailingBackslash(c.options.NetShare);
    if (share.rfind(L"\\\\", 0) != 0) {
        PrintError(
            L"scourline-media: NetShare must begin with two backslashes (\\\\server\\share)\n"
            L"(scourline-media --help shows the usage)\n");
        return kExitUsage;
    }
    unsigned long code =
        c.services.network->TestShareConnection(share, c.options.NetUser, c.options.NetPassword);
    ShareTestReport report = DescribeShareTestResult(code);
    c.reporter.ShowMessage(
        report.passed ? platform::BoxKind::Information : platform::BoxKind::Error,
        LoadText(report.captionId), LoadText(report.textId));
    if (!report.passed) {
        PrintError(L"scourline-media: the connection returned " + std::to_wstring(code) + L"\n");
        return kExitFailed;
    }
    // The IP form the wizard would keep for the boot configuration.
    if (auto ip = MakeShareIpForm(share, *c.services.network)) {
        Print(*ip + L"\n");
    }
    return kExitDone;
}

const bool registered = RegisterCommand(
    {60, L"share-test",
     L"share-test              test the share NetShare with NetUser and NetPassword", NoArgs,
     ShareTest});

}  // namespace

}  // namespace scour::cli
