// The disk helper's conversation as either side receives it: the bytes come
// through a descriptor, as they do from the peer, and every field of every
// message goes through every decoder.
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz.h"
#include "platform/linux/helper_protocol.h"

namespace helper = scour::platform::helper;

namespace {

// A decoded value, encoded again, decodes to the same encoding: what one side
// accepts, the other can send back unchanged.
template <typename Decode, typename Encode>
void CheckRoundTrip(const std::string& field, Decode decode, Encode encode) {
    if (auto value = decode(field)) {
        const std::string once = encode(*value);
        auto again = decode(once);
        FUZZ_CHECK(again.has_value() && encode(*again) == once);
    }
}

void ExamineMessage(const helper::Message& m) {
    FUZZ_CHECK(m.size() <= helper::kMaxFields);
    for (std::size_t i = 0; i < m.size(); ++i) {
        CheckRoundTrip(m[i], helper::DecodeIdentity, helper::EncodeIdentity);
        CheckRoundTrip(m[i], helper::DecodeGeometry, helper::EncodeGeometry);
        CheckRoundTrip(m[i], helper::DecodeLayout, helper::EncodeLayout);
        CheckRoundTrip(m[i], helper::DecodeFacts, helper::EncodeFacts);
        CheckRoundTrip(m[i], helper::DecodeFileSystem, helper::EncodeFileSystem);
        CheckRoundTrip(m[i], helper::DecodeNumber, helper::EncodeNumber);
        // Every kernel name is a plain name; a plain name never holds a path.
        FUZZ_CHECK(!helper::IsKernelName(m[i]) || helper::IsPlainName(m[i]));
        FUZZ_CHECK(!helper::IsPlainName(m[i]) || m[i].find('/') == std::string::npos);
    }
    // Requests are checked here as the helper checks them before acting: what
    // passes has exactly the form its verb takes.
    std::string refusal;
    auto r = helper::ParseRequest(m, refusal);
    FUZZ_CHECK(r.has_value() == refusal.empty());
    if (r && m.size() >= 3 && r->verb <= helper::Verb::Describe) {
        FUZZ_CHECK(helper::IsPlainName(r->disk));
        FUZZ_CHECK(r->volume.empty() || helper::IsPlainName(r->volume));
    }
    if (r && (r->verb == helper::Verb::CopyFile || r->verb == helper::Verb::RootFileExists)) {
        FUZZ_CHECK(helper::IsPlainName(r->name));
    }
    FUZZ_CHECK(!r || r->contents.size() <= helper::kMaxContentsBytes);
    FUZZ_CHECK(!r || r->verb != helper::Verb::CopyFolder || r->name == "common" ||
               r->name == "flash");
}

struct Conversation {
    std::vector<helper::Message> messages;
    std::string error;  // why reading stopped; empty at the end of input
};

// Reads as the helper does (64 messages are a long conversation); the reader
// holds at most the largest message so far and one read, however the bytes arrive.
Conversation ReadAll(int fd, std::size_t readSize) {
    Conversation c;
    helper::MessageReader reader(fd);
    std::size_t largest = 0;
    while (c.messages.size() < 64) {
        auto m = reader.Read(c.error);
        if (!m) {
            break;
        }
        FUZZ_CHECK(c.error.empty());
        largest = std::max(largest, helper::EncodeMessage(*m).size());
        FUZZ_CHECK(reader.BufferSize() <= largest + readSize);
        c.messages.push_back(std::move(*m));
    }
    close(fd);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // All at once, as from a file: one read takes everything.
    const Conversation whole = ReadAll(MemoryFd(data, size), 65536);
    for (const auto& m : whole.messages) {
        ExamineMessage(m);
        // A message, written out and read back, is the same message.
        int fd = MemoryFd(nullptr, 0);
        FUZZ_CHECK(helper::WriteMessage(fd, m) && lseek(fd, 0, SEEK_SET) == 0);
        const Conversation echo = ReadAll(fd, 65536);
        FUZZ_CHECK(echo.messages.size() == 1 && echo.messages[0] == m && echo.error.empty());
    }

    // In small pieces, as from a peer that writes in bursts: each read of a
    // packet socket takes one piece. The messages must not depend on that.
    const std::size_t piece = std::max<std::size_t>(size % 61 + 1, size / 128 + 1);
    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0);
    bool sent = true;
    for (std::size_t at = 0; sent && at < size; at += piece) {
        const std::size_t n = std::min(piece, size - at);
        sent = send(pair[1], data + at, n, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(n);
    }
    close(pair[1]);
    const Conversation pieces = ReadAll(pair[0], piece);
    // A socket buffer too small for this many pieces proves nothing either way.
    FUZZ_CHECK(!sent || (pieces.messages == whole.messages && pieces.error == whole.error));
    return 0;
}
