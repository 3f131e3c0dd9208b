// Stand-in image maker. mkisofs.conf beside it: size=N bytes of image at -o
// (1048576; "none": no image), exit=N. It logs to mkisofs.log cwd=, cmdline=
// (Windows), each arg= and file= of the tree, and copies the tree to
// $SCOUR_FAKE_MKISOFS_TREE (Wine cannot wait for a Linux image maker).
#include <algorithm>
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
using scour::ToUtf8;

namespace {

int Run(const std::vector<std::wstring>& args) {
#ifdef _WIN32
    // argv[0] is cut at the first space of an unquoted command line.
    wchar_t self[32768] = {};
    const fs::path folder =
        fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, 32768))).parent_path();
#else
    const fs::path folder = fs::read_symlink("/proc/self/exe").parent_path();
#endif
    std::string size = "1048576";
    int exitCode = 0;
    std::ifstream conf(folder / "mkisofs.conf");
    for (std::string line; std::getline(conf, line);) {
        std::erase(line, '\r');
        if (line.starts_with("size=")) {
            size = line.substr(5);
        } else if (line.starts_with("exit=")) {
            exitCode = std::stoi(line.substr(5));
        }
    }

    std::ofstream log(folder / "mkisofs.log", std::ios::binary | std::ios::trunc);
    log << "cwd=" << ToUtf8(scour::FromFsPath(fs::current_path())) << "\n";
#ifdef _WIN32
    log << "cmdline=" << ToUtf8(GetCommandLineW()) << "\n";
#endif
    std::wstring output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        log << "arg=" << ToUtf8(args[i]) << "\n";
        output = i > 0 && args[i - 1] == L"-o" ? args[i] : output;
    }
    // The tree as given, in a fixed order, with '/' between names.
    const fs::path source = scour::ToFsPath(args.back());
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) {
            const fs::path path = it->path().is_absolute()
                                      ? it->path().lexically_relative(fs::current_path())
                                      : it->path();
            const auto rel = path.generic_u8string();
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
        fs::copy(source, to, fs::copy_options::recursive, ec);
        if (ec) {
            log << "copy-failed=" << ec.message() << "\n";
        }
    }
    if (size != "none" && !output.empty()) {
        std::ofstream(scour::ToFsPath(output), std::ios::binary | std::ios::trunc).close();
        fs::resize_file(scour::ToFsPath(output), std::stoull(size));
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
