// Copying files onto the volume with mtools: the program folder's folders file
// by file from their descriptors, and contents the caller made through an
// unnamed temporary file. mtools sees the disk only as /proc/self/fd/3.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/text.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform {

using namespace disk_detail;

namespace fs = std::filesystem;

bool LinuxDiskPreparer::CopyFd(const OpenedDisk& disk, const VolumeSpan& span, int source,
                               const std::string& name) {
    ToolLaunch launch{FindTool("mcopy"),
                      {"mcopy", "-o", "-Q", "-i", MtoolsImage(span), ToolFdPath(1), "::/" + name},
                      {disk.fd.Get(), source},
                      Home()};
    auto r = RunTool(launch);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(launch, r));
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::CopyMemberFolder(const DiskTarget& target, const std::string& member) {
    const ProgramFiles* files = Files();
    auto disk = files != nullptr ? Open(target) : std::nullopt;
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    Fd hold = HoldDisk(*disk);
    if (!hold.Valid() || !SameMedium(*disk)) {
        return false;
    }
    std::string why;
    bool ok = files->Walk(
        member,
        [&](const std::string& relative, int fd, bool folder) {
            if (!folder) {
                return CopyFd(*disk, *span, fd, relative);
            }
            // A folder that is there already is fine: its files are replaced.
            ToolLaunch there{FindTool("mdir"),
                             {"mdir", "-b", "-i", MtoolsImage(*span), "::/" + relative + "/."},
                             {disk->fd.Get()},
                             Home()};
            auto found = RunTool(there);
            if (found.exitKnown && found.status == 0) {
                return true;
            }
            ToolLaunch mmd{FindTool("mmd"),
                           {"mmd", "-i", MtoolsImage(*span), "::/" + relative},
                           {disk->fd.Get()},
                           Home()};
            auto r = RunTool(mmd);
            if (!r.exitKnown || r.status != 0) {
                NoteFailure(DescribeRun(mmd, r));
                return false;
            }
            return true;
        },
        why);
    if (!ok && !why.empty()) {
        NoteFailure(why);
    }
    return ok;
}

bool LinuxDiskPreparer::CopyFolderContents(const DiskTarget& target, const std::wstring& folder) {
    fs::path path = ToFsPath(folder);
    if (path.parent_path() != fs::path(programFolder_) || !path.has_filename()) {
        NoteFailure(ToUtf8(folder) + " is not a folder of the program folder " + programFolder_);
        return false;
    }
    return CopyMemberFolder(target, path.filename().string());
}

bool LinuxDiskPreparer::CopyFile(const DiskTarget& target, const std::wstring& source,
                                 const std::wstring& name) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    Fd file(open(ToUtf8(source).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.Valid()) {
        NoteFailure(ErrnoText(ToUtf8(source)));
        return false;
    }
    Fd hold = HoldDisk(*disk);
    return hold.Valid() && SameMedium(*disk) && CopyFd(*disk, *span, file.Get(), ToUtf8(name));
}

bool LinuxDiskPreparer::CopyBytes(const DiskTarget& target, const std::string& contents,
                                  const std::string& name) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    // Unnamed, in a folder only we may enter: nobody can swap or read it.
    Fd file(Home().empty() ? -1 : open(Home().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    std::size_t done = 0;
    while (file.Valid() && done < contents.size()) {
        ssize_t n = write(file.Get(), contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!file.Valid() || done != contents.size() || lseek(file.Get(), 0, SEEK_SET) != 0) {
        NoteFailure(ErrnoText("cannot keep the contents of " + name));
        return false;
    }
    Fd hold = HoldDisk(*disk);
    return hold.Valid() && SameMedium(*disk) && CopyFd(*disk, *span, file.Get(), name);
}

}  // namespace scour::platform
