// Disk operations on Windows: DeviceIoControl on the volume and the physical
// drive, the system's format dialog, the shell's copy and the installer
// started from the prepared drive itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "platform/disk_ops.h"

namespace scour::platform {

// "%c:" for a drive letter (0 = A); empty for none.
std::wstring DriveRoot(std::int32_t letter);
// "%c:\\syslinux.exe -m -a %c:": the installer copied onto the drive, for that drive.
std::wstring InstallerCommandLine(std::int32_t letter);
// \\.\PhysicalDriveN.
std::wstring PhysicalDiskPath(std::int32_t number);

// SHFormatDrive reports failure by three values at the top of the range;
// anything else is the ID of the format it made.
bool FormatSucceeded(DWORD result);

// The system's format dialog needs an owner window. The caller's window when
// it gives one; else the console's (the command-line tool); else a hidden
// top-level window made for the purpose and destroyed with this object.
class FormatOwner {
  public:
    explicit FormatOwner(HWND given);
    ~FormatOwner();
    FormatOwner(const FormatOwner&) = delete;
    FormatOwner& operator=(const FormatOwner&) = delete;
    // Null only when no window at all could be had.
    HWND Get() const { return window_; }
    bool MadeItsOwn() const { return made_ != nullptr; }

  private:
    HWND window_ = nullptr;
    HWND made_ = nullptr;
};

// The shell's silent copy of folder\* into root, subfolders included; true
// only when the shell reports every file copied.
bool CopyFolderContentsInto(HWND owner, const std::wstring& folder, const std::wstring& root);
bool CopyFileInto(const std::wstring& source, const std::wstring& root, const std::wstring& name);
bool FileInRoot(const std::wstring& root, std::wstring_view name);
// Starts a command line hidden, with its own current folder; null when it cannot be started.
std::unique_ptr<IInstallerRun> StartHidden(const std::wstring& commandLine,
                                           const std::wstring& folder);

// The physical drive number of a volume (\\?\Volume{...} or \\.\X:).
std::optional<std::int32_t> DeviceNumberOf(const std::wstring& volume);
// The physical drives of the Windows folder and of the given folder; nothing
// when the Windows folder's drive cannot be determined.
std::optional<std::set<std::int32_t>> SystemDriveNumbers(const std::wstring& programFolder);

class Win32DiskPreparer final : public IDiskPreparer {
  public:
    Win32DiskPreparer(std::wstring programFolder, HWND owner);

    std::optional<DiskIdentity> ReadIdentity(const DiskTarget& target) override;
    std::unique_ptr<IVolumeLock> LockVolume(const DiskTarget& target) override;
    std::unique_ptr<IRawDisk> OpenDisk(const DiskTarget& target) override;
    bool ReleaseVolume(const DiskTarget&) override { return true; }
    bool Format(const DiskTarget& target) override;
    bool CopyFolderContents(const DiskTarget& target, const std::wstring& folder) override;
    bool CopyFile(const DiskTarget& target, const std::wstring& source,
                  const std::wstring& name) override;
    std::unique_ptr<IInstallerRun> StartInstaller(const DiskTarget& target,
                                                  const std::wstring& programFolder) override;
    bool RootFileExists(const DiskTarget& target, std::wstring_view name) override;
    std::optional<VolumeFacts> DescribeVolume(const DiskTarget&) override { return {}; }
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return detail_; }

    // False, with the reason noted, for a disk of the running system or an unknown one.
    bool MayWrite(std::int32_t physicalDrive);
    void NoteFailure(const std::wstring& what);

  private:
    std::wstring programFolder_;
    HWND owner_;
    std::wstring detail_;
};

}  // namespace scour::platform
