// scourline-media: the wizard's engine without a window.
#pragma once

#include <string>
#include <vector>

#include "options/wizard_options.h"
#include "platform/reporter.h"
#include "platform/services.h"

namespace scour::cli {

enum ExitStatus : int { kExitDone = 0, kExitFailed = 1, kExitUsage = 2 };

struct Context {
    const platform::Services& services;
    WizardOptions& options;
    platform::IReporter& reporter;
    std::vector<std::wstring> args;  // the command's own arguments
    bool assumeYes = false;          // --yes: answer Yes to the wizard's questions
};

// Each command first checks its arguments (usage error: kExitUsage, nothing done).
// Commands live in files of their own (cmd_<name>.cpp) and register themselves
// with RegisterCommand; see cmd_options.cpp.
struct Command {
    int order;  // place in the usage text
    const wchar_t* name;
    const wchar_t* synopsis;
    // Checks the arguments only; returns an error text, empty when they are fine.
    std::wstring (*check)(const std::vector<std::wstring>& args);
    int (*run)(Context& context);
};

const std::vector<Command>& Commands();
bool RegisterCommand(const Command& command);

// Argument checks shared by several commands.
std::wstring NoArgs(const std::vector<std::wstring>& args);
std::wstring OnePath(const std::vector<std::wstring>& args);

// Console output in the 8-bit text of the platform.
void Print(const std::wstring& text);
void PrintError(const std::wstring& text);
// Whether standard input is a terminal, so that a question can be answered there.
bool InputIsTerminal();

int Main(std::vector<std::wstring> args);

}  // namespace scour::cli
