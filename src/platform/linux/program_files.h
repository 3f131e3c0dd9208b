// What the disk operations take from the program folder (the boot files, the
// boot loader installer and its MBR code), opened without following any link
// and without leaving the folder. For the privileged helper every folder on
// the way and every file must belong to root and be closed to other writers:
// otherwise a user who may change them could make root run or copy anything.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/linux/unique_fd.h"

namespace scour::platform {

class ProgramFiles {
  public:
    // strict: the folder, each folder above it and everything taken from it
    // must be owned by root (or by the user running this, who gains nothing
    // by it) and not writable by group or others; a folder above that others
    // may write to counts only with its sticky bit. Nothing, with why, else.
    static std::optional<ProgramFiles> Open(const std::string& folder, bool strict,
                                            std::string& why);

    const std::string& Path() const { return path_; }
    // A member by fixed names ("flash/syslinux"): no link, no "..", nothing
    // outside the folder. Invalid, with why, when it may not be used.
    Fd OpenMember(const std::string& relative, int flags, std::string& why) const;
    // The member folder and everything below it, in name order, folders
    // before their contents: visit(path relative to the member, descriptor,
    // is a folder). Links, devices and the like refuse the whole walk.
    bool Walk(const std::string& member,
              const std::function<bool(const std::string&, int, bool)>& visit,
              std::string& why) const;
    // Whether an opened file or folder passes the ownership rule.
    bool Trusted(int fd, const std::string& what, std::string& why) const;

  private:
    ProgramFiles(Fd dir, std::string path, bool strict)
        : dir_(std::move(dir)), path_(std::move(path)), strict_(strict) {}
    bool WalkFolder(int dir, const std::string& relative, int depth,
                    const std::function<bool(const std::string&, int, bool)>& visit,
                    std::string& why) const;

    Fd dir_;
    std::string path_;
    bool strict_;
};

}  // namespace scour::platform
