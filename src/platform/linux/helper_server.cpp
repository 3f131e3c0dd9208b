#include "platform/linux/helper_server.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "base/text.h"
#include "platform/linux/disk_ops_linux.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/volumes_linux.h"

namespace scour::platform::helper {

namespace {

namespace fs = std::filesystem;

// What a check says: empty when the request may go on, else why not.
using Refusal = std::string;

bool HasDotDot(std::string_view path) {
    for (const auto& part : fs::path(path)) {
        if (part == "..") {
            return true;
        }
    }
    return false;
}

Refusal CheckPathForm(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        return "\"" + path + "\" is not an absolute path: the disk helper refuses it.";
    }
    if (path.find('\0') != std::string::npos) {
        return "a path holds a NUL character: the disk helper refuses it.";
    }
    if (HasDotDot(path)) {
        return path + " names a folder through \"..\": the disk helper refuses it.";
    }
    return {};
}

std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string out = real;
    std::free(real);
    return out;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    if (folder == "/") {
        return true;
    }
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

Refusal CheckName(const std::string& name) {
    bool plain = !name.empty() && name.size() <= 255 && name != "." && name != "..";
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) {
            plain = false;
        }
    }
    return plain ? Refusal()
                 : "\"" + name +
                       "\" is not a plain file name: the disk helper writes only "
                       "into the root folder of the disk.";
}

class Server {
  public:
    Server(int out, const ServerOptions& options)
        : out_(out), options_(options), disk_(FromUtf8(options.programFolder)) {}

    ~Server() {
        // The objects refer to the preparer: they go first, the runs before the locks.
        runs_.clear();
        raw_.clear();
        locks_.clear();
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Handle(const Message& request) {
        Message answer = Dispatch(request);
        return WriteMessage(out_, answer);
    }

  private:
    Message Ok(Message results = {}) {
        Message m = {kOk, ""};
        m.insert(m.end(), results.begin(), results.end());
        return m;
    }
    Message Fail(const std::string& why) { return {kFail, why}; }
    Message FailFromDisk() { return Fail(ToUtf8(disk_.FailureDetail())); }

    // A disk of the request: a whole disk that discovery lists, or (tests) a
    // regular file; its volume that disk or a partition of it.
    Refusal CheckTarget(const DiskTarget& target) {
        const std::string diskPath = ToUtf8(target.diskPath);
        const std::string volumePath = ToUtf8(target.volumePath);
        if (auto r = CheckPathForm(diskPath); !r.empty()) {
            return r;
        }
        if (!volumePath.empty()) {
            if (auto r = CheckPathForm(volumePath); !r.empty()) {
                return r;
            }
        }
        const Refusal notListed = diskPath +
                                  " is not a removable disk that the wizard lists: the disk "
                                  "helper writes to no other disk.";
        struct stat ds {};
        if (stat(diskPath.c_str(), &ds) != 0) {
            return notListed;
        }
        if (S_ISREG(ds.st_mode)) {
            if (!options_.allowImageFiles) {
                return notListed;
            }
            struct stat vs {};
            if (!volumePath.empty() && (stat(volumePath.c_str(), &vs) != 0 ||
                                        vs.st_dev != ds.st_dev || vs.st_ino != ds.st_ino)) {
                return volumePath + " is not a volume of " + diskPath + ".";
            }
            return {};
        }
        if (!S_ISBLK(ds.st_mode)) {
            return notListed;
        }
        LinuxVolumeConfig config;
        config.protectedPaths.push_back(options_.programFolder);
        config.mdirProgram.clear();
        LinuxVolumeSystem volumes(config);
        auto listed = volumes.EnumerateVolumes();
        std::set<std::int32_t> disks;
        for (const auto& v : listed.value_or(std::vector<std::wstring>{})) {
            if (auto n = volumes.PhysicalDriveNumber(v)) {
                disks.insert(*n);
            }
        }
        auto number = volumes.PhysicalDriveNumber(target.diskPath);
        struct stat whole {};
        if (!number || disks.count(*number) == 0 ||
            stat(ToUtf8(volumes.PhysicalDrivePath(*number)).c_str(), &whole) != 0 ||
            !S_ISBLK(whole.st_mode) || whole.st_rdev != ds.st_rdev) {
            return notListed;
        }
        if (!volumePath.empty()) {
            struct stat vs {};
            if (stat(volumePath.c_str(), &vs) != 0 || !S_ISBLK(vs.st_mode) ||
                volumes.PhysicalDriveNumber(target.volumePath) != number) {
                return volumePath + " is not a volume of " + diskPath + ".";
            }
        }
        return {};
    }

    // A folder to copy from: inside the program folder, links resolved.
    Refusal CheckSourceFolder(const std::string& folder) {
        if (auto r = CheckPathForm(folder); !r.empty()) {
            return r;
        }
        std::string real = Resolved(folder);
        if (real.empty() || !IsAtOrBelow(real, options_.programFolder)) {
            return folder + " lies outside the program folder " + options_.programFolder +
                   ": the disk helper copies nothing from elsewhere.";
        }
        return {};
    }

    std::optional<std::uint64_t> HandleId(const Message& m, std::size_t at) {
        return m.size() > at ? DecodeNumber(m[at]) : std::nullopt;
    }

    template <typename Map>
    typename Map::mapped_type::element_type* Find(Map& map, const Message& m) {
        auto id = HandleId(m, 1);
        auto it = id ? map.find(*id) : map.end();
        return it == map.end() ? nullptr : it->second.get();
    }

    Message Dispatch(const Message& m) {
        if (m.empty()) {
            return Fail("an empty request");
        }
        const std::string& verb = m[0];

        // Requests on an open disk, a lock or an installer run.
        if (verb == "close") {
            auto id = HandleId(m, 1);
            if (!id) {
                return Fail("close needs a handle");
            }
            runs_.erase(*id);
            raw_.erase(*id);
            locks_.erase(*id);
            return Ok();
        }
        if (verb == "disk-identity" || verb == "geometry" || verb == "layout" ||
            verb == "clear-first-sector" || verb == "create-mbr" || verb == "set-layout") {
            IRawDisk* raw = Find(raw_, m);
            if (raw == nullptr) {
                return Fail(verb + ": no such open disk");
            }
            return OnRawDisk(*raw, verb, m);
        }
        if (verb == "wait") {
            IInstallerRun* run = Find(runs_, m);
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

        // Requests on a disk target: checked first, every time.
        auto target = GetTarget(m, 1);
        if (!target) {
            return Fail("unknown or malformed request \"" + verb.substr(0, 40) + "\"");
        }
        if (auto r = CheckTarget(*target); !r.empty()) {
            return Fail(r);
        }
        if (verb == "identity") {
            auto id = disk_.ReadIdentity(*target);
            return id ? Ok({EncodeIdentity(*id)}) : FailFromDisk();
        }
        if (verb == "lock") {
            auto lock = disk_.LockVolume(*target);
            if (!lock) {
                return FailFromDisk();
            }
            locks_[++lastId_] = std::move(lock);
            return Ok({EncodeNumber(lastId_)});
        }
        if (verb == "open") {
            auto raw = disk_.OpenDisk(*target);
            if (!raw) {
                return FailFromDisk();
            }
            raw_[++lastId_] = std::move(raw);
            return Ok({EncodeNumber(lastId_)});
        }
        if (verb == "release") {
            return disk_.ReleaseVolume(*target) ? Ok() : FailFromDisk();
        }
        if (verb == "format") {
            auto choice = m.size() > 3 ? DecodeFileSystem(m[3]) : std::nullopt;
            if (!choice) {
                return Fail("format needs a file system choice");
            }
            disk_.SetFormatFileSystem(*choice);
            return disk_.Format(*target) ? Ok() : FailFromDisk();
        }
        if (verb == "copy-folder") {
            if (m.size() < 4) {
                return Fail("copy-folder needs a folder");
            }
            if (auto r = CheckSourceFolder(m[3]); !r.empty()) {
                return Fail(r);
            }
            return disk_.CopyFolderContents(*target, FromUtf8(Resolved(m[3]))) ? Ok()
                                                                               : FailFromDisk();
        }
        if (verb == "copy-file") {
            if (m.size() < 5) {
                return Fail("copy-file needs a name and the contents");
            }
            if (auto r = CheckName(m[3]); !r.empty()) {
                return Fail(r);
            }
            return CopyContents(*target, m[3], m[4]);
        }
        if (verb == "start-installer") {
            if (m.size() < 4) {
                return Fail("start-installer needs the program folder");
            }
            if (auto r = CheckPathForm(m[3]); !r.empty()) {
                return Fail(r);
            }
            if (Resolved(m[3]) != options_.programFolder) {
                return Fail(m[3] + " is not the program folder " + options_.programFolder +
                            ": the disk helper runs only its own boot loader installer.");
            }
            auto run = disk_.StartInstaller(*target, FromUtf8(options_.programFolder));
            if (!run) {
                return FailFromDisk();
            }
            runs_[++lastId_] = std::move(run);
            return Ok({EncodeNumber(lastId_)});
        }
        if (verb == "root-file-exists") {
            if (m.size() < 4) {
                return Fail("root-file-exists needs a name");
            }
            if (auto r = CheckName(m[3]); !r.empty()) {
                return Fail(r);
            }
            return Ok({disk_.RootFileExists(*target, FromUtf8(m[3])) ? "1" : "0"});
        }
        if (verb == "describe") {
            auto facts = disk_.DescribeVolume(*target);
            return facts ? Ok({EncodeFacts(*facts)}) : FailFromDisk();
        }
        return Fail("unknown request \"" + verb.substr(0, 40) + "\"");
    }

    Message OnRawDisk(IRawDisk& raw, const std::string& verb, const Message& m) {
        if (verb == "disk-identity") {
            auto id = raw.Identity();
            return id ? Ok({EncodeIdentity(*id)}) : FailFromDisk();
        }
        if (verb == "geometry") {
            auto g = raw.Geometry();
            return g ? Ok({EncodeGeometry(*g)}) : FailFromDisk();
        }
        if (verb == "layout") {
            auto l = raw.Layout();
            return l ? Ok({EncodeLayout(*l)}) : FailFromDisk();
        }
        if (verb == "clear-first-sector") {
            return raw.ClearFirstSector() ? Ok() : FailFromDisk();
        }
        if (verb == "create-mbr") {
            return raw.CreateMbrDisk() ? Ok() : FailFromDisk();
        }
        auto layout = m.size() > 2 ? DecodeLayout(m[2]) : std::nullopt;
        auto geometry = m.size() > 3 ? DecodeGeometry(m[3]) : std::nullopt;
        if (!layout || !geometry) {
            return Fail("set-layout needs a layout and a geometry");
        }
        return raw.SetLayout(*layout, *geometry) ? Ok() : FailFromDisk();
    }

    // The contents go to a private folder first: the disk operations copy files.
    Message CopyContents(const DiskTarget& target, const std::string& name,
                         const std::string& contents) {
        std::string pattern = "/tmp/scourline-helper.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            return Fail("the disk helper cannot make a temporary folder");
        }
        const std::string file = pattern + "/file";
        bool written = false;
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
            written = static_cast<bool>(out.flush());
        }
        Message answer = Fail("the disk helper cannot write a temporary file");
        if (written) {
            answer = disk_.CopyFile(target, FromUtf8(file), FromUtf8(name)) ? Ok() : FailFromDisk();
        }
        std::error_code ec;
        fs::remove_all(pattern, ec);
        return answer;
    }

    int out_;
    ServerOptions options_;
    LinuxDiskPreparer disk_;
    std::uint64_t lastId_ = 0;
    std::map<std::uint64_t, std::unique_ptr<IVolumeLock>> locks_;
    std::map<std::uint64_t, std::unique_ptr<IRawDisk>> raw_;
    std::map<std::uint64_t, std::unique_ptr<IInstallerRun>> runs_;
};

}  // namespace

int ServeDiskRequests(int in, int out, const ServerOptions& options) {
    if (!WriteMessage(out, {kHelperGreeting, kHelperProtocolVersion, options.programFolder})) {
        return 1;
    }
    Server server(out, options);
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
