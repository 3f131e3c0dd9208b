#include <gtest/gtest.h>

#include "options/summary.h"

namespace scour {
namespace {

const std::wstring kHeading =
    L"The following settings will be used for Scourline bootable disk:\n\n";
const std::wstring kAuto = kHeading + L"- wipe hard drives automatically;\n";

WizardOptions Automatic() {
    WizardOptions o;
    o.Schemes = {{L"Zero fill", L"a.sch", 1, 1}, {L"Random", L"b.sch", 1, 4}};
    o.AutoStart = 1;
    o.SelectDisks = 0;
    return o;
}

TEST(Summary, InteractiveStartHidesTheWipingChoices) {
    WizardOptions o = Automatic();
    o.AutoStart = 0;
    o.NetLog = o.Verify = o.ResetHPA = o.AtaErase = 1;
    EXPECT_EQ(BuildSummaryText(o), kHeading + L"- start Scourline in interactive mode;\n");
    o.TestMode = o.WriteLog = 1;
    EXPECT_EQ(BuildSummaryText(o), kHeading +
                                       L"- Hardware compatibility test mode, no wiping allowed;\n"
                                       L"- log results to removable drive;\n");
}

TEST(Summary, AutomaticStartListsEveryChoiceInOrder) {
    WizardOptions o = Automatic();
    EXPECT_EQ(BuildSummaryText(o), kAuto + L"- Zero fill;\n- disable verification;\n");
    o.SelectDisks = o.WriteLog = o.NetLog = o.Verify = o.ResetHPA = o.ResetDCO = o.AtaErase = 1;
    o.NetShare = L"\\\\fs1\\logs";
    o.Scheme = 1;
    EXPECT_EQ(BuildSummaryText(o), kAuto +
                                       L"- let the user to select disks for wiping;\n"
                                       L"- log results to removable drive;\n"
                                       L"- log results to \\\\fs1\\logs network share;\n"
                                       L"- Random;\n"
                                       L"- enable verification;\n"
                                       L"- reset HPA area on ATA/SATA hard drives;\n"
                                       L"- reset DCO area on ATA/SATA hard drives;\n"
                                       L"- replace the last wiping pass by ATA ERASE command;\n");
}

TEST(Summary, EdgeValues) {
    WizardOptions o = Automatic();
    o.NetLog = 1;
    o.Scheme = 7;
    EXPECT_EQ(BuildSummaryText(o), kAuto +
                                       L"- log results to  network share;\n"
                                       L"- Zero fill;\n- disable verification;\n");
    EXPECT_EQ(o.Scheme, 0);

    WizardOptions odd = Automatic();  // any non-zero value is true
    odd.AutoStart = 2;
    odd.Verify = -1;
    EXPECT_EQ(BuildSummaryText(odd), kAuto + L"- Zero fill;\n- enable verification;\n");

    WizardOptions none = Automatic();
    none.Schemes.clear();
    EXPECT_EQ(BuildSummaryText(none),
              kAuto + L"- no wiping scheme installed;\n- disable verification;\n");
}

}  // namespace
}  // namespace scour
