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
#include <fstream>
#include <optional>
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
constexpr wchar_t kWidePassword[] = L"probe-secret-4711";

// Where each open descriptor of a process leads (socket:[N], a path, ...).
std::vector<std::string> DescriptorLinks(const fs::path& process, bool skipStdio) {
    std::vector<std::string> links;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(process / "fd", ec)) {
        if (skipStdio && std::stoi(fd.path().filename().string()) <= 2) {
            continue;
        }
        std::error_code linkError;
        links.push_back(fs::read_symlink(fd.path(), linkError).string());
    }
    return links;
}

std::string ReadProcFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// This process's children as /proc lists them.
std::vector<int> Children() {
    std::vector<int> pids;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::string stat = ReadProcFile(entry.path() / "stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        char state = 0;
        int parent = 0;
        fields >> state >> parent;
        if (parent == getpid()) {
            pids.push_back(std::stoi(entry.path().filename().string()));
        }
    }
    return pids;
}

// What the probe looked like from outside while the test waited for it.
struct Seen {
    int waits = 0;
    int probes = 0;
    std::string cmdline;
    std::string environ;
    std::vector<std::string> probeLinks;
    std::vector<std::string> ourLinks;
};

std::wstring ProbeProgram() {
    return test::BinDir() + L"/scourline-share-probe";
}

// The private homes go below a temporary folder of this test's own, where
// nothing else of the machine makes or leaves any.
class OwnTempFolder {
  public:
    OwnTempFolder() {
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) {
            old_ = old;
        }
        setenv("TMPDIR", ToUtf8(scratch_.Path()).c_str(), 1);
    }
    ~OwnTempFolder() {
        if (old_) {
            setenv("TMPDIR", old_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    std::string Path() const { return ToUtf8(scratch_.Path()); }

  private:
    test::ScratchDir scratch_;
    std::optional<std::string> old_;
};

TEST(ShareProbe, RunsInAnExecdProcessAndIsKilledAtTheDeadline) {
    OwnTempFolder tmp;
    test::SilentListener silent;
    int closed = test::ClosedPort();
    struct Case {
        const char* what;
        std::wstring program;
        int port;
        std::chrono::milliseconds deadline;
        unsigned long want;
        std::chrono::milliseconds atLeast, atMost;
        bool seesProbe;  // the wait lasts long enough to look at the probe
    } cases[] = {
        {"a server that accepts and never answers: killed at the deadline", ProbeProgram(),
         silent.Port(), 1200ms, 53, 1200ms, 3000ms, true},
        {"a refused connection", ProbeProgram(), closed, platform::kShareAnswerDeadline, 53, 0ms,
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
        network.SetWaitHook([&] {
            ++seen.waits;
            for (int pid : Children()) {
                fs::path proc = "/proc/" + std::to_string(pid);
                std::error_code gone;  // the probe may end between two looks
                if (fs::read_symlink(proc / "exe", gone).filename() != "scourline-share-probe") {
                    continue;
                }
                ++seen.probes;
                seen.cmdline = ReadProcFile(proc / "cmdline");
                seen.environ = ReadProcFile(proc / "environ");
                seen.probeLinks = DescriptorLinks(proc, true);
                seen.ourLinks = DescriptorLinks("/proc/self", false);
            }
        });
        auto start = std::chrono::steady_clock::now();
        unsigned long code =
            network.TestShareConnection(L"\\\\127.0.0.1\\logs", L"DOMAIN\\wiper", kWidePassword);
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_EQ(code, c.want);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LE(took, c.atMost);
        // Nothing is left behind: no child, no private home.
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
        for (const auto& entry : fs::directory_iterator(tmp.Path())) {
            EXPECT_EQ(entry.path().filename().string().rfind("scourline-smb.", 0),
                      std::string::npos)
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
        std::vector<std::string> environ;
        std::istringstream vars(seen.environ);
        for (std::string var; std::getline(vars, var, '\0');) {
            environ.push_back(var.substr(0, var.find('=')));
        }
        EXPECT_EQ(environ, (std::vector<std::string>{"HOME", "PATH", "LC_ALL"}));
        EXPECT_NE(seen.environ.find("HOME=" + tmp.Path() + "/scourline-smb."), std::string::npos)
            << seen.environ;
        // Beyond stdin, stdout and stderr only what the client library opened
        // itself: none of this process's sockets or pipes (the listener's
        // among them) went along.
        for (const auto& link : seen.probeLinks) {
            if (link.rfind("socket:", 0) == 0 || link.rfind("pipe:", 0) == 0) {
                EXPECT_EQ(std::count(seen.ourLinks.begin(), seen.ourLinks.end(), link), 0) << link;
            }
        }
    }
}

}  // namespace
}  // namespace scour
