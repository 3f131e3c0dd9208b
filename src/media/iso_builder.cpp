#include "media/iso_builder.h"

#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/file.h"
#include "base/strings.h"
#include "base/text.h"
#include "media/config_archive.h"
#include "media/welcome_banner.h"

namespace scour {

namespace fs = std::filesystem;

namespace {

// After the image maker's name: the image file, ISO level 4, a BIOS entry for
// isolinux with its boot information table, a second entry for the EFI image,
// then Rock Ridge and the SPARC boot block, and the source folder.
constexpr std::wstring_view kMakerWords[] = {
    L"-o scourcd.iso -iso-level 4 -b isolinux/isolinux.bin -c isolinux/boot.cat -no-emul-boot "
    L"-boot-load-size 4 -boot-info-table -eltorito-alt-boot -b efi/boot.img -no-emul-boot",
    L"-r -G boot/boot/isofs.b -B ...",
    L"boot",
};

constexpr wchar_t kErrorCaption[] = L"Error";
constexpr wchar_t kSparcSizeWarning[] =
    L"Incorrect size of initrd image for SPARC: it must divisible by 4.";

// A link loop in the installed folders must not make the copy endless.
constexpr int kMaxCopyDepth = 32;

// Every path the builder forms inside its staging folder S.
struct StagingPaths {
    std::wstring root, boot, isolinux, sparcBoot;
    std::wstring banner, sparcBanner, sparcInitrd, archive, image;

    explicit StagingPaths(const std::wstring& s)
        : root(s),
          boot(JoinPath(s, L"boot")),
          isolinux(JoinPath(boot, L"isolinux")),
          sparcBoot(JoinPath(boot, L"boot")),
          banner(JoinPath(boot, L"welcome.txt")),
          sparcBanner(JoinPath(boot, L"welcome.sparc.txt")),
          sparcInitrd(JoinPath(boot, L"wipe.sparc64.lz")),
          archive(JoinPath(boot, L"scour")),
          image(JoinPath(s, kIsoImageName)) {}

    // The first path that would not fit a path buffer, or null.
    const std::wstring* FirstTooLong() const {
        for (const std::wstring* p : {&isolinux, &sparcBanner, &sparcInitrd, &image}) {
            if (!FitsPathBuffer(*p)) {
                return p;
            }
        }
        return nullptr;
    }
};

void ShowPathTooLong(platform::IReporter& reporter, const std::wstring& path) {
    reporter.ShowMessage(platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION),
                         LoadText(IDS_PATH_TOO_LONG) + path);
}

// Copies what the folder from holds into the folder to, subfolders included,
// following links. Like the system's silent copy it goes on past what cannot
// be copied; the image maker's result shows what was missing.
void CopyFolderContent(const fs::path& from, const fs::path& to, int depth) {
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path target = to / it->path().filename();
        std::error_code itemError;
        if (fs::is_directory(it->path(), itemError)) {
            if (depth < kMaxCopyDepth) {
                fs::create_directory(target, itemError);
                CopyFolderContent(it->path(), target, depth + 1);
            }
        } else if (fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing,
                                 itemError)) {
            // A read-only copy would outlast the staging folder's removal on Windows,
            // and the image maker writes its boot table into isolinux.bin.
            fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, itemError);
        }
    }
}

struct FileSize {
    bool opened = false;
    std::optional<std::uint64_t> size;
};

// Whether the file opens for reading and, if so, its size when it can be read.
FileSize SizeOfFile(const std::wstring& path) {
    FileSize result;
    FilePtr file = OpenFile(path, "rb");
    if (!file) {
        return result;
    }
    result.opened = true;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(ToFsPath(path), ec);
    if (!ec) {
        result.size = size;
    }
    return result;
}

bool Present(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

// Copies to a path that was free; whatever a failed copy left there is removed.
bool CopyToFreePath(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (fs::copy_file(from, to, fs::copy_options::none, ec) && !ec) {
        return true;
    }
    // Someone else's file that appeared meanwhile is not ours to remove.
    if (ec != std::errc::file_exists) {
        std::error_code removeError;
        fs::remove(to, removeError);
    }
    return false;
}

// Replaces the destination by the image. The old file goes first, and a file
// that stays (read-only, locked) makes the delivery fail. The image is copied
// under a free name beside the destination and renamed when complete, so a
// full disk never leaves a cut image under the destination's name.
bool DeliverImage(const std::wstring& image, const std::wstring& destination) {
    const fs::path target = ToFsPath(destination);
    std::error_code ec;
    // Only a file is deleted: a folder at the destination stays as it is.
    if (!fs::is_directory(fs::symlink_status(target, ec))) {
        fs::remove(target, ec);
    }
    if (Present(target)) {
        return false;
    }
    const std::wstring partial = destination + L".part";
    if (!FitsPathBuffer(partial) || Present(ToFsPath(partial))) {
        return CopyToFreePath(ToFsPath(image), target);
    }
    if (!CopyToFreePath(ToFsPath(image), ToFsPath(partial))) {
        return false;
    }
    fs::rename(ToFsPath(partial), target, ec);
    if (ec) {
        std::error_code removeError;
        fs::remove(ToFsPath(partial), removeError);
        return false;
    }
    return true;
}

// Stages the tree below S. The copies' results are not looked at, as the image
// maker's run shows what is missing; the archive's is: the boot loader's
// configuration names it, and an image without it does not boot.
bool StageTree(const StagingPaths& s, const std::wstring& program, WizardOptions& options,
               const platform::Services& services, platform::IReporter& reporter) {
    std::error_code ec;
    for (const std::wstring* folder : {&s.boot, &s.isolinux, &s.sparcBoot}) {
        fs::create_directory(ToFsPath(*folder), ec);
    }
    CopyFolderContent(ToFsPath(JoinPath(program, L"common")), ToFsPath(s.boot), 0);
    CopyFolderContent(ToFsPath(JoinPath(program, L"iso")), ToFsPath(s.isolinux), 0);
    CopyFolderContent(ToFsPath(JoinPath(program, L"boot")), ToFsPath(s.sparcBoot), 0);

    WriteWelcomeBanner(s.banner, BannerForm::Main);
    WriteWelcomeBanner(s.sparcBanner, BannerForm::Sparc);

    // The SPARC boot loader takes the initial RAM disk in words; a missing one is
    // no concern of this check.
    const FileSize initrd = SizeOfFile(s.sparcInitrd);
    if (initrd.size && *initrd.size % 4 != 0) {
        reporter.ShowMessage(platform::BoxKind::Plain, kErrorCaption, kSparcSizeWarning);
    }

    return WriteConfigArchive(options, s.archive, services);
}

}  // namespace

std::optional<platform::ProcessRequest> MakeIsoMakerRequest(const std::wstring& programFolder,
                                                            const std::wstring& stagingFolder) {
    platform::ProcessRequest request;
    request.argv.push_back(JoinPath(programFolder, kIsoMakerName));
    request.commandLine = request.argv.front();
    for (std::wstring_view words : kMakerWords) {
        request.commandLine += L' ';
        request.commandLine += words;
        std::size_t start = 0;
        while (start <= words.size()) {
            std::size_t space = words.find(L' ', start);
            if (space == std::wstring_view::npos) {
                space = words.size();
            }
            request.argv.emplace_back(words.substr(start, space - start));
            start = space + 1;
        }
    }
    if (request.commandLine.size() >= kMaxCommandLine) {
        return std::nullopt;
    }
    request.workingFolder = stagingFolder;
    return request;
}

void ShowIsoError(platform::IReporter& reporter, int id) {
    reporter.ShowMessage(platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION), LoadText(id));
}

bool BuildIsoImage(WizardOptions& options, const platform::Services& services,
                   platform::IReporter& reporter) {
    // Everything that can be refused is refused before anything is made.
    if (!options.IsoPath || options.IsoPath->empty()) {
        ShowIsoError(reporter, IDS_ISO_NO_PATH);
        return false;
    }
    const std::wstring destination = *options.IsoPath;
    if (!FitsPathBuffer(destination)) {
        ShowPathTooLong(reporter, destination);
        return false;
    }
    if (services.environment == nullptr || services.tempFiles == nullptr ||
        services.processes == nullptr) {
        ShowIsoError(reporter, IDS_ISO_START_FAILED);
        return false;
    }
    // Without its folder there is no image maker to start, and the installed
    // folders would be looked for at the file system's root.
    const std::wstring program = services.environment->ProgramFolder();
    if (program.empty()) {
        ShowIsoError(reporter, IDS_ISO_START_FAILED);
        return false;
    }
    if (const std::wstring maker = JoinPath(program, kIsoMakerName); !FitsPathBuffer(maker)) {
        ShowPathTooLong(reporter, maker);
        return false;
    }

    // No folder of this run, nothing to build in and nothing to remove.
    const auto folder = services.tempFiles->CreateTempFolder(kIsoStagingPrefix);
    if (!folder) {
        ShowIsoError(reporter, IDS_ISO_START_FAILED);
        return false;
    }
    const FolderGuard guard(ToFsPath(*folder));
    const StagingPaths s(*folder);
    if (const std::wstring* tooLong = s.FirstTooLong()) {
        ShowPathTooLong(reporter, *tooLong);
        return false;
    }
    const auto request = MakeIsoMakerRequest(program, s.root);
    if (!request) {
        ShowPathTooLong(reporter, program);
        return false;
    }

    if (!StageTree(s, program, options, services, reporter)) {
        ShowIsoError(reporter, IDS_ISO_CONFIG_FAILED);
        return false;
    }

    // The exit code is not used: only the image it leaves counts.
    if (!services.processes->RunHidden(*request).started) {
        reporter.ShowMessage(platform::BoxKind::Plain, kErrorCaption, request->commandLine);
        ShowIsoError(reporter, IDS_ISO_START_FAILED);
        return false;
    }
    const FileSize image = SizeOfFile(s.image);
    if (!image.opened) {
        ShowIsoError(reporter, IDS_ISO_MISSING_FILE);
        return false;
    }
    if (!image.size || *image.size < kMinIsoImageSize) {
        ShowIsoError(reporter, IDS_ISO_BAD_OUTPUT);
        return false;
    }
    if (!DeliverImage(s.image, destination)) {
        ShowIsoError(reporter, IDS_ISO_DEST_FAILED);
        return false;
    }
    return true;
}

}  // namespace scour
