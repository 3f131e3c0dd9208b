#include "platform/linux/helper_disk_preparer.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "base/file.h"
#include "base/text.h"

extern char** environ;

namespace scour::platform {

namespace {

using helper::Message;

class HelperLock final : public IVolumeLock {
  public:
    HelperLock(HelperDiskPreparer& owner, std::string id)
        : owner_(owner), id_(std::move(id)), generation_(owner.Generation()) {}
    ~HelperLock() override { owner_.CallOn(generation_, {"close", id_}); }
    HelperLock(const HelperLock&) = delete;
    HelperLock& operator=(const HelperLock&) = delete;

  private:
    HelperDiskPreparer& owner_;
    std::string id_;
    std::uint64_t generation_;
};

class HelperRawDisk final : public IRawDisk {
  public:
    HelperRawDisk(HelperDiskPreparer& owner, std::string id)
        : owner_(owner), id_(std::move(id)), generation_(owner.Generation()) {}
    ~HelperRawDisk() override { owner_.CallOn(generation_, {"close", id_}); }
    HelperRawDisk(const HelperRawDisk&) = delete;
    HelperRawDisk& operator=(const HelperRawDisk&) = delete;

    std::optional<DiskIdentity> Identity() override {
        auto r = owner_.CallOn(generation_, {"disk-identity", id_});
        return r && !r->empty() ? helper::DecodeIdentity(r->front()) : std::nullopt;
    }
    std::optional<DiskGeometry> Geometry() override {
        auto r = owner_.CallOn(generation_, {"geometry", id_});
        return r && !r->empty() ? helper::DecodeGeometry(r->front()) : std::nullopt;
    }
    std::optional<DiskLayout> Layout() override {
        auto r = owner_.CallOn(generation_, {"layout", id_});
        return r && !r->empty() ? helper::DecodeLayout(r->front()) : std::nullopt;
    }
    bool ClearFirstSector() override {
        return owner_.CallOn(generation_, {"clear-first-sector", id_}).has_value();
    }
    bool CreateMbrDisk() override {
        return owner_.CallOn(generation_, {"create-mbr", id_}).has_value();
    }
    bool SetLayout(const DiskLayout& layout, const DiskGeometry& geometry) override {
        return owner_
            .CallOn(generation_, {"set-layout", id_, helper::EncodeLayout(layout),
                                  helper::EncodeGeometry(geometry)})
            .has_value();
    }

  private:
    HelperDiskPreparer& owner_;
    std::string id_;
    std::uint64_t generation_;
};

class HelperInstallerRun final : public IInstallerRun {
  public:
    HelperInstallerRun(HelperDiskPreparer& owner, std::string id)
        : owner_(owner), id_(std::move(id)), generation_(owner.Generation()) {}
    // Closing a run that was not waited for waits in the helper.
    ~HelperInstallerRun() override { owner_.CallOn(generation_, {"close", id_}); }
    HelperInstallerRun(const HelperInstallerRun&) = delete;
    HelperInstallerRun& operator=(const HelperInstallerRun&) = delete;

    std::optional<unsigned long> Wait() override {
        auto r = owner_.CallOn(generation_, {"wait", id_});
        auto code = r && !r->empty() ? helper::DecodeNumber(r->front()) : std::nullopt;
        if (!code) {
            return std::nullopt;
        }
        return static_cast<unsigned long>(*code);
    }

  private:
    HelperDiskPreparer& owner_;
    std::string id_;
    std::uint64_t generation_;
};

std::string HelperPath(const std::string& programFolder) {
    return programFolder + "/" + helper::kHelperExecutable;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
    FilePtr file = OpenFile(path, "rb");
    if (!file) {
        return std::nullopt;
    }
    std::string out;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        out.append(buffer, n);
        if (out.size() > helper::kMaxContentsBytes) {
            return std::nullopt;
        }
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    return out;
}

Message WithTarget(std::string verb, const DiskTarget& target) {
    Message m = {std::move(verb)};
    helper::PutTarget(m, target);
    return m;
}

}  // namespace

HelperLaunch DirectHelperLaunch(const std::string& programFolder) {
    return {{HelperPath(programFolder)}, false};
}

std::string FindPkexec() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        // Only absolute folders: never a pkexec from the current folder.
        if (!dir.empty() && dir.front() == '/' && access((dir + "/pkexec").c_str(), X_OK) == 0) {
            return dir + "/pkexec";
        }
    }
    return access("/usr/bin/pkexec", X_OK) == 0 ? "/usr/bin/pkexec" : std::string();
}

HelperLaunch PkexecHelperLaunch(const std::string& programFolder) {
    return {{FindPkexec(), "--disable-internal-agent", HelperPath(programFolder)}, true};
}

std::wstring HelperStartFailure(bool throughPkexec, bool exitKnown, int exitCode) {
    const std::wstring nothing = L" Nothing was written to the disk.";
    if (throughPkexec && exitKnown && exitCode == 126) {
        return L"The administrator authentication was cancelled." + nothing;
    }
    if (throughPkexec && exitKnown && exitCode == 127) {
        return L"The disk helper was not authorised: the administrator authentication failed, "
               L"or the helper's polkit policy (" +
               FromUtf8(helper::kHelperPolicyId) + L") is not installed." + nothing;
    }
    std::wstring text =
        L"The disk helper (" + FromUtf8(helper::kHelperExecutable) + L") could not be started";
    if (exitKnown) {
        text += L" (exit status " + std::to_wstring(exitCode) + L")";
    }
    return text + L"." + nothing;
}

HelperDiskPreparer::HelperDiskPreparer(HelperLaunch launch) : launch_(std::move(launch)) {}

HelperDiskPreparer::~HelperDiskPreparer() {
    Stop();
}

bool HelperDiskPreparer::Start() {
    if (launch_.argv.empty() || launch_.argv.front().empty()) {
        detail_ =
            L"pkexec is not installed: the disk helper cannot be started. Install pkexec, "
            L"or run the wizard as root. Nothing was written to the disk.";
        return false;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        detail_ = HelperStartFailure(false, false, 0);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (auto& a : launch_.argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (rc != 0) {
        close(pair[0]);
        detail_ = HelperStartFailure(false, false, 0);
        return false;
    }
    pid_ = pid;
    ++generation_;
    socket_ = pair[0];
    reader_ = std::make_unique<helper::MessageReader>(socket_);

    // The greeting comes once pkexec has its answer and the helper runs.
    std::string error;
    auto greeting = reader_->Read(error);
    if (!greeting) {
        Stop();
        return false;
    }
    if (greeting->size() == 2 && (*greeting)[0] == helper::kFail) {
        // It refused to start, and says why (an unsafe program folder).
        std::wstring why = FromUtf8((*greeting)[1]);
        Stop();
        detail_ = L"The disk helper refuses to run: " + why + L". Nothing was written to the disk.";
        return false;
    }
    if (greeting->size() < 2 || (*greeting)[0] != helper::kHelperGreeting ||
        (*greeting)[1] != helper::kHelperProtocolVersion) {
        Stop();
        detail_ =
            L"The disk helper does not speak this wizard's protocol: reinstall the "
            L"application. Nothing was written to the disk.";
        return false;
    }
    return true;
}

void HelperDiskPreparer::Stop() {
    reader_.reset();
    if (socket_ >= 0) {
        close(socket_);  // the helper's input ends: it releases everything and exits
        socket_ = -1;
    }
    if (pid_ <= 0) {
        return;
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    bool exitKnown = waited == pid_ && WIFEXITED(status);
    detail_ =
        HelperStartFailure(launch_.throughPkexec, exitKnown, exitKnown ? WEXITSTATUS(status) : 0);
    pid_ = -1;
}

std::optional<Message> HelperDiskPreparer::Exchange(const Message& request) {
    std::string error;
    std::optional<Message> answer;
    if (helper::WriteMessage(socket_, request)) {
        answer = reader_->Read(error);
    }
    if (!answer || answer->size() < 2) {
        Stop();
        startFailed_ = true;
        detail_ = L"The disk helper ended unexpectedly; what it was doing may be unfinished.";
        return std::nullopt;
    }
    return answer;
}

std::optional<Message> HelperDiskPreparer::CallOn(std::uint64_t generation, Message request) {
    if (!Running() || generation != generation_) {
        return std::nullopt;  // the failure that ended that helper is already told
    }
    return Call(std::move(request));
}

std::optional<Message> HelperDiskPreparer::Call(Message request) {
    if (!Running()) {
        bool begins = !request.empty() && request.front() == "identity";
        if (startFailed_ && !begins) {
            return std::nullopt;
        }
        if (!Start()) {
            startFailed_ = true;
            return std::nullopt;
        }
        startFailed_ = false;
    }
    auto answer = Exchange(request);
    if (!answer) {
        return std::nullopt;
    }
    if (!(*answer)[1].empty()) {
        detail_ = FromUtf8((*answer)[1]);
    }
    if ((*answer)[0] != helper::kOk) {
        return std::nullopt;
    }
    return Message(answer->begin() + 2, answer->end());
}

std::optional<DiskIdentity> HelperDiskPreparer::ReadIdentity(const DiskTarget& target) {
    auto r = Call(WithTarget("identity", target));
    return r && !r->empty() ? helper::DecodeIdentity(r->front()) : std::nullopt;
}

std::unique_ptr<IVolumeLock> HelperDiskPreparer::LockVolume(const DiskTarget& target) {
    auto r = Call(WithTarget("lock", target));
    if (!r || r->empty()) {
        return nullptr;
    }
    return std::make_unique<HelperLock>(*this, r->front());
}

std::unique_ptr<IRawDisk> HelperDiskPreparer::OpenDisk(const DiskTarget& target) {
    auto r = Call(WithTarget("open", target));
    if (!r || r->empty()) {
        return nullptr;
    }
    return std::make_unique<HelperRawDisk>(*this, r->front());
}

bool HelperDiskPreparer::ReleaseVolume(const DiskTarget& target) {
    return Call(WithTarget("release", target)).has_value();
}

bool HelperDiskPreparer::Format(const DiskTarget& target) {
    auto m = WithTarget("format", target);
    m.push_back(helper::EncodeFileSystem(fileSystem_));
    return Call(std::move(m)).has_value();
}

bool HelperDiskPreparer::CopyFolderContents(const DiskTarget& target, const std::wstring& folder) {
    // The helper copies only folders of its own program folder, by name.
    auto m = WithTarget("copy-folder", target);
    m.push_back(helper::TargetName(folder));
    return Call(std::move(m)).has_value();
}

bool HelperDiskPreparer::CopyFile(const DiskTarget& target, const std::wstring& source,
                                  const std::wstring& name) {
    // The helper takes the contents, never a path of the wizard's choosing.
    auto contents = ReadWholeFile(source);
    if (!contents) {
        detail_ = L"cannot read " + source;
        return false;
    }
    auto m = WithTarget("copy-file", target);
    m.push_back(ToUtf8(name));
    m.push_back(std::move(*contents));
    return Call(std::move(m)).has_value();
}

std::unique_ptr<IInstallerRun> HelperDiskPreparer::StartInstaller(
    const DiskTarget& target, const std::wstring& programFolder) {
    // The helper runs the installer of its own program folder, which is this one.
    (void)programFolder;
    auto r = Call(WithTarget("start-installer", target));
    if (!r || r->empty()) {
        return nullptr;
    }
    return std::make_unique<HelperInstallerRun>(*this, r->front());
}

bool HelperDiskPreparer::RootFileExists(const DiskTarget& target, std::wstring_view name) {
    auto m = WithTarget("root-file-exists", target);
    m.push_back(ToUtf8(name));
    auto r = Call(std::move(m));
    return r && !r->empty() && r->front() == "1";
}

std::optional<VolumeFacts> HelperDiskPreparer::DescribeVolume(const DiskTarget& target) {
    auto r = Call(WithTarget("describe", target));
    return r && !r->empty() ? helper::DecodeFacts(r->front()) : std::nullopt;
}

std::unique_ptr<IDiskPreparer> CreateWizardDiskPreparer(const std::wstring& programFolder,
                                                        void* ownerWindow) {
    (void)ownerWindow;
    // Root needs no pkexec, but goes through the helper all the same: the same
    // checks and the same refusal texts for everyone.
    std::string folder = ToUtf8(programFolder);
    return std::make_unique<HelperDiskPreparer>(geteuid() == 0 ? DirectHelperLaunch(folder)
                                                               : PkexecHelperLaunch(folder));
}

}  // namespace scour::platform
