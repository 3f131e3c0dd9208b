#include <clocale>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/commands.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::wstring> args(argv + 1, argv + argc);
    return scour::cli::Main(std::move(args));
}
#else
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(scour::FromUtf8(argv[i]));
    }
    return scour::cli::Main(std::move(args));
}
#endif
