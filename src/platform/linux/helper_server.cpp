#include "platform/linux/helper_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/text.h"
#include "platform/linux/disk_ops_linux.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/volumes_linux.h"

namespace scour::platform::helper {

namespace {

// The files the helper runs or copies: all of them must be root's alone.
bool CheckProgramFiles(const ProgramFiles& files, std::string& why) {
    for (const char* member : {"flash/syslinux", "flash/mbr.bin"}) {
        if (!files.OpenMember(member, O_RDONLY, why).Valid()) {
            return false;
        }
    }
    for (const char* folder : kCopyableFolders) {
        if (!files.Walk(
                folder, [](const std::string&, int, bool) { return true; }, why)) {
            return false;
        }
    }
    return true;
}

std::int32_t DriveNumberOf(dev_t d) {
    return static_cast<std::int32_t>((major(d) << 16) | minor(d));
}

class Server {
  public:
    Server(int out, const ServerOptions& options, std::shared_ptr<const ProgramFiles> files,
           Fd images)
        : out_(out),
          options_(options),
          images_(std::move(images)),
          disk_(std::move(files),
                [this](const DiskTarget& t, std::string& why) { return OpenByName(t, why); }) {}

    ~Server() {
        // The objects refer to the preparer: they go first, the runs before the locks.
        runs_.clear();
        raw_.clear();
        locks_.clear();
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Handle(const Message& message) {
        std::string refusal;
        auto request = ParseRequest(message, refusal);
        return WriteMessage(out_, request ? Dispatch(*request) : Fail(refusal));
    }

  private:
    Message Ok(Message results = {}) {
        Message m = {kOk, ""};
        m.insert(m.end(), results.begin(), results.end());
        return m;
    }
    Message Fail(const std::string& why) { return {kFail, why}; }
    Message FailFromDisk() { return Fail(ToUtf8(disk_.FailureDetail())); }

    static std::string NotListed(const std::string& name) {
        return name +
               " is not a removable disk that the wizard lists: the disk helper writes to no "
               "other disk.";
    }

    // The one lookup of a request's disk: by its name, opened once; the
    // descriptor is checked, not the name.
    std::optional<OpenedDisk> OpenByName(const DiskTarget& target, std::string& why) {
        const std::string name = ToUtf8(target.diskPath);
        const std::string volume = ToUtf8(target.volumePath);
        OpenedDisk disk;
        if (images_.Valid()) {
            disk.fd = Fd(openat(images_.Get(), name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat st {};
            if (disk.fd.Valid() && fstat(disk.fd.Get(), &st) == 0 && S_ISREG(st.st_mode)) {
                if (!volume.empty() && volume != name) {
                    why = volume + " is not a volume of " + name + ".";
                    return std::nullopt;
                }
                disk.label = options_.imageFolder + "/" + name;
                return disk;
            }
        }
        auto expected = IsKernelName(name) ? DeviceOfName(name) : std::nullopt;
        if (!expected || IsPartitionDev(*expected)) {
            why = NotListed(name);
            return std::nullopt;
        }
        disk.label = "/dev/" + name;
        disk.block = true;
        disk.fd =
            Fd(open(disk.label.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat st {};
        if (!disk.fd.Valid() || fstat(disk.fd.Get(), &st) != 0 || !S_ISBLK(st.st_mode) ||
            st.st_rdev != *expected || !Listed(st.st_rdev)) {
            why = NotListed(disk.label);
            return std::nullopt;
        }
        disk.rdev = st.st_rdev;
        if (!volume.empty() && volume != name) {
            auto part = IsKernelName(volume) ? DeviceOfName(volume) : std::nullopt;
            if (!part || !IsPartitionDev(*part) || WholeDiskOf(*part) != disk.rdev) {
                why = "/dev/" + volume + " is not a volume of " + disk.label + ".";
                return std::nullopt;
            }
            disk.volume = *part;
        }
        return disk;
    }

    // Whether drive discovery lists a volume of this whole disk now.
    bool Listed(dev_t disk) {
        LinuxVolumeConfig config;
        config.protectedPaths.push_back(options_.programFolder);
        config.mdirProgram.clear();
        LinuxVolumeSystem volumes(config);
        for (const auto& v : volumes.EnumerateVolumes().value_or(std::vector<std::wstring>{})) {
            if (volumes.PhysicalDriveNumber(v) == DriveNumberOf(disk)) {
                return true;
            }
        }
        return false;
    }

    DiskTarget TargetOf(const Request& r) {
        DiskTarget t;
        t.diskPath = FromUtf8(r.disk);
        t.volumePath = FromUtf8(r.volume);
        return t;
    }

    template <typename Map>
    typename Map::mapped_type::element_type* Find(Map& map, std::uint64_t id) {
        auto it = map.find(id);
        return it == map.end() ? nullptr : it->second.get();
    }

    Message Dispatch(const Request& r) {
        switch (r.verb) {
            case Verb::Close:
                runs_.erase(r.handle);
                raw_.erase(r.handle);
                locks_.erase(r.handle);
                return Ok();
            case Verb::DiskIdentity:
            case Verb::Geometry:
            case Verb::Layout:
            case Verb::ClearFirstSector:
            case Verb::CreateMbr:
            case Verb::SetLayout: {
                IRawDisk* raw = Find(raw_, r.handle);
                return raw != nullptr ? OnRawDisk(*raw, r) : Fail("no such open disk");
            }
            case Verb::Wait: {
                IInstallerRun* run = Find(runs_, r.handle);
                if (run == nullptr) {
                    return Fail("wait: no such installer run");
                }
                auto code = run->Wait();
                if (!code) {
                    return FailFromDisk();
                }
                Message answer = Ok({EncodeNumber(*code)});
                if (*code != 0) {
                    answer[1] = ToUtf8(disk_.FailureDetail());
                }
                return answer;
            }
            default:
                return OnTarget(r, TargetOf(r));
        }
    }

    Message OnTarget(const Request& r, const DiskTarget& target) {
        switch (r.verb) {
            case Verb::Identity: {
                auto id = disk_.ReadIdentity(target);
                return id ? Ok({EncodeIdentity(*id)}) : FailFromDisk();
            }
            case Verb::Lock: {
                auto lock = disk_.LockVolume(target);
                if (!lock) {
                    return FailFromDisk();
                }
                locks_[++lastId_] = std::move(lock);
                return Ok({EncodeNumber(lastId_)});
            }
            case Verb::Open: {
                auto raw = disk_.OpenDisk(target);
                if (!raw) {
                    return FailFromDisk();
                }
                raw_[++lastId_] = std::move(raw);
                return Ok({EncodeNumber(lastId_)});
            }
            case Verb::Release:
                return disk_.ReleaseVolume(target) ? Ok() : FailFromDisk();
            case Verb::Format:
                disk_.SetFormatFileSystem(r.fileSystem);
                return disk_.Format(target) ? Ok() : FailFromDisk();
            case Verb::CopyFolder:
                return disk_.CopyMemberFolder(target, r.name) ? Ok() : FailFromDisk();
            case Verb::CopyFile:
                return disk_.CopyBytes(target, r.contents, r.name) ? Ok() : FailFromDisk();
            case Verb::StartInstaller: {
                auto run = disk_.StartInstaller(target, FromUtf8(options_.programFolder));
                if (!run) {
                    return FailFromDisk();
                }
                runs_[++lastId_] = std::move(run);
                return Ok({EncodeNumber(lastId_)});
            }
            case Verb::RootFileExists: {
                auto found = disk_.FileInRoot(target, r.name);
                return found ? Ok({*found ? "1" : "0"}) : FailFromDisk();
            }
            case Verb::Describe: {
                auto facts = disk_.DescribeVolume(target);
                return facts ? Ok({EncodeFacts(*facts)}) : FailFromDisk();
            }
            default:
                return Fail("malformed request");
        }
    }

    Message OnRawDisk(IRawDisk& raw, const Request& r) {
        switch (r.verb) {
            case Verb::DiskIdentity: {
                auto id = raw.Identity();
                return id ? Ok({EncodeIdentity(*id)}) : FailFromDisk();
            }
            case Verb::Geometry: {
                auto g = raw.Geometry();
                return g ? Ok({EncodeGeometry(*g)}) : FailFromDisk();
            }
            case Verb::Layout: {
                auto l = raw.Layout();
                return l ? Ok({EncodeLayout(*l)}) : FailFromDisk();
            }
            case Verb::ClearFirstSector:
                return raw.ClearFirstSector() ? Ok() : FailFromDisk();
            case Verb::CreateMbr:
                return raw.CreateMbrDisk() ? Ok() : FailFromDisk();
            default:
                return raw.SetLayout(r.layout, r.geometry) ? Ok() : FailFromDisk();
        }
    }

    int out_;
    ServerOptions options_;
    Fd images_;
    LinuxDiskPreparer disk_;
    std::uint64_t lastId_ = 0;
    std::map<std::uint64_t, std::unique_ptr<IVolumeLock>> locks_;
    std::map<std::uint64_t, std::unique_ptr<IRawDisk>> raw_;
    std::map<std::uint64_t, std::unique_ptr<IInstallerRun>> runs_;
};

}  // namespace

int ServeDiskRequests(int in, int out, const ServerOptions& options) {
    std::string why;
    auto files = ProgramFiles::Open(options.programFolder, true, why);
    if (!files || !CheckProgramFiles(*files, why)) {
        WriteMessage(out, {kFail, why});
        return 1;
    }
    Fd images;
    if (!options.imageFolder.empty()) {
        images = Fd(open(options.imageFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!images.Valid()) {
            WriteMessage(out, {kFail, "cannot open the image folder " + options.imageFolder});
            return 1;
        }
    }
    if (!WriteMessage(out, {kHelperGreeting, kHelperProtocolVersion, options.programFolder})) {
        return 1;
    }
    Server server(out, options, std::make_shared<const ProgramFiles>(std::move(*files)),
                  std::move(images));
    MessageReader reader(in);
    for (;;) {
        std::string error;
        auto request = reader.Read(error);
        if (!request) {
            // The end of input is the normal end; a malformed message ends it too.
            return error.empty() ? 0 : 2;
        }
        if (!server.Handle(*request)) {
            return 1;
        }
    }
}

}  // namespace scour::platform::helper
