#include "platform/linux/program_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace scour::platform {

namespace {

constexpr int kMaxDepth = 16;

bool OwnerAllowed(uid_t uid) {
    return uid == 0 || uid == geteuid();
}

int OpenBeneath(int dir, const std::string& relative, int flags) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC | O_NOFOLLOW);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, dir, relative.c_str(), &how, sizeof how));
}

}  // namespace

std::optional<ProgramFiles> ProgramFiles::Open(const std::string& folder, bool strict,
                                               std::string& why) {
    if (folder.empty() || folder.front() != '/') {
        why = "the program folder \"" + folder + "\" is not an absolute path";
        return std::nullopt;
    }
    // Component by component from the root, so that each folder on the way is
    // the one checked, and a link anywhere refuses the folder.
    Fd dir(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string at;
    std::size_t pos = 1;
    for (;;) {
        struct stat st {};
        if (!dir.Valid() || fstat(dir.Get(), &st) != 0) {
            why = "cannot open the program folder " + folder + " at \"" + (at.empty() ? "/" : at) +
                  "\": " + std::strerror(errno);
            return std::nullopt;
        }
        const bool last = pos >= folder.size();
        if (strict) {
            bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
            if (!OwnerAllowed(st.st_uid) || (othersWrite && (last || !(st.st_mode & S_ISVTX)))) {
                why = "the program folder " + folder + " is not safe: \"" +
                      (at.empty() ? "/" : at) +
                      "\" may be changed by other users than root; the disk helper runs "
                      "nothing from it";
                return std::nullopt;
            }
        }
        if (last) {
            break;
        }
        auto slash = folder.find('/', pos);
        std::string name = folder.substr(pos, slash == std::string::npos ? slash : slash - pos);
        pos = slash == std::string::npos ? folder.size() : slash + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            why = "the program folder " + folder + " is named through \"..\"";
            return std::nullopt;
        }
        at += "/" + name;
        dir = Fd(openat(dir.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return ProgramFiles(std::move(dir), folder, strict);
}

bool ProgramFiles::Trusted(int fd, const std::string& what, std::string& why) const {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        why = "cannot examine " + what + ": " + std::strerror(errno);
        return false;
    }
    if (strict_ && (!OwnerAllowed(st.st_uid) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        why = path_ + "/" + what +
              " may be changed by other users than root: the disk helper does not use it";
        return false;
    }
    return true;
}

Fd ProgramFiles::OpenMember(const std::string& relative, int flags, std::string& why) const {
    Fd fd(OpenBeneath(dir_.Get(), relative, flags | O_NONBLOCK));
    if (!fd.Valid()) {
        why = "cannot open " + path_ + "/" + relative + ": " +
              (errno == ELOOP || errno == EXDEV ? std::string("it leads elsewhere through a link")
                                                : std::string(std::strerror(errno)));
        return fd;
    }
    if (!Trusted(fd.Get(), relative, why)) {
        fd.Reset();
    }
    return fd;
}

bool ProgramFiles::Walk(const std::string& member,
                        const std::function<bool(const std::string&, int, bool)>& visit,
                        std::string& why) const {
    Fd dir = OpenMember(member, O_RDONLY | O_DIRECTORY, why);
    return dir.Valid() && WalkFolder(dir.Get(), member, 0, visit, why);
}

bool ProgramFiles::WalkFolder(int dir, const std::string& relative, int depth,
                              const std::function<bool(const std::string&, int, bool)>& visit,
                              std::string& why) const {
    if (depth > kMaxDepth) {
        why = path_ + "/" + relative + " is nested too deeply";
        return false;
    }
    std::vector<std::string> names;
    {
        int listed = dup(dir);
        DIR* d = listed >= 0 ? fdopendir(listed) : nullptr;
        if (d == nullptr) {
            if (listed >= 0) {
                close(listed);
            }
            why = "cannot list " + path_ + "/" + relative + ": " + std::strerror(errno);
            return false;
        }
        rewinddir(d);
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string path = relative + "/" + name;
        Fd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!fd.Valid() || fstat(fd.Get(), &st) != 0) {
            why =
                "cannot open " + path_ + "/" + path + ": " +
                (errno == ELOOP ? std::string("it is a link") : std::string(std::strerror(errno)));
            return false;
        }
        if (!Trusted(fd.Get(), path, why)) {
            return false;
        }
        std::string sub = path.substr(path.find('/') + 1);
        if (S_ISDIR(st.st_mode)) {
            if (!visit(sub, fd.Get(), true) || !WalkFolder(fd.Get(), path, depth + 1, visit, why)) {
                return false;
            }
        } else if (S_ISREG(st.st_mode)) {
            if (!visit(sub, fd.Get(), false)) {
                return false;
            }
        } else {
            why = path_ + "/" + path + " is neither a file nor a folder";
            return false;
        }
    }
    return true;
}

}  // namespace scour::platform
