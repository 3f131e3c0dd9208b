// The wizard's side of the privileged disk helper: the disk operations of the
// USB disk preparation, each sent to the helper and answered by it. The helper
// starts on the first request, through pkexec when the wizard is not root.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_ops.h"
#include "platform/linux/helper_protocol.h"

namespace scour::platform {

// How to start the helper: the command line, and whether pkexec is its first
// word (then pkexec's own exit codes are read: 126 cancelled, 127 refused).
struct HelperLaunch {
    std::vector<std::string> argv;
    bool throughPkexec = false;
};

// The helper of the program folder, started directly.
HelperLaunch DirectHelperLaunch(const std::string& programFolder);
// The same through "pkexec --disable-internal-agent": the desktop's own
// authentication agent asks, never a prompt on a terminal. pkexec is looked
// for on PATH, then in /usr/bin.
HelperLaunch PkexecHelperLaunch(const std::string& programFolder);
// pkexec's path as PkexecHelperLaunch finds it; empty when there is none.
std::string FindPkexec();

// What to tell the user when the helper could not be started.
std::wstring HelperStartFailure(bool throughPkexec, bool exitKnown, int exitCode);

class HelperDiskPreparer final : public IDiskPreparer {
  public:
    explicit HelperDiskPreparer(HelperLaunch launch);
    ~HelperDiskPreparer() override;
    HelperDiskPreparer(const HelperDiskPreparer&) = delete;
    HelperDiskPreparer& operator=(const HelperDiskPreparer&) = delete;

    std::optional<DiskIdentity> ReadIdentity(const DiskTarget& target) override;
    std::unique_ptr<IVolumeLock> LockVolume(const DiskTarget& target) override;
    std::unique_ptr<IRawDisk> OpenDisk(const DiskTarget& target) override;
    bool ReleaseVolume(const DiskTarget& target) override;
    void SetFormatFileSystem(FormatFileSystem fs) override { fileSystem_ = fs; }
    bool Format(const DiskTarget& target) override;
    bool CopyFolderContents(const DiskTarget& target, const std::wstring& folder) override;
    bool CopyFile(const DiskTarget& target, const std::wstring& source,
                  const std::wstring& name) override;
    std::unique_ptr<IInstallerRun> StartInstaller(const DiskTarget& target,
                                                  const std::wstring& programFolder) override;
    bool RootFileExists(const DiskTarget& target, std::wstring_view name) override;
    std::optional<VolumeFacts> DescribeVolume(const DiskTarget& target) override;
    // Disk image files need no privileges: scourline-media prepares them directly.
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return detail_; }

    // Whether the helper process runs now.
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // One request and its answer's results; nothing when it failed (the
    // failure text is then FailureDetail). Used by the handles too.
    std::optional<helper::Message> Call(helper::Message request);
    // Which start of the helper is running. A handle's requests go only to the
    // process that made it, never to one started after that one ended.
    std::uint64_t Generation() const { return generation_; }
    std::optional<helper::Message> CallOn(std::uint64_t generation, helper::Message request);

  private:
    bool Start();
    void Stop();
    std::optional<helper::Message> Exchange(const helper::Message& request);

    HelperLaunch launch_;
    pid_t pid_ = -1;
    int socket_ = -1;
    std::unique_ptr<helper::MessageReader> reader_;
    // After a failed start only ReadIdentity, which begins every preparation,
    // starts the helper again: one run asks for authentication once.
    bool startFailed_ = false;
    std::uint64_t generation_ = 0;
    FormatFileSystem fileSystem_ = FormatFileSystem::Automatic;
    std::wstring detail_;
};

}  // namespace scour::platform
