#include "cli/commands.h"

#include <algorithm>
#include <cstdio>

namespace scour::cli {

namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace

bool RegisterCommand(const Command& command) {
    auto& commands = Registry();
    commands.push_back(command);
    std::stable_sort(commands.begin(), commands.end(),
                     [](const Command& a, const Command& b) { return a.order < b.order; });
    return true;
}

const std::vector<Command>& Commands() {
    return Registry();
}

std::wstring NoArgs(const std::vector<std::wstring>& args) {
    return args.empty() ? std::wstring() : L"unexpected argument \"" + args[0] + L"\"";
}

std::wstring OnePath(const std::vector<std::wstring>& args) {
    if (args.size() != 1 || args[0].empty()) {
        return L"this command takes one PATH";
    }
    return {};
}

void Print(const std::wstring& text) {
    auto bytes = platform::DefaultServices().text->ToSystem8Bit(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void PrintError(const std::wstring& text) {
    auto bytes = platform::DefaultServices().text->ToSystem8Bit(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

}  // namespace scour::cli
