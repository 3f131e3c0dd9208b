#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/text.h"

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace scour::test {

namespace {
std::wstring HostPath(std::string_view linuxPath) {
    std::wstring path = FromUtf8(linuxPath);
#ifdef _WIN32
    std::replace(path.begin(), path.end(), L'/', L'\\');
    path.insert(0, L"Z:");
#endif
    return path;
}
}  // namespace

std::wstring BinDir() {
    return HostPath(SCOUR_BIN_DIR);
}
std::wstring SourceDir() {
    return HostPath(SCOUR_SOURCE_DIR);
}
std::wstring TestToolsDir() {
    return HostPath(SCOUR_TEST_TOOLS_DIR);
}

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    // Named after the test, so that a folder left by a crash tells whose it was.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? info->name() : "scratch";
    std::erase_if(name, [](char c) { return !std::isalnum(c & 0xFF); });
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto p = std::filesystem::temp_directory_path() /
                   ("scourtest-" + name.substr(0, 40) + "-" + std::to_string(stamp) + "-" +
                    std::to_string(counter++));
    EXPECT_TRUE(std::filesystem::create_directory(p)) << p;
    path_ = FromFsPath(p);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(ToFsPath(path_), ec);
}

std::wstring ScratchDir::operator/(std::wstring_view name) const {
    return JoinPath(path_, name);
}

void WriteFile(const std::wstring& path, std::string_view bytes) {
    std::ofstream out(ToFsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << ToUtf8(path);
}

std::optional<std::string> ReadFile(const std::wstring& path) {
    std::ifstream in(ToFsPath(path), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream s;  // a folder reads as empty rather than throwing
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::wstring& path) {
    std::error_code ec;
    return std::filesystem::exists(ToFsPath(path), ec);
}

void MakeDirs(const std::wstring& path) {
    std::error_code ec;
    std::filesystem::create_directories(ToFsPath(path), ec);
    ASSERT_FALSE(ec) << "cannot make " << ToUtf8(path);
}

#ifndef _WIN32
namespace {
// A TCP socket on an ephemeral port of 127.0.0.1, listening when asked; its port in *port.
int BoundSocket(int* port, bool listening) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_TRUE(fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
                (!listening || listen(fd, 8) == 0))
        << "no loopback socket";
    *port = ntohs(address.sin_port);
    return fd;
}
}  // namespace

SilentListener::SilentListener() {
    fd_ = BoundSocket(&port_, true);
}

SilentListener::~SilentListener() {
    close(fd_);
}

int ClosedPort() {
    int port = 0;
    close(BoundSocket(&port, false));  // bound but never listening: the port refuses
    return port;
}

std::string Quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

std::string Sh(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    std::size_t n = 0;
    while (p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    int rc = p != nullptr ? pclose(p) : -1;
    if (status != nullptr) {
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}
#endif

TestServices::TestServices(std::wstring programFolder) {
    services = platform::DefaultServices();
    environment.programFolder = std::move(programFolder);
    environment.documentsFolder = services.environment->DocumentsFolder();
    services.environment = &environment;
}

}  // namespace scour::test
