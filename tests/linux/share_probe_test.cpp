// The share test's probe process: started with exec, credentials only on its
// stdin, a fixed environment, killed at the deadline, never left behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/linux/network_linux.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPassword[] = "probe-secret-4711";

std::string ProcFile(const fs::path& file) {
    return test::ReadFile(FromFsPath(file)).value_or("");
}

// Where each open descriptor of a process leads (socket:[N], pipe:[N], a path), from first on.
std::vector<std::string> DescriptorLinks(const fs::path& process, int first) {
    std::vector<std::string> links;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(process / "fd", ec)) {
        if (std::stoi(fd.path().filename().string()) >= first) {
            links.push_back(fs::read_symlink(fd.path(), ec).string());
        }
    }
    return links;
}

// The probe as seen from outside, by the wait hook: a child of this process
// running the probe program (it may end between two looks).
struct Seen {
    int waits = 0, probes = 0;
    std::string cmdline, environ;
    std::vector<std::string> probeLinks, ourLinks;

    void Look() {
        ++waits;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            const std::string stat = ProcFile(entry.path() / "stat");
            std::istringstream fields(stat.substr(stat.rfind(')') + 1));  // after "pid (name)"
            char state = 0;
            int parent = 0;
            if (!(fields >> state >> parent) || parent != getpid() ||
                fs::read_symlink(entry.path() / "exe", ec).filename() != "scourline-share-probe") {
                continue;
            }
            ++probes;
            cmdline = ProcFile(entry.path() / "cmdline");
            environ = ProcFile(entry.path() / "environ");
            probeLinks = DescriptorLinks(entry.path(), 3);
            ourLinks = DescriptorLinks("/proc/self", 0);
        }
    }
};

// A server that accepts and never answers: the probe is killed at the
// deadline. (Refused connections, silent servers and the private homes left
// behind, through the command line: tests/scripts/linux_share_test.sh.)
TEST(ShareProbe, RunsInAnExecdProcessAndIsKilledAtTheDeadline) {
    // The private home goes below a temporary folder of this test's own.
    test::ScratchDir tmp;
    const std::string tmpPath = ToUtf8(tmp.Path());
    const std::string savedTmp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", tmpPath.c_str(), 1);
    test::SilentListener silent;
    auto share = [&](const std::wstring& program, Seen& seen) {
        platform::LinuxNetwork network({ToUtf8(program), 1200ms, silent.Port()});
        network.SetWaitHook([&] { seen.Look(); });
        return network.TestShareConnection(L"\\\\127.0.0.1\\logs", L"DOMAIN\\wiper",
                                           FromUtf8(kPassword));
    };
    Seen seen, none;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(share(test::BinDir() + L"/scourline-share-probe", seen), 53ul);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1200ms);
    EXPECT_LE(took, 3000ms);
    EXPECT_EQ(share(L"/nonexistent/scourline-share-probe", none), platform::kShareOtherFailure);
    // Nothing is left behind: no child, no private home.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(fs::is_empty(tmpPath));
    if (!savedTmp.empty()) {
        setenv("TMPDIR", savedTmp.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    ASSERT_GT(seen.probes, 0) << "the probe was never seen running";
    EXPECT_GE(seen.waits, 10) << "the wait hook runs while the probe works";
    // The credentials travel on stdin only; the environment is the probe's own.
    EXPECT_EQ(seen.cmdline.find(kPassword), std::string::npos);
    EXPECT_EQ(seen.cmdline.find("wiper"), std::string::npos);
    EXPECT_EQ(seen.environ.find(kPassword), std::string::npos);
    std::vector<std::string> names;
    std::istringstream vars(seen.environ);
    for (std::string var; std::getline(vars, var, '\0');) {
        names.push_back(var.substr(0, var.find('=')));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"HOME", "PATH", "LC_ALL"}));
    EXPECT_NE(seen.environ.find("HOME=" + tmpPath + "/scourline-smb."), std::string::npos)
        << seen.environ;
    // Beyond stdin, stdout and stderr, none of this process's sockets or pipes
    // (the listener's among them) went along.
    for (const auto& link : seen.probeLinks) {
        if (link.starts_with("socket:") || link.starts_with("pipe:")) {
            EXPECT_EQ(std::count(seen.ourLinks.begin(), seen.ourLinks.end(), link), 0) << link;
        }
    }
}

}  // namespace
}  // namespace scour
