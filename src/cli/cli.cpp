#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/strings.h"
#include "cli/commands.h"
#include "cli/option_fields.h"

namespace scour::cli {

namespace {

std::wstring Usage() {
    std::wstring text =
        L"usage: scourline-media [--set NAME=VALUE]... [--yes] COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& c : Commands()) {
        text += L"  ";
        text += c.synopsis;
        text += L'\n';
    }
    text += L"\nNAME is a field of the options record:";
    for (const auto& f : OptionFields()) {
        text += L' ';
        text += f.name;
    }
    text += L"\nBooleans take 0 or 1, Scheme a whole number, texts anything.\n";
    return text;
}

int UsageError(const std::wstring& message) {
    PrintError(L"scourline-media: " + message + L"\n(scourline-media --help shows the usage)\n");
    return kExitUsage;
}

// The messages of the wizard's boxes, on stderr; questions answered by --yes.
class ConsoleReporter final : public platform::IReporter {
  public:
    explicit ConsoleReporter(bool assumeYes) : assumeYes_(assumeYes) {}
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        std::wstring prefix = kind == platform::BoxKind::Error ? L"error: " : L"";
        (void)caption;
        PrintError(prefix + text + L"\n");
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        (void)caption;
        PrintError(text + L"\n");
        if (!assumeYes_ && InputIsTerminal()) {
            PrintError(L"[y/N] ");
            char answer[16] = {};
            if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
                return false;
            }
            std::string a(answer);
            while (!a.empty() && (a.back() == '\n' || a.back() == '\r' || a.back() == ' ')) {
                a.pop_back();
            }
            return a == "y" || a == "Y" || a == "yes" || a == "Yes" || a == "YES";
        }
        PrintError(assumeYes_ ? L"--yes given: answering Yes.\n"
                              : L"No --yes given: answering No.\n");
        return assumeYes_;
    }

  private:
    bool assumeYes_;
};

}  // namespace

bool InputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

int Main(std::vector<std::wstring> args) {
    std::vector<Assignment> assignments;
    bool assumeYes = false;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const auto& a = args[i];
        if (a == L"--help" || a == L"-h") {
            Print(Usage());
            return kExitDone;
        }
        if (a == L"--yes") {
            assumeYes = true;
            continue;
        }
        if (a == L"--set" || a.rfind(L"--set=", 0) == 0) {
            std::wstring value;
            if (a == L"--set") {
                if (i + 1 >= args.size()) {
                    return UsageError(L"--set needs NAME=VALUE");
                }
                value = args[++i];
            } else {
                value = a.substr(6);
            }
            std::wstring error;
            auto parsed = ParseAssignment(value, error);
            if (!parsed) {
                return UsageError(error);
            }
            assignments.push_back(std::move(*parsed));
            continue;
        }
        if (a.rfind(L"--", 0) == 0) {
            return UsageError(L"unknown flag \"" + a + L"\"");
        }
        break;
    }
    if (i >= args.size()) {
        return UsageError(L"no command given");
    }
    const Command* command = nullptr;
    for (const auto& c : Commands()) {
        if (args[i] == c.name) {
            command = &c;
        }
    }
    if (command == nullptr) {
        return UsageError(L"unknown command \"" + args[i] + L"\"");
    }
    std::vector<std::wstring> commandArgs(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                          args.end());
    if (auto error = command->check(commandArgs); !error.empty()) {
        return UsageError(error);
    }

    const auto& services = platform::DefaultServices();
    WizardOptions options;
    options.Load(services);
    bool setSelectDisks = false, setNoDelay = false;
    for (const auto& a : assignments) {
        Apply(a, options);
        std::wstring_view name = a.field->name;
        setSelectDisks |= name == L"SelectDisks";
        setNoDelay |= name == L"NoDelay";
    }
    // The start options page never produces these; refuse them when asked for,
    // and repair them as that page does when they come from the store.
    if (options.TestMode != 0 && options.AutoStart != 0) {
        return UsageError(L"TestMode 1 needs AutoStart 0 (the test mode is for interactive start)");
    }
    if (options.NoDelay != 0 && options.SelectDisks != 0) {
        if (setNoDelay || setSelectDisks) {
            return UsageError(L"NoDelay 1 needs SelectDisks 0 (no delay is for automatic wiping)");
        }
        options.NoDelay = 0;
    }
    options.ClampScheme();

    ConsoleReporter reporter(assumeYes);
    Context context{services, options, reporter, std::move(commandArgs), assumeYes};
    return command->run(context);
}

}  // namespace scour::cli
