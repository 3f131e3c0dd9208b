#include "media/welcome_banner.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "base/file.h"

namespace scour {

namespace {

// Screen control codes of the boot loader's display files: clear the screen,
// bright blue on black, an empty picture name; and back to light grey at the end.
constexpr std::string_view kMainPrefix =
    "\x0C\n\x0F"
    "09\n\x18\n\n\n\n";
constexpr std::string_view kMainSuffix =
    "\x0F"
    "07\n\n";

constexpr std::string_view kBody =
    "        Scourline v.2.69 - Whole Hard Drive Wiping Utility\n"
    "                    Copyright (C) 2026 Valdane. All rights reserved.\n"
    "\n"
    "   Scourline starts from bootable disk with Linux operating system.\n"
    "           Linux is the registered trademark of Linus Torvalds in the U.S. and other "
    "countries.\n";

// The boot environment fills the placeholders in before it shows the text.
constexpr std::string_view kSparcInfo =
    "\n"
    "   System information:\n"
    "      Architecture: ${ARCH}\n"
    "      System type: ${SYSTYPE}\n"
    "      PROM type: ${PROM}\n"
    "\n";

// The boot loaders read DOS text: every line ends in CR LF, on every build host.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 32);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace

bool WriteWelcomeBanner(const std::wstring& path, BannerForm form) {
    std::string text;
    if (form == BannerForm::Main) {
        text += kMainPrefix;
    }
    text += kBody;
    if (form == BannerForm::Sparc) {
        text += kSparcInfo;
    } else {
        text += kMainSuffix;
    }
    const std::string bytes = WithCrLf(text);
    FilePtr file = OpenFile(path, "wb");
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    // A banner that did not reach the disk in full is reported, not passed off as written.
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace scour
