// The network share test of the log options page, and the IP form of a share
// path: what the page and scourline-media share of them.
#pragma once

#include <optional>
#include <string>

#include "platform/network.h"

namespace scour {

// What the test shows for a connection result: one message box, and where the
// keyboard focus goes after it (0: it stays where it was).
struct ShareTestReport {
    bool passed = false;
    int captionId = 0;
    int textId = 0;
    int focusControl = 0;
};

ShareTestReport DescribeShareTestResult(unsigned long code);

// The text after cutting one trailing backslash, if there is one.
std::wstring CutTrailingBackslash(std::wstring text);

// The host of a share path: the text between the two leading backslashes and
// the next backslash. Nothing for a path that names no share (no backslash
// after the host, or an empty host).
std::optional<std::wstring> ShareHost(const std::wstring& sharePath);

// The share path with its host replaced by the host's dotted IPv4 address
// ("\\\\10.0.0.5\\logs\\wipe"); nothing when the path names no share or the
// host has no IPv4 address.
std::optional<std::wstring> MakeShareIpForm(const std::wstring& sharePath,
                                            platform::INetwork& network);

}  // namespace scour
