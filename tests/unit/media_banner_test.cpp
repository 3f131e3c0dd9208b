#include "media/welcome_banner.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "support/test_support.h"

namespace scour {
namespace {

// CR LF on every build host: the boot loaders read DOS text.
const std::string kBody =
    "        Scourline v.2.69 - Whole Hard Drive Wiping Utility\r\n"
    "                    Copyright (C) 2026 Valdane. All rights reserved.\r\n"
    "\r\n"
    "   Scourline starts from bootable disk with Linux operating system.\r\n"
    "           Linux is the registered trademark of Linus Torvalds in the U.S. and other "
    "countries.\r\n";
const std::string kMain =
    std::string("\x0C\r\n\x0F") + "09\r\n\x18\r\n\r\n\r\n\r\n" + kBody + "\x0F" + "07\r\n\r\n";
const std::string kSparc = kBody +
                           "\r\n   System information:\r\n      Architecture: ${ARCH}\r\n"
                           "      System type: ${SYSTYPE}\r\n      PROM type: ${PROM}\r\n\r\n";

class BannerTest : public ::testing::Test {
  protected:
    std::string Written(BannerForm form) {
        EXPECT_TRUE(WriteWelcomeBanner(path, form));
        return test::ReadFile(path).value_or("");
    }
    test::ScratchDir scratch;
    std::wstring path = scratch / L"welcome.txt";
};

TEST_F(BannerTest, BothFormsByteForByte) {
    EXPECT_EQ(Written(BannerForm::Main), kMain);
    EXPECT_EQ(Written(BannerForm::Main), kMain);  // written twice: one copy
    // The longer form first: nothing of it may remain behind the shorter one.
    EXPECT_EQ(Written(BannerForm::Sparc), kSparc);
    EXPECT_EQ(Written(BannerForm::Main), kMain);
}

TEST_F(BannerTest, UncreatableFileIsReported) {
    EXPECT_FALSE(WriteWelcomeBanner(JoinPath(scratch / L"missing", L"w.txt"), BannerForm::Main));
    EXPECT_FALSE(test::Exists(scratch / L"missing"));
    test::MakeDirs(scratch / L"folder");
    EXPECT_FALSE(WriteWelcomeBanner(scratch / L"folder", BannerForm::Sparc));
}

}  // namespace
}  // namespace scour
