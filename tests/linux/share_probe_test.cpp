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

// Where each open descriptor of a process leads (socket:[N], a path, ...), from fd 3 on.
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

// What the probe looked like from outside while the test waited for it.
struct Seen {
    int waits = 0, probes = 0;
    std::string cmdline, environ;
    std::vector<std::string> probeLinks, ourLinks;

    void Look() {
        ++waits;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            // Children of this process running the probe (it may end between two looks).
            const std::string stat = ProcFile(entry.path() / "stat");
            std::istringstream fields(stat.substr(stat.rfind(')') + 1));  // after "pid (name)"
            char state = 0;
            int parent = 0;
            std::error_code gone;
            if (!(fields >> state >> parent) || parent != getpid() ||
                fs::read_symlink(entry.path() / "exe", gone).filename() !=
                    "scourline-share-probe") {
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

TEST(ShareProbe, RunsInAnExecdProcessAndIsKilledAtTheDeadline) {
    // The private homes go below a temporary folder of this test's own, where
    // nothing else of the machine makes or leaves any.
    test::ScratchDir tmp;
    const std::string tmpPath = ToUtf8(tmp.Path());
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
    setenv("TMPDIR", tmpPath.c_str(), 1);
    test::SilentListener silent;
    const std::wstring probe = test::BinDir() + L"/scourline-share-probe";
    const struct {
        const char* what;
        std::wstring program;
        int port;
        std::chrono::milliseconds deadline;
        unsigned long want;
        std::chrono::milliseconds atLeast, atMost;
        bool seesProbe;  // the wait lasts long enough to look at the probe
    } cases[] = {
        {"a server that accepts and never answers: killed at the deadline", probe, silent.Port(),
         1200ms, 53, 1200ms, 3000ms, true},
        {"a refused connection", probe, test::ClosedPort(), platform::kShareAnswerDeadline, 53, 0ms,
         3000ms, false},
        {"no probe program", L"/nonexistent/scourline-share-probe", silent.Port(), 1200ms,
         platform::kShareOtherFailure, 0ms, 500ms, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ShareProbeSettings settings;
        settings.program = ToUtf8(c.program);
        settings.port = c.port;
        settings.deadline = c.deadline;
        platform::LinuxNetwork network(settings);
        Seen seen;
        network.SetWaitHook([&] { seen.Look(); });
        auto start = std::chrono::steady_clock::now();
        unsigned long code = network.TestShareConnection(L"\\\\127.0.0.1\\logs", L"DOMAIN\\wiper",
                                                         FromUtf8(kPassword));
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(code, c.want);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LE(took, c.atMost);
        // Nothing is left behind: no child, no private home.
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
        for (const auto& entry : fs::directory_iterator(tmpPath)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with("scourline-smb."))
                << entry.path();
        }
        if (!c.seesProbe) {
            continue;
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
        // Beyond stdin, stdout and stderr only what the client library opened
        // itself: none of this process's sockets or pipes (the listener's
        // among them) went along.
        for (const auto& link : seen.probeLinks) {
            if (link.starts_with("socket:") || link.starts_with("pipe:")) {
                EXPECT_EQ(std::count(seen.ourLinks.begin(), seen.ourLinks.end(), link), 0) << link;
            }
        }
    }
    if (oldTmp != nullptr) {
        setenv("TMPDIR", savedTmp.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

}  // namespace
}  // namespace scour
