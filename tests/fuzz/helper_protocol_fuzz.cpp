// The disk helper's conversation as either side receives it: the bytes come
// through a descriptor, as they do from the peer, and every field of every
// message goes through every decoder.
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_file.h"
#include "platform/disk_ops.h"
#include "platform/linux/helper_protocol.h"

namespace helper = scour::platform::helper;
using scour::platform::DiskGeometry;
using scour::platform::DiskLayout;

namespace {

// Enough for a long conversation; later messages add no new paths.
constexpr std::size_t kMaxMessages = 64;
// What one read of the reader takes at most.
constexpr std::size_t kReadSize = 65536;

// A decoded value, encoded again, decodes to the same encoding: what one side
// accepts, the other can send back unchanged.
template <typename Decode, typename Encode>
void CheckRoundTrip(const std::string& field, Decode decode, Encode encode) {
    auto value = decode(field);
    if (!value) {
        return;
    }
    const std::string once = encode(*value);
    auto again = decode(once);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(encode(*again) == once);
}

void ExamineField(const std::string& field) {
    CheckRoundTrip(field, helper::DecodeIdentity, helper::EncodeIdentity);
    CheckRoundTrip(field, helper::DecodeGeometry, helper::EncodeGeometry);
    CheckRoundTrip(field, helper::DecodeLayout, helper::EncodeLayout);
    CheckRoundTrip(field, helper::DecodeFacts, helper::EncodeFacts);
    CheckRoundTrip(field, helper::DecodeFileSystem, helper::EncodeFileSystem);
    CheckRoundTrip(field, helper::DecodeNumber, helper::EncodeNumber);
}

void ExamineMessage(const helper::Message& m) {
    FUZZ_CHECK(m.size() <= helper::kMaxFields);
    for (std::size_t i = 0; i < m.size(); ++i) {
        ExamineField(m[i]);
        // Every kernel name is a plain name; a plain name never holds a path.
        FUZZ_CHECK(!helper::IsKernelName(m[i]) || helper::IsPlainName(m[i]));
        FUZZ_CHECK(!helper::IsPlainName(m[i]) || m[i].find('/') == std::string::npos);
    }
    // A table and a geometry from a request end up in a disk's first sector.
    for (std::size_t i = 0; i + 1 < m.size(); ++i) {
        auto layout = helper::DecodeLayout(m[i]);
        auto geometry = helper::DecodeGeometry(m[i + 1]);
        if (layout && geometry) {
            scour::platform::MbrSector sector{};
            scour::platform::EncodeMbr(sector, *layout, *geometry);
            FUZZ_CHECK(sector[510] == 0x55 && sector[511] == 0xAA);
        }
    }
    // Requests are checked here as the helper checks them before acting: what
    // passes has exactly the form its verb takes.
    std::string refusal;
    if (auto r = helper::ParseRequest(m, refusal)) {
        FUZZ_CHECK(refusal.empty());
        if (m.size() >= 3 && r->verb <= helper::Verb::Describe) {
            FUZZ_CHECK(helper::IsPlainName(r->disk));
            FUZZ_CHECK(r->volume.empty() || helper::IsPlainName(r->volume));
        }
        if (r->verb == helper::Verb::CopyFile || r->verb == helper::Verb::RootFileExists) {
            FUZZ_CHECK(helper::IsPlainName(r->name));
        }
        FUZZ_CHECK(r->contents.size() <= helper::kMaxContentsBytes);
        if (r->verb == helper::Verb::CopyFolder) {
            FUZZ_CHECK(r->name == "common" || r->name == "flash");
        }
    } else {
        FUZZ_CHECK(!refusal.empty());
    }
}

// A message, written out and read back, is the same message.
void CheckMessageRoundTrip(const helper::Message& m) {
    const std::string bytes = helper::EncodeMessage(m);
    int fd = memfd_create("helper-echo", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(helper::WriteMessage(fd, m));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    helper::MessageReader reader(fd);
    std::string error;
    auto again = reader.Read(error);
    FUZZ_CHECK(again.has_value() && *again == m);
    FUZZ_CHECK(!reader.Read(error).has_value() && error.empty());
    close(fd);
}

struct Conversation {
    std::vector<helper::Message> messages;
    std::string error;  // why reading stopped; empty at the end of input
};

// Reads as the helper does; the reader holds at most the largest message so
// far and one read, however the bytes arrive.
Conversation ReadAll(int fd, std::size_t readSize) {
    Conversation c;
    helper::MessageReader reader(fd);
    std::size_t largest = 0;
    while (c.messages.size() < kMaxMessages) {
        auto m = reader.Read(c.error);
        if (!m) {
            break;
        }
        FUZZ_CHECK(c.error.empty());
        largest = std::max(largest, helper::EncodeMessage(*m).size());
        FUZZ_CHECK(reader.BufferSize() <= largest + readSize);
        c.messages.push_back(std::move(*m));
    }
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // All at once, as from a file: one read takes everything.
    int file = MemoryFd(data, size);
    const Conversation whole = ReadAll(file, kReadSize);
    close(file);
    for (const auto& m : whole.messages) {
        ExamineMessage(m);
        CheckMessageRoundTrip(m);
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
    // A socket buffer too small for this many pieces proves nothing either way.
    if (sent) {
        const Conversation pieces = ReadAll(pair[0], piece);
        FUZZ_CHECK(pieces.messages == whole.messages);
        FUZZ_CHECK(pieces.error == whole.error);
    }
    close(pair[0]);
    return 0;
}
