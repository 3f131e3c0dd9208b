// Stand-in for the image maker. Beside itself it reads mkisofs.conf:
//   size=N   leave an image of N bytes under the name given with -o (default
//            1048576); size=none leaves no image
//   exit=N   the exit code (default 0)
// and writes mkisofs.log (UTF-8): the working folder, the command line (Windows)
// or the arguments, and every file of the tree it was given, with its size.
// With SCOUR_FAKE_MKISOFS_TREE set it also copies that tree into the folder the
// variable names, so that a test can make the real image from it elsewhere
// (Wine cannot wait for a Linux image maker).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path OwnFolder([[maybe_unused]] const fs::path& argv0) {
#ifdef _WIN32
    // argv[0] is cut at the first space of an unquoted command line.
    wchar_t path[32768] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    return fs::path(std::wstring(path, n)).parent_path();
#else
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? argv0.parent_path() : exe.parent_path();
#endif
}

int Run(const std::vector<std::wstring>& args) {
    const fs::path folder = OwnFolder(scour::ToFsPath(args.empty() ? L"" : args[0]));
    std::string size = "1048576";
    int exitCode = 0;
    std::ifstream conf(folder / "mkisofs.conf");
    for (std::string line; std::getline(conf, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        if (line.rfind("size=", 0) == 0) {
            size = line.substr(5);
        } else if (line.rfind("exit=", 0) == 0) {
            exitCode = std::stoi(line.substr(5));
        }
    }

    std::ofstream log(folder / "mkisofs.log", std::ios::binary | std::ios::trunc);
    log << "cwd=" << scour::ToUtf8(scour::FromFsPath(fs::current_path())) << "\n";
#ifdef _WIN32
    log << "cmdline=" << scour::ToUtf8(GetCommandLineW()) << "\n";
#endif
    std::wstring output, source;
    for (std::size_t i = 0; i < args.size(); ++i) {
        log << "arg=" << scour::ToUtf8(args[i]) << "\n";
        if (args[i] == L"-o" && i + 1 < args.size()) {
            output = args[i + 1];
        }
    }
    if (!args.empty()) {
        source = args.back();
    }
    // The tree as given, in a fixed order, with '/' between names.
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(scour::ToFsPath(source), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_regular_file()) {
            fs::path path = it->path();
            if (path.is_absolute()) {
                path = path.lexically_relative(fs::current_path());
            }
            auto rel = path.generic_u8string();
            files.push_back(std::string(rel.begin(), rel.end()) + " " +
                            std::to_string(it->file_size()));
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        log << "file=" << f << "\n";
    }

    if (const char* keep = std::getenv("SCOUR_FAKE_MKISOFS_TREE"); keep != nullptr && *keep) {
        const fs::path to = scour::ToFsPath(scour::FromUtf8(keep));
        fs::remove_all(to, ec);
        fs::create_directories(to, ec);
        fs::copy(scour::ToFsPath(source), to, fs::copy_options::recursive, ec);
        if (ec) {
            log << "copy-failed=" << ec.message() << "\n";
        }
    }

    if (size != "none" && !output.empty()) {
        std::ofstream image(scour::ToFsPath(output), std::ios::binary | std::ios::trunc);
        std::uint64_t left = std::stoull(size);
        const std::vector<char> block(65536, '\0');
        while (left > 0) {
            const auto n =
                static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
            image.write(block.data(), n);
            left -= static_cast<std::uint64_t>(n);
        }
    }
    return exitCode;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return Run(std::vector<std::wstring>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    // A test may limit file sizes to stand in for a full disk, but not for the image.
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) {
        args.push_back(scour::FromUtf8(argv[i]));
    }
    return Run(args);
}
#endif
