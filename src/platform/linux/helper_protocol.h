// The conversation between the wizard and the privileged disk helper: one
// request at a time, each answered before the next.
//
// A message is a list of byte strings: the count as decimal digits and a
// newline, then each string as its length in decimal digits, a newline and
// its bytes. The helper opens with its greeting (kHelperGreeting, the protocol
// version, its program folder). A request's first string is its verb, the
// rest its arguments; an answer is "ok" or "fail", the failure text (may be
// empty) and the results. The helper ends when its input closes.
//
// The wizard only names things: a disk and its volume by their kernel names
// ("sdb", "sdb1"), a folder of the program folder ("common", "flash"), a file
// name on the disk. Paths never travel; the helper looks each name up itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk_ops.h"

namespace scour::platform::helper {

inline constexpr char kHelperGreeting[] = "scourline-disk-helper";
inline constexpr char kHelperProtocolVersion[] = "2";
inline constexpr char kHelperExecutable[] = "scourline-disk-helper";
// The polkit action whose policy names the installed helper.
inline constexpr char kHelperPolicyId[] = "org.valdane.scourline.disk-helper";
// Started with this flag and a folder, the helper also takes the regular files
// of that folder as disks, by their names, for the tests. The wizard never
// passes it, and the helper refuses it when pkexec started it.
inline constexpr char kImageFilesFlag[] = "--allow-image-files";

inline constexpr char kOk[] = "ok";
inline constexpr char kFail[] = "fail";

// Upper limits that keep a broken or hostile peer from exhausting memory.
inline constexpr std::size_t kMaxFields = 64;
// The largest file the wizard sends (the boot configuration archive with its
// schemes, the banner) is a few KiB; a message holds at most one.
inline constexpr std::size_t kMaxContentsBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxMessageBytes = kMaxContentsBytes + 4096;

using Message = std::vector<std::string>;

std::string EncodeMessage(const Message& message);

// Reads messages from a descriptor through a buffer of its own.
class MessageReader {
  public:
    explicit MessageReader(int fd) : fd_(fd) {}
    // Nothing at the end of input or on a malformed message; error says which.
    std::optional<Message> Read(std::string& error);
    // Bytes the reader holds; at most one message and one read, however long the stream.
    std::size_t BufferSize() const { return buffer_.size(); }

  private:
    bool Fill();
    std::optional<std::string> Line(std::string& error);
    bool Take(std::size_t n, std::string& out);

    int fd_;
    std::string buffer_;
    std::size_t at_ = 0;
};

// Writes all of it; false when the peer is gone. Never raises SIGPIPE on a socket.
bool WriteMessage(int fd, const Message& message);

// --- the values the requests carry --------------------------------------------------------

// --- names ---------------------------------------------------------------------------------

// A kernel block device name: a lower-case letter, then letters and digits.
bool IsKernelName(std::string_view name);
// A file name the helper accepts: on the disk's root folder, in the tests'
// image folder. Letters, digits, '.', '_' and '-', not starting with '.' or
// '-', at most 64 bytes: nothing mtools reads as a pattern, drive or option.
bool IsPlainName(std::string_view name);
// What the wizard sends for a disk or volume path: "/dev/sdb" gives "sdb",
// any other path its last component (the helper refuses what it does not know).
std::string TargetName(const std::wstring& path);

// Target: two names, the disk's and its volume's (empty: the whole disk).
void PutTarget(Message& m, const DiskTarget& target);

// --- requests, checked for their form ------------------------------------------------------

enum class Verb {
    // On a disk target.
    Identity,
    Lock,
    Open,
    Release,
    Format,
    CopyFolder,
    CopyFile,
    StartInstaller,
    RootFileExists,
    Describe,
    // On a handle the helper gave.
    Close,
    DiskIdentity,
    Geometry,
    Layout,
    ClearFirstSector,
    CreateMbr,
    SetLayout,
    Wait,
};

inline constexpr const char* kCopyableFolders[] = {"common", "flash"};

struct Request {
    Verb verb = Verb::Identity;
    std::string disk;    // a target's disk name
    std::string volume;  // its volume's name; empty: the whole disk
    std::uint64_t handle = 0;
    std::string name;      // CopyFolder: a copyable folder; CopyFile, RootFileExists: a plain name
    std::string contents;  // CopyFile
    FormatFileSystem fileSystem = FormatFileSystem::Automatic;
    DiskLayout layout;      // SetLayout
    DiskGeometry geometry;  // SetLayout
};

// The request, with every field of the exact count and form its verb takes;
// nothing, with the refusal's words, otherwise.
std::optional<Request> ParseRequest(const Message& m, std::string& refusal);

std::string EncodeIdentity(const DiskIdentity& id);
std::optional<DiskIdentity> DecodeIdentity(const std::string& text);
std::string EncodeGeometry(const DiskGeometry& g);
std::optional<DiskGeometry> DecodeGeometry(const std::string& text);
std::string EncodeLayout(const DiskLayout& layout);
std::optional<DiskLayout> DecodeLayout(const std::string& text);
std::string EncodeFacts(const VolumeFacts& facts);
std::optional<VolumeFacts> DecodeFacts(const std::string& text);
std::string EncodeFileSystem(FormatFileSystem fs);
std::optional<FormatFileSystem> DecodeFileSystem(const std::string& text);

std::string EncodeNumber(std::uint64_t value);
std::optional<std::uint64_t> DecodeNumber(const std::string& text);

}  // namespace scour::platform::helper
