// usb: make a removable disk, or a disk image file, a bootable USB disk.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "base/file.h"
#include "base/text.h"
#include "cli/commands.h"
#include "media/drive_discovery.h"
#include "media/usb_preparation.h"
#include "platform/disk_ops.h"
#include "platform/volumes.h"

namespace scour::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kDefaultImageMiB = 64;
// An MBR entry counts 2^32 sectors of 512 bytes: 2 TiB.
constexpr std::uint64_t kMaxImageMiB = 2 * 1024 * 1024;

struct UsbArgs {
    std::wstring device;
    std::wstring image;
    std::optional<std::uint64_t> sizeMiB;
};

std::optional<std::uint64_t> ParseMiB(const std::wstring& text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (value == 0 || value > kMaxImageMiB) {
        return std::nullopt;
    }
    return value;
}

std::optional<UsbArgs> ParseUsbArgs(const std::vector<std::wstring>& args, std::wstring& error) {
    UsbArgs out;
    bool image = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        if (a == L"--image" || a == L"--size") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = L"usb: " + a + (a == L"--image" ? L" needs FILE" : L" needs MIB");
                return std::nullopt;
            }
            const auto& value = args[++i];
            if (a == L"--image") {
                if (image) {
                    error = L"usb takes one --image FILE";
                    return std::nullopt;
                }
                image = true;
                out.image = value;
            } else {
                out.sizeMiB = ParseMiB(value);
                if (!out.sizeMiB) {
                    error = L"usb: --size takes a whole number of MiB from 1 to " +
                            std::to_wstring(kMaxImageMiB) + L", not \"" + value + L"\"";
                    return std::nullopt;
                }
            }
            continue;
        }
        if (a.empty() || a.rfind(L"--", 0) == 0 || !out.device.empty()) {
            error = L"usb takes DEVICE or --image FILE [--size MIB], not \"" + a + L"\"";
            return std::nullopt;
        }
        out.device = a;
    }
    if (image == !out.device.empty()) {
        error = L"usb takes DEVICE or --image FILE [--size MIB]";
        return std::nullopt;
    }
    if (out.sizeMiB && !image) {
        error = L"usb: --size is for --image only";
        return std::nullopt;
    }
    return out;
}

std::wstring CheckUsb(const std::vector<std::wstring>& args) {
    std::wstring error;
    ParseUsbArgs(args, error);
    return error;
}

// A file this command has just made holds nothing to lose: no question.
class NoQuestionReporter final : public platform::IReporter {
  public:
    explicit NoQuestionReporter(platform::IReporter& inner) : inner_(inner) {}
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        inner_.ShowMessage(kind, caption, text);
    }
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return true; }

  private:
    platform::IReporter& inner_;
};

// Without --yes the question needs someone to answer it: refuse up front
// rather than let the sequence start and be told No.
bool CanConfirm(const Context& c, const RemovableDrive& drive, const std::wstring& what) {
    if (!NeedsFormat(drive) || c.assumeYes || InputIsTerminal()) {
        return true;
    }
    PrintError(L"scourline-media: " + what +
               L" must be overwritten, which needs a confirmation: run on a terminal or give "
               L"--yes. Nothing was written.\n");
    return false;
}

int Run(Context& c, const RemovableDrive& drive, platform::IDiskPreparer& disk,
        platform::IReporter& reporter, const std::wstring& done) {
    HeadlessUsbPage page;
    UsbOutcome outcome = PrepareUsbDisk(page, &drive, c.options, c.services, disk, reporter);
    if (outcome == UsbOutcome::Prepared) {
        Print(done);
        return kExitDone;
    }
    if (outcome == UsbOutcome::Declined) {
        PrintError(L"scourline-media: nothing was written.\n");
    } else if (auto detail = disk.FailureDetail(); !detail.empty()) {
        PrintError(L"scourline-media: " + detail + L"\n");
    }
    return kExitFailed;
}

int UsbImage(Context& c, const UsbArgs& a) {
    std::wstring programFolder = c.services.environment->ProgramFolder();
    auto disk = platform::CreateDiskPreparer(programFolder, nullptr);
    if (!disk->SupportsImageFiles()) {
        PrintError(L"scourline-media: this build prepares removable disks, not disk image files\n");
        return kExitFailed;
    }
    std::error_code ec;
    fs::path path = fs::absolute(ToFsPath(a.image), ec);
    if (ec) {
        path = ToFsPath(a.image);
    }
    std::wstring where = FromFsPath(path);
    auto status = fs::status(path, ec);
    bool created = false;
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            PrintError(L"scourline-media: " + where +
                       L" is not a disk image file (name a removable disk without --image)\n");
            return kExitFailed;
        }
        std::uint64_t size = fs::file_size(path, ec);
        if (a.sizeMiB && (ec || size != *a.sizeMiB * 1024 * 1024)) {
            PrintError(L"scourline-media: usb: " + where +
                       L" exists with another size than --size asks for\n"
                       L"(scourline-media --help shows the usage)\n");
            return kExitUsage;
        }
    } else {
        // Exclusive creation: never a file that appeared meanwhile.
        auto file = OpenFile(where, "wbx");
        if (!file) {
            PrintError(L"scourline-media: the disk image " + where + L" cannot be created\n");
            return kExitFailed;
        }
        file.reset();
        created = true;
        fs::resize_file(path, a.sizeMiB.value_or(kDefaultImageMiB) * 1024 * 1024, ec);
        if (ec) {
            fs::remove(path, ec);
            PrintError(L"scourline-media: the disk image " + where +
                       L" cannot be made that large\n");
            return kExitFailed;
        }
    }

    RemovableDrive drive;
    drive.VolumePath = where;
    drive.PhysicalDevice = where;
    drive.DisplayName = FromFsPath(path.filename());
    if (created) {
        drive.Status = DriveNoPartitionTable;
    } else {
        auto facts = disk->DescribeVolume(DiskTargetFor(drive));
        if (!facts) {
            PrintError(L"scourline-media: the disk image " + where + L" cannot be read: " +
                       disk->FailureDetail() + L"\n");
            return kExitFailed;
        }
        drive.Label = facts->label;
        drive.FileSystem = facts->fileSystem;
        drive.HasPartitionTable = facts->hasPartitionTable;
        drive.BootLoaderPresent = facts->bootLoaderPresent;
        drive.FreeKilobytes = facts->freeBytes / 1024;
        drive.Status = ClassifyDrive(drive);
        if (!CanConfirm(c, drive, L"the disk image " + where)) {
            return kExitFailed;
        }
    }

    NoQuestionReporter noQuestion(c.reporter);
    platform::IReporter& reporter = created ? noQuestion : c.reporter;
    int rc = Run(c, drive, *disk, reporter,
                 L"Bootable disk image: " + where +
                     L"\nWrite it to a USB disk with any disk imaging tool.\n");
    if (rc != kExitDone && created) {
        // Half made and of no use: the file goes as it came.
        fs::remove(path, ec);
    }
    return rc;
}

// "E:" or "E:\" names a volume by its drive letter on Windows.
std::wstring VolumeOfDevice(platform::IVolumeSystem& volumes, const std::wstring& device) {
    bool letter =
        (device.size() == 2 || (device.size() == 3 && device[2] == L'\\')) && device[1] == L':' &&
        ((device[0] >= L'A' && device[0] <= L'Z') || (device[0] >= L'a' && device[0] <= L'z'));
    if (letter && volumes.LogicalDrives() != 0) {
        if (auto name = volumes.VolumeNameForRoot(device.substr(0, 2) + L"\\")) {
            return *name;
        }
    }
    return device;
}

int UsbDevice(Context& c, const UsbArgs& a) {
    std::wstring programFolder = c.services.environment->ProgramFolder();
    auto volumes = platform::CreateVolumeSystem(programFolder);
    std::wstring volume = VolumeOfDevice(*volumes, a.device);
    if (!IsCandidateVolume(*volumes, volume)) {
        std::wstring text = L"scourline-media: " + a.device +
                            L" is not a removable disk that the wizard would list: only volumes "
                            L"of removable disks that do not hold the running system qualify.\n";
        // A whole disk named instead of its volumes: say which ones to use.
        DriveList drives;
        std::wstring hint;
        if (DiscoverRemovableDrives(*volumes, drives)) {
            for (const auto& d : drives) {
                if (!d.PhysicalDevice.empty() && d.PhysicalDevice == a.device) {
                    hint += L" " + d.VolumePath;
                }
            }
        }
        if (!hint.empty()) {
            text += L"Name one of its volumes:" + hint + L"\n";
        }
        PrintError(text + L"(scourline-media drives lists them)\n");
        return kExitFailed;
    }
    RemovableDrive drive = ReadRemovableDrive(*volumes, volume);
    if (!CanConfirm(c, drive, L"the removable disk " + a.device)) {
        return kExitFailed;
    }
    // No window of ours: on Windows the format dialog is owned by the console's
    // window, or by a hidden one the disk operations make for it. On Linux the
    // wizard's way to the disk: the helper checks the request again and refuses
    // with its own words, which Run shows.
    auto disk = platform::CreateWizardDiskPreparer(programFolder, nullptr);
    std::wstring shown = drive.PhysicalDevice.empty() ? a.device : drive.PhysicalDevice;
    return Run(c, drive, *disk, c.reporter, L"Bootable USB disk: " + shown + L"\n");
}

int Usb(Context& c) {
    std::wstring error;
    auto a = ParseUsbArgs(c.args, error);
    if (!a) {
        return kExitUsage;
    }
    return a->image.empty() ? UsbDevice(c, *a) : UsbImage(c, *a);
}

const bool registered = RegisterCommand(
    {80, L"usb",
     L"usb DEVICE | usb --image FILE [--size MIB]\n"
     L"                          prepare a bootable USB disk, or a disk image file for one",
     CheckUsb, Usb});

}  // namespace

}  // namespace scour::cli
