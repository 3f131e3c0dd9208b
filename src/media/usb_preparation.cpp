#include "media/usb_preparation.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "base/strings.h"
#include "base/text.h"
#include "media/config_archive.h"
#include "media/welcome_banner.h"

namespace scour {

namespace {

// A moment for the bar to show before the question or the work.
constexpr int kShowPause = 100;
constexpr wchar_t kLoaderFile[] = L"ldlinux.sys";

bool IsFolder(const std::wstring& path) {
    std::error_code ec;
    return std::filesystem::is_directory(ToFsPath(path), ec);
}

// A folder in the temporary folder for the banner and the archive, removed
// with its content on every way out.
class ScratchFolder {
  public:
    explicit ScratchFolder(platform::ITempFiles* temp) {
        if (temp != nullptr) {
            if (auto made = temp->CreateTempFolder(L"scu")) {
                path_ = *made;
            }
        }
    }
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(ToFsPath(path_), ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return path_; }

  private:
    std::wstring path_;
};

// The layout check: the disk must have no partition that starts after offset
// 0 (a disk without table shows one entry from offset 0, or none).
bool HasNoPartitionTable(const platform::DiskLayout& layout) {
    if (layout.partitions.empty()) {
        return false;
    }
    for (const auto& p : layout.partitions) {
        bool used = p.partitionType != 0 || p.partitionLength > 0;
        if (used && p.startingOffset > 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

platform::DiskTarget DiskTargetFor(const RemovableDrive& drive) {
    platform::DiskTarget target;
    target.volumePath = drive.VolumePath;
    target.diskPath = drive.PhysicalDevice;
    target.physicalDrive = drive.PhysicalDrive;
    target.driveLetter = drive.DriveLetter;
    return target;
}

UsbTarget MakeUsbTarget(const RemovableDrive& drive, platform::IDiskPreparer& disk) {
    UsbTarget target;
    target.drive = drive;
    target.disk = DiskTargetFor(drive);
    target.identity = disk.ReadIdentity(target.disk);
    return target;
}

bool StillSameDisk(const UsbTarget& target, platform::IDiskPreparer& disk) {
    if (!target.identity) {
        return false;
    }
    auto now = disk.ReadIdentity(target.disk);
    return now && *now == *target.identity;
}

bool NeedsFormat(const RemovableDrive& drive) {
    return drive.Status != DriveReady || !drive.HasPartitionTable;
}

bool LockVolume(UsbTarget& target, platform::IDiskPreparer& disk) {
    if (target.volumeLock) {
        return false;
    }
    target.volumeLock = disk.LockVolume(target.disk);
    return target.volumeLock != nullptr;
}

void UnlockVolume(UsbTarget& target) {
    target.volumeLock.reset();
}

std::optional<platform::PartitionEntry> BootPartitionFor(const platform::DiskGeometry& g) {
    if (g.sectorsPerTrack == 0 || g.tracksPerCylinder == 0 || g.bytesPerSector == 0 ||
        g.cylinders == 0) {
        return std::nullopt;
    }
    // 64-bit throughout: a 32-bit cylinder size wraps for large sector sizes.
    std::uint64_t track = static_cast<std::uint64_t>(g.sectorsPerTrack) * g.bytesPerSector;
    std::uint64_t cylinder = track * g.tracksPerCylinder;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (g.cylinders > kMax / cylinder) {
        return std::nullopt;
    }
    std::uint64_t end = cylinder * g.cylinders;
    if (end <= track) {
        return std::nullopt;
    }
    std::uint64_t length = end - track;
    // An MBR entry counts sectors in 32 bits.
    if (end / g.bytesPerSector > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    platform::PartitionEntry e;
    e.startingOffset = static_cast<std::int64_t>(track);
    e.partitionLength = static_cast<std::int64_t>(length);
    e.hiddenSectors = g.sectorsPerTrack;
    e.partitionType = kBootPartitionType;
    e.bootIndicator = true;
    e.recognizedPartition = true;
    e.rewritePartition = true;
    return e;
}

bool WriteBootPartitionTable(UsbTarget& target, platform::IDiskPreparer& disk) {
    auto raw = disk.OpenDisk(target.disk);
    if (!raw) {
        return false;
    }
    // Everything is read and checked before the first write.
    auto identity = raw->Identity();
    if (!target.identity || !identity || *identity != *target.identity) {
        return false;
    }
    auto geometry = raw->Geometry();
    auto layout = raw->Layout();
    if (!geometry || !layout || !HasNoPartitionTable(*layout)) {
        return false;
    }
    auto boot = BootPartitionFor(*geometry);
    if (!boot || static_cast<std::uint64_t>(boot->startingOffset + boot->partitionLength) >
                     identity->sizeBytes) {
        return false;
    }
    platform::DiskLayout fresh;
    fresh.signature = layout->signature;
    boot->partitionNumber = layout->partitions.front().partitionNumber;
    fresh.partitions.assign(4, platform::PartitionEntry{});
    fresh.partitions[0] = *boot;

    // Its result is not needed: creating the empty disk rewrites that sector.
    raw->ClearFirstSector();
    if (!raw->CreateMbrDisk()) {
        return false;
    }
    return raw->SetLayout(fresh, *geometry);
}

InstallResult InstallBootFiles(IUsbPage& page, const UsbTarget& target, WizardOptions& options,
                               const platform::Services& services, platform::IDiskPreparer& disk) {
    const int p = page.ProgressPosition();
    page.SetProgressPosition(p + 1);
    page.SetProgressPosition(p + 2);

    std::wstring programFolder =
        services.environment != nullptr ? services.environment->ProgramFolder() : std::wstring();
    std::wstring common = JoinPath(programFolder, L"common");
    std::wstring flash = JoinPath(programFolder, L"flash");
    page.SetProgressPosition(p + 3);
    // A folder that is missing or too long for a path buffer fails here:
    // some systems' copy reports success for a pattern that matches nothing.
    if (programFolder.empty() || !FitsPathBuffer(JoinPath(common, L"*")) ||
        !FitsPathBuffer(JoinPath(flash, L"*")) || !IsFolder(common) || !IsFolder(flash)) {
        return InstallResult::Failed;
    }
    if (!disk.CopyFolderContents(target.disk, common)) {
        return InstallResult::Failed;
    }
    page.SetProgressPosition(p + 4);
    if (!disk.CopyFolderContents(target.disk, flash)) {
        return InstallResult::Failed;
    }
    page.SetProgressPosition(p + 5);

    // Written beside the disk first: on Linux the volume is not mounted, and
    // the copy is what the disk operations know how to put on it.
    ScratchFolder scratch(services.tempFiles);
    if (scratch.Path().empty()) {
        return InstallResult::Failed;
    }
    std::wstring banner = JoinPath(scratch.Path(), L"welcome.txt");
    if (!WriteWelcomeBanner(banner, BannerForm::Main) ||
        !disk.CopyFile(target.disk, banner, L"welcome.txt")) {
        return InstallResult::Failed;
    }
    page.SetProgressPosition(p + 6);
    std::wstring archive = JoinPath(scratch.Path(), L"scour");
    if (!WriteConfigArchive(options, archive, services) ||
        !disk.CopyFile(target.disk, archive, L"scour")) {
        return InstallResult::Failed;
    }

    // The installer writes the boot sector: the last destructive step.
    if (!StillSameDisk(target, disk)) {
        return InstallResult::DiskChanged;
    }
    auto run = disk.StartInstaller(target.disk, programFolder);
    if (!run) {
        return InstallResult::Failed;
    }
    page.SetProgressPosition(p + 7);
    auto exitCode = run->Wait();
    run.reset();
    page.SetProgressPosition(p + 8);
    if (!exitCode || *exitCode != 0) {
        return InstallResult::Failed;
    }
    if (!disk.RootFileExists(target.disk, kLoaderFile)) {
        return InstallResult::Failed;
    }
    page.SetProgressPosition(page.ProgressUpper());
    return InstallResult::Done;
}

UsbOutcome PrepareUsbDisk(IUsbPage& page, const RemovableDrive* selected, WizardOptions& options,
                          const platform::Services& services, platform::IDiskPreparer& disk,
                          platform::IReporter& reporter) {
    if (selected == nullptr) {
        return UsbOutcome::NoSelection;
    }
    // The page may replace its list while a box is open: work on a copy.
    UsbTarget target = MakeUsbTarget(*selected, disk);
    const bool needsFormat = NeedsFormat(target.drive);
    const std::wstring& caption = LoadText(IDS_WIZARD_CAPTION);
    auto stop = [&](UsbOutcome outcome, int message) {
        if (message != 0) {
            // What the disk operations said (a refusal, cancelled authentication)
            // follows the message, so the user learns why.
            std::wstring text = LoadText(message);
            if (auto detail = disk.FailureDetail(); !detail.empty()) {
                text += L"\n\n" + detail;
            }
            reporter.ShowMessage(platform::BoxKind::Error, caption, text);
        }
        page.SetProgressPosition(0);
        return outcome;
    };

    page.SetProgressRange(0, kUsbProgressUpper);
    page.SetProgressPosition(2);
    page.ShowProgress();
    page.Pause(kShowPause);

    // A disk whose identity cannot be read cannot be checked later: stop before
    // asking the user anything (this is also where refused access shows).
    if (!target.identity) {
        return stop(UsbOutcome::DiskChanged, IDS_USB_MBR_FAILED);
    }

    if (needsFormat && !reporter.AskYesNo(caption, LoadText(IDS_USB_CONFIRM_OVERWRITE))) {
        return stop(UsbOutcome::Declined, 0);
    }
    page.SetProgressPosition(1);
    int step = 2;
    page.RepaintPage();

    if (!target.drive.HasPartitionTable) {
        if (!LockVolume(target, disk)) {
            return stop(UsbOutcome::VolumeBusy, IDS_USB_FILES_OPEN);
        }
        page.SetProgressPosition(2);
        step = 3;
        bool written = WriteBootPartitionTable(target, disk);
        UnlockVolume(target);
        if (!written) {
            return stop(UsbOutcome::TableFailed, IDS_USB_MBR_FAILED);
        }
    }

    page.SetProgressPosition(step);
    ++step;
    if (needsFormat) {
        if (!StillSameDisk(target, disk)) {
            return stop(UsbOutcome::DiskChanged, IDS_USB_MBR_FAILED);
        }
        if (!disk.ReleaseVolume(target.disk)) {
            return stop(UsbOutcome::VolumeBusy, IDS_USB_FILES_OPEN);
        }
        if (!disk.Format(target.disk)) {
            return stop(UsbOutcome::NotFormatted, IDS_USB_NOT_FORMATTED);
        }
    }

    page.SetProgressPosition(step);
    page.RepaintPage();
    if (!StillSameDisk(target, disk)) {
        return stop(UsbOutcome::DiskChanged, IDS_USB_MBR_FAILED);
    }
    if (!disk.ReleaseVolume(target.disk)) {
        return stop(UsbOutcome::VolumeBusy, IDS_USB_FILES_OPEN);
    }

    page.BeginBusy();
    InstallResult installed = InstallBootFiles(page, target, options, services, disk);
    page.EndBusy();
    if (installed == InstallResult::DiskChanged) {
        return stop(UsbOutcome::DiskChanged, IDS_USB_MBR_FAILED);
    }

    UsbOutcome outcome;
    if (installed == InstallResult::Done) {
        page.SetDiskPrepared();
        reporter.ShowMessage(platform::BoxKind::Plain, caption, LoadText(IDS_USB_DONE));
        outcome = UsbOutcome::Prepared;
    } else {
        reporter.ShowMessage(platform::BoxKind::Error, caption, LoadText(IDS_USB_COPY_FAILED));
        outcome = UsbOutcome::CopyFailed;
    }
    page.RefreshAfterPreparation();
    return outcome;
}

}  // namespace scour
