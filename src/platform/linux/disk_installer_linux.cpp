// The boot loader installer: the program folder's flash/syslinux, started on
// the disk's descriptor, then the MBR boot code and active flag it leaves out.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/text.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform {

using namespace disk_detail;

namespace {

// syslinux leaves out the MBR boot code and the active flag (its -m and -a):
// this writes both for the volume's table entry.
bool WriteBootCode(int fd, const std::string& code, int tableIndex, std::string& error) {
    MbrSector sector{};
    if (!ReadSector0(fd, sector)) {
        error = ErrnoText("cannot read the first sector");
        return false;
    }
    std::size_t n = std::min(code.size(), kMbrBootCodeSize);
    std::copy_n(code.begin(), n, sector.begin());
    for (int i = 0; i < static_cast<int>(kMbrEntries); ++i) {
        auto& flag = sector[kMbrTableOffset + static_cast<std::size_t>(i) * kMbrEntrySize];
        flag = i == tableIndex ? kMbrActive : 0;
    }
    if (!WriteSector0(fd, sector)) {
        error = ErrnoText("cannot write the boot code");
        return false;
    }
    return true;
}

class LinuxInstallerRun final : public IInstallerRun {
  public:
    LinuxInstallerRun(LinuxDiskPreparer& owner, ToolChild child, ToolLaunch launch, Fd program,
                      Fd hold, const OpenedDisk& disk, VolumeSpan span, std::string bootCode)
        : owner_(owner),
          child_(std::move(child)),
          launch_(std::move(launch)),
          program_(std::move(program)),
          hold_(std::move(hold)),
          rdev_(disk.rdev),
          sequence_(disk.block ? disk.sequence : 0),
          span_(span),
          bootCode_(std::move(bootCode)) {}

    ~LinuxInstallerRun() override {
        if (!waited_) {
            FinishTool(child_);
        }
    }

    std::optional<unsigned long> Wait() override {
        waited_ = true;
        auto r = FinishTool(child_);
        if (!r.exitKnown) {
            owner_.NoteFailure(DescribeRun(launch_, r));
            return std::nullopt;
        }
        if (r.status != 0) {
            owner_.NoteFailure(DescribeRun(launch_, r));
            return static_cast<unsigned long>(r.status);
        }
        if (span_.tableIndex >= 0) {
            std::string error;
            if (!SameSequence(hold_.Get(), rdev_, sequence_)) {
                owner_.NoteFailure("the medium has changed: the boot code was not written");
                return 1;
            }
            if (!WriteBootCode(hold_.Get(), bootCode_, span_.tableIndex, error)) {
                owner_.NoteFailure(error);
                return 1;
            }
        }
        return 0;
    }

  private:
    LinuxDiskPreparer& owner_;
    ToolChild child_;
    ToolLaunch launch_;
    // The installer's descriptor, by which it was started: an interpreter
    // opens a script through it after the start.
    Fd program_;
    Fd hold_;
    dev_t rdev_;
    std::uint64_t sequence_;
    VolumeSpan span_;
    std::string bootCode_;
    bool waited_ = false;
};

}  // namespace

std::unique_ptr<IInstallerRun> LinuxDiskPreparer::StartInstaller(
    const DiskTarget& target, const std::wstring& programFolder) {
    if (ToUtf8(programFolder) != programFolder_) {
        NoteFailure(ToUtf8(programFolder) + " is not the program folder " + programFolder_ +
                    ": only its own boot loader installer runs");
        return nullptr;
    }
    const ProgramFiles* files = Files();
    auto disk = files != nullptr ? Open(target) : std::nullopt;
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return nullptr;
    }
    std::string why;
    Fd installer = files->OpenMember("flash/syslinux", O_RDONLY, why);
    Fd mbr = installer.Valid() ? files->OpenMember("flash/mbr.bin", O_RDONLY, why) : Fd();
    auto code = mbr.Valid() ? ReadAll(mbr.Get(), 4096) : std::nullopt;
    if (!code || code->empty()) {
        NoteFailure(why.empty() ? "the boot code " + files->Path() + "/flash/mbr.bin cannot be read"
                                : why);
        return nullptr;
    }
    Fd hold = HoldDisk(*disk);
    if (!hold.Valid() || !SameMedium(*disk)) {
        return nullptr;
    }
    std::vector<std::string> argv = {"syslinux", "--install"};
    if (span->offset != 0) {
        argv.insert(argv.end(), {"--offset", std::to_string(span->offset)});
    }
    argv.push_back(DiskForTools());
    // The installer that was checked, by its descriptor: never looked up by name again.
    ToolLaunch launch{
        "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(installer.Get()),
        argv,
        {disk->fd.Get()},
        Home()};
    auto child = SpawnTool(launch);
    if (!child) {
        NoteFailure(files->Path() + "/flash/syslinux could not be started");
        return nullptr;
    }
    return std::make_unique<LinuxInstallerRun>(*this, std::move(*child), std::move(launch),
                                               std::move(installer), std::move(hold), *disk, *span,
                                               std::move(*code));
}

}  // namespace scour::platform
