#include "platform/win32/volumes_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <climits>
#include <cstddef>

#include "base/text.h"

namespace scour::platform {

namespace {

// Most volume calls want the root with its trailing backslash; opening the
// volume as a device wants it without.
std::wstring WithSep(std::wstring volume) {
    if (!volume.empty() && volume.back() != L'\\' && volume.back() != L'/') {
        volume += L'\\';
    }
    return volume;
}

std::wstring WithoutSep(std::wstring volume) {
    if (!volume.empty() && volume.back() == L'\\') {
        volume.pop_back();
    }
    return volume;
}

// Closes the handle on every way out.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (Valid()) {
            CloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }

  private:
    HANDLE h_;
};

std::optional<std::wstring> VolumeOfPath(const std::wstring& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    wchar_t mountPoint[MAX_PATH] = {};
    if (!GetVolumePathNameW(path.c_str(), mountPoint, MAX_PATH)) {
        return std::nullopt;
    }
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(mountPoint, name, MAX_PATH)) {
        return std::nullopt;
    }
    return std::wstring(name);
}

}  // namespace

Win32VolumeSystem::Win32VolumeSystem(const std::wstring& programFolder) {
    wchar_t windowsFolder[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    std::wstring system = n > 0 && n < MAX_PATH ? std::wstring(windowsFolder, n) : std::wstring();
    for (const auto& path : {programFolder, system}) {
        auto volume = VolumeOfPath(path);
        if (!volume) {
            continue;
        }
        protectedVolumes_.push_back(WithoutSep(*volume));
        if (auto number = PhysicalDriveNumber(*volume)) {
            protectedDisks_.push_back(*number);
        }
    }
}

std::uint32_t Win32VolumeSystem::LogicalDrives() {
    return GetLogicalDrives();
}

std::optional<std::wstring> Win32VolumeSystem::VolumeNameForRoot(const std::wstring& root) {
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH)) {
        return std::nullopt;
    }
    return std::wstring(name);
}

std::optional<std::vector<std::wstring>> Win32VolumeSystem::EnumerateVolumes() {
    wchar_t name[MAX_PATH] = {};
    HANDLE find = FindFirstVolumeW(name, MAX_PATH);
    if (find == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::vector<std::wstring> volumes;
    do {
        volumes.emplace_back(name);
    } while (FindNextVolumeW(find, name, MAX_PATH));
    FindVolumeClose(find);
    return volumes;
}

bool Win32VolumeSystem::IsProtected(const std::wstring& volume) {
    const std::wstring bare = WithoutSep(volume);
    for (const auto& p : protectedVolumes_) {
        if (EqualsAsciiNoCase(p, bare)) {
            return true;
        }
    }
    if (protectedDisks_.empty()) {
        return false;
    }
    auto number = PhysicalDriveNumber(volume);
    return number && std::find(protectedDisks_.begin(), protectedDisks_.end(), *number) !=
                         protectedDisks_.end();
}

bool Win32VolumeSystem::IsRemovableVolume(const std::wstring& volume) {
    if (GetDriveTypeW(WithSep(volume).c_str()) != DRIVE_REMOVABLE) {
        return false;
    }
    return !IsProtected(volume);
}

VolumeInformation Win32VolumeSystem::ReadVolumeInformation(const std::wstring& volume) {
    // What the call leaves in the buffers is taken, whether it succeeds or not.
    wchar_t label[64] = {};
    wchar_t fileSystem[16] = {};
    GetVolumeInformationW(WithSep(volume).c_str(), label, 64, nullptr, nullptr, nullptr, fileSystem,
                          16);
    label[63] = L'\0';
    fileSystem[15] = L'\0';
    return {label, fileSystem};
}

std::optional<VolumeSpace> Win32VolumeSystem::DiskFreeSpace(const std::wstring& volume) {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceW(WithSep(volume).c_str(), &sectorsPerCluster, &bytesPerSector,
                           &freeClusters, &totalClusters)) {
        return std::nullopt;
    }
    VolumeSpace space;
    space.sectorsPerCluster = sectorsPerCluster;
    space.bytesPerSector = bytesPerSector;
    space.freeClusters = freeClusters;
    space.totalClusters = totalClusters;
    return space;
}

std::optional<std::int32_t> Win32VolumeSystem::PhysicalDriveNumber(const std::wstring& volume) {
    Handle device(CreateFileW(WithoutSep(volume).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
    if (!device.Valid()) {
        return std::nullopt;
    }
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!DeviceIoControl(device.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof number, &returned, nullptr) ||
        number.DeviceNumber > static_cast<DWORD>(INT_MAX)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number.DeviceNumber);
}

std::wstring Win32VolumeSystem::PhysicalDrivePath(std::int32_t number) {
    if (number < 0) {
        return {};
    }
    return L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
}

std::optional<DriveLayout> Win32VolumeSystem::ReadDriveLayout(std::int32_t number) {
    if (number < 0) {
        return std::nullopt;
    }
    Handle disk(CreateFileW(PhysicalDrivePath(number).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr));
    if (!disk.Valid()) {
        return std::nullopt;
    }
    // 256 bytes hold seven entries; a disk with logical partitions reports
    // more, so the buffer grows rather than the test failing on a good table.
    std::vector<std::uint64_t> buffer(256 / sizeof(std::uint64_t));
    for (;;) {
        DWORD returned = 0;
        const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
        if (DeviceIoControl(disk.Get(), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, buffer.data(),
                            size, &returned, nullptr)) {
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size >= 65536) {
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
    const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(buffer.data());
    DriveLayout result;
    result.partitionCount = layout->PartitionCount;
    if (layout->PartitionCount >= 1) {
        result.firstStartingOffset = layout->PartitionEntry[0].StartingOffset.QuadPart;
    }
    return result;
}

bool Win32VolumeSystem::RootFileExists(const std::wstring& /*volume*/, std::int32_t driveLetter,
                                       std::wstring_view name) {
    if (driveLetter < 0 || driveLetter > 25 || name.empty()) {
        return false;
    }
    std::wstring path = {static_cast<wchar_t>(L'A' + driveLetter), L':', L'\\'};
    path += name;
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::unique_ptr<IVolumeSystem> CreateVolumeSystem(const std::wstring& programFolder) {
    return std::make_unique<Win32VolumeSystem>(programFolder);
}

}  // namespace scour::platform
