// The conversation between the wizard and the privileged disk helper: one
// request at a time, each answered before the next.
//
// A message is a list of byte strings: the count as decimal digits and a
// newline, then each string as its length in decimal digits, a newline and
// its bytes. The helper opens with its greeting (kHelperGreeting, the protocol
// version, its program folder). A request's first string is its verb, the
// rest its arguments; an answer is "ok" or "fail", the failure text (may be
// empty) and the results. The helper ends when its input closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_ops.h"

namespace scour::platform::helper {

inline constexpr char kHelperGreeting[] = "scourline-disk-helper";
inline constexpr char kHelperProtocolVersion[] = "1";
inline constexpr char kHelperExecutable[] = "scourline-disk-helper";
// The polkit action whose policy names the installed helper.
inline constexpr char kHelperPolicyId[] = "org.valdane.scourline.disk-helper";
// Started with this flag, the helper also takes regular files as disks, for
// the tests. The wizard never passes it, and the helper refuses it when pkexec
// started it.
inline constexpr char kImageFilesFlag[] = "--allow-image-files";

inline constexpr char kOk[] = "ok";
inline constexpr char kFail[] = "fail";

// Upper limits that keep a broken or hostile peer from exhausting memory.
inline constexpr std::size_t kMaxFields = 64;
inline constexpr std::size_t kMaxMessageBytes = std::size_t{512} << 20;

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

// Target: two strings, volume path and disk path (UTF-8).
void PutTarget(Message& m, const DiskTarget& target);
std::optional<DiskTarget> GetTarget(const Message& m, std::size_t at);

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
