#include <clocale>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/commands.h"

// Only the character set follows the user's locale: it decides how 8-bit text
// converts. Numbers and the other categories stay as "C" has them, so what the
// command prints does not change with the user's language.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::setlocale(LC_CTYPE, "");
    std::vector<std::wstring> args(argv + 1, argv + argc);
    return scour::cli::Main(std::move(args));
}
#else
int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "");
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(scour::FromUtf8(argv[i]));
    }
    return scour::cli::Main(std::move(args));
}
#endif
