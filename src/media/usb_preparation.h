// USB disk preparation: the "Format and Create" sequence that turns one
// removable disk of the drive list into a bootable disk for the wiping
// environment — confirmation, where needed a new partition table and a
// format, the boot files, the welcome banner, the configuration archive and
// the boot loader installer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/removable_drive.h"
#include "options/wizard_options.h"
#include "platform/disk_ops.h"
#include "platform/reporter.h"
#include "platform/services.h"

namespace scour {

// What the sequence needs of the USB disk page. The wizard frames move real
// controls; scourline-media and the tests keep the values.
class IUsbPage {
  public:
    virtual ~IUsbPage() = default;
    virtual void SetProgressRange(int lower, int upper) = 0;
    // Moves the bar and repaints it at once.
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressPosition() = 0;
    virtual int ProgressUpper() = 0;
    virtual void ShowProgress() = 0;
    // Repaints the whole page at once.
    virtual void RepaintPage() = 0;
    virtual void Pause(int milliseconds) = 0;
    // The busy cursor, shown while the boot files are installed.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    virtual void SetDiskPrepared() = 0;
    // Discovers the drives again, refills the list and sets the wizard buttons.
    virtual void RefreshAfterPreparation() = 0;
};

// The page where nothing is drawn (scourline-media, tests): the bar's
// positions are kept, and whether a disk was prepared.
class HeadlessUsbPage final : public IUsbPage {
  public:
    void SetProgressRange(int /*lower*/, int upper) override { upper_ = upper; }
    void SetProgressPosition(int position) override { position_ = position; }
    int ProgressPosition() override { return position_; }
    int ProgressUpper() override { return upper_; }
    void ShowProgress() override {}
    void RepaintPage() override {}
    void Pause(int) override {}
    void BeginBusy() override {}
    void EndBusy() override {}
    void SetDiskPrepared() override { prepared_ = true; }
    void RefreshAfterPreparation() override {}
    bool Prepared() const { return prepared_; }

  private:
    int position_ = 0;
    int upper_ = 0;
    bool prepared_ = false;
};

inline constexpr int kUsbProgressUpper = 14;
inline constexpr std::uint8_t kBootPartitionType = 0xEF;

enum class UsbOutcome {
    NoSelection,   // nothing was selected: nothing happened
    Declined,      // No to the question: disk untouched
    VolumeBusy,    // message 152
    DiskChanged,   // message 153: the disk is not the one the run started with
    TableFailed,   // message 153
    NotFormatted,  // message 154
    Prepared,      // message 155
    CopyFailed,    // message 156
};

// The drive the run works on: a copy of the list entry it started with, where
// the platform finds it, what identified it then, and the held volume lock.
struct UsbTarget {
    RemovableDrive drive;
    platform::DiskTarget disk;
    std::optional<platform::DiskIdentity> identity;
    std::unique_ptr<platform::IVolumeLock> volumeLock;
};

platform::DiskTarget DiskTargetFor(const RemovableDrive& drive);
// Copies the entry and reads the identity of its disk.
UsbTarget MakeUsbTarget(const RemovableDrive& drive, platform::IDiskPreparer& disk);
// True only when the disk still has the identity read at the start.
bool StillSameDisk(const UsbTarget& target, platform::IDiskPreparer& disk);
// Whether the entry must be confirmed and formatted: any status but ready, and
// any disk without partition table (that one gets a new table).
bool NeedsFormat(const RemovableDrive& drive);

// False when a lock is already held or the volume cannot be locked.
bool LockVolume(UsbTarget& target, platform::IDiskPreparer& disk);
void UnlockVolume(UsbTarget& target);

// The one partition of a prepared disk: from the second track to the end of
// the last whole cylinder, type 0xEF, active. Nothing when the geometry leaves
// it no room or it does not fit an MBR entry.
std::optional<platform::PartitionEntry> BootPartitionFor(const platform::DiskGeometry& geometry);

// Replaces a disk that has no partition table by one with the boot partition.
// Reads and checks everything first: a disk that is not the one the run
// started with, or that already has a partition, is left unwritten.
bool WriteBootPartitionTable(UsbTarget& target, platform::IDiskPreparer& disk);

enum class InstallResult { Done, Failed, DiskChanged };

// Copies the boot files, the banner and the archive onto the volume and runs
// the installer; moves the progress bar from its current position p through
// p+1 ... p+8 to the upper end.
InstallResult InstallBootFiles(IUsbPage& page, const UsbTarget& target, WizardOptions& options,
                               const platform::Services& services, platform::IDiskPreparer& disk);

// The whole sequence for the selected entry (null: no selection). The outcome
// is also what the reporter showed; the page's disk-prepared flag is set on
// success.
UsbOutcome PrepareUsbDisk(IUsbPage& page, const RemovableDrive* selected, WizardOptions& options,
                          const platform::Services& services, platform::IDiskPreparer& disk,
                          platform::IReporter& reporter);

}  // namespace scour
