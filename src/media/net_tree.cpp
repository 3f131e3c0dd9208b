#include "media/net_tree.h"

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

// A link loop in the installed folders must not make the copy endless.
constexpr int kMaxCopyDepth = 32;
// Sibling folders get at most this many numbered names tried.
constexpr int kMaxSiblingTries = 1000;

constexpr char kMarkerText[] =
    "This network boot tree was written by Scourline. Writing it again replaces\n"
    "the whole folder: keep nothing of your own here.\n";

void ShowNetError(platform::IReporter& reporter, int id, const std::wstring& detail = {}) {
    reporter.ShowMessage(platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION),
                         LoadText(id) + detail);
}

// Copies the folder's content, subfolders included, following links. Unlike the
// CD's copy every file must arrive: nothing downstream would notice a gap
// before a machine fails to start.
bool CopyTree(const fs::path& from, const fs::path& to, int depth) {
    if (depth > kMaxCopyDepth) {
        return false;
    }
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path target = to / it->path().filename();
        std::error_code itemError;
        if (fs::is_directory(it->path(), itemError)) {
            fs::create_directory(target, itemError);
            if (itemError || !CopyTree(it->path(), target, depth + 1)) {
                return false;
            }
        } else {
            if (!fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing,
                               itemError) ||
                itemError) {
                return false;
            }
            // A read-only copy could not be replaced or removed on Windows.
            fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, itemError);
        }
    }
    return !ec;
}

bool WriteText(const fs::path& path, std::string_view text) {
    FilePtr file = OpenFile(FromFsPath(path), "wb");
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written;
}

enum class FolderState { Absent, Replaceable, NotAFolder, Foreign };

// Whether the folder may be replaced by a new tree. A link is not followed:
// replacing it would drop the link, not fill its target.
FolderState Inspect(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (status.type() == fs::file_type::not_found) {
        return FolderState::Absent;
    }
    if (ec || status.type() != fs::file_type::directory) {
        return FolderState::NotAFolder;
    }
    if (fs::is_regular_file(fs::symlink_status(folder / kNetTreeMarker, ec))) {
        return FolderState::Replaceable;
    }
    fs::directory_iterator it(folder, ec);
    // What cannot be listed is not known to be empty.
    if (ec || it != fs::directory_iterator()) {
        return FolderState::Foreign;
    }
    return FolderState::Replaceable;
}

// A free name beside the folder: ".NAME.TAG-N".
fs::path SiblingName(const fs::path& folder, std::wstring_view tag, int n) {
    std::wstring name = L".";
    name += FromFsPath(folder.filename());
    name += L'.';
    name += tag;
    name += std::to_wstring(n);
    return folder.parent_path() / ToFsPath(name);
}

// Makes a new, empty folder beside the folder; nothing when none can be made.
std::optional<fs::path> MakeSiblingFolder(const fs::path& folder, std::wstring_view tag) {
    for (int n = 0; n < kMaxSiblingTries; ++n) {
        const fs::path candidate = SiblingName(folder, tag, n);
        std::error_code ec;
        if (fs::create_directory(candidate, ec) && !ec) {
            return candidate;
        }
        if (ec && ec != std::errc::file_exists) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<fs::path> FreeSiblingName(const fs::path& folder, std::wstring_view tag) {
    for (int n = 0; n < kMaxSiblingTries; ++n) {
        const fs::path candidate = SiblingName(folder, tag, n);
        std::error_code ec;
        if (fs::symlink_status(candidate, ec).type() == fs::file_type::not_found) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Puts the complete tree at the folder's place. An earlier tree is moved aside
// first and removed after; should the new one not go in, it goes back.
bool Place(const fs::path& staging, const fs::path& folder, FolderState state) {
    std::error_code ec;
    if (state == FolderState::Absent) {
        fs::rename(staging, folder, ec);
        return !ec;
    }
    const auto aside = FreeSiblingName(folder, L"scourline-old-");
    if (!aside) {
        return false;
    }
    fs::rename(folder, *aside, ec);
    if (ec) {
        return false;
    }
    fs::rename(staging, folder, ec);
    if (ec) {
        std::error_code back;
        fs::rename(*aside, folder, back);
        return false;
    }
    fs::remove_all(*aside, ec);
    return true;
}

// The folder as one absolute path without a trailing separator: the server is
// told it, and starts in a folder of its own.
fs::path TreeFolder(const std::wstring& folder) {
    std::error_code ec;
    fs::path path = ToFsPath(folder);
    if (const fs::path absolute = fs::absolute(path, ec); !ec) {
        path = absolute;
    }
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    return path;
}

}  // namespace

std::optional<std::string> MakeDnsmasqConfig(const std::string& root) {
    std::string quoted;
    for (const char c : root) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ',' || byte < 0x20 || byte == 0x7f) {
            return std::nullopt;
        }
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    if (quoted.empty()) {
        return std::nullopt;
    }
    std::string text =
        "# dnsmasq configuration for the Scourline network boot tree in this folder.\n"
        "# Proxy DHCP: the network's own DHCP server still hands out the addresses;\n"
        "# this server only tells PXE clients what to load, and serves it by TFTP.\n"
        "# Proxy DHCP must be told the network it answers on, which this file cannot\n"
        "# know; scourline-media pxe DIR --serve IFACE adds it from the interface.\n"
        "# By hand, as root (here for 192.168.1.0/24 on eth0):\n"
        "#   dnsmasq --conf-file=dnsmasq.conf --interface=eth0 \\\n"
        "#       --dhcp-range=192.168.1.0,proxy --keep-in-foreground\n"
        "# No DNS.\n"
        "port=0\n"
        "leasefile-ro\n"
        "enable-tftp\n"
        "tftp-root=\"";
    text += quoted;
    text +=
        "\"\n"
        "# Start the first (only) entry for the client's kind at once.\n"
        "pxe-prompt=\"Starting Scourline\",0\n"
        "# BIOS: pxelinux (the client adds the .0); it reads pxelinux.cfg/default.\n"
        "pxe-service=x86PC,\"Scourline (BIOS)\",pxelinux\n"
        "# UEFI x86-64: shim, which loads grubx64.efi; GRUB reads grub/grub.cfg.\n"
        "pxe-service=x86-64_EFI,\"Scourline (UEFI)\",bootx64.efi\n";
    return text;
}

bool BuildNetTree(const std::wstring& folder, WizardOptions& options,
                  const platform::Services& services, platform::IReporter& reporter) {
    // Everything that can be refused is refused before anything is made.
    const fs::path target = TreeFolder(folder);
    const std::wstring targetText = FromFsPath(target);
    if (services.environment == nullptr || services.text == nullptr ||
        services.tempFiles == nullptr) {
        ShowNetError(reporter, IDS_NET_START_FAILED, targetText);
        return false;
    }
    if (!target.has_filename()) {
        ShowNetError(reporter, IDS_NET_FOREIGN_FOLDER, targetText);
        return false;
    }
    // The staging and set-aside folders have the longest names of this run.
    const std::wstring longest =
        FromFsPath(SiblingName(target, L"scourline-new-", 999)) + kPathSep + kDnsmasqConfigName;
    if (!FitsPathBuffer(longest)) {
        reporter.ShowMessage(platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION),
                             LoadText(IDS_PATH_TOO_LONG) + targetText);
        return false;
    }

    const std::wstring program = services.environment->ProgramFolder();
    const std::wstring common = JoinPath(program, L"common");
    const std::wstring net = JoinPath(program, L"net");
    std::error_code ec;
    for (const std::wstring* needed : {&common, &net}) {
        if (program.empty() || !fs::is_directory(ToFsPath(*needed), ec)) {
            ShowNetError(reporter, IDS_NET_NO_BOOT_FILES, *needed);
            return false;
        }
    }
    for (const wchar_t* loader : {kNetBiosLoader, kNetUefiLoader}) {
        const std::wstring path = JoinPath(net, loader);
        if (!fs::is_regular_file(ToFsPath(path), ec)) {
            ShowNetError(reporter, IDS_NET_NO_BOOT_FILES, path);
            return false;
        }
    }

    // dnsmasq must read back exactly the folder the tree is in.
    const std::string root8 = services.text->ToSystem8Bit(targetText);
    const auto config = services.text->FromSystem8Bit(root8) == targetText
                            ? MakeDnsmasqConfig(root8)
                            : std::nullopt;
    if (!config) {
        ShowNetError(reporter, IDS_NET_BAD_PATH, targetText);
        return false;
    }

    if (const FolderState state = Inspect(target); state == FolderState::NotAFolder) {
        ShowNetError(reporter, IDS_NET_NOT_A_FOLDER, targetText);
        return false;
    } else if (state == FolderState::Foreign) {
        ShowNetError(reporter, IDS_NET_FOREIGN_FOLDER, targetText);
        return false;
    }

    // Beside the folder, on its file system, so that it moves into place whole.
    const auto staging = MakeSiblingFolder(target, L"scourline-new-");
    if (!staging) {
        ShowNetError(reporter, IDS_NET_START_FAILED, FromFsPath(target.parent_path()));
        return false;
    }
    const FolderGuard guard(*staging);

    for (const std::wstring* from : {&common, &net}) {
        if (!CopyTree(ToFsPath(*from), *staging, 0)) {
            ShowNetError(reporter, IDS_NET_COPY_FAILED, *from);
            return false;
        }
    }
    if (!WriteWelcomeBanner(FromFsPath(*staging / "welcome.txt"), BannerForm::Main) ||
        !WriteConfigArchive(options, FromFsPath(*staging / "scour"), services) ||
        !WriteText(*staging / kDnsmasqConfigName, *config) ||
        !WriteText(*staging / kNetTreeMarker, kMarkerText)) {
        ShowNetError(reporter, IDS_NET_CONFIG_FAILED);
        return false;
    }

    // Looked at again: the folder may have changed while the tree was made.
    const FolderState state = Inspect(target);
    if (state == FolderState::NotAFolder || state == FolderState::Foreign) {
        ShowNetError(
            reporter,
            state == FolderState::NotAFolder ? IDS_NET_NOT_A_FOLDER : IDS_NET_FOREIGN_FOLDER,
            targetText);
        return false;
    }
    if (!Place(*staging, target, state)) {
        ShowNetError(reporter, IDS_NET_PLACE_FAILED, targetText);
        return false;
    }
    return true;
}

}  // namespace scour
