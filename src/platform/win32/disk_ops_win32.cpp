#include "platform/win32/disk_ops_win32.h"

#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace scour::platform {

namespace {

constexpr DWORD kLayoutBufferSize = 256;
constexpr DWORD kSectorSize = 512;
constexpr FILEOP_FLAGS kSilentCopy =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;  // 0x614

class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void Reset() {
        if (Valid()) {
            CloseHandle(h_);
        }
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

std::wstring ErrorText(const std::wstring& what, DWORD error = GetLastError()) {
    return what + L" (system error " + std::to_wstring(error) + L")";
}

HANDLE OpenDevice(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

bool Control(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    DWORD got = 0;
    return DeviceIoControl(h, code, in, inSize, out, outSize, &got, nullptr) != FALSE;
}

// Size, serial and number of an opened physical drive.
std::optional<DiskIdentity> IdentityOfDisk(HANDLE disk, std::int32_t number) {
    DiskIdentity id;
    id.deviceNumber = static_cast<std::uint64_t>(number);
    GET_LENGTH_INFORMATION length{};
    DISK_GEOMETRY g{};
    if (Control(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length)) {
        id.sizeBytes = static_cast<std::uint64_t>(length.Length.QuadPart);
    } else if (Control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g)) {
        id.sizeBytes = static_cast<std::uint64_t>(g.Cylinders.QuadPart) * g.TracksPerCylinder *
                       g.SectorsPerTrack * g.BytesPerSector;
    } else {
        return std::nullopt;
    }
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<BYTE> buffer(1024);
    if (Control(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                static_cast<DWORD>(buffer.size()))) {
        const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
        if (d->SerialNumberOffset != 0 && d->SerialNumberOffset < buffer.size()) {
            const char* s = reinterpret_cast<const char*>(buffer.data()) + d->SerialNumberOffset;
            std::size_t n = strnlen(s, buffer.size() - d->SerialNumberOffset);
            for (std::size_t i = 0; i < n; ++i) {
                id.serial += static_cast<wchar_t>(static_cast<unsigned char>(s[i]));
            }
            while (!id.serial.empty() && id.serial.back() == L' ') {
                id.serial.pop_back();
            }
        }
    }
    return id;
}

class Win32VolumeLock final : public IVolumeLock {
  public:
    explicit Win32VolumeLock(HANDLE volume) : volume_(volume) {}
    ~Win32VolumeLock() override {
        Control(volume_.Get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0);
    }

  private:
    Handle volume_;
};

class Win32RawDisk final : public IRawDisk {
  public:
    Win32RawDisk(Win32DiskPreparer& owner, HANDLE disk, std::int32_t number)
        : owner_(owner), disk_(disk), number_(number) {}

    std::optional<DiskIdentity> Identity() override { return IdentityOfDisk(disk_.Get(), number_); }

    std::optional<DiskGeometry> Geometry() override {
        DISK_GEOMETRY g{};
        if (!Control(disk_.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g)) {
            owner_.NoteFailure(ErrorText(L"the disk's geometry cannot be read"));
            return std::nullopt;
        }
        return DiskGeometry{static_cast<std::uint64_t>(g.Cylinders.QuadPart), g.TracksPerCylinder,
                            g.SectorsPerTrack, g.BytesPerSector};
    }

    std::optional<DiskLayout> Layout() override {
        alignas(8) BYTE buffer[kLayoutBufferSize] = {};
        if (!Control(disk_.Get(), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, buffer, sizeof buffer)) {
            owner_.NoteFailure(ErrorText(L"the disk's layout cannot be read"));
            return std::nullopt;
        }
        const auto* info = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(buffer);
        constexpr DWORD kFits =
            (kLayoutBufferSize - offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry)) /
            sizeof(PARTITION_INFORMATION);
        DiskLayout layout;
        layout.signature = info->Signature;
        for (DWORD i = 0; i < info->PartitionCount && i < kFits; ++i) {
            const auto& p = info->PartitionEntry[i];
            PartitionEntry e;
            e.startingOffset = p.StartingOffset.QuadPart;
            e.partitionLength = p.PartitionLength.QuadPart;
            e.hiddenSectors = p.HiddenSectors;
            e.partitionNumber = p.PartitionNumber;
            e.partitionType = p.PartitionType;
            e.bootIndicator = p.BootIndicator != FALSE;
            e.recognizedPartition = p.RecognizedPartition != FALSE;
            e.rewritePartition = p.RewritePartition != FALSE;
            layout.partitions.push_back(e);
        }
        return layout;
    }

    bool ClearFirstSector() override {
        // Page-aligned: raw disk writes may require sector-aligned buffers.
        void* zero = VirtualAlloc(nullptr, kSectorSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (zero == nullptr) {
            return false;
        }
        LARGE_INTEGER start{};
        DWORD written = 0;
        bool ok = SetFilePointerEx(disk_.Get(), start, nullptr, FILE_BEGIN) &&
                  WriteFile(disk_.Get(), zero, kSectorSize, &written, nullptr) &&
                  written == kSectorSize;
        VirtualFree(zero, 0, MEM_RELEASE);
        return ok;
    }

    bool CreateMbrDisk() override {
        CREATE_DISK create{};
        create.PartitionStyle = PARTITION_STYLE_MBR;
        create.Mbr.Signature = GetTickCount();
        if (!Control(disk_.Get(), IOCTL_DISK_CREATE_DISK, &create, sizeof create, nullptr, 0)) {
            owner_.NoteFailure(ErrorText(L"the empty disk cannot be created"));
            return false;
        }
        return true;
    }

    bool SetLayout(const DiskLayout& layout, const DiskGeometry&) override {
        alignas(8) BYTE buffer[kLayoutBufferSize] = {};
        auto* info = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(buffer);
        constexpr DWORD kFits =
            (kLayoutBufferSize - offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry)) /
            sizeof(PARTITION_INFORMATION);
        if (layout.partitions.size() > kFits) {
            return false;
        }
        info->PartitionCount = static_cast<DWORD>(layout.partitions.size());
        info->Signature = layout.signature;
        for (std::size_t i = 0; i < layout.partitions.size(); ++i) {
            const auto& e = layout.partitions[i];
            auto& p = info->PartitionEntry[i];
            p.StartingOffset.QuadPart = e.startingOffset;
            p.PartitionLength.QuadPart = e.partitionLength;
            p.HiddenSectors = e.hiddenSectors;
            p.PartitionNumber = e.partitionNumber;
            p.PartitionType = e.partitionType;
            p.BootIndicator = e.bootIndicator;
            p.RecognizedPartition = e.recognizedPartition;
            p.RewritePartition = e.rewritePartition;
        }
        if (!Control(disk_.Get(), IOCTL_DISK_SET_DRIVE_LAYOUT, buffer, sizeof buffer, nullptr, 0)) {
            owner_.NoteFailure(ErrorText(L"the new partition table cannot be set"));
            return false;
        }
        return true;
    }

  private:
    Win32DiskPreparer& owner_;
    Handle disk_;
    std::int32_t number_;
};

class Win32InstallerRun final : public IInstallerRun {
  public:
    explicit Win32InstallerRun(PROCESS_INFORMATION pi)
        : process_(pi.hProcess), thread_(pi.hThread) {}
    std::optional<unsigned long> Wait() override {
        WaitForSingleObject(process_.Get(), INFINITE);
        DWORD code = 0;
        if (!GetExitCodeProcess(process_.Get(), &code)) {
            return std::nullopt;
        }
        return code;
    }

  private:
    Handle process_;
    Handle thread_;
};

// The volume or drive-letter device the target's files go through.
std::wstring VolumeDevice(const DiskTarget& target) {
    if (target.driveLetter >= 0) {
        return L"\\\\.\\" + DriveRoot(target.driveLetter);
    }
    return WithoutTrailingBackslash(target.volumePath);
}

}  // namespace

std::wstring DriveRoot(std::int32_t letter) {
    if (letter < 0 || letter > 25) {
        return {};
    }
    return {static_cast<wchar_t>(L'A' + letter), L':'};
}

std::wstring InstallerCommandLine(std::int32_t letter) {
    std::wstring root = DriveRoot(letter);
    return root.empty() ? std::wstring() : root + L"\\syslinux.exe -m -a " + root;
}

std::wstring PhysicalDiskPath(std::int32_t number) {
    return L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
}

bool FormatSucceeded(DWORD result) {
    return result != static_cast<DWORD>(SHFMT_ERROR) &&
           result != static_cast<DWORD>(SHFMT_CANCEL) &&
           result != static_cast<DWORD>(SHFMT_NOFORMAT);
}

FormatOwner::FormatOwner(HWND given) {
    window_ = given != nullptr ? given : GetConsoleWindow();
    if (window_ != nullptr) {
        return;
    }
    // Never shown: it only stands as the dialog's owner. A tool window has no
    // taskbar button should anything show it.
    made_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    window_ = made_;
}

FormatOwner::~FormatOwner() {
    if (made_ != nullptr) {
        DestroyWindow(made_);
    }
}

bool CopyFolderContentsInto(HWND owner, const std::wstring& folder, const std::wstring& root) {
    // Both lists end in two NULs.
    std::wstring from = WithoutTrailingBackslash(folder) + L"\\*";
    from.push_back(L'\0');
    std::wstring to = WithoutTrailingBackslash(root) + L"\\";
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.hwnd = owner;
    op.wFunc = FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = kSilentCopy;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

bool CopyFileInto(const std::wstring& source, const std::wstring& root, const std::wstring& name) {
    std::wstring to = WithoutTrailingBackslash(root) + L"\\" + name;
    return CopyFileW(source.c_str(), to.c_str(), FALSE) != FALSE;
}

bool FileInRoot(const std::wstring& root, std::wstring_view name) {
    std::wstring path = WithoutTrailingBackslash(root) + L"\\" + std::wstring(name);
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::unique_ptr<IInstallerRun> StartHidden(const std::wstring& commandLine,
                                           const std::wstring& folder) {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        return nullptr;
    }
    return std::make_unique<Win32InstallerRun>(pi);
}

std::optional<std::int32_t> DeviceNumberOf(const std::wstring& volume) {
    Handle h(OpenDevice(WithoutTrailingBackslash(volume), 0));
    STORAGE_DEVICE_NUMBER number{};
    if (!h.Valid() ||
        !Control(h.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number.DeviceNumber);
}

std::optional<std::set<std::int32_t>> SystemDriveNumbers(const std::wstring& programFolder) {
    auto driveOf = [](const std::wstring& path) -> std::optional<std::int32_t> {
        wchar_t mount[MAX_PATH] = {};
        wchar_t volume[MAX_PATH] = {};
        if (path.empty() || !GetVolumePathNameW(path.c_str(), mount, MAX_PATH) ||
            !GetVolumeNameForVolumeMountPointW(mount, volume, MAX_PATH)) {
            return std::nullopt;
        }
        return DeviceNumberOf(volume);
    };
    wchar_t windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    auto system = n > 0 && n < MAX_PATH ? driveOf(windows) : std::nullopt;
    if (!system) {
        return std::nullopt;
    }
    std::set<std::int32_t> out = {*system};
    // A program folder on a share or elsewhere off the local disks has no number.
    if (auto program = driveOf(programFolder)) {
        out.insert(*program);
    }
    return out;
}

Win32DiskPreparer::Win32DiskPreparer(std::wstring programFolder, HWND owner)
    : programFolder_(std::move(programFolder)), owner_(owner) {}

void Win32DiskPreparer::NoteFailure(const std::wstring& what) {
    detail_ = what;
}

bool Win32DiskPreparer::MayWrite(std::int32_t physicalDrive) {
    if (physicalDrive < 0) {
        NoteFailure(L"the disk under the volume is not known");
        return false;
    }
    auto system = SystemDriveNumbers(programFolder_);
    if (!system) {
        NoteFailure(L"the disk that holds Windows cannot be determined");
        return false;
    }
    if (system->count(physicalDrive) != 0) {
        NoteFailure(PhysicalDiskPath(physicalDrive) + L" holds the running system");
        return false;
    }
    return true;
}

std::optional<DiskIdentity> Win32DiskPreparer::ReadIdentity(const DiskTarget& target) {
    // Through the letter or volume: a letter now on another disk reads as that disk.
    auto number = DeviceNumberOf(VolumeDevice(target));
    if (!number) {
        NoteFailure(ErrorText(L"the volume's disk cannot be read"));
        return std::nullopt;
    }
    Handle disk(OpenDevice(PhysicalDiskPath(*number), GENERIC_READ));
    if (!disk.Valid()) {
        NoteFailure(ErrorText(L"cannot open " + PhysicalDiskPath(*number)));
        return std::nullopt;
    }
    return IdentityOfDisk(disk.Get(), *number);
}

std::unique_ptr<IVolumeLock> Win32DiskPreparer::LockVolume(const DiskTarget& target) {
    std::wstring volume = WithoutTrailingBackslash(target.volumePath);
    auto number = DeviceNumberOf(volume);
    if (!number) {
        NoteFailure(ErrorText(L"the volume's disk cannot be read"));
        return nullptr;
    }
    if (*number != target.physicalDrive) {
        NoteFailure(L"the volume is no longer on " + PhysicalDiskPath(target.physicalDrive));
        return nullptr;
    }
    if (!MayWrite(*number)) {
        return nullptr;
    }
    HANDLE h = OpenDevice(volume, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE) {
        NoteFailure(ErrorText(L"cannot open the volume"));
        return nullptr;
    }
    if (!Control(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0)) {
        NoteFailure(ErrorText(L"the volume cannot be locked"));
        CloseHandle(h);
        return nullptr;
    }
    auto lock = std::make_unique<Win32VolumeLock>(h);
    if (!Control(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0)) {
        NoteFailure(ErrorText(L"the volume cannot be dismounted"));
        return nullptr;  // the lock's end unlocks and closes
    }
    return lock;
}

std::unique_ptr<IRawDisk> Win32DiskPreparer::OpenDisk(const DiskTarget& target) {
    if (!MayWrite(target.physicalDrive)) {
        return nullptr;
    }
    HANDLE h = OpenDevice(PhysicalDiskPath(target.physicalDrive), GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE) {
        NoteFailure(ErrorText(L"cannot open " + PhysicalDiskPath(target.physicalDrive)));
        return nullptr;
    }
    return std::make_unique<Win32RawDisk>(*this, h, target.physicalDrive);
}

bool Win32DiskPreparer::Format(const DiskTarget& target) {
    auto number = DeviceNumberOf(VolumeDevice(target));
    if (target.driveLetter < 0 || !number || !MayWrite(*number)) {
        return false;
    }
    const FormatOwner owner(owner_);
    if (owner.Get() == nullptr) {
        NoteFailure(ErrorText(L"no window can own the format dialog"));
        return false;
    }
    DWORD result = SHFormatDrive(owner.Get(), static_cast<UINT>(target.driveLetter),
                                 SHFMT_ID_DEFAULT, SHFMT_OPT_FULL);
    if (!FormatSucceeded(result)) {
        NoteFailure(L"the drive was not formatted");
        return false;
    }
    return true;
}

bool Win32DiskPreparer::CopyFolderContents(const DiskTarget& target, const std::wstring& folder) {
    std::wstring root = DriveRoot(target.driveLetter);
    if (root.empty() || !CopyFolderContentsInto(owner_, folder, root)) {
        NoteFailure(L"the files of " + folder + L" could not be copied to the drive");
        return false;
    }
    return true;
}

bool Win32DiskPreparer::CopyFile(const DiskTarget& target, const std::wstring& source,
                                 const std::wstring& name) {
    std::wstring root = DriveRoot(target.driveLetter);
    if (root.empty() || !CopyFileInto(source, root, name)) {
        NoteFailure(ErrorText(name + L" could not be copied to the drive"));
        return false;
    }
    return true;
}

std::unique_ptr<IInstallerRun> Win32DiskPreparer::StartInstaller(const DiskTarget& target,
                                                                 const std::wstring&) {
    std::wstring root = DriveRoot(target.driveLetter);
    if (root.empty()) {
        NoteFailure(L"the drive has no letter to start the installer from");
        return nullptr;
    }
    // The root with its backslash: a bare "E:" is not a folder to every system.
    auto run = StartHidden(InstallerCommandLine(target.driveLetter), root + L"\\");
    if (!run) {
        NoteFailure(ErrorText(L"the installer could not be started"));
    }
    return run;
}

bool Win32DiskPreparer::RootFileExists(const DiskTarget& target, std::wstring_view name) {
    std::wstring root = DriveRoot(target.driveLetter);
    return !root.empty() && FileInRoot(root, name);
}

std::unique_ptr<IDiskPreparer> CreateDiskPreparer(const std::wstring& programFolder,
                                                  void* ownerWindow) {
    return std::make_unique<Win32DiskPreparer>(programFolder, static_cast<HWND>(ownerWindow));
}

}  // namespace scour::platform
