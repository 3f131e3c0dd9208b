// Volumes on Windows: each query is the one system call that the interface names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volumes.h"

namespace scour::platform {

class Win32VolumeSystem final : public IVolumeSystem {
  public:
    // The disks that hold the program folder and the Windows folder are never
    // counted as removable, whatever their drive type says.
    explicit Win32VolumeSystem(const std::wstring& programFolder);

    std::uint32_t LogicalDrives() override;
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring& root) override;
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override;
    bool IsRemovableVolume(const std::wstring& volume) override;
    VolumeInformation ReadVolumeInformation(const std::wstring& volume) override;
    std::optional<VolumeSpace> DiskFreeSpace(const std::wstring& volume) override;
    std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring& volume) override;
    std::wstring PhysicalDrivePath(std::int32_t number) override;
    std::optional<DriveLayout> ReadDriveLayout(std::int32_t number) override;
    // "%c:\name" through the drive letter; a volume without a letter has none.
    bool RootFileExists(const std::wstring& volume, std::int32_t driveLetter,
                        std::wstring_view name) override;
    VolumePlace Locate(const std::wstring&) override { return {}; }

    // Unique names (without trailing backslash) and disk numbers of the volumes never listed.
    const std::vector<std::wstring>& ProtectedVolumes() const { return protectedVolumes_; }
    const std::vector<std::int32_t>& ProtectedDisks() const { return protectedDisks_; }

  private:
    bool IsProtected(const std::wstring& volume);

    std::vector<std::wstring> protectedVolumes_;
    std::vector<std::int32_t> protectedDisks_;
};

}  // namespace scour::platform
